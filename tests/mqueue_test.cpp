// The message queue between a server and its clients, over both transports,
// with the server and the clients in separate processes where it matters.
#include "mqueue/mqueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mq_test_util.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using zyb_test::kQueueOffset;
using zyb_test::StandInServer;

constexpr int kNobody = 65534;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Keeps a time-out in the test process from ending the whole test binary:
// the waiting call returns -1 instead.
void note_timeout(int) {}

void reset_client(int type, int seconds = 2) {
  MQ_settype(type);
  MQ_offset(kQueueOffset);
  MQ_timeout(seconds);
  MQ_timeout_func(note_timeout);
}

// Runs body in a child process; returns its exit status (128 + signal when
// killed), or -1 when it did not end within the time.
template <typename Body>
int in_child(Body body, double seconds = 10) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

struct Answer {
  int code;
  std::string text;
};

Answer get_answer(int q, int id) {
  char text[MQ_TEXT_MAX + 3];
  int code = MQ_get(q, id, text);
  return {code, text};
}

// ------------------------------------------------------------- raw TCP peer

// A TCP peer that sends bytes no well-behaved client would.
class RawPeer {
 public:
  explicit RawPeer(int win) : fd_(zyb_test::connect_to_window(win)) {}
  ~RawPeer() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  void send_bytes(const std::string &bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // What arrives within the time; stops early at end of stream.
  std::string receive(int ms, bool *closed = nullptr) {
    std::string got;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0) break;
      char buffer[512];
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int fd_;
};

std::string record(char code, const std::string &text) {
  return std::string(1, static_cast<char>(1 + text.size())) + code + text;
}

// Calls MQ_sget until it reports something other than "nothing yet".
int sget_within(int q, int *sender, char *text) {
  const int ms = 1000;
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  int result = 0;
  do {
    result = MQ_sget(q, sender, text);
    if (result != 0) return result;
    usleep(2000);
  } while (Clock::now() < end);
  return result;
}

// ====================================================== both transports

class BothTransports : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { reset_client(GetParam()); }
  void TearDown() override { MQ_close(0); }
};

TEST_P(BothTransports, ClientsGetIdsFromThreeAndTheTwentiethIsNotAnswered) {
  const int win = 801;
  StandInServer server(GetParam(), win);
  ASSERT_TRUE(server.ok());
  MQ_timeout(1);
  int q = MQ_open(win);
  ASSERT_GE(q, 0);
  for (int expected = 3; expected <= 21; ++expected) ASSERT_EQ(MQ_connect(q), expected);

  auto start = Clock::now();
  EXPECT_EQ(MQ_connect(q), -1);
  EXPECT_GE(seconds_since(start), 0.8) << "the twentieth client must wait for its time-out";

  // Every registered client is still answered by its own id.
  ASSERT_GE(MQ_put(q, 21, "hello"), 0);
  Answer a = get_answer(q, 21);
  EXPECT_EQ(a.code, MQ_LAST_LINE);
  EXPECT_EQ(a.text, "hello\n");

  // "quit" gives slot 7 back; the next registration takes it.
  ASSERT_GE(MQ_put(q, 7, "quit"), 0);
  a = get_answer(q, 7);
  EXPECT_EQ(a.code, MQ_RELEASED);
  EXPECT_EQ(a.text, "quit\n");
  EXPECT_EQ(MQ_connect(q), 7);
}

TEST_P(BothTransports, AQuitClientIsNotAnsweredUntilItRegistersAgain) {
  const int win = 802;
  StandInServer server(GetParam(), win);
  ASSERT_TRUE(server.ok());
  MQ_timeout(1);
  int q = MQ_open(win);
  ASSERT_GE(q, 0);
  int id = MQ_connect(q);
  ASSERT_EQ(id, 3);
  ASSERT_GE(MQ_put(q, id, "quit"), 0);
  EXPECT_EQ(get_answer(q, id).code, MQ_RELEASED);

  ASSERT_GE(MQ_put(q, id, "after quit"), 0);
  Answer unanswered = get_answer(q, id);
  EXPECT_EQ(unanswered.code, -1);
  EXPECT_EQ(unanswered.text, "");

  ASSERT_EQ(MQ_connect(q), 3);
  ASSERT_GE(MQ_put(q, id, "again"), 0);
  Answer a = get_answer(q, id);
  EXPECT_EQ(a.code, MQ_LAST_LINE);
  EXPECT_EQ(a.text, "again\n");
}

