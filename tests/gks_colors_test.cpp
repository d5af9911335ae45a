// Colour tables read from real files, and colour look-up by name.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "gks/gks.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using zyb_test::TempDir;

// Lines "stem0 0 0 0", "stem1 1/255 0 0", ...
std::string lines(int count, const std::string &stem) {
  std::string text;
  for (int i = 0; i < count; ++i) text += stem + std::to_string(i) + " " + std::to_string(i / 255.0) + " 0 0\n";
  return text;
}

class ColourTable : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_put("file_path", dir_.path().c_str());
    RES_put("color_table", "");
  }
  void write(const std::string &name, const std::string &text) { std::ofstream(dir_ / name, std::ios::binary) << text; }
  void load(const std::string &text) {
    write("t.clr", text);
    CLR_read_table("t.clr");
  }
  static void expect_rgb(int i, float r, float g, float b) {
    float c[3] = {-1, -1, -1};
    CLR_get_rgb(i, &c[0], &c[1], &c[2]);
    EXPECT_LT(std::fabs(c[0] - r) + std::fabs(c[1] - g) + std::fabs(c[2] - b), 1e-3)
        << "entry " << i << ": " << c[0] << " " << c[1] << " " << c[2];
  }
  TempDir dir_;
};

TEST_F(ColourTable, LinesTakeTheirIndicesAndCountTheTable) {
  struct Row {
    std::string text;
    int num_colors;  // -1: at most 256
    std::vector<std::pair<std::string, int>> found;
    std::vector<std::array<float, 4>> rgb;  // index, r, g, b
  };
  const std::string junk("\x01\xff\x80 zz\0 1 2 3\n", 14);
  const Row rows[] = {
      {"black 0 0 0\nwhite 1 1 1\nEND\nred #FF0000\n", 3, {{"black", 0}, {"white", 1}, {"red", 2}}, {{2, 1, 0, 0}}},
      {"black 0 0 0\nwhite 1 1 1\nend\nred #FF0000\n# the end\n", 4, {{"red", 2}}, {}},
      // Indices 2 .. 9 are not written: they keep the earlier table's colours.
      {"black 0 0 0\nwhite 1 1 1\n10 blue 0 0 1\ngreen 0 1 0\n",
       12,
       {{"blue", 10}, {"green", 11}},
       {{3, 0.5f, 0.5f, 0.5f}, {10, 0, 0, 1}, {40, 0, 1, 0}}},
      {lines(300, "c"), 256, {{"c255", 255}, {"c256", -1}}, {}},
      // Cut at 100 characters: the components lay beyond the cut.
      {"black 0 0 0\n" + std::string(19, 'n') + std::string(100, ' ') + "1 1 1\nwhite 1 1 1\n",
       3,
       {{std::string(19, 'n'), 1}, {"white", 2}},
       {{1, 0, 0, 0}}},
      {"5\nbad #ZZ0000\nbright 7 -3 nan\n-4 neg 0 0 1\n",
       9,
       {{"bad", 6}, {"bright", 7}, {"-4", 8}},
       {{6, 0, 0, 0}, {7, 1, 0, 0}}},
      {"black 0 0 0\n" + junk + std::string(500, 'x') + " 1 1 1\n99999999999999999999 far 1 0 0\n\r\n",
       -1,
       {{"black", 0}, {"far", -1}},
       {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text.substr(0, 60));
    load("a 0 0 0\nb 0 0 0\nc 0.5 0.5 0.5\nd 0.5 0.5 0.5\n");
    load(row.text);
    EXPECT_LE(CLR_get_num(), 256);
    EXPECT_EQ(CLR_get_num(), row.num_colors < 0 ? CLR_get_num() : row.num_colors);
    for (const auto &f : row.found) EXPECT_EQ(CLR_get_ind(f.first.c_str()), f.second) << f.first;
    for (const auto &c : row.rgb) expect_rgb(static_cast<int>(c[0]), c[1], c[2], c[3]);
    for (int i = 0; i < CLR_get_num(); ++i) {
      float c[3];
      CLR_get_rgb(i, &c[0], &c[1], &c[2]);
      EXPECT_TRUE(*std::min_element(c, c + 3) >= 0 && *std::max_element(c, c + 3) <= 1) << i;
    }
  }
}

TEST_F(ColourTable, LookUpWordsNamesAndHexColours) {
  load("black 0 0 0\nred 1 0 0\n");
  const std::pair<const char *, int> rows[] = {
      {"", -1},       {"end", -2},     {"END", -2},    {"none", -1},  {"off", -1}, {"Back", -1},
      {"pblk", 500},  {"pbwht", 504},  {"ptgry", 508}, {"12", 12},    {"7abc", 7}, {"mauve", -1},
      {"#12345", -1}, {"#GGGGGG", -1}, {"RED", 1},     {nullptr, -1},
  };
  for (const auto &row : rows) EXPECT_EQ(CLR_get_ind(row.first), row.second) << (row.first ? row.first : "null");
  EXPECT_EQ(CLR_get_num(), 2) << "none of them added anything";

  EXPECT_EQ((std::vector<int>{CLR_get_ind("#00FF00"), CLR_get_ind("#00ff00"), CLR_get_ind("#128128128")}),
            (std::vector<int>{2, 2, 3}))
      << "the second found by name";
  expect_rgb(2, 0, 1, 0);
  expect_rgb(3, 128 / 255.0f, 128 / 255.0f, 128 / 255.0f);
  EXPECT_EQ(CLR_get_num(), 4);

  load(lines(256, "g"));
  EXPECT_EQ(CLR_add("almost", 100 / 255.0f, 0, 0), 100) << "a full table offers the closest colour";
  EXPECT_EQ(CLR_get_num(), 256);
}

TEST_F(ColourTable, FileListsSkipMissingFilesAndContinueAfterEachOther) {
  write("a.clr", "black 0 0 0\nwhite 1 1 1\n");
  write("b.clr", "red 1 0 0\n1 green 0 1 0\n");
  CLR_read_table("nothere.clr,a.clr,b.clr");
  EXPECT_EQ((std::vector<int>{CLR_get_ind("red"), CLR_get_ind("green"), CLR_get_num()}), (std::vector<int>{2, 3, 4}));
  CLR_read_table("nothere.clr");
  EXPECT_EQ(CLR_get_num(), 4) << "no file at all leaves the table";

  write("res.clr", "olive 0.5 0.5 0\n");
  RES_put("color_table", "res.clr");
  CLR_read_table(nullptr);
  EXPECT_EQ((std::vector<int>{CLR_get_ind("olive"), CLR_get_num()}), (std::vector<int>{0, 1}));
  RES_put("color_table", "");
  write("zyb.clr", "mine 0.2 0.4 0.6\n");
  CLR_read_table(nullptr);
  EXPECT_EQ(CLR_get_ind("mine"), 0) << "the default name in the file path wins over the shipped table";
}

TEST_F(ColourTable, ShippedTableIsFoundFromAnyDirectory) {
  TempDir elsewhere;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(elsewhere.path().c_str()), 0);
  RES_put("file_path", elsewhere.path().c_str());
  CLR_read_table(nullptr);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(std::string(CLR_get_table_path()), std::string(ZYB_SOURCE_DIR) + "/data/zyb.clr");
  EXPECT_GT(CLR_get_ind("red"), 0) << "the shipped table was read";
}

}  // namespace
