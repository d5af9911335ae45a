// Colour tables read from real files, and colour look-up by name.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

#include "gks/gks.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using zyb_test::TempDir;

class ColourTable : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_put("file_path", dir_.path().c_str());
    RES_put("color_table", "");
  }
  std::string write(const std::string &name, const std::string &text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return name;
  }
  void load(const std::string &text) { CLR_read_table(write("t.clr", text).c_str()); }
  static void expect_rgb(int i, float r, float g, float b) {
    float cr = -1, cg = -1, cb = -1;
    CLR_get_rgb(i, &cr, &cg, &cb);
    EXPECT_NEAR(cr, r, 1e-4) << "entry " << i;
    EXPECT_NEAR(cg, g, 1e-4) << "entry " << i;
    EXPECT_NEAR(cb, b, 1e-4) << "entry " << i;
  }
  TempDir dir_;
};

TEST_F(ColourTable, EndTakesNoIndexAndATrailingCommentCountsOne) {
  load("black 0 0 0\nwhite 1 1 1\nEND\nred #FF0000\n");
  EXPECT_EQ(CLR_get_num(), 3);
  EXPECT_EQ(CLR_get_ind("black"), 0);
  EXPECT_EQ(CLR_get_ind("white"), 1);
  EXPECT_EQ(CLR_get_ind("red"), 2);
  expect_rgb(2, 1, 0, 0);

  load("black 0 0 0\nwhite 1 1 1\nend\nred #FF0000\n# the end\n");
  EXPECT_EQ(CLR_get_num(), 4);
}

TEST_F(ColourTable, NumberedLinePlacesColourAndTheNextFollows) {
  load("a 0 0 0\nb 0 0 0\nc 0.5 0.5 0.5\nd 0.5 0.5 0.5\n");
  load("black 0 0 0\nwhite 1 1 1\n10 blue 0 0 1\ngreen 0 1 0\n");
  EXPECT_EQ(CLR_get_ind("blue"), 10);
  EXPECT_EQ(CLR_get_ind("green"), 11);
  EXPECT_EQ(CLR_get_num(), 12);
  expect_rgb(2, 0.5f, 0.5f, 0.5f);  // indices 2 .. 9 were not written
  expect_rgb(3, 0.5f, 0.5f, 0.5f);
}

TEST_F(ColourTable, TableKeepsTheFirst256Colours) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "c" + std::to_string(i) + " 0.1 0.2 0.3\n";
  load(text);
  EXPECT_EQ(CLR_get_num(), 256);
  EXPECT_EQ(CLR_get_ind("c255"), 255);
  EXPECT_EQ(CLR_get_ind("c256"), -1);
}

TEST_F(ColourTable, NamesAreFoundInAnyCaseAndHexColoursAreAddedOnce) {
  load("black 0 0 0\nred 1 0 0\n");
  EXPECT_EQ(CLR_get_ind("RED"), 1);
  int green = CLR_get_ind("#00FF00");
  EXPECT_EQ(green, 2);
  EXPECT_EQ(CLR_get_num(), 3);
  expect_rgb(green, 0, 1, 0);
  EXPECT_EQ(CLR_get_ind("#00ff00"), green);  // found by name now
  EXPECT_EQ(CLR_get_num(), 3);
  int grey = CLR_get_ind("#128128128");
  EXPECT_EQ(grey, 3);
  expect_rgb(grey, 128 / 255.0f, 128 / 255.0f, 128 / 255.0f);
}

TEST_F(ColourTable, LookUpWordsHaveFixedResults) {
  load("black 0 0 0\n");
  struct Row {
    const char *text;
    int index;
  };
  const Row rows[] = {
      {"", -1},      {"end", -2},    {"END", -2},    {"none", -1},   {"off", -1},
      {"Back", -1},  {"pblk", 500},  {"pbblk", 501}, {"ptblk", 502}, {"pwht", 503},
      {"pbwht", 504}, {"ptwht", 505}, {"pgry", 506},  {"pbgry", 507}, {"ptgry", 508},
      {"12", 12},    {"7abc", 7},    {"mauve", -1},  {"#12345", -1}, {"#GGGGGG", -1},
  };
  for (const Row &row : rows) EXPECT_EQ(CLR_get_ind(row.text), row.index) << row.text;
  EXPECT_EQ(CLR_get_ind(nullptr), -1);
  EXPECT_EQ(CLR_get_num(), 1);  // none of them added anything
}

TEST_F(ColourTable, MissingFilesAreSkippedAndLeaveTheTable) {
  load("black 0 0 0\nred 1 0 0\n");
  CLR_read_table("nothere.clr");
  EXPECT_EQ(CLR_get_num(), 2);
  EXPECT_EQ(CLR_get_ind("red"), 1);

  write("good.clr", "blue 0 0 1\n");
  CLR_read_table("nothere.clr,good.clr");
  EXPECT_EQ(CLR_get_num(), 1);
  EXPECT_EQ(CLR_get_ind("blue"), 0);
}

