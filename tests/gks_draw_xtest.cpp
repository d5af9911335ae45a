// The drawing kernel in this process: every primitive reaches the pixels
// through the driver rows (the window, and another program's pixmap), the
// fill patterns, the attribute setters' refusals, the replay of cached
// calls, and fonts from the font list.
#include "evnt_window.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "looper_util.h"

namespace zyb_test {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// World units are pixels here, y counted up from row 511.
struct Pixels {
  std::vector<float> pts;
  Pixels(std::initializer_list<std::pair<float, float>> list) {
    for (auto [x, y] : list) pts.insert(pts.end(), {x, 511 - y});
  }
  int count() const { return static_cast<int>(pts.size() / 2); }
};

const float kNoUp[2] = {0, 0};
const int kNoFont[2] = {0, 0};
const float kWhite[3] = {1, 1, 1}, kRed[3] = {1, 0, 0}, kGreen[3] = {0, 1, 0}, kBlue[3] = {0, 0, 1},
            kYellow[3] = {1, 1, 0};

void pixel_world() {
  const float square[4] = {0, 511, 0, 511};
  gset_win(0, square);
  for (auto [i, rgb] : {std::pair{1, kWhite}, {2, kRed}, {3, kGreen}, {4, kBlue}, {5, kYellow}})
    gset_colr_rep(1, i, rgb);
}

class DrawKernel : public KernelWindow {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_window());
    pixel_world();
  }
  unsigned long colour(int i) { return static_cast<unsigned long>(gget_color_ind(i)); }
  // Pixels of colour i in the box.
  int count(const PixelAt &at, int i, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) n += at(x, y) == colour(i);
    return n;
  }
  int drawn(int i, int x0, int y0, int x1, int y1) { return count(grab(gget_base_window()), i, x0, y0, x1, y1); }
};

TEST_F(DrawKernel, TheWindowRowDrawsEveryPrimitive) {
  gset_line_colr_ind(2);
  const Pixels line{{10, 10}, {100, 10}};
  EXPECT_EQ(gpolyline(line.count(), line.pts.data()), 0);
  gset_fill_colr_ind(3);
  const Pixels square{{20, 30}, {60, 30}, {60, 70}, {20, 70}};
  EXPECT_EQ(gfill_area(square.count(), square.pts.data()), 0);
  gset_marker_colr_ind(4);
  gset_marker_type(GKS_MARK_PLUS);
  gset_marker_size(1);  // 10 pixels
  const Pixels mark{{200, 100}};
  EXPECT_EQ(gpolymarker(mark.count(), mark.pts.data()), 0);
  gset_text_colr_ind(5);
  gset_char_ht(20);
  const Pixels at{{300, 200}};
  EXPECT_EQ(gtext(at.pts.data(), "H"), 0);

  const PixelAt got = grab(gget_base_window());
  EXPECT_EQ(count(got, 2, 0, 10, 639, 10), 91) << "the line, both ends included";
  EXPECT_EQ(count(got, 3, 20, 30, 60, 70), 41 * 41) << "filled and outlined";
  EXPECT_EQ(count(got, 4, 195, 95, 205, 105), 21);
  EXPECT_EQ((Ints{count(got, 4, 0, 0, 639, 511), count(got, 4, 195, 100, 205, 100)}), (Ints{21, 11}));
  EXPECT_GT(count(got, 5, 300, 180, 320, 200), 30) << "an H of 20 pixels";
}

TEST_F(DrawKernel, PatternsTakeTheirBitsLeftmostFirstAndTheEmptyOneDrawsNothing) {
  gset_fill_colr_ind(2);
  gset_fill_int_style(GKS_FILL_PATTERN);
  gset_fill_style_ind(4);
  const Pixels square{{16, 16}, {47, 16}, {47, 47}, {16, 47}};
  gfill_area(square.count(), square.pts.data());
  gset_fill_style_ind(10);
  const Pixels other{{100, 16}, {131, 16}, {131, 47}, {100, 47}};
  gfill_area(other.count(), other.pts.data());
  const PixelAt got = grab(gget_base_window());
  const unsigned char *rows = gget_fill_pattern(4);
  ASSERT_NE(rows, nullptr);
  int wrong = 0;
  for (int y = 17; y < 47; ++y)
    for (int x = 17; x < 47; ++x) wrong += (got(x, y) == colour(2)) != (((rows[y % 8] >> (x % 8)) & 1) == 1);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(count(got, 2, 90, 0, 200, 60), 0) << "pattern 10 is empty, and the outline takes the pattern too";
  EXPECT_EQ(gget_fill_pattern(20), nullptr);
}

