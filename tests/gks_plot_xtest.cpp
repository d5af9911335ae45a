// The PostScript and HPGL workstations, judged by Ghostscript and hp2xx:
// the same drawing lands where the window shows it, a window picture lies
// under the vectors, colours reach a colour page, and output that cannot
// be written leaves nothing open.
#include "evnt_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>

#include "gks/gks_hpgl.h"
#include "gks/gks_ps.h"
#include "image_util.h"

namespace zyb_test {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr int kPageW = 756, kPageH = 576;               // the PostScript drawing area of the default paper
constexpr float kHpglPixel = 72.0f / 1015.0f;           // hp2xx pixels per plotter unit at 72 dpi
constexpr int kHpglRangeW = 10658, kHpglRangeH = 8120;  // the HPGL default paper, 10.5 x 8 inches

const float kRed[3] = {1, 0, 0}, kBlue[3] = {0, 0, 1}, kWhite[3] = {1, 1, 1};

// Ink boxes in a bitmap, inclusive; empty when nothing matched.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  bool empty() const { return x1 < 0; }
  float cx() const { return (x0 + x1) / 2.0f; }
  float cy() const { return (y0 + y1) / 2.0f; }
};

Box ink_box(int x0, int y0, int x1, int y1, const std::function<bool(int, int)> &ink) {
  Box b;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if (ink(x, y)) b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
  return b;
}

bool dark(const Rgb &c) { return c.r + c.g + c.b < 3 * 160; }

// Regions of the drawing in NDC (xmin, xmax, ymin, ymax): one primitive each.
struct Region {
  const char *what;
  float ndc[4];
};
const Region kRegions[] = {
    {"line", {0.02f, 0.5f, 0.84f, 0.96f}},
    {"fill area", {0.52f, 0.95f, 0.5f, 0.9f}},
    {"marker", {0.1f, 0.4f, 0.15f, 0.45f}},
    {"text", {0.5f, 0.95f, 0.05f, 0.4f}},
};

// The same drawing on every workstation: the unit square as world, one
// primitive per region.
void draw_scene() {
  const float unit[4] = {0, 1, 0, 1};
  gset_win(0, unit);
  gset_colr_rep(1, 2, kRed);
  gset_colr_rep(1, 3, kBlue);
  gset_line_colr_ind(2);
  const float line[] = {0.05f, 0.9f, 0.45f, 0.9f};
  gpolyline(2, line);
  gset_fill_colr_ind(3);
  const float area[] = {0.6f, 0.55f, 0.9f, 0.55f, 0.9f, 0.85f, 0.6f, 0.85f};
  gfill_area(4, area);
  gset_marker_type(GKS_MARK_PLUS);
  gset_marker_size(2);
  const float mark[] = {0.25f, 0.3f};
  gpolymarker(1, mark);
  gset_char_ht(0.15f);
  const float at[] = {0.6f, 0.15f};
  gtext(at, "HE");
}

// Where NDC lands in a bitmap: x and y scale and offset, y counted down.
struct PixelMap {
  float scale, x0, row0;  // col = x0 + ndc * scale, row = row0 - ndc * scale
  float col(float ndc) const { return x0 + ndc * scale; }
  float row(float ndc) const { return row0 - ndc * scale; }
};

// The window of 640 x 512 shows the unit square in 511 x 511 pixels.
const PixelMap kWindow{511, 0, 511};
// Ghostscript at 72 dpi on the EPS page: one pixel per unit, 575 units to the square.
const PixelMap kPsPage{575, 0, kPageH - 0.5f};
// hp2xx: the drawing starts at the page offset of 10 units.
const PixelMap kHpglPage{7611 * kHpglPixel, 10 * kHpglPixel, kHpglRangeH *kHpglPixel + 2 - 10 * kHpglPixel};

Box region_box(const PixelMap &map, const Region &r, const std::function<bool(int, int)> &ink) {
  return ink_box(static_cast<int>(map.col(r.ndc[0])), static_cast<int>(map.row(r.ndc[3])),
                 static_cast<int>(map.col(r.ndc[1])), static_cast<int>(map.row(r.ndc[2])), ink);
}