TEST_F(ColourTable, SecondFileContinuesAfterTheFirst) {
  write("a.clr", "black 0 0 0\nwhite 1 1 1\n");
  write("b.clr", "red 1 0 0\n1 green 0 1 0\n");
  CLR_read_table("a.clr,b.clr");
  EXPECT_EQ(CLR_get_ind("red"), 2);
  EXPECT_EQ(CLR_get_ind("green"), 3);
  EXPECT_EQ(CLR_get_num(), 4);
}

TEST_F(ColourTable, ResourceNamesTheTableWhenNoNameIsGiven) {
  write("res.clr", "olive 0.5 0.5 0\n");
  RES_put("color_table", "res.clr");
  CLR_read_table(nullptr);
  EXPECT_EQ(CLR_get_ind("olive"), 0);
  EXPECT_EQ(CLR_get_num(), 1);
}

TEST_F(ColourTable, GarbageLinesNeverOverrunTheTable) {
  std::string junk("\x01\xff\x80 zz\0 1 2 3\n", 14);
  std::string text = "black 0 0 0\n" + junk + std::string(500, 'x') + " 1 1 1\n" +
                     "99999999999999999999 far 1 0 0\n" + "5\n" + "bad #ZZ0000\n" +
                     "bright 7 -3 nan\n" + "\r\n" + "   \t \n" + "-4 neg 0 0 1\n";
  load(text);
  EXPECT_EQ(CLR_get_ind("black"), 0);
  EXPECT_EQ(CLR_get_ind("far"), -1);  // its index would lie beyond 255
  EXPECT_LE(CLR_get_num(), 256);
  // Everything after the out-of-range number is dropped, the rest stays sane.
  for (int i = 0; i < CLR_get_num(); ++i) {
    float r, g, b;
    CLR_get_rgb(i, &r, &g, &b);
    EXPECT_TRUE(r >= 0 && r <= 1 && g >= 0 && g <= 1 && b >= 0 && b <= 1) << i;
  }
  load("5\nbad #ZZ0000\nbright 7 -3 nan\n-4 neg 0 0 1\n");
  EXPECT_EQ(CLR_get_num(), 9);  // 5 goes to 5, then 6, 7, 8
  expect_rgb(7, 1, 0, 0);       // components are kept within 0 .. 1
  EXPECT_EQ(CLR_get_ind("bad"), 6);
  expect_rgb(6, 0, 0, 0);
  EXPECT_EQ(CLR_get_ind("-4"), 8);  // "-4" is a name, not a number
}

TEST_F(ColourTable, LongLinesAreCutAt100Characters) {
  std::string name(19, 'n');
  std::string line = name + std::string(100, ' ') + "1 1 1\n";
  load("black 0 0 0\n" + line + "white 1 1 1\n");
  EXPECT_EQ(CLR_get_ind(name.c_str()), 1);
  expect_rgb(1, 0, 0, 0);  // the components lay beyond the cut
  EXPECT_EQ(CLR_get_ind("white"), 2);
}

TEST_F(ColourTable, RgbBeyondTheTableGivesTheLastEntry) {
  load("black 0 0 0\nred 1 0 0\n");
  expect_rgb(40, 1, 0, 0);
  expect_rgb(-3, 0, 0, 0);
}

TEST_F(ColourTable, AddingToAFullTableReusesTheClosestColour) {
  std::string text;
  for (int i = 0; i < 256; ++i) text += "g" + std::to_string(i) + " " + std::to_string(i / 255.0) + " 0 0\n";
  load(text);
  ASSERT_EQ(CLR_get_num(), 256);
  EXPECT_EQ(CLR_add("almost", 100 / 255.0f, 0, 0), 100);
  EXPECT_EQ(CLR_get_num(), 256);
}

TEST_F(ColourTable, DefaultTableIsFoundFromAnyDirectory) {
  TempDir elsewhere;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
  RES_put("file_path", elsewhere.path().c_str());
  CLR_read_table(nullptr);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(std::string(CLR_get_table_path()), std::string(ZYB_SOURCE_DIR) + "/data/zyb.clr");
  EXPECT_EQ(CLR_get_ind("black"), 0);
  EXPECT_EQ(CLR_get_ind("white"), 1);
  EXPECT_EQ(CLR_get_ind("red"), 2);
  EXPECT_EQ(CLR_get_ind("dbz05"), 16);
  EXPECT_EQ(CLR_get_ind("dbz75"), 30);
  EXPECT_EQ(CLR_get_num(), 31);
  float r, g, b;
  CLR_get_rgb(CLR_get_ind("yellow"), &r, &g, &b);
  EXPECT_EQ(r + g + b, 2.0f);
}

TEST_F(ColourTable, TableInFilePathWinsOverTheShippedOne) {
  write("zyb.clr", "mine 0.2 0.4 0.6\n");
  CLR_read_table(nullptr);
  EXPECT_EQ(CLR_get_ind("mine"), 0);
  EXPECT_EQ(CLR_get_num(), 1);
}

}  // namespace
