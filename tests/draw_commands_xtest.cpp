// The drawing commands end to end: the real zorazez draws lines, markers
// and text into a frame through animctl, the frame is saved as PNG and
// ImageMagick's decoding of it is checked pixel by pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using namespace zyb_test;

// Each depth has its own ten windows (from 900, 910, 920).
WindowRange depth_windows() {
  const int first = 900 + (24 - test_depth()) / 8 * 10;
  return {first, first + 9};
}

const Rgb kBlack{0, 0, 0}, kRed{255, 0, 0}, kYellow{255, 255, 0}, kWhite{255, 255, 255};

bool close_to(Rgb a, Rgb b) {
  return std::abs(a.r - b.r) <= 40 && std::abs(a.g - b.g) <= 40 && std::abs(a.b - b.b) <= 40;
}

using Ints = std::vector<long>;

struct Box {
  int x0, y0, x1, y1;  // inclusive
  bool has(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
  bool operator==(const Box &o) const { return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1; }
};
std::ostream &operator<<(std::ostream &os, const Box &b) {
  return os << "[" << b.x0 << "," << b.y0 << " - " << b.x1 << "," << b.y1 << "]";
}

// Frame 0 as the looper saves it.
Picture grab(const Looper &looper) {
  const std::string path = looper.dir() / "frame.png";
  looper.ctl({"se out png;sa 0 " + path});
  return magick_decode(path);
}

bool lit(const Picture &p, int x, int y, Rgb background = kBlack) { return !close_to(p.at(x, y), background); }

// The smallest box around the drawn pixels inside area.
Box drawn_box(const Picture &p, Box area, Rgb background = kBlack) {
  Box b{area.x1 + 1, area.y1 + 1, area.x0 - 1, area.y0 - 1};
  for (int y = area.y0; y <= area.y1; ++y)
    for (int x = area.x0; x <= area.x1; ++x)
      if (lit(p, x, y, background)) b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
  return b;
}

long drawn_outside(const Picture &p, const std::vector<Box> &boxes) {
  long n = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      n += lit(p, x, y) && std::none_of(boxes.begin(), boxes.end(), [&](const Box &b) { return b.has(x, y); });
  return n;
}

std::string lines(const std::vector<std::string> &replies) {
  std::string all;
  for (const std::string &r : replies) all += r + "\n";
  return all;
}

TEST(DrawCommands, LinesAreSolidDashedOrWideInPixelsFromTheTopLeft) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"cr;se dr 0;se li co red;li 20,30 220,30;se li st dash;li 20,60 220,60"}),
            lines({"Created pixmap", "Draw window set to 0", "Line color set to: red", "Line plotted at: 20,30 220,30",
                   "Line style set to: dash", "Line plotted at: 20,60 220,60"}));
  EXPECT_EQ(looper.ctl({"se li st solid;se li wi 5;li 20,100 220,100"}),
            lines({"Line style set to: solid", "Line width set to: 5", "Line plotted at: 20,100 220,100"}));
  const Picture p = grab(looper);
  ASSERT_EQ(p.width, 640);
  for (int x = 20; x <= 220; ++x) EXPECT_TRUE(close_to(p.at(x, 30), kRed)) << x;
  // Dashes of six pixels on, six off, from the first point.
  std::vector<int> runs{1};
  for (int x = 21; x <= 220; ++x) lit(p, x, 60) == lit(p, x - 1, 60) ? ++runs.back() : (runs.push_back(1), 0);
  runs.pop_back();
  EXPECT_GE(runs.size(), 30u);
  EXPECT_EQ(std::count(runs.begin(), runs.end(), 6), static_cast<long>(runs.size())) << ::testing::PrintToString(runs);
  EXPECT_TRUE(lit(p, 20, 60)) << "the dash list starts with a dash";
  for (int y = 98; y <= 102; ++y) EXPECT_TRUE(close_to(p.at(120, y), kRed)) << y;
  EXPECT_EQ(drawn_outside(p, {{20, 30, 220, 30}, {20, 60, 220, 60}, {20, 98, 220, 102}}), 0);
}

