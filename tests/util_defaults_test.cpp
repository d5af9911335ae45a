// Defaults files: pairs, quoting, the tag preprocessor and key matching.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fstream>
#include <string>
#include <vector>

#include "proc_util.h"
#include "util/def_read.h"
#include "util/mess.h"

namespace {

void write_file(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

class Defaults : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    DEF_set_prog("zorazez");
  }
  void TearDown() override {
    DEF_reset();
    MESS_reset();
  }
  // The pairs in force, as "key=value;" each.
  std::string read_all(const std::string &text) {
    write_file(dir_ / "defaults", text);
    return read_path((dir_ / "defaults").c_str());
  }
  static std::string read_path(const char *path) {
    std::string pairs;
    if (DEF_open(path) != 0) return "<none>";
    char key[DEF_LINE_SIZE], value[DEF_LINE_SIZE];
    while (DEF_get(key, value) == 1) pairs += std::string(key) + "=" + value + ";";
    DEF_close();
    return pairs;
  }
  zyb_test::TempDir dir_;
};

TEST_F(Defaults, PairsCommentsQuotesAndOverlongLines) {
  EXPECT_EQ(read_all("# comment\nzorazez.window_num: 3\nZorazez.Title \"Radar Loop\" trailing words\nlonely\n\n"
                     "   *geometry   640x512+0+0\nx.open \"unterminated value\n"),
            "zorazez.window_num=3;zorazez.title=Radar Loop;*geometry=640x512+0+0;x.open=unterminated value;");
  const std::string cut(DEF_LINE_MAX - 2, 'v');
  EXPECT_EQ(read_all("k " + cut + std::string(200, 'v') + "\nnext 1\n"), "k=" + cut + ";next=1;");
}

TEST_F(Defaults, TagPreprocessor) {
  const std::string if_elif_else = "IF a\nx 1\nELIF b\nx 2\nELSE\nx 3\nEND\n";
  std::string deep;
  for (int i = 0; i < 30; i++) deep = "IF t\n" + deep + "END\n";
  deep.insert(30 * 5, "deep 1\n");
  const struct {
    std::vector<const char *> tags;
    std::string text;
    const char *pairs;
  } cases[] = {
      {{"radar"}, "IF RADAR\na 1\nb 2\nELSE\nc 3\nEND\nd 4\n", "a=1;b=2;d=4;"},
      {{"a", "b"}, if_elif_else, "x=1;"},
      {{"b"}, if_elif_else, "x=2;"},
      {{}, if_elif_else, "x=3;"},
      {{"outer"}, "IF outer\nIF inner\nx 1\nELSE\ny 2\nEND\nz 3\nEND\nIF inner\nIF outer\nw 4\nEND\nEND\n", "y=2;z=3;"},
      // DEF and UNDEF act also in branches not taken, and are returned when taken.
      {{},
       "DEF one\nIF one\na 1\nEND\nIF missing\nDEF two\nEND\nIF two\nb 2\nEND\nUNDEF ONE\nIF one\nc 3\nEND\n",
       "def=one;a=1;b=2;undef=ONE;"},
      {{}, "if x\nelse y\nIF\nz 1\n", "if=x;else=y;z=1;"},  // control words are capitals with their tag
      {{"t"}, deep + "after 2\n", "deep=1;after=2;"},       // deeper than the stack, still balanced
  };
  for (const auto &c : cases) {
    DEF_reset();
    for (const char *tag : c.tags) DEF_tag(tag);
    EXPECT_EQ(read_all(c.text), c.pairs) << c.text;
  }
}

TEST_F(Defaults, EleventhTagIsRefusedUnbalancedLinesWarnAndAnOpenIfCarriesOn) {
  for (int i = 0; i < DEF_MAX_TAGS; i++) EXPECT_EQ(DEF_tag(("t" + std::to_string(i)).c_str()), 0);
  EXPECT_EQ(DEF_tag("eleventh"), -1);
  EXPECT_EQ(read_all("DEF more\nIF more\na 1\nEND\nIF t9\nb 2\nEND\n"), "def=more;b=2;");
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_all("ELSE\nEND\nELIF x\na 1\n"), "a=1;");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DEF_get: else without an if\nDEF_get: end without an if\nDEF_get: elif without an if\n");
  EXPECT_EQ(read_all("IF unset\na 1\n"), "");
  EXPECT_EQ(read_all("b 2\nEND\nc 3\n"), "c=3;") << "into the next file";
}

TEST_F(Defaults, DirectoriesAreSearchedForKnownNames) {
  const std::string sub = dir_ / "etc";
  mkdir(sub.c_str(), 0755);
  std::string found;
  for (const char *name : {"Zyb.res", ".zybdef", "zyb.cfg"}) {
    write_file(sub + "/" + name, std::string("from ") + name + "\n");
    found += read_path(sub.c_str());
  }
  EXPECT_EQ(found, "from=Zyb.res;from=.zybdef;from=zyb.cfg;");
  EXPECT_EQ(read_path((dir_ / "missing").c_str()), "<none>");
  char key[DEF_LINE_SIZE], value[DEF_LINE_SIZE];
  EXPECT_EQ(DEF_get(key, value), -1);
}

TEST_F(Defaults, KeysMatchProgramTitleAndOption) {
  for (const char *key : {"zorazez.window_num", "*window_num", "*.window_num", "zor*.window_num", "*zez*num"})
    EXPECT_TRUE(DEF_cmp("window_num", key)) << key;
  for (const char *key : {"other.window_num", "zorazez.window", "zorazez.window_num2", "*.nothing", "*window"})
    EXPECT_FALSE(DEF_cmp("window_num", key)) << key;
  EXPECT_TRUE(DEF_valid("zorazez.plot_param") && DEF_valid("*.plot_param"));
  EXPECT_FALSE(DEF_valid("animctl.plot_param"));
  char name[DEF_LINE_SIZE];
  EXPECT_STREQ(DEF_parse_name("zorazez.plot_param", name), "plot_param");
  EXPECT_STREQ(DEF_parse_name("*font", name), "font");
  DEF_name("+radar");
  EXPECT_TRUE(DEF_cmp("title", "zorazez.radar.title") && DEF_cmp("title", "*.title"));
  EXPECT_FALSE(DEF_cmp("title", "zorazez.title"));
  DEF_name("radar");
  EXPECT_TRUE(DEF_cmp("title", "radar.title"));
  EXPECT_FALSE(DEF_cmp("title", "zorazez.title"));
}

}  // namespace