TEST_F(DrawKernel, SettersRefuseBadValuesWithTheirMessagesAndRecordOnlyChanges) {
  const struct {
    std::function<int()> call;
    const char *said;
  } refusals[] = {
      {[] { return gset_linewidth(-1); }, "gset_linewidth: invalid line width: -1.000000\n"},
      {[] { return gset_linewidth(NAN); }, "gset_linewidth: invalid line width: nan\n"},
      {[] { return gset_marker_width(101); }, "gset_marker_width: invalid marker width: 101.000000\n"},
      {[] { return gset_marker_size(-2); }, "gset_marker_size: invalid marker size: -2.000000\n"},
      {[] { return gset_linetype(-1); }, "gset_linetype: invalid line type: -1\n"},
      {[] { return gset_line_colr_ind(999); }, "gset_line_colr_ind: invalid color index: 999\n"},
      {[] { return gset_marker_colr_ind(200); }, "gset_marker_colr_ind: color index not initialized\n"},
      {[] { return gset_fill_style_ind(20); }, "gset_fill_style_ind: invalid style index: 20\n"},
      {[] { return gset_char_ht(-1); }, "gset_char_ht: invalid character height: -1.000000\n"},
      {[] { return gset_expan(INFINITY); }, "gset_expan: invalid expansion factor: inf\n"},
      {[] { return gset_text_width(1000); }, "gset_text_width: invalid text width: 1000.000000\n"},
      {[] { return gset_space(-1e9f); }, "gset_space: invalid spacing: -1000000000.000000\n"},
      {[] { return gset_char_up_vec(kNoUp); }, "gset_char_up_vec: invalid character up vector: 0.000000,0.000000\n"},
      {[] { return gset_fontprec(kNoFont); }, "gset_fontprec: invalid font id: 0\n"},
      {[] { return gset_font_drop(GKS_FONT_DROP_MAX + 1); }, "gset_font_drop: invalid drop shadow: 21\n"},
  };
  for (const auto &r : refusals) {
    CaptureStderr();
    EXPECT_EQ(r.call(), -1) << r.said;
    EXPECT_EQ(GetCapturedStderr(), r.said);
  }
  gset_redraw(1);
  const int before = gget_obj_count();
  EXPECT_EQ((Ints{gset_linewidth(3), gset_linewidth(3), gset_line_colr_ind(505), gset_fill_style_ind(19),
                  gset_fill_style_ind(19)}),
            (Ints{0, 0, 0, 0, 0}));
  EXPECT_EQ(gget_obj_count() - before, 2) << "one width and one style index: a pen is index 1 on X, in force";
  EXPECT_EQ((Ints{gget_line_colr(), static_cast<long>(gget_line_width()), gget_fill_style_ind()}), (Ints{1, 3, 19}));
  gset_redraw(0);
}

