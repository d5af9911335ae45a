// The shell client against a small server of the test's own (a child
// process that answers like the looper), over both transports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mq_test_util.h"
#include "proc_util.h"

namespace {

using zyb_test::bin;
using zyb_test::kQueueOffset;
using zyb_test::read_file;
using zyb_test::run;
using zyb_test::StandInServer;
using zyb_test::TempDir;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result animctl(std::vector<std::string> args, const std::vector<std::string> &env = {}) {
  args.insert(args.begin(), bin("animctl"));
  Result r;
  r.status = run(args, &r.out, &r.err, 30, env);
  return r;
}

std::string qtype(int type) { return type == MQ_TCP ? "qtype=sock" : "qtype=mqueue"; }

int count_of(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// =================================================== without a server

TEST(Animctl, HelpNamesTheCommandWordsAndClean) {
  Result r = animctl({"-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Sends commands to a zorazez window"), std::string::npos);
  EXPECT_NE(r.out.find("clean"), std::string::npos);
}

TEST(Animctl, NoCommandOrABadWindowNumberIsAUsageError) {
  Result r = animctl({"-wn", "820"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no command"), std::string::npos);
  r = animctl({"-wn", "radar", "stop"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad window number \"radar\""), std::string::npos);
}

TEST(Animctl, NoLooperOnTheWindowIsReportedWithStatusOne) {
  Result r = animctl({"-wn", "820", "stop"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no zorazez on window 820 (no message queue with key 7316)"), std::string::npos);
  r = animctl({"-wn", "820", "-pa", "qtype=sock", "stop"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no zorazez on window 820 (connection to port 7316 refused)"), std::string::npos);
}

TEST(Animctl, CleanRemovesTheWindowsQueueAndSaysSo) {
  MQ_settype(MQ_SYSV);
  MQ_offset(kQueueOffset);
  int q = MQ_create(821);
  ASSERT_GE(q, 0);
  Result r = animctl({"-win", "821", "clean"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Removed the message queue of window 821 (key 7317)\n");
  EXPECT_FALSE(zyb_test::queue_exists(821)) << "the queue is gone";
  r = animctl({"-win", "821", "clean"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "No message queue for window 821 (key 7317)\n");
  MQ_remove(821);
}

TEST(Animctl, AnUnansweredCommandEndsWithQueueNotRespondingAndStatusSeven) {
  for (int type : {MQ_SYSV, MQ_TCP}) {
    SCOPED_TRACE(qtype(type));
    // A channel that exists but is never served.
    MQ_settype(type);
    MQ_offset(kQueueOffset);
    int q = MQ_create(823);
    ASSERT_GE(q, 0);
    Result r = animctl({"-wn", "823", "-pa", qtype(type) + ",to=1", "stop"});
    MQ_del(q);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.err, "Queue not responding!!\n");
    EXPECT_EQ(r.out, "");
  }
}

// ====================================================== with a server

class WithServer : public ::testing::TestWithParam<int> {
 protected:
  std::string param() const { return qtype(GetParam()); }
  TempDir dir_;
  std::string log_ = dir_ / "records";
};

TEST_P(WithServer, EveryAnswerLineIsPrintedAndTheSlotIsGivenBack) {
  StandInServer server(GetParam(), 824, log_);
  ASSERT_TRUE(server.ok());
  Result r = animctl({"-wn", "824", "-pa", param(), "first;lines", "3;", "last"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "first\nline 1\nline 2\nline 3\n last\n");
  EXPECT_EQ(read_file(log_), "3:first;lines 3; last\n3:quit\n");
}

TEST_P(WithServer, ThirtySuccessiveCallsAreAllAnswered) {
  StandInServer server(GetParam(), 825, log_);
  ASSERT_TRUE(server.ok());
  for (int i = 1; i <= 30; ++i) {
    Result r = animctl({"-wn", "825", "-pa", param() + ",to=5", "call", std::to_string(i)});
    ASSERT_EQ(r.status, 0) << "call " << i << ": " << r.err;
    ASSERT_EQ(r.out, "call " + std::to_string(i) + "\n");
  }
  std::string records = read_file(log_);
  EXPECT_EQ(count_of(records, "3:quit\n"), 30) << "every call used id 3 and gave it back";
}

TEST_P(WithServer, QuitAndKillEndTheCallWithoutAnotherQuit) {
  StandInServer server(GetParam(), 826, log_);
  ASSERT_TRUE(server.ok());
  Result r = animctl({"-wn", "826", "-pa", param(), "quit"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "quit\n");
  r = animctl({"-wn", "826", "-pa", param(), "stop;kill;go 2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "stop\nkill\n") << "nothing is read after the release";
  EXPECT_EQ(read_file(log_), "3:quit\n3:stop;kill;go 2\n");
}

TEST_P(WithServer, ACommandThatIsNeverAnsweredTimesOutWithStatusSeven) {
  StandInServer server(GetParam(), 827, log_);
  ASSERT_TRUE(server.ok());
  Result r = animctl({"-wn", "827", "-pa", param() + ",to=1", "step;silent"});
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.out, "step\n") << "the answers that came are printed";
  EXPECT_EQ(r.err, "Queue not responding!!\n");
}

TEST_P(WithServer, TheWindowNumberIsAcceptedInEveryForm) {
  StandInServer server(GetParam(), 828, log_);
  ASSERT_TRUE(server.ok());
  const std::vector<std::vector<std::string>> forms = {
      {"-wn", "W828"}, {"-window_num=+828"}, {"-win", "w828"}, {"-wn", "7324"}};
  for (const auto &form : forms) {
    std::vector<std::string> args = form;
    args.insert(args.end(), {"-pa", param(), "hello"});
    Result r = animctl(args);
    EXPECT_EQ(r.status, 0) << form[0] << ": " << r.err;
    EXPECT_EQ(r.out, "hello\n") << form[0];
  }
  Result r = animctl({"-pa", param(), "from", "the", "environment"}, {"zybwindownum=828"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "from the environment\n");
}

INSTANTIATE_TEST_SUITE_P(Animctl, WithServer, ::testing::Values(MQ_SYSV, MQ_TCP),
                         zyb_test::transport_name);

}  // namespace