TEST(DrawCommands, EachMarkerHasItsShapeAroundItsPoint) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  ASSERT_EQ(looper.ctl({"cr;se dr 0;se ma co yellow;se ma si 2"}),
            lines({"Created pixmap", "Draw window set to 0", "Marker color set to: yellow", "Marker size set to: 2"}));
  using Offsets = std::vector<std::pair<int, int>>;
  struct Case {
    const char *style;
    Box box;  // around the centre; size 2 is 20 pixels, half of it 10
    Offsets on, off;
  };
  const Box full{-10, -10, 10, 10};
  const Case cases[] = {
      {"pnt", {0, 0, 1, 1}, {{0, 0}, {1, 1}}, {}},
      {"plus", full, {{-10, 0}, {10, 0}, {0, -10}, {0, 10}}, {{5, 5}, {-10, -10}}},
      {"star", full, {{-10, 0}, {0, 10}, {10, 10}, {-10, -10}, {10, -10}, {-10, 10}}, {{5, 2}}},
      {"circle", full, {{-10, 0}, {10, 0}, {0, -10}, {0, 10}}, {{0, 0}, {9, 9}, {-9, -9}}},
      {"x", full, {{10, 10}, {-10, -10}, {10, -10}, {-10, 10}, {0, 0}}, {{10, 0}, {0, 10}}},
      {"square", full, {{-10, -10}, {10, 10}, {10, 0}, {0, -10}}, {{0, 0}, {5, 5}}},
      {"tri", full, {{0, -10}, {-10, 10}, {10, 10}, {0, 10}}, {{0, 0}, {-10, -10}, {10, -10}}},
      {"dot", {0, 0, 0, 0}, {{0, 0}}, {}},
      {"itri", full, {{0, 10}, {-10, -10}, {10, -10}, {0, -10}}, {{0, 0}, {-10, 10}, {10, 10}}},
  };
  std::vector<Box> areas;
  std::string record, replies;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const int cx = 40 + 30 * static_cast<int>(i);
    const std::string at = std::to_string(cx) + ",40";
    record += std::string(record.empty() ? "" : ";") + "se ma st " + cases[i].style + ";ma " + at + " x";
    replies += lines({std::string("Marker style set to: ") + cases[i].style, "Marker plotted at: " + at});
    areas.push_back({cx - 14, 26, cx + 14, 54});
    if (i % 3 < 2) continue;  // three markers to a record
    ASSERT_EQ(looper.ctl({record}), replies);
    record.clear(), replies.clear();
  }
  const Picture p = grab(looper);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case &c = cases[i];
    const int x = 40 + 30 * static_cast<int>(i), y = 40;
    EXPECT_EQ(drawn_box(p, areas[i]), (Box{x + c.box.x0, y + c.box.y0, x + c.box.x1, y + c.box.y1})) << c.style;
    for (auto [dx, dy] : c.on)
      EXPECT_TRUE(close_to(p.at(x + dx, y + dy), kYellow)) << c.style << " " << dx << "," << dy;
    for (auto [dx, dy] : c.off) EXPECT_FALSE(lit(p, x + dx, y + dy)) << c.style << " " << dx << "," << dy;
  }
  EXPECT_EQ(drawn_outside(p, areas), 0);
}

TEST(DrawCommands, TextLandsWhereItsAlignmentAndUpVectorSay) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  // "open" centres text on its half line; H is the cap height tall.
  ASSERT_EQ(looper.ctl({"cr;se dr 0;se te co yellow;se te he 20;te 160,150 HHHH"}),
            lines({"Created pixmap", "Draw window set to 0", "Text color set to: yellow", "Text height set to: 20",
                   "Text plotted at: 160,150 HHHH"}));
  ASSERT_EQ(looper.ctl({"se te al LB;te 40,250 HHHH;se te al RB;te 600,250 HHHH"}),
            lines({"Text alignment set to: LB", "Text plotted at: 40,250 HHHH", "Text alignment set to: RB",
                   "Text plotted at: 600,250 HHHH"}));
  ASSERT_EQ(looper.ctl({"se te al LB;se te up -1,0;te 400,450 HHHH"}),
            lines({"Text alignment set to: LB", "Text up vector set to: -1,0", "Text plotted at: 400,450 HHHH"}));
  const Picture p = grab(looper);
  // The ink of "HHHH" starts a small bearing after the point and ends at its width.
  const Box left = drawn_box(p, {0, 200, 320, 300});
  const int bearing = left.x0 - 40, ink = left.x1 - left.x0;
  EXPECT_TRUE(bearing >= 0 && bearing <= 5 && ink > 60) << left;
  EXPECT_EQ((Ints{left.y0, left.y1}), (Ints{230, 250})) << "base: the baseline on the point, 20 pixels of capitals";
  EXPECT_EQ(drawn_box(p, {321, 200, 639, 300}), (Box{599 - ink, 230, 599, 250}))
      << "right: the width ends at the point";
  const Box centred = drawn_box(p, {0, 100, 639, 199});
  EXPECT_NEAR((centred.x0 + centred.x1) / 2.0, 160 + bearing / 2.0, 1.0);
  EXPECT_NEAR((centred.y0 + centred.y1) / 2.0, 150, 1.0) << "half: the middle of the capitals on the point";
  EXPECT_EQ(centred.x1 - centred.x0, ink);
  // Up to the left: the baseline runs up the screen from the point.
  EXPECT_EQ(drawn_box(p, {300, 301, 639, 511}), (Box{379, 449 - bearing - ink, 399, 449 - bearing}));
  EXPECT_TRUE(close_to(p.at(left.x0, 240), kYellow));
}

