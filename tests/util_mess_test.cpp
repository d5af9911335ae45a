// Message classes, the level language, log files and paging.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "proc_util.h"
#include "util/flag.h"
#include "util/mess.h"

namespace {

using zyb_test::read_file;
using zyb_test::TempDir;

// Sends standard output and error of this process to files while alive.
class Capture {
 public:
  explicit Capture(const TempDir &dir) : out_(dir / "captured.out"), err_(dir / "captured.err") {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = dup(1);
    saved_err_ = dup(2);
    int o = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    close(o);
    close(e);
  }
  ~Capture() { restore(); }
  void restore() {
    if (saved_out_ < 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out_, 1);
    dup2(saved_err_, 2);
    close(saved_out_);
    close(saved_err_);
    saved_out_ = saved_err_ = -1;
  }
  std::string out() {
    std::fflush(stdout);
    return read_file(out_);
  }
  std::string err() {
    std::fflush(stderr);
    return read_file(err_);
  }

 private:
  std::string out_, err_;
  int saved_out_ = -1, saved_err_ = -1;
};

class Mess : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_reset();
    FLAG_reset(-9999);
  }
  void TearDown() override {
    MESS_reset();
    FLAG_reset(-9999);
  }
  TempDir dir_;
};

TEST_F(Mess, DefaultLevelShowsUpToOut2) {
  EXPECT_EQ(MESS_get(), 0xFFFFFu);
  Capture cap(dir_);
  EXPECT_EQ(MESS_print(0x0F000000, "trace %d\n", 1), 0);
  EXPECT_EQ(MESS_print(MESS_OUT2, "detail\n"), 1);
  EXPECT_EQ(MESS_print(MESS_PRINT, "out %s\n", "line"), 1);
  EXPECT_EQ(MESS_print(MESS_ERROR, "bad\n"), 1);
  EXPECT_EQ(MESS_print(MESS_WARN, "careful\n"), 1);
  EXPECT_EQ(cap.out(), "detail\nout line\n");
  EXPECT_EQ(cap.err(), "bad\ncareful\n");
}

TEST_F(Mess, NamingAClassEnablesItAndEverythingLessVerbose) {
  MESS_set_str("mess");
  EXPECT_EQ(MESS_get(), 0xFFFu);
  EXPECT_FALSE(MESS_check(MESS_OUT1));
  EXPECT_FALSE(MESS_check(MESS_OUT2));
  EXPECT_TRUE(MESS_check(MESS_MESS));
  MESS_set_str("warn");
  EXPECT_EQ(MESS_get(), 0xFFu);
  MESS_set_str("NONE");
  EXPECT_EQ(MESS_get(), 0u);
  MESS_set_str("print");
  EXPECT_EQ(MESS_get(), 0x0Fu);
  MESS_set_str("error");
  EXPECT_EQ(MESS_get(), 0x3Fu);
  MESS_set_str("nonsense");
  EXPECT_EQ(MESS_get(), 0u);
}

TEST_F(Mess, SignsAndSubLevels) {
  MESS_set_str("+debug");
  EXPECT_EQ(MESS_get(), 0xF00FFFFFu);
  EXPECT_TRUE(MESS_check(0x80000000u));
  MESS_set_str("out4b");
  EXPECT_EQ(MESS_get(), 0x03FFFFFFu);
  MESS_reset();
  MESS_set_str("-warn");
  EXPECT_EQ(MESS_get(), 0xFFF3Fu);
  EXPECT_TRUE(MESS_check(MESS_ERROR));
  EXPECT_FALSE(MESS_check(MESS_WARN));
  MESS_reset();
  MESS_set_str("-mess,+debugd,+out3a");
  EXPECT_EQ(MESS_get(), 0x801FF0FFu);
  MESS_set_str("printa");
  EXPECT_EQ(MESS_get(), 0x1u);
}

TEST_F(Mess, EveryCallCountsAsAnExplicitSetting) {
  EXPECT_EQ(MESS_check_set(), 0);
  MESS_set_str("mess,out1");
  EXPECT_EQ(MESS_check_set(), 1);
  EXPECT_EQ(MESS_get(), 0xFFFFu);
}

TEST_F(Mess, NumericSettingsAndLateDefaults) {
  MESS_set(20, 0xF00);  // a late default, no explicit setting yet
  EXPECT_EQ(MESS_get(), 0xFFFu);
  EXPECT_EQ(MESS_check_set(), 0);
  MESS_set(11, 0xF000);
  EXPECT_EQ(MESS_get(), 0xFFFFu);
  EXPECT_EQ(MESS_check_set(), 0);
  MESS_set(-1, 0xC0);  // codes below 5 count as explicit
  EXPECT_EQ(MESS_get(), 0xFF3Fu);
  EXPECT_EQ(MESS_check_set(), 1);
  MESS_set(1, 0xC0);
  MESS_set(19, 0xFFFF);  // ignored now
  EXPECT_EQ(MESS_get(), 0xFFFFu);
  MESS_set(9, 0xF000);
  EXPECT_EQ(MESS_get(), 0x0FFFu);
  MESS_set(22, 0);  // outside the codes
  MESS_set(-2, 0);
  MESS_set(5, 0xFFFFFFFF);
  EXPECT_EQ(MESS_get(), 0x0FFFu);
}

TEST_F(Mess, BannerCarriesTitleAndVersion) {
  Capture cap(dir_);
  MESS_print_prog("ZYB LOOPING AND OVERLAY PROGRAM");
  EXPECT_EQ(cap.out(), "      ZYB LOOPING AND OVERLAY PROGRAM (Ver 5.60.4-LINUX-X11)\n\n");
}

