// End-to-end tests of the looper without a display: the real zorazez,
// driven through animctl and through the queue API on both transports.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "looper_util.h"
#include "mqueue/mqueue.h"

namespace {

using zyb_test::bin;
using zyb_test::eventually;
using zyb_test::free_window;
using zyb_test::kQueueOffset;
using zyb_test::Process;
using zyb_test::queue_exists;
using zyb_test::read_file;
using zyb_test::remove_queue;
using zyb_test::run;
using zyb_test::TempDir;
using zyb_test::WindowRange;

constexpr WindowRange kWindows{840, 869};

// Loopers of this binary: on its windows, optionally over TCP.
class Looper : public zyb_test::Looper {
 public:
  explicit Looper(const std::vector<std::string> &options = {"-wn", "%W"}, bool sock = false)
      : zyb_test::Looper(kWindows, options, sock) {}
};

using Cases = std::vector<std::pair<std::string, std::string>>;

// Sends the commands of cases, as many to a record as fit (each client call
// costs the looper's polling time), and checks each command's one-line reply.
void expect_replies(Looper &looper, const Cases &cases) {
  size_t next = 0;
  while (next < cases.size()) {
    std::string record = cases[next].first;
    size_t end = next + 1;
    while (end < cases.size() && record.size() + 1 + cases[end].first.size() <= MQ_TEXT_MAX)
      record += ";" + cases[end++].first;
    std::string out = looper.ctl({record});
    for (size_t i = next; i < end; i++) {
      const size_t eol = out.find('\n');
      const std::string line = eol == std::string::npos ? out : out.substr(0, eol + 1);
      out.erase(0, line.size());
      EXPECT_EQ(line, cases[i].second) << "command: " << cases[i].first;
    }
    next = end;
  }
}

// A registered client of the test process itself, on either transport.
class Client {
 public:
  Client(int window, bool sock) {
    MQ_settype(sock ? MQ_TCP : MQ_SYSV);
    MQ_offset(kQueueOffset);
    MQ_timeout(10);
    q_ = MQ_open(window);
    if (q_ >= 0) id_ = MQ_connect(q_);
  }
  ~Client() {
    MQ_close(q_);
    MQ_settype(MQ_SYSV);
  }
  int id() const { return id_; }
  int send(const std::string &text) { return MQ_put(q_, id_, "%s", text.c_str()); }
  // One reply line and its code.
  std::pair<int, std::string> receive() {
    char text[MQ_TEXT_MAX + 3] = "";
    const int code = MQ_get(q_, id_, text);
    return {code, text};
  }

 private:
  int q_ = -1;
  int id_ = -1;
};

const char kHelp[] =
    "Help for Zorazez\n"
    "  cl   - clear frame\n"
    "  ld   - load image into frame\n"
    "  ov   - overlay image onto frame\n"
    "  sa   - save fram to file\n"
    "  cr   - create frame\n"
    "  de   - delete frame\n"
    "  up   - update frame\n"
    "  stop - stop loop\n"
    "  start - start loop\n"
    "  loop - toggle looping\n"
    "  step - step through frames\n"
    "  go   - go to frame\n"
    "  co   - specify color table\n"
    "  se   - set parameters\n"
    "  qu   - query parameters\n"
    "  te   - draw text\n"
    "  li   - draw line\n"
    "  ma   - draw marker\n"
    "  mf   - draw metafile\n"
    "  kill - kill zorazez\n";

class LooperTest : public ::testing::Test {
 protected:
  // Nothing here may reach a display, whatever the caller's environment.
  static void SetUpTestSuite() { unsetenv("DISPLAY"); }
};

TEST_F(LooperTest, HelpAnswersTwentyOneLines) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"he"}), kHelp);
  EXPECT_EQ(looper.ctl({"HELP"}), kHelp);
}

TEST_F(LooperTest, QueriesAnswerCountLastAndPid) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"qu", "num"}), "0\n");
  EXPECT_EQ(looper.ctl({"qu", "la"}), "-1\n");
  const std::string pid = std::to_string(looper.process().pid());
  EXPECT_EQ(looper.ctl({"qu", "pid"}), pid + " " + pid + "\n");
  EXPECT_EQ(looper.ctl({"query NUMBER;qu la;qu pid"}), "0\n-1\n" + pid + " " + pid + "\n");
}

