// The message queue between a server and its clients, over both transports,
// with the server and the clients in separate processes where it matters.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "client_util.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using zyb_test::kQueueOffset;
using zyb_test::StandInServer;
using zyb_test::seconds_since;
using Clock = std::chrono::steady_clock;
using Answer = std::pair<int, std::string>;

// Keeps a time-out in the test process from ending the whole test binary:
// the waiting call returns -1 instead.
void note_timeout(int) {}

void reset_client(int type, int seconds = 2) {
  MQ_settype(type);
  MQ_offset(kQueueOffset);
  MQ_timeout(seconds);
  MQ_timeout_func(note_timeout);
}

// Runs body in a child process: its exit status, or -1 after ten seconds.
template <typename Body>
int in_child(Body body) {
  return zyb_test::reap(zyb_test::spawn(body), 10);
}

Answer get_answer(int q, int id) {
  char text[MQ_TEXT_MAX + 3];
  const int code = MQ_get(q, id, text);
  return {code, text};
}

// A TCP peer that may send bytes no well-behaved client would.
struct RawPeer : zyb_test::RawClient {
  explicit RawPeer(int window) : RawClient(true, window) {}
  Answer next() { return receive(0, 0.3); }
};

class BothTransports : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { reset_client(GetParam()); }
  void TearDown() override { MQ_close(0); }
};

TEST_P(BothTransports, IdsRunFromThreeTheTwentiethClientWaitsAndQuitFreesTheSlot) {
  StandInServer server(GetParam(), 801);
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(MQ_create(801), -1) << "a second server on the window";
  EXPECT_EQ(MQ_create(-1), -2) << "window -1 runs without a channel";
  MQ_timeout(1);
  const int q = MQ_open(801);
  ASSERT_GE(q, 0);
  for (int expected = 3; expected <= 21; ++expected) ASSERT_EQ(MQ_connect(q), expected);
  const auto start = Clock::now();
  EXPECT_EQ(MQ_connect(q), -1);
  EXPECT_GE(seconds_since(start), 0.8) << "the twentieth client must wait for its time-out";
  // "quit" gives slot 7 back: unanswered until it registers again.
  for (const char *text : {"quit", "after quit"}) ASSERT_GE(MQ_put(q, 7, "%s", text), 0);
  EXPECT_EQ(get_answer(q, 7), Answer(MQ_RELEASED, "quit\n"));
  EXPECT_EQ(get_answer(q, 7), Answer(-1, ""));
  EXPECT_EQ(MQ_connect(q), 7);
  ASSERT_GE(MQ_put(q, 7, "again"), 0);
  EXPECT_EQ(get_answer(q, 7), Answer(MQ_LAST_LINE, "again\n"));
}

TEST_P(BothTransports, RecordsCarry118CharactersWholeAndSeveralCommandsInOrder) {
  StandInServer server(GetParam(), 803);
  ASSERT_TRUE(server.ok());
  const int q = MQ_open(803);
  const int id = MQ_connect(q);
  ASSERT_GE(id, 3);
  std::string full;
  for (int i = 0; i < MQ_TEXT_MAX; ++i) full += static_cast<char>('a' + i % 26);
  for (const std::string &sent : {full, full + "XYZ"}) {
    ASSERT_GE(MQ_put(q, id, "%s", sent.c_str()), 0);
    EXPECT_EQ(get_answer(q, id), Answer(MQ_LAST_LINE, full)) << "cut to 118 characters when sent";
  }
  ASSERT_GE(MQ_put(q, id, "first;lines 3;last"), 0);
  for (const Answer &a :
       {Answer(0, "first\n"), Answer(1, "line 1\n"), Answer(1, "line 2\n"), Answer(0, "line 3\n"), Answer(0, "last\n")})
    EXPECT_EQ(get_answer(q, id), a);
}