TEST_F(Mess, FileOnlyLogKeepsTheTerminalQuiet) {
  std::string log = dir_ / "logs/run.log";
  Capture cap(dir_);
  MESS_set_str(("fi=" + log).c_str());
  EXPECT_EQ(MESS_get_out(), 0);
  EXPECT_EQ(MESS_print(MESS_ERROR, "to file %d\n", 7), 1);
  MESS_print(0x0F000000, "not enabled\n");
  EXPECT_EQ(cap.out(), "");
  EXPECT_EQ(cap.err(), "");
  EXPECT_EQ(read_file(log), "to file 7\n");
}

TEST_F(Mess, AppendAndTruncateLogModes) {
  std::string log = dir_ / "a.log";
  {
    FILE *f = std::fopen(log.c_str(), "w");
    std::fputs("old\n", f);
    std::fclose(f);
  }
  Capture cap(dir_);
  MESS_set_str(("+fi=" + log).c_str());
  MESS_print(MESS_PRINT, "one\n");
  EXPECT_EQ(read_file(log), "old\none\n");
  MESS_set_str(("-fi=" + log).c_str());
  MESS_print(MESS_PRINT, "two\n");
  EXPECT_EQ(read_file(log), "two\n");
  EXPECT_EQ(cap.out(), "one\ntwo\n");
}

TEST_F(Mess, DatedLogPrefixesEveryLogLine) {
  std::string log = dir_ / "dated.log";
  Capture cap(dir_);
  MESS_set_str(("@fi=" + log).c_str());
  EXPECT_EQ(MESS_get_out(), -1);
  MESS_print(MESS_MESS, "hello\n");
  EXPECT_EQ(cap.out(), "hello\n");
  // "yy MON dd  hh:mm:ssZ -- " before the text.
  std::string line = read_file(log);
  int yy, dd, hh, mm, ss, used = 0;
  char month[4] = "";
  ASSERT_EQ(std::sscanf(line.c_str(), "%2d %3s %2d  %2d:%2d:%2dZ -- %n", &yy, month, &dd, &hh, &mm, &ss, &used), 6)
      << line;
  EXPECT_EQ(line.substr(static_cast<size_t>(used)), "hello\n");
  EXPECT_NE(std::string("JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC").find(month), std::string::npos);
}

TEST_F(Mess, PerMessageFileIsOpenedAnewEachTime) {
  std::string log = dir_ / "each.log";
  Capture cap(dir_);
  MESS_set_str(("dfi=" + log).c_str());
  EXPECT_EQ(MESS_get_out(), 2);
  MESS_print(MESS_PRINT, "first\n");
  EXPECT_EQ(read_file(log), "first\n");
  unlink(log.c_str());  // a rotated log is simply started again
  MESS_print(MESS_PRINT, "second\n");
  EXPECT_EQ(read_file(log), "second\n");
  EXPECT_EQ(cap.out(), "first\nsecond\n");
}

TEST_F(Mess, UnopenableLogStillReachesTheTerminal) {
  Capture cap(dir_);
  MESS_set_str("+fi=/proc/no/such/dir/x.log");
  MESS_print(MESS_PRINT, "still here\n");
  EXPECT_EQ(cap.out(), "still here\n");
}

TEST_F(Mess, ExtraCopyFile) {
  std::string copy = dir_ / "copy.txt";
  Capture cap(dir_);
  ASSERT_EQ(MESS_file(copy.c_str(), "w"), 0);
  MESS_print(MESS_WARN, "w %s\n", "x");
  MESS_file_close();
  MESS_print(MESS_WARN, "after\n");
  EXPECT_EQ(read_file(copy), "w x\n");
  EXPECT_EQ(cap.err(), "w x\nafter\n");
}

TEST_F(Mess, PagingCountsNewlinesOfTheFormat) {
  std::string input = dir_ / "keys";
  {
    FILE *f = std::fopen(input.c_str(), "w");
    std::fputs("\n\n\n", f);
    std::fclose(f);
  }
  int saved_in = dup(0);
  int in = open(input.c_str(), O_RDONLY);
  dup2(in, 0);
  close(in);
  {
    Capture cap(dir_);
    MESS_set_str("page,line=3");
    EXPECT_EQ(MESS_get_max_lines(), 3);
    MESS_print(MESS_PRINT, "%s\n", "a\nb\nc\nd");  // one newline in the format
    MESS_print(MESS_PRINT, "two\nlines\n");
    EXPECT_EQ(cap.out(), "a\nb\nc\nd\ntwo\nlines\n");
    MESS_print(MESS_PRINT, "x\n");  // the fourth line: pause
    EXPECT_EQ(cap.out(), "a\nb\nc\nd\ntwo\nlines\nx\nPress return to continue\n");
  }
  std::clearerr(stdin);
  dup2(saved_in, 0);
  close(saved_in);
}

TEST_F(Mess, BatchModeNeverPauses) {
  FLAG_set(FLAG_BATCH, 1);
  Capture cap(dir_);
  MESS_set_str("page,line=1");
  MESS_print(MESS_PRINT, "1\n2\n3\n");
  EXPECT_EQ(MESS_hold(MESS_PRINT, "prompt\n"), 0);
  EXPECT_EQ(cap.out(), "1\n2\n3\n");
}

TEST_F(Mess, LineCountDefaultsAndNoPage) {
  MESS_set_str("line=0");
  EXPECT_EQ(MESS_get_max_lines(), 22);
  MESS_set_str("line=30,nopage");
  EXPECT_EQ(MESS_get_max_lines(), 30);
  EXPECT_EQ(MESS_get_page(), 0);
  EXPECT_EQ(MESS_hold(MESS_PRINT, "never\n"), 0);
}

}  // namespace