TEST_F(LooperTest, MalformedCommandsAnswerTheirInvalidLines) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  expect_replies(looper, {
                             {"bogus words", "Invalid command: bogus words\n"},
                             {"ld", "Invalid load command: ld\n"},
                             {"load x1 a.gif", "Invalid load command: load x1 a.gif\n"},
                             {"ld -1 a.gif", "Invalid load command: ld -1 a.gif\n"},
                             {"ov 0", "Invalid overlay command: ov 0\n"},
                             {"sa", "Invalid save command: sa\n"},
                             {"sa -1", "Invalid save command: sa -1\n"},
                             {"sa every", "Invalid save command: sa every\n"},
                             {"se", "Invalid set command: se\n"},
                             {"se na", "Invalid set command: se na\n"},
                             {"se na two words", "Invalid set command: se na two words\n"},
                             {"se colour red", "Invalid set command: se colour red\n"},
                             {"se si 0x0", "Invalid set command: se si 0x0\n"},
                             {"se de nan", "Invalid set command: se de nan\n"},
                             {"se de 7 1e300", "Invalid set command: se de 7 1e300\n"},
                             {"se de -9 1", "Invalid set command: se de -9 1\n"},
                             {"se dr pane", "Invalid set draw command: se dr pane\n"},
                             {"qu", "Invalid query command: qu\n"},
                             {"qu colour", "Invalid query command: qu colour\n"},
                             {"go", "Invalid goto command\n"},
                         });
}

TEST_F(LooperTest, SetRowsAnswerWithTheirValues) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  expect_replies(looper, {
                             {"se na Radar", "Window name set to: Radar\n"},
                             {"se size 320x200", "Window size set to: 320x200\n"},
                             {"se di back", "Loop direction set to: back\n"},
                             {"se di rock", "Loop direction set to: forward\n"},
                             {"se de 0.3", "Loop delay set to: 0.3\n"},
                             {"se pa 2", "Loop end pause set to: 2.0\n"},
                             {"se out PNG", "Image output type set to: PNG\n"},
                             {"se output tiff", "Image output type set to: tiff\n"},
                             {"se dr wi", "Draw window set to window\n"},
                             {"se dr last", "Draw window set to last\n"},
                             {"se dr 2", "Draw window set to 2\n"},
                             {"se de la 2", "Set last frame delay to: 2.0\n"},
                             {"se de all 1.5", "Set all frame delays to: 1.5\n"},
                             {"se de 3 0.75", "Set frame 3 delay to: 0.8\n"},
                             {"SET DE 1 1 extra", "Set frame 1 delay to: 1.0\n"},
                             {"co", "Color table set to: zyb.clr\n"},
                             {"co none.clr", "Color table set to: none.clr\n"},
                         });
}

TEST_F(LooperTest, FrameAndLoopCommandsAnswerWithoutAWindow) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  expect_replies(looper, {
                             {"cl", "Cleared window\n"},
                             {"cl frame7", "Cleared window\n"},
                             {"cl la", "Cleared last frame\n"},
                             {"cl 7", "Cleared frame: 7\n"},
                             {"de", "Deleted curent frame\n"},
                             {"de la", "Deleted image: la\n"},
                             {"de 4", "Deleted image: 4\n"},
                             {"up", "Window updated\n"},
                             {"stop", "Loop stopped\n"},
                             {"start", "Loop started\n"},
                             {"loop", "Loop stopped\n"},
                             {"LOOP", "Loop started\n"},
                             {"step", "Frame incremented to: -1\n"},
                             {"go 3", "Frame set to: -1\n"},
                             {"sa wi", "Unable to save window\n"},
                             {"sa la", "Unable to save last frame\n"},
                             {"sa 2 x.gif", "Unable to save frame 2 in: x.gif\n"},
                             {"sa all", "Save done\n"},
                             {"ld 0 none.gif", "Loaded image: none.gif\n"},
                             {"ov wi none.gif 5,5 red", "Overlaid image: none.gif\n"},
                         });
  EXPECT_EQ(looper.ctl({"quit"}), "quit\n");
  EXPECT_EQ(looper.ctl({"qu", "num"}), "0\n");
}