TEST_P(BothTransports, TextsOf118CharactersArriveWholeAndLongerOnesAreCut) {
  const int win = 803;
  StandInServer server(GetParam(), win);
  ASSERT_TRUE(server.ok());
  int q = MQ_open(win);
  ASSERT_GE(q, 0);
  int id = MQ_connect(q);
  ASSERT_GE(id, 3);

  std::string full;
  for (int i = 0; i < MQ_TEXT_MAX; ++i) full += static_cast<char>('a' + i % 26);
  ASSERT_GE(MQ_put(q, id, "%s", full.c_str()), 0);
  Answer a = get_answer(q, id);
  EXPECT_EQ(a.code, MQ_LAST_LINE);
  EXPECT_EQ(a.text, full);

  ASSERT_GE(MQ_put(q, id, "%sXYZ", full.c_str()), 0);
  a = get_answer(q, id);
  EXPECT_EQ(a.text, full) << "the text is cut to 118 characters when sent";
}

TEST_P(BothTransports, EachCommandOfARecordIsAnsweredInOrder) {
  const int win = 804;
  StandInServer server(GetParam(), win);
  ASSERT_TRUE(server.ok());
  int q = MQ_open(win);
  ASSERT_GE(q, 0);
  int id = MQ_connect(q);
  ASSERT_GE(MQ_put(q, id, "first;lines 3;last"), 0);
  std::vector<std::pair<int, std::string>> expected = {
      {0, "first\n"}, {1, "line 1\n"}, {1, "line 2\n"}, {0, "line 3\n"}, {0, "last\n"}};
  for (const auto &e : expected) {
    Answer a = get_answer(q, id);
    EXPECT_EQ(a.code, e.first);
    EXPECT_EQ(a.text, e.second);
  }
}

TEST_P(BothTransports, ASecondServerOnTheSameWindowIsRefused) {
  const int win = 805;
  StandInServer server(GetParam(), win);
  ASSERT_TRUE(server.ok());
  EXPECT_EQ(MQ_create(win), -1);
  EXPECT_EQ(MQ_create(-1), -2) << "window -1 runs without a channel";
}

TEST_P(BothTransports, AnUnansweredClientEndsWithQueueNotRespondingAndStatusSeven) {
  const int win = 806;
  zyb_test::TempDir dir;
  std::string err = dir / "err";
  // A channel nobody serves: created here, never read.
  int q = MQ_create(win);
  ASSERT_GE(q, 0);
  int status = in_child([&] {
    int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    MQ_timeout_func(nullptr);
    RES_put("parameter", "to=1");
    MQ_params();
    int client = MQ_open(win);
    if (client < 0) return 2;
    MQ_connect(client);
    return 0;
  });
  MQ_del(q);
  EXPECT_EQ(status, 7);
  EXPECT_EQ(zyb_test::read_file(err), "Queue not responding!!\n");
}

INSTANTIATE_TEST_SUITE_P(Mqueue, BothTransports, ::testing::Values(MQ_SYSV, MQ_TCP),
                         zyb_test::transport_name);

// ========================================================== System V queue

TEST(SystemV, TheKeyIsOffsetPlusWindowAndOnlyTheOwnerMayUseTheQueue) {
  reset_client(MQ_SYSV);
  int q = MQ_create(800);
  ASSERT_GE(q, 0);
  EXPECT_EQ(msgget(kQueueOffset + 800, 0), q);
  msqid_ds info{};
  ASSERT_EQ(msgctl(q, IPC_STAT, &info), 0);
  EXPECT_EQ(info.msg_perm.mode & 0777, 0600);
  EXPECT_EQ(MQ_open(800), q);
  EXPECT_EQ(MQ_find(800), 801) << "the first window without a queue";
  EXPECT_EQ(MQ_del(q), 0);
  EXPECT_EQ(MQ_open(800), -1);
  EXPECT_EQ(MQ_remove(800), 0);
}

TEST(SystemV, AnswersToUnregisteredSendersAreNotSent) {
  reset_client(MQ_SYSV);
  int q = MQ_create(808);
  ASSERT_GE(q, 0);
  EXPECT_EQ(MQ_sput(q, -1, 0, "start-up command\n"), -1);
  EXPECT_EQ(MQ_sput(q, 5, 0, "never registered\n"), -1);
  EXPECT_EQ(MQ_sput(q, 1, 0, "the server's own address\n"), -1);
  EXPECT_EQ(MQ_sput(q, 99, 0, "beyond the slots\n"), -1);
  EXPECT_EQ(MQ_sput(-1, 3, 0, "no queue\n"), -1);
  msqid_ds info{};
  ASSERT_EQ(msgctl(q, IPC_STAT, &info), 0);
  EXPECT_EQ(info.msg_qnum, 0u);
  MQ_del(q);
}

struct RawSysv {
  long mtype;
  char payload[300];
};