TEST_P(BothTransports, AnUnansweredClientEndsWithQueueNotRespondingAndStatusSeven) {
  zyb_test::TempDir dir;
  const int q = MQ_create(806);  // a channel nobody serves
  ASSERT_GE(q, 0);
  const int status = in_child([&] {
    dup2(open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    MQ_timeout_func(nullptr);
    RES_put("parameter", "to=1");
    MQ_params();
    MQ_connect(MQ_open(806));
    return 0;
  });
  MQ_del(q);
  EXPECT_EQ(status, 7);
  EXPECT_EQ(zyb_test::read_file(dir / "err"), "Queue not responding!!\n");
}

INSTANTIATE_TEST_SUITE_P(Mqueue, BothTransports, ::testing::Values(MQ_SYSV, MQ_TCP), zyb_test::transport_name);

TEST(SystemV, OnlyTheOwnerMayUseTheQueueAndBadRecordsAreDroppedWithoutHarm) {
  reset_client(MQ_SYSV);
  const int q = MQ_create(809);
  ASSERT_GE(q, 0);
  msqid_ds info{};
  ASSERT_EQ(msgctl(q, IPC_STAT, &info), 0);
  EXPECT_EQ(info.msg_perm.mode & 0777, 0600);
  EXPECT_EQ(MQ_open(809), q);
  EXPECT_EQ(MQ_find(809), 810) << "the first window without a queue";
  auto raw_send = [q](const std::string &payload) {
    struct {
      long mtype = 1;
      char payload[300] = {};
    } message;
    std::memcpy(message.payload, payload.data(), payload.size());
    return msgsnd(q, &message, payload.size(), 0);
  };
  int sender = 0;
  char text[MQ_TEXT_MAX + 3];
  for (int to : {-1, 5, 1, 99}) EXPECT_EQ(MQ_sput(q, to, 0, "to nobody\n"), -1) << to;
  EXPECT_EQ(MQ_sput(-1, 3, 0, "no queue\n"), -1);
  ASSERT_EQ(raw_send(std::string(MQ_PAYLOAD_SIZE, '\0').replace(0, 2, "/0")), 0);
  ASSERT_EQ(MQ_sget(q, &sender, text), MQ_GOT_CLIENT);
  ASSERT_EQ(sender, 3);
  EXPECT_EQ(get_answer(q, 2).second, "3") << "the registration answer, and nothing else";
  for (const char *bad : {"Zcode beyond the ids", "\x01low code", "9not registered", ""}) {
    ASSERT_EQ(raw_send(bad), 0);
    EXPECT_EQ(MQ_sget(q, &sender, text), 0) << bad;
    EXPECT_EQ(sender, -1);
  }
  // No terminator anywhere, and a message longer than a payload.
  ASSERT_EQ(raw_send("3" + std::string(MQ_PAYLOAD_SIZE - 1, 'x')), 0);
  ASSERT_EQ(raw_send("3" + std::string(250, 'y')), 0);
  for (char fill : {'x', 'y'}) {
    ASSERT_EQ(MQ_sget(q, &sender, text), MQ_GOT_COMMAND);
    EXPECT_EQ(std::string(text), std::string(MQ_TEXT_MAX, fill));
  }
  EXPECT_LT(MQ_sget(q, &sender, text), 1) << "the queue is empty again";
  EXPECT_EQ(MQ_del(q), 0);
  EXPECT_EQ(MQ_open(809), -1);
}

class Tcp : public ::testing::Test {
 protected:
  void SetUp() override { reset_client(MQ_TCP); }
  void TearDown() override { MQ_del(1); }
  // MQ_sget until it reports a record, for at most a second (a closed peer is passed over).
  int sget_within() {
    int result = 0;
    for (auto start = Clock::now(); result < 1 && seconds_since(start) < 1; usleep(2000))
      result = MQ_sget(1, &sender_, text_);
    return result;
  }
  // The peer registers and is answered with the first client id.
  void registers(RawPeer &peer) {
    ASSERT_TRUE(peer.send('/', "0"));
    ASSERT_EQ(sget_within(), MQ_GOT_CLIENT);
    EXPECT_EQ(sender_, 3);
    ASSERT_EQ(peer.next(), Answer(2, "3"));
  }
  int sender_ = 0;
  char text_[MQ_TEXT_MAX + 3] = "";
};

TEST_F(Tcp, OnLoopbackNoPeerOrASilentOneHoldsTheServerAndMalformedRecordsAreDropped) {
  RES_put("parameter", "Qtype=Sock");
  MQ_params();
  MQ_settype(MQ_SYSV);
  MQ_params();
  ASSERT_EQ(MQ_create(812), 1);
  char listening[32];
  std::snprintf(listening, sizeof listening, "0100007F:%04X 00000000:0000 0A", kQueueOffset + 812);
  EXPECT_NE(zyb_test::read_file("/proc/net/tcp").find(listening), std::string::npos);
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) EXPECT_LT(MQ_sget(1, &sender_, text_), 1);
  {
    RawPeer silent(812);
    for (int i = 0; i < 20; ++i) EXPECT_LT(MQ_sget(1, &sender_, text_), 1);
  }
  EXPECT_LT(seconds_since(start), 0.5);
  RawPeer peer(812);
  ASSERT_NO_FATAL_FAILURE(registers(peer));
  peer.send_raw(std::string(1, '\0'));
  for (const auto &[code, text] : {std::pair{'Z', "beyond the ids"}, {'\xff', "far"}, {'9', "unregistered"}})
    peer.send(code, text);
  usleep(50000);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(MQ_sget(1, &sender_, text_), 0) << "record " << i;
    EXPECT_EQ(sender_, -1);
  }
  peer.send('3', std::string(200, 'q'));
  peer.send('3', "still in step");
  ASSERT_EQ(sget_within(), MQ_GOT_COMMAND);
  EXPECT_EQ(std::string(text_), std::string(MQ_TEXT_MAX, 'q'));
  ASSERT_EQ(sget_within(), MQ_GOT_COMMAND);
  EXPECT_STREQ(text_, "still in step");
  EXPECT_EQ(MQ_sput(1, sender_, MQ_LAST_LINE, "ok\n"), 5);
  EXPECT_EQ(peer.next(), Answer(0, "ok\n"));
}