// One record, several commands: each answers the same client in order.
class LooperTransportTest : public LooperTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LooperTransportTest, SeveralCommandsInOneRecordAnswerInOrder) {
  const bool sock = GetParam();
  Looper looper({"-wn", "%W"}, sock);
  ASSERT_TRUE(looper.ready());
  Client client(looper.window(), sock);
  ASSERT_GE(client.id(), MQ_FIRST_CLIENT);
  ASSERT_GE(client.send("he"), 0);
  for (int i = 0; i < 20; i++) EXPECT_EQ(client.receive().first, 1) << "help line " << i;
  EXPECT_EQ(client.receive(), std::make_pair(0, std::string("  kill - kill zorazez\n")));
  // "qu la" with a further word is not answered at all.
  ASSERT_GE(client.send("qu la extra;qu num;qu la;se de 0.5;quit"), 0);
  EXPECT_EQ(client.receive(), std::make_pair(0, std::string("0\n")));
  EXPECT_EQ(client.receive(), std::make_pair(0, std::string("-1\n")));
  EXPECT_EQ(client.receive(), std::make_pair(0, std::string("Loop delay set to: 0.5\n")));
  EXPECT_EQ(client.receive(), std::make_pair(-1, std::string("quit\n")));
}

TEST_P(LooperTransportTest, BadInputLeavesTheLooperAnswering) {
  const bool sock = GetParam();
  Looper looper({"-wn", "%W"}, sock);
  ASSERT_TRUE(looper.ready());
  Client client(looper.window(), sock);
  ASSERT_GE(client.id(), MQ_FIRST_CLIENT);
  std::string noise;
  for (int i = 1; i < 118; i++) noise += static_cast<char>((i * 37) % 255 + 1);
  const std::string long_word(200, 'x');
  const std::vector<std::string> bad = {
      noise,
      "ld " + long_word + " " + long_word,
      "se na " + long_word,
      "go 99999999999999999999",
      "cl 99999999999",
      "sa 4294967296",
      "se dr -3",
      "se de -4 -1e9",
      ";;;",
      "   ",
  };
  for (const std::string &text : bad) {
    ASSERT_GE(client.send(text), 0);
    ASSERT_GE(client.send("qu num"), 0);
    // Whatever the bad record answered, the query behind it comes back.
    std::pair<int, std::string> reply;
    for (int i = 0; i < 10 && reply.second != "0\n"; i++) reply = client.receive();
    EXPECT_EQ(reply.second, "0\n") << "after: " << text.substr(0, 40);
  }
  EXPECT_TRUE(looper.process().running());
}

INSTANTIATE_TEST_SUITE_P(Transports, LooperTransportTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "sock" : "sysv"; });

TEST_F(LooperTest, ThirtySuccessiveClientsAreAllAnswered) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  for (int i = 0; i < 30; i++) ASSERT_EQ(looper.ctl({"qu", "num"}), "0\n") << "call " << i;
}

