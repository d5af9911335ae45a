// Stroke fonts: the font-file reader on hand-made files, the font list, the
// text layout, and the shipped fonts.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "gks/gks_font.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using zyb_test::TempDir;

std::string offsets(const std::vector<std::pair<int, int>> &set) {
  std::vector<int> table(256, -1);
  for (auto [code, offset] : set) table[(size_t)code] = offset;
  std::string text;
  for (int v : table) text += " " + std::to_string(v);
  return text;
}

int read(const std::string &text, StrokeFont *font) {
  return gfont_read_bytes(text.data(), text.size(), "t.fnt", font);
}

TEST(FontReader, PlainAndLabelledFormsStoreBytesOffsetsAndWidths) {
  const struct {
    const char *what;
    std::string text;
    std::vector<unsigned char> db;
    int index_a, index_b;
  } cases[] = {
      {"plain",
       "255 130 35 60 35 255 150 140 20 140 254" + offsets({{'A', 1}, {'B', 6}}),
       {255, 130, 35, 60, 35, 255, 150, 140, 20, 140, 255},
       1,
       6},
      {"labelled",
       "65 A\n130 35 60 35 255 B 150 140 20 140 254" + offsets({{'A', 0}, {'B', 5}}),
       {130, 35, 60, 35, 255, 150, 140, 20, 140, 255},
       0,
       5},
  };
  for (const auto &c : cases) {
    StrokeFont font;
    ASSERT_EQ(read(c.text, &font), 0) << c.what;
    EXPECT_EQ(font.db, c.db) << c.what;
    EXPECT_EQ(font.index['A'], c.index_a) << c.what;
    EXPECT_EQ(font.index['B'], c.index_b) << c.what;
    EXPECT_EQ(font.index['C'], -1) << c.what;
    EXPECT_EQ(font.size['A'], 60) << c.what;  // the largest x, a move's x less 128
    EXPECT_EQ(font.size['B'], 22) << c.what;
    EXPECT_EQ(font.size[' '], FONT_SPACE_WIDTH) << c.what;
  }
}

// A plain file of that many stored bytes: 255, zeros, and the end marker.
std::string store_file(int stored) {
  std::string text = "255";
  for (int i = 0; i < stored - 2; ++i) text += " 0";
  return text + " 254" + offsets({});
}

TEST(FontReader, StoreHoldsFifteenThousandBytesWithTheEndMarker) {
  StrokeFont font;
  EXPECT_EQ(read(store_file(FONT_STORE_MAX), &font), 0);
  EXPECT_EQ(font.db.size(), (size_t)FONT_STORE_MAX);
  CaptureStderr();
  EXPECT_EQ(read(store_file(FONT_STORE_MAX + 1), &font), -1);
  EXPECT_EQ(GetCapturedStderr(), "read_font: bad font file t.fnt: more than 15000 stroke bytes\n");
  EXPECT_TRUE(font.db.empty());
}

TEST(FontReader, MalformedAndTruncatedFilesAreRefusedAndLeaveNoGlyphs) {
  const std::string good = "255 130 35 60 35 255 254" + offsets({{'A', 1}});
  const struct {
    std::string text, why;
  } cases[] = {
      {"", "the file is empty"},
      {"modern 1 2", "not a number: modern"},
      {"255 130 3x5 254" + offsets({}), "not a number: 3x5"},
      {"255 130 300 254" + offsets({}), "stroke value out of range: 300"},
      {"255 130 35 60 35 255", "the stroke data end without 254"},
      {"65 A 130 35 60 35 255", "the stroke data end without 254"},
      {good.substr(0, good.size() - 3), "255 glyph offsets instead of 256"},
      {"255 130 35 254" + offsets({{'A', 4}}), "glyph offset 4 of character 65 lies outside the stroke data"},
      {"255 130 35 254" + offsets({{'A', -2}}), "glyph offset -2 of character 65 lies outside the stroke data"},
      // The walk from 1 reads (10, 20), (30, 255) and then runs off the end.
      {"255 10 20 30 254" + offsets({{'A', 1}}), "the glyph of character 65 runs off the stroke data"},
  };
  for (const auto &c : cases) {
    StrokeFont font;
    ASSERT_EQ(read(good, &font), 0);
    CaptureStderr();
    EXPECT_EQ(read(c.text, &font), -1) << c.text.substr(0, 40);
    EXPECT_EQ(GetCapturedStderr(), "read_font: bad font file t.fnt: " + c.why + "\n");
    EXPECT_EQ(font.index['A'], -1);
    EXPECT_EQ(font.size['A'], 0);
  }
}

