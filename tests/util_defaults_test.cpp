// Defaults files: pairs, quoting, the tag preprocessor and key matching.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <sys/stat.h>
#include <vector>

#include "proc_util.h"
#include "util/def_read.h"
#include "util/mess.h"

namespace {

using zyb_test::TempDir;
using Pairs = std::vector<std::pair<std::string, std::string>>;

void write_file(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

class Defaults : public ::testing::Test {
 protected:
  void SetUp() override {
    DEF_reset();
    DEF_set_prog("zorazez");
    MESS_reset();
  }
  void TearDown() override {
    DEF_reset();
    MESS_reset();
  }
  Pairs read_all(const std::string &text) {
    std::string path = dir_ / "defaults";
    write_file(path, text);
    return read_path(path.c_str());
  }
  Pairs read_path(const char *path) {
    Pairs pairs;
    if (DEF_open(path) != 0) return pairs;
    char key[DEF_LINE_SIZE], value[DEF_LINE_SIZE];
    while (DEF_get(key, value) == 1) pairs.emplace_back(key, value);
    DEF_close();
    return pairs;
  }
  TempDir dir_;
};

TEST_F(Defaults, PairsCommentsAndQuotes) {
  Pairs p = read_all(
      "# comment\n"
      "zorazez.window_num: 3\n"
      "Zorazez.Title \"Radar Loop\" trailing words\n"
      "lonely\n"
      "\n"
      "   *geometry   640x512+0+0\n"
      "x.open \"unterminated value\n");
  EXPECT_EQ(p, (Pairs{{"zorazez.window_num", "3"},
                      {"zorazez.title", "Radar Loop"},
                      {"*geometry", "640x512+0+0"},
                      {"x.open", "unterminated value"}}));
}

TEST_F(Defaults, OverlongLinesAreCut) {
  std::string value(400, 'v');
  Pairs p = read_all("k " + value + "\nnext 1\n");
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].second.size(), static_cast<size_t>(DEF_LINE_MAX - 2));
  EXPECT_EQ(p[1], (std::pair<std::string, std::string>{"next", "1"}));
}

TEST_F(Defaults, IfElseWithATagFromTheSearchPath) {
  DEF_tag("radar");
  Pairs p = read_all(
      "IF RADAR\n"
      "a 1\n"
      "b 2\n"
      "ELSE\n"
      "c 3\n"
      "END\n"
      "d 4\n");
  EXPECT_EQ(p, (Pairs{{"a", "1"}, {"b", "2"}, {"d", "4"}}));
}

TEST_F(Defaults, OnlyTheFirstTakenBranchCounts) {
  DEF_tag("a");
  DEF_tag("b");
  Pairs p = read_all("IF a\nx 1\nELIF b\nx 2\nELSE\nx 3\nEND\n");
  EXPECT_EQ(p, (Pairs{{"x", "1"}}));
  DEF_clr_tag();
  DEF_tag("b");
  p = read_all("IF a\nx 1\nELIF b\nx 2\nELSE\nx 3\nEND\n");
  EXPECT_EQ(p, (Pairs{{"x", "2"}}));
  DEF_clr_tag();
  p = read_all("IF a\nx 1\nELIF b\nx 2\nELSE\nx 3\nEND\n");
  EXPECT_EQ(p, (Pairs{{"x", "3"}}));
}

TEST_F(Defaults, NestedLevelsAllHaveToBeTaken) {
  DEF_tag("outer");
  Pairs p = read_all("IF outer\nIF inner\nx 1\nELSE\ny 2\nEND\nz 3\nEND\nIF inner\nIF outer\nw 4\nEND\nEND\n");
  EXPECT_EQ(p, (Pairs{{"y", "2"}, {"z", "3"}}));
}

TEST_F(Defaults, DefAndUndefActEverywhereAndAreReturnedWhenTaken) {
  Pairs p = read_all(
      "DEF one\n"
      "IF one\n"
      "a 1\n"
      "END\n"
      "IF missing\n"
      "DEF two\n"
      "END\n"
      "IF two\n"
      "b 2\n"
      "END\n"
      "UNDEF ONE\n"
      "UNDEF never\n"
      "IF one\n"
      "c 3\n"
      "END\n");
  EXPECT_EQ(p, (Pairs{{"def", "one"}, {"a", "1"}, {"b", "2"}, {"undef", "ONE"}, {"undef", "never"}}));
}

TEST_F(Defaults, ControlWordsAreCapitalsOnly) {
  Pairs p = read_all("if x\nelse y\nIF\nz 1\n");
  EXPECT_EQ(p, (Pairs{{"if", "x"}, {"else", "y"}, {"z", "1"}}));
}

TEST_F(Defaults, UnbalancedControlLinesWarnAndAreIgnored) {
  testing::internal::CaptureStderr();
  Pairs p = read_all("ELSE\nEND\nELIF x\na 1\n");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(p, (Pairs{{"a", "1"}}));
  EXPECT_EQ(err,
            "DEF_get: else without an if\nDEF_get: end without an if\nDEF_get: elif without an if\n");
}