TEST(DrawCommands, DropShadowLiesOnePixelRightAndDownInBlack) {
  Looper looper(depth_windows(), {"-wn", "%W", "-background=white", "-plot_param=shadow=2"});
  ASSERT_TRUE(looper.ready());
  ASSERT_EQ(looper.ctl({"cr;se dr 0;se te co red;se te he 30;te 120,60 HEW;se ma co red;se ma st sqr;ma 300,60 x"}),
            lines({"Created pixmap", "Draw window set to 0", "Text color set to: red", "Text height set to: 30",
                   "Text plotted at: 120,60 HEW", "Marker color set to: red", "Marker style set to: sqr",
                   "Marker plotted at: 300,60"}));
  const Picture p = grab(looper);
  long shadows = 0, reds = 0;
  for (int y = 1; y < 200; ++y)
    for (int x = 1; x < 500; ++x) {
      const Rgb c = p.at(x, y);
      reds += close_to(c, kRed);
      if (!close_to(c, kBlack)) continue;
      ++shadows;
      EXPECT_TRUE(close_to(p.at(x - 1, y - 1), kRed)) << "black without red up and left of it at " << x << "," << y;
    }
  EXPECT_GT(shadows, reds / 4);
  EXPECT_TRUE(close_to(p.at(351, 61), kBlack)) << "the square's right edge casts its shadow";
  EXPECT_TRUE(close_to(p.at(352, 61), kWhite));
}

TEST(DrawCommands, OtherTransformationsTakeWorldCoordinatesOfTheirWindowAndViewport) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"cr;se dr 0;se tr 2;se vi 0,0 0.5,0.5;se wi 0,0 10,10;se li co red;li 0,0 10,10;li 5,0 5,99"}),
            lines({"Created pixmap", "Draw window set to 0", "Transformation set to 2",
                   "Viewport coordinates set to 0,0 0.5,0.5", "Window coordinates set to 0,0 10,10",
                   "Line color set to: red", "Line plotted at: 0,0 10,10", "Line plotted at: 5,0 5,99"}));
  EXPECT_EQ(looper.ctl({"se tr 6;se tr x;se vi 0,0;se wi 1,1 1,5;se li co;se te 0,0"}),
            lines({"Invalid set command: se tr 6", "Invalid set command: se tr x", "Invalid set command: se vi 0,0",
                   "Invalid set command: se wi 1,1 1,5", "Invalid set text command: se li co",
                   "Invalid set text command: se te 0,0"}));
  const Picture p = grab(looper);
  // The viewport is the lower left 320 x 320 of the 640 x 512 window, and clips.
  EXPECT_EQ(drawn_box(p, {0, 0, 639, 511}), (Box{0, 192, 320, 511}));
  EXPECT_TRUE(close_to(p.at(160, 352), kRed)) << "the diagonal's middle";
  EXPECT_TRUE(close_to(p.at(160, 200), kRed)) << "the vertical line, cut at the viewport's top";
}