void raw_send(int q, const std::string &payload) {
  RawSysv message{};
  message.mtype = 1;
  std::memcpy(message.payload, payload.data(), payload.size());
  ASSERT_EQ(msgsnd(q, &message, payload.size(), 0), 0);
}

TEST(SystemV, MalformedRecordsAreDroppedWithoutHarm) {
  reset_client(MQ_SYSV);
  const int win = 809;
  int q = MQ_create(win);
  ASSERT_GE(q, 0);
  int sender = 0;
  char text[MQ_TEXT_MAX + 3];

  raw_send(q, std::string(MQ_PAYLOAD_SIZE, '\0').replace(0, 2, "/0"));
  ASSERT_EQ(MQ_sget(q, &sender, text), MQ_GOT_CLIENT);
  ASSERT_EQ(sender, 3);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(get_answer(q, 2).text, "3") << "the registration answer";

  raw_send(q, std::string("Zcode beyond the ids"));
  raw_send(q, std::string("\x01low code"));
  raw_send(q, std::string("9not registered"));
  raw_send(q, std::string());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(MQ_sget(q, &sender, text), 0) << "record " << i;
    EXPECT_EQ(sender, -1);
  }

  // No terminator anywhere, and a message longer than a payload.
  raw_send(q, "3" + std::string(MQ_PAYLOAD_SIZE - 1, 'x'));
  raw_send(q, "3" + std::string(250, 'y'));
  for (char fill : {'x', 'y'}) {
    ASSERT_EQ(MQ_sget(q, &sender, text), MQ_GOT_COMMAND);
    EXPECT_EQ(sender, 3);
    EXPECT_EQ(std::string(text), std::string(MQ_TEXT_MAX, fill));
  }
  EXPECT_LT(MQ_sget(q, &sender, text), 1) << "the queue is empty again";
  MQ_del(q);
}

// ================================================================ TCP socket

class Tcp : public ::testing::Test {
 protected:
  void SetUp() override { reset_client(MQ_TCP); }
  void TearDown() override { MQ_del(1); }

  // The peer registers and is answered with the first client id.
  void registers(RawPeer &peer) {
    peer.send_bytes(record('/', "0"));
    ASSERT_EQ(sget_within(1, &sender_, text_), MQ_GOT_CLIENT);
    EXPECT_EQ(sender_, 3);
    ASSERT_EQ(peer.receive(300), record('2', "3"));
  }

  int sender_ = 0;
  char text_[MQ_TEXT_MAX + 3] = "";
};

TEST_F(Tcp, AnIdleServerReturnsAtOnceAndWritesNothingToStandardError) {
  const int win = 810;
  ASSERT_EQ(MQ_create(win), 1);
  zyb_test::TempDir dir;
  std::fflush(stderr);
  int saved = dup(2);
  int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(err, 2);
  auto start = Clock::now();
  int results = 0;
  for (int i = 0; i < 20; ++i) results += MQ_sget(1, &sender_, text_) < 1;
  {
    RawPeer silent(win);
    ASSERT_TRUE(silent.connected());
    for (int i = 0; i < 20; ++i) results += MQ_sget(1, &sender_, text_) < 1;
  }
  double took = seconds_since(start);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(err);
  EXPECT_EQ(results, 40);
  EXPECT_LT(took, 0.5) << "neither nobody connecting nor a silent client holds the caller";
  EXPECT_EQ(zyb_test::read_file(dir / "err"), "");
}

TEST_F(Tcp, APeerStallingInARecordIsDroppedAndTheNextPeerIsServed) {
  const int win = 811;
  ASSERT_EQ(MQ_create(win), 1);

  RawPeer staller(win);
  ASSERT_TRUE(staller.connected());
  RawPeer next(win);  // waits in the backlog meanwhile
  ASSERT_TRUE(next.connected());
  staller.send_bytes(std::string("\x0a" "3ab", 4));
  usleep(50000);
  auto start = Clock::now();
  EXPECT_LT(MQ_sget(1, &sender_, text_), 0);
  double took = seconds_since(start);
  EXPECT_GT(took, 1.5);
  EXPECT_LT(took, 3.5);
  bool closed = false;
  staller.receive(1000, &closed);
  EXPECT_TRUE(closed) << "the stalled peer's connection is closed";

  registers(next);
}

