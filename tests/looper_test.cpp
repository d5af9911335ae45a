// End-to-end tests of the looper without a display: the real zorazez,
// driven through animctl and through the queue API on both transports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "looper_util.h"

namespace {

using namespace zyb_test;

constexpr WindowRange kWindows{840, 869};

using Cases = std::vector<std::pair<std::string, std::string>>;

// Sends the commands of cases, two to a record, and checks each
// command's one-line reply.
void expect_replies(const Looper &looper, const Cases &cases) {
  for (size_t next = 0, end; next < cases.size(); next = end) {
    std::string record = cases[next].first;
    for (end = next + 1;
         end < std::min(next + 2, cases.size()) && record.size() + 1 + cases[end].first.size() <= MQ_TEXT_MAX; end++)
      record += ";" + cases[end].first;
    std::string out = looper.ctl({record});
    for (size_t i = next; i < end; i++) {
      const std::string line = out.substr(0, out.find('\n') + 1);
      out.erase(0, line.size());
      EXPECT_EQ(line, cases[i].second) << "command: " << cases[i].first;
    }
  }
}

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
    "  qu ll x,y - latitude, longitude and nearest station at a pixel\n"
    "  te   - draw text\n"
    "  li   - draw line\n"
    "  ma   - draw marker\n"
    "  mf   - draw metafile\n"
    "  pr   - print recorded drawing to file\n"
    "  kill - kill zorazez\n"
    "Live loops\n"
    "  wa dir [pattern] [keep n] - watch a directory: new images join the loop\n"
    "  wa off - stop watching; qu wa - the watch in force\n"
    "  ld all file.gif - an animated GIF becomes frames 0, 1, ...\n"
    "  se out agif; sa all file.gif - save the loop as one animated GIF\n"
    "  se fi s - pause on the first frame\n";

class LooperTest : public ::testing::Test {
 protected:
  // Nothing here may reach a display, whatever the caller's environment.
  static void SetUpTestSuite() { unsetenv("DISPLAY"); }
};

// Twenty-odd successive animctl calls: each must give its client slot back,
// or the twentieth would find none.
TEST_F(LooperTest, EveryCommandFormAnswersItsLineOverSuccessiveCalls) {
  Looper looper(kWindows);
  ASSERT_TRUE(looper.ready());
  const std::string pid = std::to_string(looper.process().pid());
  expect_replies(looper, {
                             {"ld", "Invalid load command: ld\n"},
                             {"load x1 a.gif", "Invalid load command: load x1 a.gif\n"},
                             {"ld -1 a.gif", "Invalid load command: ld -1 a.gif\n"},
                             {"ov 0", "Invalid overlay command: ov 0\n"},
                             {"sa", "Invalid save command: sa\n"},
                             {"sa -1", "Invalid save command: sa -1\n"},
                             {"se", "Invalid set command: se\n"},
                             {"se na two words", "Invalid set command: se na two words\n"},
                             {"se si 0x0", "Invalid set command: se si 0x0\n"},
                             {"se de nan", "Invalid set command: se de nan\n"},
                             {"se de -9 1", "Invalid set command: se de -9 1\n"},
                             {"se de 7 1e300", "Invalid set command: se de 7 1e300\n"},
                             {"se dr pane", "Invalid set draw command: se dr pane\n"},
                             {"qu", "Invalid query command: qu\n"},
                             {"go", "Invalid goto command\n"},
                             {"query NUMBER", "0\n"},
                             {"bogus" + std::string(105, 'x'),
                              "Invalid command: bogus" + std::string(95, 'x') + "\n"},  // cut, still a line
                             {"qu la", "-1\n"},
                             {"qu pid", pid + " " + pid + "\n"},
                             {"se size 320x200", "Window size set to: 320x200\n"},
                             {"se di rock", "Loop direction set to: forward\n"},
                             {"se de 0.3", "Loop delay set to: 0.3\n"},
                             {"se pa 2", "Loop end pause set to: 2.0\n"},
                             {"se dr wi", "Draw window set to window\n"},
                             {"se dr last", "Draw window set to last\n"},
                             {"se de la 2", "Set last frame delay to: 2.0\n"},
                             {"se de all 1.5", "Set all frame delays to: 1.5\n"},
                             {"SET DE 3 0.75 extra", "Set frame 3 delay to: 0.8\n"},
                             {"co", "Color table set to: zyb.clr\n"},
                             {"co none.clr", "Color table set to: none.clr\n"},
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

class LooperTransportTest : public LooperTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LooperTransportTest, HelpAndEachCommandOfARecordAreAnsweredInOrder) {
  Looper looper(kWindows, {"-wn", "%W"}, GetParam());
  ASSERT_TRUE(looper.ready());
  MQ_settype(GetParam() ? MQ_TCP : MQ_SYSV);
  MQ_offset(kQueueOffset);
  MQ_timeout(10);
  const int q = MQ_open(looper.window()), id = MQ_connect(q);
  ASSERT_GE(id, MQ_FIRST_CLIENT);
  char text[MQ_TEXT_MAX + 3];
  for (const char *help : {"he", "HELP"}) {
    ASSERT_GE(MQ_put(q, id, "%s", help), 0);
    std::string lines;
    int code = MQ_MORE_LINES;
    for (int n = 0; code == MQ_MORE_LINES && n < 30; n++, lines += text) code = MQ_get(q, id, text);
    EXPECT_EQ(code, MQ_LAST_LINE);
    EXPECT_EQ(lines, kHelp) << help;
  }
  // "qu la" with a further word is not answered at all.
  ASSERT_GE(MQ_put(q, id, "qu la extra;qu num;qu la;se de 0.5;quit"), 0);
  for (const auto &reply : {std::pair{0, "0\n"}, {0, "-1\n"}, {0, "Loop delay set to: 0.5\n"}, {-1, "quit\n"}}) {
    const int code = MQ_get(q, id, text);
    EXPECT_EQ(std::make_pair(code, std::string(text)), std::make_pair(reply.first, std::string(reply.second)));
  }
  MQ_close(q);
  MQ_settype(MQ_SYSV);
}

INSTANTIATE_TEST_SUITE_P(Transports, LooperTransportTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "sock" : "sysv"; });

TEST_F(LooperTest, SecondLooperOnTheSameWindowIsRefusedWithStatus14) {
  Looper first(kWindows);
  ASSERT_TRUE(first.ready());
  const std::string window = std::to_string(first.window());
  std::string err;
  EXPECT_EQ(run({bin("zorazez"), "-wn", window}, nullptr, &err, 10), 14);
  EXPECT_NE(err.find("LOOP_init: Unable to create message queue\n"
                     "Either another zorazez programs is using this queue\n"
                     "or it has not been deleted (use \"animctl -win " +
                     window + " clean\")\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(first.ctl({"qu", "num"}), "0\n");
}

// The ways a looper ends by itself, with status 0: only the termination
// signal takes the queue along.
TEST_F(LooperTest, EndingsByKillByAFailedOpenAndBySigtermLeaveOrRemoveTheQueue) {
  const std::tuple<const char *, const char *, bool> endings[] = {
      {"kill", "kill\n", true}, {"op", "Unable to open GKS\n", true}, {nullptr, "", false}};
  for (const auto &[command, reply, queue_stays] : endings) {
    Looper looper(kWindows);
    ASSERT_TRUE(looper.ready());
    if (command == nullptr) looper.process().signal(SIGTERM);
    EXPECT_EQ(command ? looper.ctl({command}) : "", reply);
    EXPECT_EQ(looper.process().wait_exit(10), 0) << reply;
    EXPECT_EQ(queue_exists(looper.window()), queue_stays) << reply;
  }
  // The command resource runs before the queue is served: its last piece ends the looper.
  const int window = free_window(kWindows);
  ASSERT_GE(window, 0);
  EXPECT_EQ(run({bin("zorazez"), "-wn", std::to_string(window), "-cd", "se de 0.3;bogus;kill"}, nullptr), 0);
  EXPECT_TRUE(queue_exists(window));
  remove_queue(window);
}

TEST_F(LooperTest, WindowNumbersNameTheInformationFile) {
  TempDir files;
  {
    // A plain number names no file.
    Looper looper(kWindows, {"-wn", "%W", "-fp", files.path()});
    ASSERT_TRUE(looper.ready());
    EXPECT_EQ(looper.ctl({"qu", "num"}), "0\n");
    EXPECT_FALSE(std::ifstream(files / ("zorazez." + std::to_string(looper.window()))).good());
    EXPECT_FALSE(std::ifstream(files / std::to_string(looper.window())).good());
  }
  // W<n>: the queue of window n and the file zorazez.<n>; +<n> with no queue
  // to join: a new one, and a file named by the text. No window yet, so
  // every id and the size are 0.
  for (const auto &[word, name] : {std::pair{"W%W", "zorazez.%W"}, {"+%W", "+%W"}}) {
    Looper looper(kWindows, {"-wn", word, "-fp", files.path()});
    ASSERT_TRUE(looper.ready()) << word;
    const std::string file = files / with_window(name, looper.window());
    EXPECT_TRUE(eventually([&] { return read_file(file) == "+0:0:0x0\n"; })) << read_file(file);
  }
  // A number above 1000 is a raw key: 6496 + n is window n.
  EXPECT_TRUE(Looper(kWindows, {"-wn", "%K"}).ready());
}

// A named window's batch run is checked with a display in looper_xtest;
// without one the window stays shut and its line is all zeros.
TEST_F(LooperTest, BatchModePrintsTheLineEvenWithoutAWindowOrAnswersFromTheBackground) {
  TempDir files;
  std::string out;
  EXPECT_EQ(run({bin("zorazez"), "-ba", "-wn", "radar", "-fp", files.path()}, &out), 0);
  EXPECT_EQ(out, "+0:0:0x0\n");
  const int window = free_window(kWindows);
  ASSERT_GE(window, 0);
  Process parent({bin("zorazez"), "-ba", "-wn", "W" + std::to_string(window), "-fp", files.path()}, files / "out",
                 files / "err");
  const int parent_pid = parent.pid();
  EXPECT_EQ(parent.wait_exit(10), 0);
  ASSERT_TRUE(eventually([&] { return queue_exists(window); }));
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

TEST_F(LooperTest, HelpOptionPrintsTheOptionsAndExits) {
  const std::string domain_lines =
      "               region=predefined region:\n"
      "                  us,ne,at,se,mw,sp,nw,sw,etc\n"
      "               proj=projection, clat=central latitude, clon=central longitude,\n"
      "               nx,ny=number of gridpoints and dx,dy=grid spacing\n";
  auto domain = [&](const char *option, const char *text) {
    return std::string(" -") + option + " region or [proj],clat,clon[,nx,ny][,dx,dy]\n             " + text + "\n" +
           domain_lines;
  };
  const std::string expected =
      "zorazez: This program plots various types of surface data\n"
      "zorazez syntax (version:5.60.4-LINUX-X11)\n"
      "   zorazez [options...]\n"
      "Keyed options...\n"
      " -df file    Resource/defaults file name\n"
      " -na name    Program name\n"
      " -h          Print this help\n"
      " -ba         Run program in batch mode\n"
      " -me level   Message level to be displayed:\n"
      "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"
      " -fp path    File path\n"
      " -ip path    Image file path\n"
      " -wn         ZORAzez window number\n" +
      domain("pd", "Output plot domain") + domain("gd", "Grid domain") +
      domain("re", "Region to be used for plotting and gridding") +
      "               us,ne,at,se,mw,sp,nw,sw,var\n"
      " -pr prior   Priority of stations used in the plot\n"
      " -ct file    Color table file name\n"
      " -cd cmd[;cmd]  Commands to be run\n"
      " -pa param[,...]  Program parameters\n"
      " -de dev[,name]  Output device: d,p,q,w,m\n"
      " -ti title   Window title\n"
      " -ic         Open window iconified\n"
      " -bg clr     Background color\n"
      " -ge wxh+x+y  Window geometry\n"
      "Positional options...\n"
      " file [file...]  Input file names\n";
  std::string out;
  EXPECT_EQ(run({bin("zorazez"), "-h"}, &out), 0);
  EXPECT_EQ(out, expected);
}

}  // namespace
