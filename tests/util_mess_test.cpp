// Message classes, the level language, log files and paging.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "proc_util.h"
#include "util/flag.h"
#include "util/mess.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using zyb_test::read_file;

class Mess : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    MESS_reset();
    FLAG_reset(-9999);
  }
  void set(const std::string &text) { MESS_set_str(text.c_str()); }
  zyb_test::TempDir dir_;
};

TEST_F(Mess, DefaultLevelShowsUpToOut2ErrorsAndWarningsOnStderr) {
  EXPECT_EQ(MESS_get(), 0xFFFFFu);
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ((std::vector<int>{MESS_print(0x0F000000, "trace %d\n", 1), MESS_print(MESS_OUT2, "detail\n"),
                              MESS_print(MESS_PRINT, "out %s\n", "line"), MESS_print(MESS_ERROR, "bad\n"),
                              MESS_print(MESS_WARN, "careful\n")}),
            (std::vector<int>{0, 1, 1, 1, 1}));
  EXPECT_EQ(GetCapturedStderr(), "bad\ncareful\n");
  EXPECT_EQ(GetCapturedStdout(), "detail\nout line\n");
}

TEST_F(Mess, LevelEntriesAndEachCallCountsOnce) {
  const struct {
    const char *entry;
    unsigned int level;
  } cases[] = {{"mess", 0xFFF},        {"warn", 0xFF},        {"NONE", 0},
               {"print", 0x0F},        {"error", 0x3F},       {"nonsense", 0},
               {"+debug", 0xF00FFFFF}, {"out4b", 0x03FFFFFF}, {"-warn", 0xFFF3F},
               {"printa", 0x1},        {"mess,out1", 0xFFFF}, {"-mess,+debugd,+out3a", 0x801FF0FF}};
  for (const auto &c : cases) {
    MESS_reset();
    set(c.entry);
    EXPECT_EQ(MESS_get(), c.level) << c.entry;
    EXPECT_EQ(MESS_check_set(), 1) << c.entry;
  }
}

TEST_F(Mess, BannerCarriesTitleAndVersion) {
  CaptureStdout();
  MESS_print_prog("ZYB LOOPING AND OVERLAY PROGRAM");
  EXPECT_EQ(GetCapturedStdout(), "      ZYB LOOPING AND OVERLAY PROGRAM (Ver 5.60.4-LINUX-X11)\n\n");
}

TEST_F(Mess, LogFileModes) {
  const std::string only = dir_ / "logs/only.log", app = dir_ / "app.log", dated = dir_ / "dated.log",
                    each = dir_ / "each.log";
  CaptureStdout();
  CaptureStderr();
  set("fi=" + only);  // file only: the terminal stays quiet
  MESS_print(MESS_ERROR, "to file %d\n", 7);
  MESS_print(0x0F000000, "not enabled\n");
  set("-fi=" + app);
  MESS_print(MESS_PRINT, "zero\n");
  set("+fi=" + app);
  MESS_print(MESS_PRINT, "one\n");
  EXPECT_EQ(read_file(app), "zero\none\n");
  set("-fi=" + app);
  MESS_print(MESS_PRINT, "two\n");
  set("@fi=" + dated);
  MESS_print(MESS_MESS, "hello\n");
  set("dfi=" + each);
  MESS_print(MESS_PRINT, "first\n");
  unlink(each.c_str());  // a rotated log is simply started again
  MESS_print(MESS_PRINT, "second\n");
  set("+fi=/proc/no/such/dir/x.log");
  MESS_print(MESS_PRINT, "still here\n");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(GetCapturedStdout(), "zero\none\ntwo\nhello\nfirst\nsecond\nstill here\n");
  EXPECT_EQ(read_file(only), "to file 7\n");
  EXPECT_EQ(read_file(app), "two\n");
  EXPECT_EQ(read_file(each), "second\n");
  const std::regex dated_line(
      R"(\d\d (JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC) \d\d  \d\d:\d\d:\d\dZ -- hello\n)");
  EXPECT_TRUE(std::regex_match(read_file(dated), dated_line)) << read_file(dated);
}

TEST_F(Mess, PagingCountsNewlinesOfTheFormatAndNeverWaitsInBatch) {
  int keys[2];
  ASSERT_EQ(pipe(keys), 0);
  EXPECT_EQ(write(keys[1], "\n\n\n", 3), 3);  // the keys a user would press
  close(keys[1]);
  const int saved_in = dup(0);
  dup2(keys[0], 0);
  close(keys[0]);
  CaptureStdout();
  set("page,line=3");
  MESS_print(MESS_PRINT, "%s\n", "a\nb\nc\nd");  // one newline in the format
  MESS_print(MESS_PRINT, "two\nlines\n");
  MESS_print(MESS_PRINT, "x\n");  // the fourth line: pause
  MESS_print(MESS_PRINT, "y\n");  // counting starts again
  FLAG_set(FLAG_BATCH, 1);
  set("line=1");
  MESS_print(MESS_PRINT, "1\n2\n3\n");
  EXPECT_EQ(MESS_hold(MESS_PRINT, "prompt\n"), 0);
  EXPECT_EQ(GetCapturedStdout(), "a\nb\nc\nd\ntwo\nlines\nx\nPress return to continue\ny\n1\n2\n3\n");
  std::clearerr(stdin);
  dup2(saved_in, 0);
  close(saved_in);

  set("line=0");
  EXPECT_EQ(MESS_get_max_lines(), 22);
  set("line=30,nopage");
  EXPECT_EQ((std::vector<int>{MESS_get_max_lines(), MESS_get_page()}), (std::vector<int>{30, 0}));
}

}  // namespace