TEST(FontReader, LoadFindsFilesAlongThePathAndRefusesStreamsAndPipes) {
  TempDir dir;
  std::ofstream(dir / "mine.fnt") << "255 130 35 60 35 255 254" << offsets({{'A', 1}});
  RES_put("file_path", dir.path().c_str());
  StrokeFont font;
  EXPECT_EQ(gfont_load("mine.fnt", &font), 0);
  EXPECT_EQ(font.size['A'], 60);
  RES_put("file_path", "");  // with no path to prefix, "|" and "-" reach the opener as they are
  const std::string pipe = "|touch " + (dir / "ran");
  for (const char *name : {"nosuch.fnt", "-", pipe.c_str(), "/dev/null", "/tmp"}) {
    CaptureStderr();
    EXPECT_EQ(gfont_load(name, &font), -1) << name;
    EXPECT_EQ(GetCapturedStderr(), std::string("read_font: unable to load font file: ") + name + "\n");
    EXPECT_EQ(font.index['A'], -1);
  }
  EXPECT_FALSE(std::ifstream(dir / "ran").good()) << "the pipe ran";
}

// Records the strokes as pieces of points.
struct Pieces : StrokeSink {
  struct Point {
    float x, y;
  };
  std::vector<std::vector<Point>> pieces;
  int glyphs = 0, splits = 0, glyph_ends = 0;
  void glyph_begin() override { ++glyphs; }
  void move_to(float x, float y) override { pieces.push_back({{x, y}}); }
  void line_to(float x, float y) override { pieces.back().push_back({x, y}); }
  void piece_split(float x, float y) override {
    ++splits;
    pieces.push_back({{x, y}});
  }
  void piece_end(bool glyph_end) override { glyph_ends += glyph_end; }
};

// 'A' and 'B' 60 units wide: a vertical stroke at x 0 and a point at 60;
// 'L' one stroke of 45 points along the baseline.
StrokeFont test_font() {
  std::string text = "255 128 35 0 140 188 35 255 128 35 0 140 188 35 255 128 35";
  for (int i = 1; i < 45; ++i) text += " " + std::to_string(i) + " 35";
  text += " 254" + offsets({{'A', 1}, {'B', 8}, {'L', 15}});
  StrokeFont font;
  EXPECT_EQ(read(text, &font), 0);
  return font;
}

// The x where each glyph's first piece starts, text at the origin in grid units.
std::vector<float> glyph_starts(const StrokeFont &font, TextAttributes attr, const char *text) {
  attr.height = FONT_CAP_HEIGHT;
  Pieces sink;
  EXPECT_EQ(gfont_text(font, attr, text, 0, 0, &sink), 0);
  std::vector<float> xs;
  for (size_t i = 0; i < sink.pieces.size(); i += 2) xs.push_back(sink.pieces[i][0].x);
  return xs;
}