TEST_F(LooperTest, SecondLooperOnTheSameWindowIsRefused) {
  Looper first;
  ASSERT_TRUE(first.ready());
  const std::string window = std::to_string(first.window());
  TempDir dir;
  Process second({bin("zorazez"), "-wn", window}, dir / "out", dir / "err");
  EXPECT_EQ(second.wait_exit(10), 14);
  const std::string err = read_file(dir / "err");
  EXPECT_NE(err.find("LOOP_init: Unable to create message queue\n"
                     "Either another zorazez programs is using this queue\n"
                     "or it has not been deleted (use \"animctl -win " +
                     window + " clean\")\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(first.ctl({"qu", "num"}), "0\n");
}

// The ways a looper ends by itself, with status 0. Only the termination
// signal takes the queue along.
struct Ending {
  const char *name;
  const char *command;  // sent through animctl; nullptr: SIGTERM instead
  const char *reply;
  bool queue_stays;
};

void PrintTo(const Ending &ending, std::ostream *os) { *os << ending.name; }

const Ending kEndings[] = {
    {"TerminationSignalRemovesTheQueue", nullptr, "", false},
    {"KillEndsTheLooperButLeavesTheQueue", "kill", "kill\n", true},
    {"OpenWithoutADisplayEndsTheLooper", "op", "Unable to open GKS\n", true},
};

class LooperEndingTest : public LooperTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(LooperEndingTest, EndsWithStatusZero) {
  const Ending &ending = GetParam();
  Looper looper;
  ASSERT_TRUE(looper.ready());
  if (ending.command)
    EXPECT_EQ(looper.ctl({ending.command}), ending.reply);
  else
    looper.process().signal(SIGTERM);
  EXPECT_EQ(looper.process().wait_exit(10), 0);
  EXPECT_EQ(queue_exists(looper.window()), ending.queue_stays);
}

INSTANTIATE_TEST_SUITE_P(Endings, LooperEndingTest, ::testing::ValuesIn(kEndings),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LooperTest, WindowNumbersNameTheInformationFile) {
  TempDir files;
  {
    // A plain number names no file.
    Looper looper({"-wn", "%W", "-fp", files.path()});
    ASSERT_TRUE(looper.ready());
    EXPECT_EQ(looper.ctl({"qu", "num"}), "0\n");
    EXPECT_FALSE(std::ifstream(files / ("zorazez." + std::to_string(looper.window()))).good());
    EXPECT_FALSE(std::ifstream(files / std::to_string(looper.window())).good());
  }
  // W<n>: the queue of window n and the file zorazez.<n>; +<n> with no queue
  // to join: a new one, and a file named by the text. No window yet, so
  // every id and the size are 0.
  const std::pair<const char *, const char *> named[] = {{"W%W", "zorazez.%W"}, {"+%W", "+%W"}};
  for (const auto &[word, name] : named) {
    Looper looper({"-wn", word, "-fp", files.path()});
    ASSERT_TRUE(looper.ready()) << word;
    const std::string file = files / zyb_test::with_window(name, looper.window());
    EXPECT_TRUE(eventually([&] { return read_file(file) == "+0:0:0x0\n"; })) << read_file(file);
  }
  {
    // A number above 1000 is a raw key: 6496 + n is window n.
    Looper looper({"-wn", "%K"});
    EXPECT_TRUE(looper.ready());
  }
}

TEST_F(LooperTest, BatchModePrintsTheLineOnceAndDetaches) {
  TempDir files;
  std::string out;
  // A named window has no queue; without a display the window stays shut,
  // so the detached process ends by itself.
  EXPECT_EQ(run({bin("zorazez"), "-ba", "-wn", "radar", "-fp", files.path()}, &out), 0);
  EXPECT_EQ(out, "+0:0:0x0\n");
  EXPECT_TRUE(eventually([&] { return read_file(files / "radar") == "+0:0:0x0\n"; }));
}

TEST_F(LooperTest, BatchModeLooperAnswersFromTheBackground) {
  const int window = free_window(kWindows);
  ASSERT_GE(window, 0);
  TempDir files;
  Process parent({bin("zorazez"), "-ba", "-wn", "W" + std::to_string(window)}, files / "out",
                 files / "err");
  const int parent_pid = parent.pid();
  EXPECT_EQ(parent.wait_exit(10), 0);
  ASSERT_TRUE(eventually([&] { return queue_exists(window); }));
  std::string out;
  ASSERT_EQ(run({bin("animctl"), "-wn", std::to_string(window), "qu", "pid"}, &out), 0);
  int start_pid = 0, now_pid = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "%d %d", &start_pid, &now_pid), 2) << out;
  EXPECT_EQ(start_pid, parent_pid);
  EXPECT_NE(now_pid, start_pid);
  ASSERT_GT(now_pid, 1);
  // The detached looper is ours: it reported its own PID.
  kill(now_pid, SIGTERM);
  EXPECT_TRUE(eventually([&] { return !queue_exists(window); }));
  remove_queue(window);
}

TEST_F(LooperTest, CommandResourceRunsBeforeTheQueueIsServed) {
  Looper waits({"-wn", "%W", "-cd", "se de 0.3;qu num"});
  ASSERT_TRUE(waits.ready());
  EXPECT_EQ(waits.ctl({"qu", "num"}), "0\n");
  // The pieces run in order: the last one ends the looper, the queue stays.
  const int window = free_window(kWindows);
  ASSERT_GE(window, 0);
  TempDir files;
  Process ends({bin("zorazez"), "-wn", std::to_string(window), "-cd", "se de 0.3;bogus;kill"},
               files / "out", files / "err");
  EXPECT_EQ(ends.wait_exit(10), 0);
  EXPECT_TRUE(queue_exists(window));
  remove_queue(window);
}

TEST_F(LooperTest, HelpOptionPrintsTheOptionsAndExits) {
  std::string out;
  EXPECT_EQ(run({bin("zorazez"), "-h"}, &out), 0);
  EXPECT_EQ(out.rfind("zorazez: This program plots various types of surface data\n", 0), 0u) << out;
  for (const char *label : {"-ba", "-me level", "-fp path", "-wn", "-cd cmd[;cmd]", "-ge wxh+x+y",
                            "file [file...]"})
    EXPECT_NE(out.find(label), std::string::npos) << label;
  EXPECT_LT(out.find("-ba"), out.find("-ge wxh+x+y"));
}

}  // namespace