// A resize resets the kernel's drawing state; pixels stay pixels of the new size.
TEST(DrawCommands, AfterAResizePointsAreStillPixels) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  ASSERT_EQ(looper.ctl({"op;se si 320x200"}), lines({"Window opened", "Window size set to: 320x200"}));
  EXPECT_TRUE(eventually([&] { return looper.ctl({"qu wi"}).find(":320x200") != std::string::npos; }));
  EXPECT_EQ(looper.ctl({"cr;se dr 0;se li co red;li 0,0 100,50;te 200,100 H"}),
            lines({"Created pixmap", "Draw window set to 0", "Line color set to: red", "Line plotted at: 0,0 100,50",
                   "Text plotted at: 200,100 H"}));
  const Picture p = grab(looper);
  ASSERT_EQ(p.width, 320);
  EXPECT_TRUE(close_to(p.at(0, 0), kRed) && close_to(p.at(100, 50), kRed));
  const Box h = drawn_box(p, {150, 60, 319, 199});
  EXPECT_NEAR(h.y1 - h.y0, 10, 1) << "10 pixels high, centred as after op: " << h;
  EXPECT_NEAR((h.x0 + h.x1) / 2.0, 200, 1.5) << h;
  EXPECT_NEAR((h.y0 + h.y1) / 2.0, 100, 1.5) << h;
}

TEST(DrawCommands, BadWordsAndValuesDrawNothingAndLeaveTheAttributesAsTheyWere) {
  // A 118-character text can only come from the command line.
  Looper looper(depth_windows(), {"-wn", "%W", "-cd", "cr;se dr 0;te 100,100 " + std::string(118, 'W')});
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> bad[] = {
      {"li a,b 10,10", "li nan,3 10,10", "li 10,10 1e39,5", "li 10,10", "li 1,1 2,2 3,3", "li 1e10,0 1,1"},
      {"ma 10,10", "ma x,10 x", "te 10,10", "te inf,1 hi"},
      {"te 1,1 " + std::string(80, 'M')}};
  for (const std::vector<std::string> &record : bad) {
    std::string sent, expected;
    for (const std::string &b : record) {
      sent += (sent.empty() ? "" : ";") + b;
      expected += std::string("Invalid ") +
                  (b[0] == 'l'   ? "line"
                   : b[0] == 'm' ? "marker"
                                 : "text") +
                  " command: " + b + "\n";
    }
    EXPECT_EQ(looper.ctl({sent}), expected);
  }
  // Refused values: the kernel says why, the reply is the row's as usual.
  EXPECT_EQ(looper.ctl({"se li co red;se li wi -5;se li wi 1e6;se li co nosuchcolour;se li wi nan"}),
            lines({"Line color set to: red", "Line width set to: -5", "Line width set to: 1e6",
                   "Line color set to: nosuchcolour", "Line width set to: nan"}));
  EXPECT_EQ(looper.ctl({"se te he -3;se te up 0,0;se te fo 99;se ma si -1;li 20,30 220,30;te 320,200 HH"}),
            lines({"Text height set to: -3", "Text up vector set to: 0,0", "Text font set to: 99",
                   "Marker size set to: -1", "Line plotted at: 20,30 220,30", "Text plotted at: 320,200 HH"}));
  EXPECT_EQ(looper.ctl({"qu num"}), "1\n");
  const Picture p = grab(looper);
  EXPECT_TRUE(close_to(p.at(120, 30), kRed)) << "still red, one pixel wide";
  EXPECT_FALSE(lit(p, 120, 31));
  const Box text = drawn_box(p, {200, 150, 440, 250});
  EXPECT_EQ(text.y1 - text.y0, 10) << "still 10 pixels high, upright, in a font: " << text;
  EXPECT_EQ(drawn_outside(p, {{20, 30, 220, 30}, text}), 0) << "nothing else, not the long text of the start-up";
  const std::string said = looper.errors();
  for (const char *why :
       {"gset_linewidth: invalid line width: -5.000000", "gset_linewidth: invalid line width: 1000000",
        "LOOP_process: unknown color: nosuchcolour", "gset_char_ht: invalid character height: -3",
        "gset_char_up_vec: invalid character up vector: 0.000000,0.000000", "gset_fontprec: invalid font id: 99",
        "gset_marker_size: invalid marker size: -1"})
    EXPECT_NE(said.find(why), std::string::npos) << why << " in " << said;
}

}  // namespace