// A box of the window carried over to another bitmap.
Box carried(const Box &b, const PixelMap &to) {
  auto x = [&](int px) { return static_cast<int>(std::lround(to.col((px - kWindow.x0) / kWindow.scale))); };
  auto y = [&](int py) { return static_cast<int>(std::lround(to.row((kWindow.row0 - py) / kWindow.scale))); };
  return {x(b.x0), y(b.y0), x(b.x1), y(b.y1)};
}

std::string gs_errors;

// Ghostscript's picture of an EPS page; whatever it says is kept in gs_errors.
Picture render_ps(const TempDir &dir, const std::string &ps) {
  std::string out, err;
  const std::string png = dir / "page.png";
  run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r72",
       "-dDEVICEWIDTHPOINTS=" + std::to_string(kPageW), "-dDEVICEHEIGHTPOINTS=" + std::to_string(kPageH),
       "-dFIXEDMEDIA", "-sOutputFile=" + png, ps},
      &out, &err);
  gs_errors = out + err;
  return magick_decode(png);
}

Picture render_hpgl(const TempDir &dir, const std::string &hpgl) {
  const std::string png = dir / "page.png", inches = " -w " + std::to_string(kHpglRangeW / 1015.0 * 25.4) + " -h " +
                                                     std::to_string(kHpglRangeH / 1015.0 * 25.4);
  std::vector<std::string> argv{"/usr/bin/hp2xx"};
  std::istringstream words("-q -m png -d 72 -x 0 -X " + std::to_string(kHpglRangeW) + " -y 0 -Y " +
                           std::to_string(kHpglRangeH) + inches);
  for (std::string w; words >> w;) argv.push_back(w);
  argv.insert(argv.end(), {"-f", png, hpgl});
  std::string out;
  run(argv, &out);
  return magick_decode(png);
}

class PlotFiles : public KernelWindow {
 protected:
  void TearDown() override {
    gclose_ws(0);
    gps_set_colorPS(0);
    IMG_set_untrusted(0);
    KernelWindow::TearDown();
  }
  // Closes the window and opens a file workstation of the type instead.
  void reopen(int type, const std::string &device) {
    gclose_ws(0);
    ASSERT_EQ(gopen_ws(0, device.c_str(), type), 0) << device;
  }
  TempDir dir_;
};

TEST_F(PlotFiles, PostScriptAndHpglPutEveryPrimitiveWhereTheWindowDoes) {
  draw_scene();
  const PixelAt window = grab(gget_base_window());
  const unsigned long back = static_cast<unsigned long>(gget_color_ind(-1));
  auto window_ink = [&](int x, int y) { return window(x, y) != back; };

  const std::string ps = dir_ / "scene.ps", hpgl = dir_ / "scene.hpgl";
  ASSERT_NO_FATAL_FAILURE(reopen(GKS_PS, ps + ",eps,port"));
  draw_scene();
  gclose_ws(0);
  const Picture page = render_ps(dir_, ps);
  EXPECT_EQ(gs_errors, "");
  ASSERT_NO_FATAL_FAILURE(reopen(GKS_HPGL, hpgl + ",nopcl"));
  draw_scene();
  gclose_ws(0);
  const Picture plot = render_hpgl(dir_, hpgl);
  ASSERT_GT(page.width, 0);
  ASSERT_GT(plot.width, 0);

  struct Device {
    const char *name;
    const Picture &picture;
    const PixelMap &map;
    float marker_half;  // half the marker of size 2, in bitmap pixels
  } devices[] = {{"PostScript", page, kPsPage, 7}, {"HPGL", plot, kHpglPage, 101 * kHpglPixel}};
  for (const Device &d : devices)
    for (const Region &r : kRegions) {
      const Box want = carried(region_box(kWindow, r, window_ink), d.map);
      const Box got = region_box(d.map, r, [&](int x, int y) {
        return x >= 0 && y >= 0 && x < d.picture.width && y < d.picture.height && dark(d.picture.at(x, y));
      });
      ASSERT_FALSE(got.empty()) << d.name << " " << r.what;
      if (std::string(r.what) == "marker") {
        // Marker sizes are device units: only the centre follows the window.
        EXPECT_NEAR(got.cx(), want.cx(), 2) << d.name;
        EXPECT_NEAR(got.cy(), want.cy(), 2) << d.name;
        EXPECT_NEAR(got.x1 - got.x0, 2 * d.marker_half, 2) << d.name;
        continue;
      }
      for (auto [g, w] : {std::pair{got.x0, want.x0}, {got.x1, want.x1}, {got.y0, want.y0}, {got.y1, want.y1}})
        EXPECT_NEAR(g, w, 2) << d.name << " " << r.what;
    }
}