TEST_F(Tcp, APeerStallingInARecordHoldsNobodyAndKeepsItsSlot) {
  ASSERT_EQ(MQ_create(811), 1);
  RawPeer staller(811), next(811);
  ASSERT_NO_FATAL_FAILURE(registers(staller));
  staller.send_raw("\x0a"
                   "3ab");
  const auto start = Clock::now();
  next.send('/', "0 1");
  ASSERT_EQ(sget_within(), MQ_GOT_CLIENT);
  EXPECT_EQ(next.next(), Answer(2, "4"));
  EXPECT_LT(seconds_since(start), 0.5) << "the next peer did not wait for the stalled one";
  staller.send_raw("cdefghi");
  ASSERT_EQ(sget_within(), MQ_GOT_COMMAND);
  EXPECT_EQ(sender_, 3) << "the stalled peer kept its slot";
  EXPECT_STREQ(text_, "abcdefghi");
}

TEST_F(Tcp, APeerOfAnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  zyb_test::TempDir dir;
  StandInServer server(MQ_TCP, 807, dir / "server.err");
  ASSERT_TRUE(server.ok());
  const auto start = Clock::now();
  const int status = in_child([&] {
    if (setuid(65534) != 0) return 2;
    reset_client(MQ_TCP, 5);
    return MQ_connect(MQ_open(807)) == -1 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "the registration of another user's peer fails";
  EXPECT_LT(seconds_since(start), 4.0) << "refused at once, not left to time out";
  EXPECT_NE(zyb_test::read_file(dir / "server.err").find("refused"), std::string::npos);
  EXPECT_EQ(MQ_connect(MQ_open(807)), 3) << "the owner's own clients are still served";
}

}  // namespace
