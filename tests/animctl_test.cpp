// The shell client against a small server of the test's own (a child
// process that answers like the looper), over both transports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "looper_util.h"

namespace {

using namespace zyb_test;

struct Call {
  std::vector<std::string> args;
  int status;
  std::string out = "", err = "";  // parts of what it prints
  std::vector<std::string> env = {};
};

void expect_call(const Call &c, const std::vector<std::string> &more = {}) {
  std::vector<std::string> argv = {bin("animctl")};
  argv.insert(argv.end(), more.begin(), more.end());
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  std::string out, err;
  EXPECT_EQ(run(argv, &out, &err, 30, c.env), c.status) << c.args.back() << ": " << err;
  EXPECT_NE(out.find(c.out), std::string::npos) << c.args.back() << ": " << out;
  EXPECT_NE(err.find(c.err), std::string::npos) << c.args.back() << ": " << err;
}

TEST(Animctl, UsageMistakesMissingLoopersAndCleanAreReported) {
  const Call calls[] = {
      {{"-h"}, 0, "Sends commands to a zorazez window", ""},
      {{"-h"}, 0, "clean", ""},
      {{"-wn", "820"}, 2, "", "no command"},
      {{"-wn", "radar", "stop"}, 2, "", "bad window number \"radar\""},
      {{"-wn", "820", "stop"}, 1, "", "no zorazez on window 820 (no message queue with key 7316)"},
      {{"-wn", "820", "-pa", "qtype=sock", "stop"},
       1,
       "",
       "no zorazez on window 820 (connection to port 7316 refused)"},
  };
  for (const Call &c : calls) expect_call(c);
  MQ_settype(MQ_SYSV);
  MQ_offset(kQueueOffset);
  ASSERT_GE(MQ_create(821), 0);
  expect_call({{"-win", "821", "clean"}, 0, "Removed the message queue of window 821 (key 7317)\n", ""});
  EXPECT_FALSE(queue_exists(821));
  expect_call({{"-win", "821", "clean"}, 0, "No message queue for window 821 (key 7317)\n", ""});
}

class WithServer : public ::testing::TestWithParam<int> {
 protected:
  std::vector<std::string> param(const std::string &more = "") const {
    return {"-pa", (GetParam() == MQ_TCP ? "qtype=sock" : "qtype=mqueue") + more};
  }
};

// That each call gives its slot back is checked against the real looper
// (looper_clients_test), with twice as many calls as slots.
TEST_P(WithServer, AnswersArePrintedUntilTheLastOrTheReleaseInEveryWindowForm) {
  StandInServer server(GetParam(), 824);
  ASSERT_TRUE(server.ok());
  const Call calls[] = {
      {{"-wn", "824", "first;lines", "3;", "last"}, 0, "first\nline 1\nline 2\nline 3\n last\n"},
      {{"-wn", "824", "quit"}, 0, "quit\n"},
      {{"-wn", "824", "stop;kill;go 2"}, 0, "stop\nkill\n"},  // nothing is read after the release
      {{"-wn", "W824", "hello"}, 0, "hello\n"},
      {{"-window_num=+824", "hello"}, 0, "hello\n"},
      {{"-win", "w824", "hello"}, 0, "hello\n"},
      {{"-wn", "7320", "hello"}, 0, "hello\n"},
      {{"from", "the", "environment"}, 0, "from the environment\n", "", {"zybwindownum=824"}},
  };
  for (const Call &c : calls) expect_call(c, param(",to=5"));
  // The answers that came are printed.
  expect_call({{"-wn", "824", "step;silent"}, 7, "step\n", "Queue not responding!!\n"}, param(",to=1"));
}

INSTANTIATE_TEST_SUITE_P(Animctl, WithServer, ::testing::Values(MQ_SYSV, MQ_TCP), transport_name);

}  // namespace