TEST_F(PlotFiles, AColourPageShowsTheIndexColoursAndAGreyPageTheirGreyLevels) {
  const struct {
    const char *options;
    Rgb line, fill;
  } pages[] = {
      {",eps,port,color", {255, 0, 0}, {0, 0, 255}},
      // Lines are black on a grey page; blue fills at (0.8 * 1) / 2.7.
      {",eps,port", {0, 0, 0}, {75, 75, 75}},
  };
  for (const auto &p : pages) {
    const std::string ps = dir_ / "colour.ps";
    ASSERT_NO_FATAL_FAILURE(reopen(GKS_PS, ps + p.options));
    gset_linewidth(6);
    draw_scene();
    gclose_ws(0);
    const Picture page = render_ps(dir_, ps);
    EXPECT_EQ(gs_errors, "");
    ASSERT_GT(page.width, 0);
    auto near = [](Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) <= 12; };
    const Rgb line = page.at(static_cast<int>(kPsPage.col(0.25f)), static_cast<int>(kPsPage.row(0.9f)));
    const Rgb fill = page.at(static_cast<int>(kPsPage.col(0.75f)), static_cast<int>(kPsPage.row(0.7f)));
    EXPECT_TRUE(near(line, p.line)) << p.options << ": line " << int(line.r) << "," << int(line.g) << ","
                                    << int(line.b);
    EXPECT_TRUE(near(fill, p.fill)) << p.options << ": fill " << int(fill.r) << "," << int(fill.g) << ","
                                    << int(fill.b);
  }
}

TEST_F(PlotFiles, TheWindowsPictureLiesUnderTheVectorsWhereTheWindowShowsIt) {
  const float unit[4] = {0, 1, 0, 1};
  gset_win(0, unit);
  gset_colr_rep(1, 2, kRed);
  gset_colr_rep(1, 4, kWhite);
  gset_fill_colr_ind(2);
  const float area[] = {0.2f, 0.2f, 0.7f, 0.2f, 0.7f, 0.6f, 0.2f, 0.6f};
  gfill_area(4, area);
  gset_line_colr_ind(4);
  const float line[] = {0.1f, 0.4f, 0.9f, 0.4f};
  gpolyline(2, line);
  const PixelAt window = grab(gget_base_window());
  const unsigned long red = static_cast<unsigned long>(gget_color_ind(2));
  const Box red_box = ink_box(0, 0, width_ - 1, height_ - 1, [&](int x, int y) { return window(x, y) == red; });
  Record picture;
  ASSERT_EQ(gget_image(&picture), 1);

  const std::string ps = dir_ / "picture.ps";
  ASSERT_NO_FATAL_FAILURE(reopen(GKS_PS, ps + ",eps,port,color"));
  gset_win(0, unit);
  EXPECT_EQ(gdrv_image(&picture, 0, 0), 0);
  gset_colr_rep(1, 3, kBlue);
  gset_line_colr_ind(3);
  gset_linewidth(9);  // 3 points
  gpolyline(2, line);
  gclose_ws(0);
  const Picture page = render_ps(dir_, ps);
  EXPECT_EQ(gs_errors, "");
  ASSERT_GT(page.width, 0);

  const Box want = carried(red_box, kPsPage);
  const Box got = ink_box(0, 0, page.width - 1, page.height - 1, [&](int x, int y) {
    const Rgb c = page.at(x, y);
    return c.r > 200 && c.g < 60 && c.b < 60;
  });
  for (auto [g, w] : {std::pair{got.x0, want.x0}, {got.x1, want.x1}, {got.y0, want.y0}, {got.y1, want.y1}})
    EXPECT_NEAR(g, w, 1);
  // The blue vector covers the picture's white line through the red.
  const int col = static_cast<int>(kPsPage.col(0.45f));
  int white = 0, blue = 0;
  for (int y = static_cast<int>(kPsPage.row(0.6f)); y <= static_cast<int>(kPsPage.row(0.2f)); ++y) {
    const Rgb c = page.at(col, y);
    white += c.r > 200 && c.g > 200 && c.b > 200;
    blue += c.b > 200 && c.r < 60;
  }
  EXPECT_EQ(white, 0);
  EXPECT_GE(blue, 2);
}