// Characters advance by their width and the space, or by the fixed spacing;
// alignment moves the start by the width.
TEST(TextLayout, WidthStartAndAdvanceFollowAlignmentSpacingAndExpansion) {
  const StrokeFont font = test_font();
  const struct {
    const char *text;
    TextAttributes attr;
    int width, start;
    std::vector<float> starts;
  } cases[] = {
      {"AB", {0.01f, 1, 0.25f, 0, 2}, 145, -72, {-72, 13}},
      {"AB", {0.01f, 1, 0.25f, 0, 3}, 145, -145, {-145, -60}},
      {"AB", {0.01f, 2, 0.25f, 0, 2}, 145, -145, {-145, 25}},
      {"AB", {0.01f, 1, 0.25f, 0, 1}, 145, 0, {0, 85}},
      {"A B", {0.01f, 1, 0.25f, 0, 1}, 210, 0, {0, 150}},             // the space: 40 + 25
      {"AB", {0.01f, 1, 0.25f, 1.0f, 2}, 225, -112, {-112, 13}},      // 125, then 100 for the last
      {"AB A", {0.01f, 1, 0.25f, 1.0f, 1}, 475, 0, {0, 125, 375}},    // fixed steps of 125
      {"A?B", {0.01f, 1, 0.25f, 0, 3}, 170, -170, {-170, -85}},       // no glyph: the space counts, no advance
      {"AAAA", {0.01f, 1, 0.255f, 0, 1}, 315, 0, {0, 85, 170, 255}},  // steps truncated: 85, 170, 255
      {"", {0.01f, 1, 0.25f, 0, 2}, 0, 0, {}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(gfont_text_width(font, c.attr, c.text), c.width) << c.text << " " << c.attr.horiz_align;
    EXPECT_EQ(gfont_start_offset(font, c.attr, c.text), c.start) << c.text << " " << c.attr.horiz_align;
    EXPECT_EQ(glyph_starts(font, c.attr, c.text), c.starts) << c.text << " " << c.attr.horiz_align;
  }
}

TEST(TextLayout, LongStrokesComeInPiecesOfThirtySharingAPoint) {
  const StrokeFont font = test_font();
  Pieces sink;
  gfont_text(font, TextAttributes{FONT_CAP_HEIGHT}, "L", 0, 0, &sink);
  ASSERT_EQ(sink.pieces.size(), 2u);
  EXPECT_EQ(sink.pieces[0].size(), 30u);
  EXPECT_EQ(sink.pieces[1].size(), 16u);
  EXPECT_EQ(sink.pieces[1][0].x, sink.pieces[0][29].x);
  EXPECT_EQ(sink.pieces[1].back().x, 44);
  EXPECT_EQ(sink.splits, 1);
  EXPECT_EQ(sink.glyph_ends, 1);
}

TEST(TextLayout, UpVectorAndVerticalAlignmentPlaceTheGlyphs) {
  const StrokeFont font = test_font();
  const struct {
    float upx, upy;
    int vert;
    float x1, y1, x2, y2;  // the foot of the first stroke and of B's
  } cases[] = {
      {0, 1, 0, 10, 20, 10 + 0.85f, 20},
      {0, 1, 5, 10, 20 + 0.35f, 10 + 0.85f, 20 + 0.35f},  // bottom: y 0 of the grid on the line
      {0, 1, 1, 10, 20 - 1.25f, 10 + 0.85f, 20 - 1.25f},  // top: y 160 on the line
      {1, 0, 0, 10, 20, 10, 20 - 0.85f},                  // the baseline runs down the page
      {0, -1, 0, 10, 20, 10 - 0.85f, 20},
  };
  for (const auto &c : cases) {
    TextAttributes attr;
    attr.height = 1.05f;
    attr.upx = c.upx;
    attr.upy = c.upy;
    attr.vert_align = c.vert;
    Pieces sink;
    gfont_text(font, attr, "AB", 10, 20, &sink);
    ASSERT_EQ(sink.pieces.size(), 4u);
    EXPECT_NEAR(sink.pieces[0][0].x, c.x1, 1e-4) << c.upx << c.upy << c.vert;
    EXPECT_NEAR(sink.pieces[0][0].y, c.y1, 1e-4) << c.upx << c.upy << c.vert;
    EXPECT_NEAR(sink.pieces[2][0].x, c.x2, 1e-4) << c.upx << c.upy << c.vert;
    EXPECT_NEAR(sink.pieces[2][0].y, c.y2, 1e-4) << c.upx << c.upy << c.vert;
  }
}

class FontList_ : public ::testing::Test {
 protected:
  void SetUp() override { RES_put("file_path", dir_.path().c_str()); }
  void write(const std::string &name, const std::string &text) { std::ofstream(dir_ / name) << text; }
  TempDir dir_;
};

TEST_F(FontList_, ThreeFormsWithTheirLimits) {
  const std::string long_file(120, 'f');
  std::string lines = "modern  modern.fnt\nRoman\t my roman.fnt  \r\nverylongname9 x.fnt\nnine " + long_file + "\n";
  for (int i = 0; i < 40; ++i) lines += "n" + std::to_string(i) + " f.fnt\n";
  write(FONT_LIST_FILE, lines);
  std::string pairs;
  for (int i = 0; i < 12; ++i) pairs += "p" + std::to_string(i) + " p" + std::to_string(i) + ".fnt\n";
  write("pairs.lst", pairs);
  std::string commas = " a.fnt , b.fnt";
  for (int i = 0; i < 40; ++i) commas += ",c.fnt";

  FontList list;
  CaptureStderr();
  EXPECT_EQ(gfont_list_build(nullptr, &list), FONT_LIST_MAX);
  EXPECT_EQ(list[0].name, "modern");
  EXPECT_EQ(list[1].name, "Roman");
  EXPECT_EQ(list[1].file, "my roman.fnt");
  EXPECT_EQ(list[2].name, "verylongn");
  EXPECT_EQ(list[3].file, long_file.substr(0, FONT_FILE_MAX));
  EXPECT_EQ(gfont_list_build("FI: pairs.lst", &list), FONT_LIST_PAIRS_MAX);
  EXPECT_EQ(list[9].file, "p9.fnt");
  EXPECT_EQ(gfont_list_build(commas.c_str(), &list), FONT_LIST_MAX);
  EXPECT_EQ(list[0].name, "");
  EXPECT_EQ(list[0].file, "a.fnt");
  EXPECT_EQ(list[1].file, "b.fnt");
  const std::string said = GetCapturedStderr();
  EXPECT_NE(said.find("gsetup_fonts: font name truncated to 9 characters: verylongn\n"), std::string::npos) << said;
  EXPECT_NE(said.find("gsetup_fonts: font list holds more than 10 fonts; the rest are ignored\n"), std::string::npos);
  EXPECT_NE(said.find("gsetup_fonts: font list holds more than 40 fonts; the rest are ignored\n"), std::string::npos);

  CaptureStderr();
  EXPECT_EQ(gfont_list_build("fi:none.lst", &list), -1);
  EXPECT_EQ(GetCapturedStderr(), "gsetup_fonts: unable to load font list file: " + (dir_ / "none.lst") + "\n");
  EXPECT_TRUE(list.empty());
}

TEST_F(FontList_, IndexByNumberOrNameAndTheFallbackFile) {
  write(FONT_LIST_FILE, "modern modern.fnt\nroman roman.fnt\n");
  FontList list;
  ASSERT_EQ(gfont_list_build("", &list), 2);
  const struct {
    const char *name;
    int index;
  } cases[] = {{"ROMAN", 2}, {"modern", 1}, {"7", 7}, {"2x", 2}, {"nosuch", 1}, {"", 1}, {nullptr, 1}};
  for (const auto &c : cases) EXPECT_EQ(gfont_list_index(list, c.name), c.index) << (c.name ? c.name : "null");
  EXPECT_STREQ(gfont_list_file(list, 2), "roman.fnt");
  EXPECT_STREQ(gfont_list_file(list, 3), FONT_FALLBACK_FILE);
  EXPECT_STREQ(gfont_list_file(FontList{}, 1), FONT_FALLBACK_FILE);
}

// Every shipped font loads through the default list, and every printable
// character it has draws strokes inside the glyph grid.
TEST(ShippedFonts, LoadAndDrawInsideTheGrid) {
  RES_put("file_path", ZYB_SOURCE_DIR "/data");
  FontList list;
  ASSERT_GE(gfont_list_build(nullptr, &list), 6);
  EXPECT_EQ(list[0].file, FONT_FALLBACK_FILE);
  TextAttributes grid;
  grid.height = FONT_CAP_HEIGHT;
  for (const FontEntry &entry : list) {
    StrokeFont font;
    ASSERT_EQ(gfont_load(entry.file.c_str(), &font), 0) << entry.file;
    int drawn = 0;
    for (char c = '!'; c <= '~'; ++c) {
      if (font.index[(unsigned char)c] < 0) continue;
      const char text[2] = {c, '\0'};
      Pieces sink;
      gfont_text(font, grid, text, 0, 35, &sink);  // world = grid units
      drawn += !sink.pieces.empty();
      for (const auto &piece : sink.pieces)
        for (const auto &p : piece) {
          EXPECT_TRUE(p.x >= 0 && p.x <= 127 && p.y >= 0 && p.y <= 253) << entry.file << " " << c;
          EXPECT_LE(p.x, font.size[(unsigned char)c]) << entry.file << " " << c;
        }
    }
    EXPECT_GE(drawn, entry.name == "greek" ? 90 : 94) << entry.file;
  }
}

}  // namespace