TEST_F(DrawKernel, CachedCallsReplayAsTheCallsThatMadeThem) {
  const float two = 2, twenty = 20, point[2] = {1, 0}, pos_text[2] = {300, 300};
  const int pair[2] = {3, 5};
  // A text record: the position, then the string with its zero.
  std::vector<unsigned char> text_record(sizeof pos_text + 3, 0);
  std::memcpy(text_record.data(), pos_text, sizeof pos_text);
  std::memcpy(text_record.data() + sizeof pos_text, "HH", 2);
  const Pixels line{{10, 400}, {200, 400}}, area{{10, 450}, {50, 450}, {50, 480}}, mark{{400, 400}};
  const TextAttributes &text = gget_text_attributes();
  const struct {
    int code, value;
    const void *data;
    std::function<bool()> took;
  } replays[] = {
      {GOBJ_LINE_TYPE, 3, nullptr, [] { return gget_line_type() == 3; }},
      {GOBJ_LINE_WIDTH, 1, &two, [] { return gget_line_width() == 2; }},
      {GOBJ_LINE_COLR, 2, nullptr, [] { return gget_line_colr() == 2; }},
      {GOBJ_LINE_BOLD, 4, nullptr, [] { return gget_line_print_bold() == 4; }},
      {GOBJ_MARK_TYPE, 6, nullptr, [] { return gget_marker_type() == 6; }},
      {GOBJ_MARK_SIZE, 1, &two, [] { return gget_marker_size() == 2; }},
      {GOBJ_MARK_COLR, 4, nullptr, [] { return gget_marker_colr() == 4; }},
      {GOBJ_MARK_WIDTH, 1, &two, [] { return gget_marker_width() == 2; }},
      {GOBJ_TEXT_SPACE, 1, &two, [&] { return text.space == 2; }},
      {GOBJ_TEXT_CHAR_SPACE, 1, &two, [&] { return text.char_space == 2; }},
      {GOBJ_TEXT_EXPAN, 1, &two, [&] { return text.expan == 2; }},
      {GOBJ_TEXT_COLR, 5, nullptr, [] { return gget_text_colr() == 5; }},
      {GOBJ_TEXT_HEIGHT, 1, &twenty, [&] { return text.height == 20; }},
      {GOBJ_TEXT_UP, 1, point, [&] { return text.upx == 1 && text.upy == 0; }},
      {GOBJ_TEXT_ALIGN, 1, pair, [&] { return text.horiz_align == 3 && text.vert_align == 5; }},
      {GOBJ_TEXT_WIDTH, 1, &two, [] { return gget_text_width() == 2; }},
      {GOBJ_FILL_STYLE, 2, nullptr, [] { return gget_fill_int_style() == 2; }},
      {GOBJ_FILL_INDEX, 7, nullptr, [] { return gget_fill_style_ind() == 7; }},
      {GOBJ_FILL_COLR, 3, nullptr, [] { return gget_fill_colr() == 3; }},
      {GOBJ_FILL_SOLID, 1, nullptr, [] { return gget_fill_print_solid() == 1; }},
      {GOBJ_POLYLINE, 2, line.pts.data(), [this] { return drawn(2, 10, 395, 200, 405) > 50; }},
      {GOBJ_FILL_AREA, 3, area.pts.data(), [this] { return drawn(3, 10, 450, 50, 480) > 0; }},
      {GOBJ_POLYMARKER, 1, mark.pts.data(), [this] { return drawn(4, 385, 385, 415, 415) > 0; }},
      {GOBJ_TEXT, 1, text_record.data(), [this] { return drawn(5, 200, 100, 400, 320) > 0; }},
  };
  for (const auto &r : replays) {
    EXPECT_EQ(gobj_redraw_funcs(r.code, r.value, r.data), 0) << r.code;
    EXPECT_TRUE(r.took()) << r.code;
  }
  gset_fill_print_solid(0);
  gset_line_print_bold(1);
}

TEST_F(DrawKernel, FontListEntriesLoadStrokeAndServerFontsAndMissingOnesAreReported) {
  gset_font_list("modern.fnt,#fixed,nosuch.fnt,#nosuchfont");
  gsetup_fonts();
  gset_text_colr_ind(5);
  const Pixels at{{100, 100}};
  const int fixed[2] = {2, 0}, nosuch[2] = {3, 0}, noserver[2] = {4, 0}, modern[2] = {1, 0};
  EXPECT_EQ(gset_fontprec(fixed), 0);
  EXPECT_EQ(gget_font_type(), GKS_FONT_X);
  gtext(at.pts.data(), "Fixed");
  EXPECT_GT(count(grab(gget_base_window()), 5, 60, 80, 140, 120), 10);
  CaptureStderr();
  EXPECT_EQ((Ints{gset_fontprec(nosuch), gset_fontprec(noserver), gset_fontprec(modern), gget_font_type()}),
            (Ints{-1, -1, 0, GKS_FONT_STROKE}));
  EXPECT_EQ(GetCapturedStderr(),
            "read_font: unable to load font file: nosuch.fnt\nread_font: unable to load font: nosuchfont\n");
  EXPECT_EQ(gget_font_index("3"), 3);
  gset_font_list("");
}