TEST_F(Defaults, AnOpenIfCarriesIntoTheNextFile) {
  Pairs p = read_all("IF unset\na 1\n");
  EXPECT_TRUE(p.empty());
  p = read_all("b 2\nEND\nc 3\n");
  EXPECT_EQ(p, (Pairs{{"c", "3"}}));
}

TEST_F(Defaults, TagsAreLimited) {
  for (int i = 0; i < DEF_MAX_TAGS; i++) EXPECT_EQ(DEF_tag(("t" + std::to_string(i)).c_str()), 0);
  EXPECT_EQ(DEF_tag("eleventh"), -1);
  Pairs p = read_all("DEF more\nIF more\na 1\nEND\nIF t9\nb 2\nEND\n");
  EXPECT_EQ(p, (Pairs{{"def", "more"}, {"b", "2"}}));
}

TEST_F(Defaults, DeepNestingBeyondTheStackStaysBalanced) {
  DEF_tag("t");
  std::string text;
  for (int i = 0; i < 30; i++) text += "IF t\n";
  text += "deep 1\n";
  for (int i = 0; i < 30; i++) text += "END\n";
  text += "after 2\n";
  EXPECT_EQ(read_all(text), (Pairs{{"deep", "1"}, {"after", "2"}}));
}

TEST_F(Defaults, DirectoriesAreSearchedForKnownNames) {
  std::string sub = dir_ / "etc";
  mkdir(sub.c_str(), 0755);
  write_file(sub + "/Zyb.res", "from res\n");
  EXPECT_EQ(read_path(sub.c_str()), (Pairs{{"from", "res"}}));
  write_file(sub + "/.zybdef", "from dot\n");
  EXPECT_EQ(read_path(sub.c_str()), (Pairs{{"from", "dot"}}));
  write_file(sub + "/zyb.cfg", "from cfg\n");
  EXPECT_EQ(read_path((sub + "/").c_str()), (Pairs{{"from", "cfg"}}));
  EXPECT_EQ(DEF_open((dir_ / "missing").c_str()), -1);
  EXPECT_EQ(DEF_open("-"), -1);
  char key[DEF_LINE_SIZE], value[DEF_LINE_SIZE];
  EXPECT_EQ(DEF_get(key, value), -1);
}

TEST_F(Defaults, KeysMatchTheProgramAndOption) {
  EXPECT_TRUE(DEF_cmp("window_num", "zorazez.window_num"));
  EXPECT_TRUE(DEF_cmp("window_num", "*window_num"));
  EXPECT_TRUE(DEF_cmp("window_num", "*.window_num"));
  EXPECT_TRUE(DEF_cmp("window_num", "zor*.window_num"));
  EXPECT_TRUE(DEF_cmp("window_num", "*zez*num"));
  EXPECT_FALSE(DEF_cmp("window_num", "other.window_num"));
  EXPECT_FALSE(DEF_cmp("window_num", "zorazez.window"));
  EXPECT_FALSE(DEF_cmp("window_num", "zorazez.window_num2"));
  EXPECT_FALSE(DEF_cmp("window_num", "*.nothing"));
  EXPECT_FALSE(DEF_cmp("title", "*window_num"));
}

TEST_F(Defaults, TitlesChangeTheTarget) {
  DEF_name("+radar");
  EXPECT_TRUE(DEF_cmp("title", "zorazez.radar.title"));
  EXPECT_FALSE(DEF_cmp("title", "zorazez.title"));
  EXPECT_TRUE(DEF_cmp("title", "*.title"));
  DEF_name("radar");
  EXPECT_TRUE(DEF_cmp("title", "radar.title"));
  EXPECT_FALSE(DEF_cmp("title", "zorazez.title"));
}

TEST_F(Defaults, ValidKeysAddressThisProgram) {
  EXPECT_TRUE(DEF_valid("zorazez.plot_param"));
  EXPECT_TRUE(DEF_valid("*.plot_param"));
  EXPECT_FALSE(DEF_valid("animctl.plot_param"));
  char name[DEF_LINE_SIZE];
  EXPECT_STREQ(DEF_parse_name("zorazez.plot_param", name), "plot_param");
  EXPECT_STREQ(DEF_parse_name("*font", name), "font");
  EXPECT_STREQ(DEF_parse_name("bare", name), "bare");
}

TEST_F(Defaults, EnvironmentNamesInOrder) {
  unsetenv("zybzorazez.zoom_test");
  unsetenv("zybzoomtest");
  unsetenv("zybzoom_test");
  char out[DEF_LINE_SIZE] = "";
  EXPECT_EQ(DEF_env("zoom_test", "zybzoomtest", out), 0);
  setenv("zybzoom_test", "3", 1);
  EXPECT_EQ(DEF_env("zoom_test", "zybzoomtest", out), 1);
  EXPECT_STREQ(out, "3");
  setenv("zybzoomtest", "2", 1);
  DEF_env("zoom_test", "zybzoomtest", out);
  EXPECT_STREQ(out, "2");
  setenv("zybzorazez.zoom_test", "1", 1);
  DEF_env("zoom_test", "zybzoomtest", out);
  EXPECT_STREQ(out, "1");
  unsetenv("zybzorazez.zoom_test");
  unsetenv("zybzoomtest");
  unsetenv("zybzoom_test");
}

}  // namespace