TEST_F(PlotFiles, APictureOfManyColoursIsRgbOrGreyAndKeepsItsColours) {
  // Red and blue far apart, so that a grey level that mixes them up shows.
  auto colour = [](int x, int y) {
    const auto red = static_cast<unsigned char>(x * 255 / 299);
    return Rgb{red, static_cast<unsigned char>(y), static_cast<unsigned char>(255 - red)};
  };
  Picture source{300, 200, {}};
  for (int i = 0; i < 300 * 200; ++i) source.pixels.push_back(colour(i % 300, i / 300));
  Record img;
  make_true_colour(&img, source, 32, true);
  for (bool colour_page : {true, false}) {
    const std::string ps = dir_ / "rgb.ps";
    ASSERT_NO_FATAL_FAILURE(reopen(GKS_PS, ps + ",eps,port" + (colour_page ? ",color" : "")));
    EXPECT_EQ(gdrv_image(&img, 0, 0), 0);
    gclose_ws(0);
    EXPECT_EQ(read_file(ps).find("/Indexed"), std::string::npos);
    const Picture page = render_ps(dir_, ps);
    EXPECT_EQ(gs_errors, "");
    ASSERT_GT(page.width, 0);
    // The picture, 300 x 200 pixels, is a window that shows the unit square in 199 pixels.
    const float scale = 575.0f / 199.0f;
    for (auto [x, y] : {std::pair{50, 40}, {150, 100}, {240, 180}}) {
      const Rgb want = colour(x, y);
      const Rgb got = page.at(static_cast<int>(x * scale), static_cast<int>(0.5f + y * scale));
      const int grey = static_cast<int>((0.9 * want.r + want.g + 0.8 * want.b) / 2.7);
      const Rgb expected = colour_page ? want
                                       : Rgb{static_cast<unsigned char>(grey), static_cast<unsigned char>(grey),
                                             static_cast<unsigned char>(grey)};
      EXPECT_NEAR(got.r, expected.r, 4) << x << "," << y;
      EXPECT_NEAR(got.g, expected.g, 4) << x << "," << y;
      EXPECT_NEAR(got.b, expected.b, 4) << x << "," << y;
    }
  }
}