TEST_F(DrawKernel, HugeAndNonFiniteCoordinatesAreClampedNotSentAsTheyAre) {
  gset_line_colr_ind(2);
  gset_linewidth(GKS_WIDTH_MAX);
  const float across[4] = {-1e30f, 300, INFINITY, 300}, odd[4] = {NAN, 10, 10, NAN};
  EXPECT_EQ((Ints{gpolyline(2, across), gpolyline(2, odd)}), (Ints{0, 0}));
  gset_marker_colr_ind(3);
  gset_marker_size(GKS_MARK_SIZE_MAX);
  const float far[2] = {3e38f, -3e38f};
  EXPECT_EQ(gpolymarker(1, far), 0);
  const PixelAt got = grab(gget_base_window());  // the server has drawn it all by now
  EXPECT_EQ(count(got, 2, 0, 211, 639, 211), 512) << "from one clamp to the other, cut at the viewport (x 0 to 511)";
  EXPECT_EQ(count(got, 3, 0, 0, 639, 511), 0);
}

TEST(MarkerShapes, HalfTheSizeTruncatedAndNothingForUnknownTypes) {
  GksMarkShape shape;
  EXPECT_EQ(gmark_shape(GKS_MARK_CIRCLE, 100, 50, 11, &shape), 1);
  ASSERT_EQ(shape.count[0], 13);
  EXPECT_EQ((Ints{static_cast<long>(shape.v[0][0].x), static_cast<long>(shape.v[0][3].y),
                  static_cast<long>(shape.v[0][12].x)}),
            (Ints{95, 55, 95}))
      << "h = 5, closed";
  EXPECT_EQ(gmark_shape(GKS_MARK_STAR, 100, 50, 1, &shape), 4);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 2; ++k) EXPECT_EQ((Ints{(long)shape.v[i][k].x, (long)shape.v[i][k].y}), (Ints{100, 50}));
  EXPECT_EQ((Ints{gmark_shape(0, 1, 1, 20, &shape), gmark_shape(10, 1, 1, 20, &shape), shape.lines}), (Ints{0, 0, 0}));
}

// The pixmap row draws into a looper's frame, named by the window
// information line that "cr pix" answers; closing it in kill mode makes
// that looper quit.
TEST(PixmapRow, DrawsIntoALoopersFrameAndKillModeEndsTheLooper) {
  const int first = 930 + (24 - test_depth()) / 8 * 3;
  Looper looper({first, first + 2});
  ASSERT_TRUE(looper.ready());
  std::string info = looper.ctl({"cr pix"});
  ASSERT_EQ(info.rfind('+', 0), 0u) << info;
  info.pop_back();
  unsigned long root = 0, pixmap = 0;
  ASSERT_EQ(std::sscanf(info.c_str(), "+%lu:%lu", &root, &pixmap), 2);
  ASSERT_EQ(gopen_gks(nullptr, 0), 0);
  ASSERT_EQ(gopen_ws(0, ("," + info).c_str(), GKS_PIX), 0);
  EXPECT_EQ(gget_draw_window(), pixmap);
  pixel_world();
  gset_fill_colr_ind(2);
  const Pixels square{{20, 30}, {60, 30}, {60, 70}, {20, 70}};
  gfill_area(square.count(), square.pts.data());
  gset_line_colr_ind(3);
  const Pixels line{{100, 10}, {300, 10}};
  gpolyline(line.count(), line.pts.data());
  XSync(gget_display(), False);
  XImage *image = XGetImage(gget_display(), pixmap, 0, 0, 640, 512, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ((Ints{static_cast<long>(XGetPixel(image, 40, 50)), static_cast<long>(XGetPixel(image, 200, 10)),
                  static_cast<long>(XGetPixel(image, 200, 11))}),
            (Ints{gget_color_ind(2), gget_color_ind(3), static_cast<long>(XGetPixel(image, 400, 400))}));
  XDestroyImage(image);
  gset_pix_mode(GKS_PIX_MODE_KILL);
  EXPECT_EQ(gclose_ws(0), 0);
  gset_pix_mode(0);
  gclose_gks();
  EXPECT_EQ(looper.process().wait_exit(10), 0) << looper.errors();
}

}  // namespace
}  // namespace zyb_test
