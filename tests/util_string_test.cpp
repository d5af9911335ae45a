// Strings, flags, line reading, byte order and timing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "proc_util.h"
#include "util/flag.h"
#include "util/string.h"
#include "util/system.h"
#include "util/tools.h"

namespace {

std::vector<std::string> split(const char *text, char delim, int *status = nullptr) {
  int count = -1;
  char **array = nullptr;
  int result = parse_string(text, delim, &count, &array);
  if (status) *status = result;
  std::vector<std::string> out(array, array + count);
  free_parsed_array(count, array);
  return out;
}

TEST(ParseString, TrailingDelimitersAreDroppedButInnerEmptyFieldsStay) {
  EXPECT_EQ(split("a;b;;", ';'), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split("a;;b", ';'), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(split(" a , b", ','), (std::vector<std::string>{" a ", " b"}));
  EXPECT_EQ(split(";;;", ';'), (std::vector<std::string>{""}));
  EXPECT_EQ(split(";a", ';'), (std::vector<std::string>{"", "a"}));
}

TEST(ParseString, EmptyOrMissingTextFailsWithNoFields) {
  int status = 0;
  EXPECT_TRUE(split("", ';', &status).empty());
  EXPECT_EQ(status, -1);
  int count = 7;
  char **array = reinterpret_cast<char **>(1);
  EXPECT_EQ(parse_string(nullptr, ';', &count, &array), -1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(free_parsed_array(0, nullptr), 0);
}

TEST(ParseString, FieldsPointIntoOneCopyOwnedByTheCaller) {
  char text[] = "x,y";
  int count = 0;
  char **array = nullptr;
  ASSERT_EQ(parse_string(text, ',', &count, &array), 0);
  text[0] = 'z';  // the caller's text is not shared
  EXPECT_STREQ(array[0], "x");
  EXPECT_EQ(array[1], array[0] + 2);
  free_parsed_array(count, array);
}

TEST(CaseInsensitiveCompare, WholeStrings) {
  EXPECT_EQ(stricmp("Open", "open"), 0);
  EXPECT_EQ(stricmp(nullptr, "open"), 1);
  EXPECT_EQ(stricmp("open", nullptr), 1);
  EXPECT_LT(stricmp("abc", "ABD"), 0);
  EXPECT_GT(stricmp("abcd", "ABC"), 0);
}

TEST(CaseInsensitiveCompare, LeadingCharactersOnly) {
  EXPECT_EQ(strnicmp("setx", "SET", 3), 0);
  EXPECT_EQ(strnicmp("abc", "abd", 2), 0);
  EXPECT_NE(strnicmp("abc", "abd", 3), 0);
  EXPECT_EQ(strnicmp("xyz", "Xbc", 1), 0);
  EXPECT_EQ(strnicmp("xyz", "Xbc", 0), 0);  // n <= 1 compares the first character
  EXPECT_NE(strnicmp("se", "set", 3), 0);
  EXPECT_EQ(strnicmp(nullptr, "set", 3), 1);
}

TEST(Trimming, LineEndsAnywhereAndTrailingBlanks) {
  char a[] = "ab\r\ncd  \n";
  EXPECT_EQ(wstrim_string(a), 1);
  EXPECT_STREQ(a, "abcd");
  char b[] = "  x y  ";
  EXPECT_EQ(trim_string(b), 0);
  EXPECT_STREQ(b, "  x y");
  char c[] = "line\r\r";
  trim_cr_string(c);
  EXPECT_STREQ(c, "line");
  char d[] = "MiXeD 1";
  EXPECT_EQ(low_string(d), 1);
  EXPECT_STREQ(d, "mixed 1");
  char e[] = "";
  EXPECT_EQ(low_string(e), 0);
  char f[] = "a b c";
  fill_string(f, ' ', '_');
  EXPECT_STREQ(f, "a_b_c");
}

TEST(Truncation, CopyLimitedCutsAtTheLimit) {
  EXPECT_EQ(copy_limited("abcdef", 3), "abc");
  EXPECT_EQ(copy_limited("ab", 3), "ab");
  EXPECT_EQ(copy_limited(nullptr, 3), "");
  char out[4];
  copy_limited_to(out, "abcdef", 3);
  EXPECT_STREQ(out, "abc");
}

TEST(Flags, SlotsAndTheirRange) {
  FLAG_reset(-9999);
  EXPECT_FALSE(FLAG_batch());
  EXPECT_FALSE(FLAG_help());
  EXPECT_EQ(FLAG_set(30, 1), -1);
  EXPECT_EQ(FLAG_set(-1, 1), -1);
  EXPECT_EQ(FLAG_set(29, 1LL << 40), 0);
  EXPECT_EQ(FLAG_get(29), 1LL << 40);
  FLAG_set(FLAG_BATCH, 1);
  FLAG_set(FLAG_HELP, 2);
  EXPECT_TRUE(FLAG_batch());
  EXPECT_TRUE(FLAG_help());
  FLAG_set(FLAG_BATCH, 0);
  EXPECT_FALSE(FLAG_batch());
  FLAG_reset(-9999);
}

TEST(Flags, PlotSelectionKeepsItsSums) {
  FLAG_resetplot(0);
  FLAG_setplot(3, 1);
  FLAG_setplot(9, 2);
  EXPECT_EQ(FLAG_getplot(0), 1);
  EXPECT_EQ(FLAG_getplot(12), 1 + 1 + 2);
  FLAG_setplot(0, 1);  // every surface plot
  EXPECT_EQ(FLAG_getplot(0), 6);
  EXPECT_EQ(FLAG_getplot(12), 6 + 6 + 2);
  FLAG_setplot(12, 0);
  EXPECT_EQ(FLAG_getplot(12), 0);
  EXPECT_EQ(FLAG_setplot(13, 1), -1);
}

class LineFile : public ::testing::Test {
 protected:
  FILE *open_with(const std::string &text) {
    std::string path = dir_ / "lines";
    FILE *w = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), w);
    std::fclose(w);
    f_ = std::fopen(path.c_str(), "r");
    return f_;
  }
  ~LineFile() override {
    if (f_) std::fclose(f_);
  }
  zyb_test::TempDir dir_;
  FILE *f_ = nullptr;
};

TEST_F(LineFile, LinesEmptyLinesAndTheEnd) {
  FILE *f = open_with("first\n\nthird\nlast");
  char buf[TOOLS_LINE_MAX + 1];
  EXPECT_EQ(fgetline(f, buf), 5);
  EXPECT_STREQ(buf, "first");
  EXPECT_EQ(fgetline(f, buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(fgetline(f, buf), 5);
  EXPECT_STREQ(buf, "third");
  EXPECT_EQ(fgetline(f, buf), 4);
  EXPECT_STREQ(buf, "last");
  EXPECT_EQ(fgetline(f, buf), EOF);
}

TEST_F(LineFile, LongLinesAreReadInPiecesOfTheLimit) {
  std::string longline(200, 'x');
  FILE *f = open_with(longline + "\nnext\n");
  char buf[TOOLS_LINE_MAX + 1];
  EXPECT_EQ(fgetline(f, buf), TOOLS_LINE_MAX);
  EXPECT_EQ(fgetline(f, buf), 40);
  EXPECT_EQ(fgetline(f, buf), 4);
  EXPECT_STREQ(buf, "next");
  EXPECT_EQ(fgetline(f, buf), EOF);
}

TEST_F(LineFile, LimitedReadsAndScanCounts) {
  FILE *f = open_with("abcdef\n\nxy\n");
  char buf[8];
  EXPECT_EQ(fgetnline(f, buf, 3), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(fgetnline(f, buf, 7), 3);
  EXPECT_STREQ(buf, "def");
  EXPECT_EQ(fgetstring(f, buf, 7), 0);  // the empty line
  EXPECT_EQ(fgetstring(f, buf, 7), 1);
  EXPECT_STREQ(buf, "xy");
  EXPECT_EQ(fgetstring(f, buf, 7), EOF);
}

TEST(ByteOrder, SwappingFollowsTheDataAndHostOrder) {
  const bool little = [] {
    int one = 1;
    return *reinterpret_cast<unsigned char *>(&one) == 1;
  }();
  unsigned char word[4] = {1, 2, 3, 4};
  swap_setup(little ? 2 : 1);  // data in host order
  EXPECT_EQ(swap_long(word), -1);
  EXPECT_EQ(word[0], 1);
  swap_setup(little ? 1 : 2);
  EXPECT_EQ(swap_long(word), 0);
  EXPECT_EQ(word[0], 4);
  EXPECT_EQ(word[3], 1);
  unsigned char shorts[4] = {1, 2, 3, 4};
  EXPECT_EQ(swap_shorts(shorts, 2), 0);
  EXPECT_EQ(shorts[0], 2);
  EXPECT_EQ(shorts[2], 4);
  unsigned char longs[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(swap_longs(longs, 2), 0);
  EXPECT_EQ(longs[4], 8);
  EXPECT_EQ(swap_longs(longs, 0), 0);
  swap_setup(-1);
  EXPECT_EQ(swap_longs(longs, 2), -1);
  EXPECT_EQ(longs[4], 8);
}

TEST(Timing, SleepsAddUpAndZeroIsRefused) {
  ZYB_init_time();
  EXPECT_EQ(ZYB_sleep(0.0f), -1);
  EXPECT_EQ(ZYB_sleep(-1.0f), -1);
  EXPECT_EQ(ZYB_sleep(0.05f), 0);
  float elapsed = ZYB_elapse_time();
  EXPECT_GE(elapsed, 0.045f);
  EXPECT_LT(elapsed, 1.0f);
  ZYB_init_time();
  EXPECT_LT(ZYB_elapse_time(), 0.04f);
}

TEST(Process, VersionAndPid) {
  EXPECT_STREQ(ZYB_version(), "5.60.4-LINUX-X11");
  EXPECT_EQ(ZYB_get_pid(), static_cast<int>(getpid()));
}

TEST(Process, BackgroundParentExitsAndChildDetaches) {
  zyb_test::TempDir dir;
  std::string marker = dir / "child";
  pid_t pid = fork();
  if (pid == 0) {
    // The test process's child plays the program: it goes to the background.
    if (ZYB_back_proc() == 1) {
      bool null_out = isatty(1) == 0;
      FILE *f = std::fopen(marker.c_str(), "w");
      std::fprintf(f, "%d %d", static_cast<int>(getpgrp() == getpid()), null_out ? 1 : 0);
      std::fclose(f);
    }
    _exit(3);  // not reached by the parent, which exits 0
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < 100 && zyb_test::read_file(marker).size() < 3; i++) usleep(20000);
  EXPECT_EQ(zyb_test::read_file(marker), "1 1");
}

}  // namespace