int occurrences(const std::string &text, const std::string &part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Small drawings whose files must hold certain lines so many times.
TEST_F(PlotFiles, FilesCarryTheirPageSetUpAndWriteAnOperatorOnlyWhenItsValueChanges) {
  const float line[] = {0.1f, 0.1f, 0.9f, 0.9f};
  const float quarter_grey[3] = {0.25f, 0.25f, 0.25f};
  const struct {
    int type;
    const char *options;
    std::function<void()> draw;
    std::vector<std::pair<std::string, int>> counts;
  } files[] = {
      {GKS_PS,
       "",
       [] {},
       {{"90 rotate\n.25 inch -8.25 inch translate\n", 1},
        {"30 dict begin\n", 1},
        {"saveobj restore\n", 1},
        {"scale\n", 0},
        {"%%BoundingBox", 0}}},
      {GKS_PS,
       ",eps,scale=0.5",
       [] {},
       {{"%%BoundingBox: 0 0 576 756\n", 1},
        {"0. inch -8.50 inch translate\n", 1},
        {"0.50 0.50 scale\n", 1},
        {"30 dict begin", 0},
        {"saveobj restore", 0}}},
      {GKS_PS,
       "",
       [&] {
         gset_colr_rep(1, 1, kWhite);
         gset_line_colr_ind(505);
         gpolyline(2, line);
         gpolyline(2, line);
         gset_line_colr_ind(1);
         gset_linetype(3);
         gpolyline(2, line);
       },
       {{"%%PL:2\n", 3}, {"1 setgray\n", 1}, {"4 dot lw\n", 1}, {"1.0 dot lw\n0 setgray\n[3 6] 0 setdash\nnp\n", 1}}},
      {GKS_HPGL,
       ",nopcl",
       [&] {
         gset_linetype(7);
         gpolyline(2, line);
         gset_colr_rep(1, 2, quarter_grey);
         gset_fill_colr_ind(2);
         gset_fill_int_style(GKS_FILL_HOLLOW);
         gfill_area(2, line);
       },
       {{"IN;SP1;PA;\nPW0.2;SV;LT;\n", 1},
        {"FT10,75;\n", 1},
        {"SP;PG;\n", 1},
        {"\033", 0},
        {"LT2", 0},
        {"LT5", 0},
        {"LT6", 0}}},
      // Appended to the file of the row before: the pen line, no new page.
      {GKS_HPGL, "+", [] {}, {{"IN;SP1;PA;\n", 1}, {"PW0.2;SV;LT;\n", 2}, {"SP;PG;\n", 1}, {"\033", 0}}},
  };
  for (const auto &f : files) {
    const std::string path = dir_ / "set_up.out";
    const bool append = f.options[0] == '+';
    ASSERT_NO_FATAL_FAILURE(reopen(f.type, append ? "+" + path : path + f.options));
    f.draw();
    gclose_ws(0);
    const std::string text = read_file(path);
    for (const auto &[part, n] : f.counts) EXPECT_EQ(occurrences(text, part), n) << f.options << ": " << part;
    if (f.type == GKS_PS) {
      render_ps(dir_, path);
      EXPECT_EQ(gs_errors, "") << f.options;
    }
  }
}

TEST_F(PlotFiles, OutputThatCannotBeWrittenLeavesNothingOpenAndClientsNameNoPipes) {
  const std::string blocker = dir_ / "plain_file", locked = dir_ / "locked";
  write_bytes(blocker, "not a directory");
  mkdir(locked.c_str(), 0555);
  std::vector<std::pair<std::string, bool>> refused = {
      {blocker + "/out", false}, {"|cat >" + (dir_ / "piped"), true}, {"+-", true}};
  if (geteuid() != 0) refused.emplace_back(locked + "/out", false);  // root writes anywhere
  gclose_ws(0);
  for (int type : {GKS_PS, GKS_HPGL})
    for (const auto &[name, client] : refused) {
      IMG_set_untrusted(client ? 1 : 0);
      CaptureStderr();
      EXPECT_EQ(gopen_ws(0, name.c_str(), type), -1) << name;
      const std::string said = GetCapturedStderr();
      EXPECT_NE(said.find(client ? "not accepted from a client" : "Not a directory"), std::string::npos) << said;
      EXPECT_NE(said.find(type == GKS_PS ? "gopen_ws: unable to open postscript file\n"
                                         : "gopen_ws: unable to open HPGL file\n"),
                std::string::npos)
          << said;
      EXPECT_EQ(gchk_graphics(), 0);
    }
  EXPECT_NE(access((dir_ / "piped").c_str(), F_OK), 0) << "no command ran";
  // Nothing was left half-open: a good name opens at once.
  IMG_set_untrusted(1);
  ASSERT_EQ(gopen_ws(0, (dir_ / "fine.ps").c_str(), GKS_PS), 0);
  EXPECT_EQ(gclose_ws(0), 0);
  EXPECT_EQ(read_file(dir_ / "fine.ps").rfind("%!PS-Adobe-1.0\n", 0), 0u);
}

}  // namespace
}  // namespace zyb_test