TEST_F(Tcp, MalformedRecordsAreDroppedWithoutHarm) {
  const int win = 812;
  ASSERT_EQ(MQ_create(win), 1);
  RawPeer peer(win);
  ASSERT_TRUE(peer.connected());
  ASSERT_NO_FATAL_FAILURE(registers(peer));

  peer.send_bytes(std::string(1, '\0'));            // no code at all
  peer.send_bytes(record('Z', "beyond the ids"));
  peer.send_bytes(record('\xff', "far beyond"));
  peer.send_bytes(record('9', "not registered"));
  usleep(50000);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(MQ_sget(1, &sender_, text_), 0) << "record " << i;
    EXPECT_EQ(sender_, -1);
  }

  std::string overlong(200, 'q');
  peer.send_bytes(record('3', overlong));
  peer.send_bytes(record('3', "still in step"));
  ASSERT_EQ(sget_within(1, &sender_, text_), MQ_GOT_COMMAND);
  EXPECT_EQ(std::string(text_), std::string(MQ_TEXT_MAX, 'q'));
  ASSERT_EQ(sget_within(1, &sender_, text_), MQ_GOT_COMMAND);
  EXPECT_STREQ(text_, "still in step");
  EXPECT_EQ(MQ_sput(1, sender_, MQ_LAST_LINE, "ok\n"), 5);
  EXPECT_EQ(peer.receive(300), record('0', "ok\n"));
}

TEST_F(Tcp, APeerOfAnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  const int win = 807;
  zyb_test::TempDir dir;
  StandInServer server(MQ_TCP, win, "", dir / "server.err");
  ASSERT_TRUE(server.ok());
  auto start = Clock::now();
  int status = in_child([&] {
    if (setuid(kNobody) != 0) return 2;
    reset_client(MQ_TCP, 5);
    int q = MQ_open(win);
    if (q < 0) return 3;
    return MQ_connect(q) == -1 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "the registration of another user's peer fails";
  EXPECT_LT(seconds_since(start), 4.0) << "refused at once, not left to time out";
  EXPECT_NE(zyb_test::read_file(dir / "server.err").find("refused"), std::string::npos);

  int q = MQ_open(win);
  ASSERT_EQ(q, 1);
  EXPECT_EQ(MQ_connect(q), 3) << "the owner's own clients are still served";
}

TEST_F(Tcp, TheParameterResourceSelectsTransportAndBinding) {
  MQ_settype(MQ_SYSV);
  RES_put("parameter", "TO=3,Qtype=Sock,bind=ANY");
  MQ_params();
  EXPECT_EQ(MQ_gettype(), MQ_TCP);
  ASSERT_EQ(MQ_create(813), 1);
  std::string table = zyb_test::read_file("/proc/net/tcp");
  char listening[32];
  std::snprintf(listening, sizeof listening, "00000000:%04X 00000000:0000 0A", kQueueOffset + 813);
  EXPECT_NE(table.find(listening), std::string::npos) << "bound to every local address";
  MQ_del(1);

  RES_put("parameter", "qtype=mqueue");
  MQ_params();
  EXPECT_EQ(MQ_gettype(), MQ_SYSV);
  MQ_settype(MQ_TCP);
  ASSERT_EQ(MQ_create(813), 1);
  table = zyb_test::read_file("/proc/net/tcp");
  std::snprintf(listening, sizeof listening, "0100007F:%04X 00000000:0000 0A", kQueueOffset + 813);
  EXPECT_NE(table.find(listening), std::string::npos) << "bound to the loopback address only";
}

// ============================================================ record decoder

TEST(TcpRecord, DecodingNeverReadsBeyondTheLength) {
  int used = 0, code = 0;
  char text[MQ_TEXT_MAX + 3];
  // Exactly sized heap buffers, so that the sanitizer build sees any overread.
  auto decode = [&](const std::string &bytes) {
    std::vector<unsigned char> buffer(bytes.begin(), bytes.end());
    return MQ_decode_record(buffer.data(), static_cast<int>(buffer.size()), &used, &code, text);
  };
  EXPECT_EQ(decode(""), 0);
  EXPECT_EQ(decode(std::string("\x05" "3ab", 4)), 0);
  EXPECT_EQ(used, 0) << "an incomplete record takes nothing";
  EXPECT_EQ(decode(std::string(1, '\0')), -1);
  EXPECT_EQ(used, 1);
  EXPECT_EQ(decode(std::string("\x05" "3abcdEXTRA", 11)), 1);
  EXPECT_EQ(used, 6);
  EXPECT_EQ(code, 3);
  EXPECT_STREQ(text, "abcd");
  EXPECT_EQ(decode(std::string("\x01/", 2)), 1);
  EXPECT_EQ(code, MQ_REGISTER);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(decode(std::string(1, '\xff') + "." + std::string(254, 'w')), 1);
  EXPECT_EQ(used, 256);
  EXPECT_EQ(code, MQ_SERVER_ENDS);
  EXPECT_EQ(std::string(text), std::string(MQ_TEXT_MAX, 'w'));
}

}  // namespace
