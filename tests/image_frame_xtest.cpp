// Images into and out of frames on a real X server, at the depth the test
// run gives (24, 16 or 8): loads and overlays compared pixel by pixel with
// what the files hold, and saved frames decoded by ImageMagick.
#include "evnt_window.h"

#include <X11/Xatom.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gks/colors.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "image/xdump.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

// What a colour becomes on a window of the depth, as a grab reads it back:
// 16-bit windows keep 5, 6 and 5 bits of the channels; the grab of a
// colour-mapped window rounds channels above 0.99 up to full.
Rgb on_window(Rgb c, int depth) {
  auto up = [](unsigned char v) { return static_cast<unsigned char>(v / 255.0f > 0.99f ? 255 : v); };
  auto cut = [](unsigned char v, int bits) {
    return static_cast<unsigned char>(int(((1 << bits) - 1) * (v / 255.0f)) << (8 - bits));
  };
  if (depth == 8) return {up(c.r), up(c.g), up(c.b)};
  return depth == 16 ? Rgb{cut(c.r, 5), cut(c.g, 6), cut(c.b, 5)} : c;
}

// Channels apart by at most the tolerance.
bool close_enough(Rgb a, Rgb b, int r = 1, int g = 1, int bl = 1) {
  return std::abs(a.r - b.r) <= r && std::abs(a.g - b.g) <= g && std::abs(a.b - b.b) <= bl;
}

Picture indexed_picture(int w, int h, const std::vector<unsigned char> &levels) {
  Picture p{w, h, {}};
  for (unsigned char v : levels) p.pixels.push_back(palette_color(v));
  return p;
}

class FrameImageTest : public KernelWindow {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_window());
    gset_rw_colors(0);  // as the looper runs: shared, read-only colour cells
    frame_ = gcreate_frame(-1);
    ASSERT_GE(frame_, 0);
    gselect_frame(frame_);
    gget_xviewport(vp_);
  }
  void TearDown() override {
    gset_save_image_type(IMG_OUT_GIF);
    KernelWindow::TearDown();
  }

  // The draw window as the grab sees it.
  Picture grab() {
    Record img;
    EXPECT_EQ(gget_image(&img), 1);
    return img.data != nullptr ? record_picture(img) : Picture{};
  }

  // An indexed GIF of the levels through the colours of palette_color.
  std::string indexed_gif(const std::string &name, int w, int h, const std::vector<unsigned char> &levels, int colors) {
    Record img;
    make_indexed(&img, w, h, levels, colors);
    const std::string path = dir_ / name;
    EXPECT_EQ(GIF_write(path.c_str(), &img), 1);
    return path;
  }

  // Pixels of the window region at (x0, y0) that do not show the picture.
  long mismatches(const Picture &window, const Picture &expected, int x0, int y0) {
    long bad = 0;
    for (int y = 0; y < expected.height; y++)
      for (int x = 0; x < expected.width; x++)
        bad += !close_enough(window.at(x0 + x, y0 + y), on_window(expected.at(x, y), depth_));
    return bad;
  }

  Rgb background() {
    float c[3] = {};
    gget_color_rgb(-1, &c[0], &c[1], &c[2]);
    auto byte = [&c](int i) { return static_cast<unsigned char>(c[i] * 255 + 0.5f); };
    return on_window({byte(0), byte(1), byte(2)}, depth_);
  }

  TempDir dir_;
  int frame_ = -1;
  short vp_[4] = {};
};

}  // namespace

TEST_F(FrameImageTest, LoadedGifsLandPixelForPixelCountedFromTheViewportEdges) {
  const std::vector<unsigned char> levels = radar_levels(160, 120, 2);
  ASSERT_EQ(gload_image_file(indexed_gif("radar.gif", 160, 120, levels, 13).c_str(), 30, 20), 1);
  Picture window = grab();
  EXPECT_EQ(mismatches(window, indexed_picture(160, 120, levels), vp_[0] + 30, vp_[1] + 20), 0);
  for (auto [x, y] : {std::pair{29, 20}, {190, 140}})
    EXPECT_TRUE(close_enough(window.at(vp_[0] + x, vp_[1] + y), background())) << x << "," << y;
  // Negative offsets count back from the right and bottom edges.
  const std::vector<unsigned char> strip(100 * 40, 3);
  gclear_frame(frame_);
  ASSERT_EQ(gload_image_file(indexed_gif("strip.gif", 100, 40, strip, 4).c_str(), -1, -1), 1);
  window = grab();
  const int left = vp_[0] + vp_[2] - 100 - 1, top = vp_[1] + vp_[3] - 40 - 1;
  EXPECT_EQ(mismatches(window, indexed_picture(100, 40, strip), left, top), 0);
  for (auto [x, y] : {std::pair{left - 1, top}, {left + 100, top}, {left, top - 1}, {left, top + 40}})
    EXPECT_TRUE(close_enough(window.at(x, y), background())) << x << "," << y;
}

TEST_F(FrameImageTest, IndicesBeyondTheColourMapShowEntryZeroAndWithoutOneGrey) {
  std::vector<unsigned char> levels(20 * 10, 1);
  for (int x = 0; x < 20; x++) levels[5 * 20 + x] = 9;  // only 4 colours exist
  Record img;
  make_indexed(&img, 20, 10, levels, 4);
  gload_image(&img, 0, 0);
  Picture window = grab();
  EXPECT_TRUE(close_enough(window.at(vp_[0] + 3, vp_[1] + 5), on_window(palette_color(0), depth_)));
  EXPECT_TRUE(close_enough(window.at(vp_[0] + 3, vp_[1] + 4), on_window(palette_color(1), depth_)));
  if (depth_ != 24) return;  // grey levels are a true-colour rule
  std::free(img.colors);
  img.colors = nullptr, img.num_colors = 0;
  gload_image(&img, 0, 0);
  window = grab();
  EXPECT_EQ((std::vector<Rgb>{window.at(vp_[0] + 3, vp_[1] + 4), window.at(vp_[0] + 3, vp_[1] + 5)}),
            (std::vector<Rgb>{{1, 1, 1}, {9, 9, 9}}));
}

TEST_F(FrameImageTest, TrueColourPngsLoadAtEveryDepth) {
  Picture source{48, 30, {}};
  // At depth 8 colours become colour cells: keep their number small.
  for (int i = 0; i < 48 * 30; i++) source.pixels.push_back(palette_color(((i % 48) / 6 + (i / 48) / 10 * 8) & 0xFF));
  const std::string ppm = dir_ / "src.ppm";
  ASSERT_TRUE(write_ppm(ppm, source));
  for (const std::string kind : {"PNG24", "PNG32"}) {
    const std::string png = dir_ / (kind + ".png");
    ASSERT_TRUE(run_magick({ppm, "-alpha", kind == "PNG32" ? "set" : "off", kind + ":" + png}));
    gclear_frame(frame_);
    ASSERT_EQ(gload_image_file(png.c_str(), 5, 7), 1) << kind;
    EXPECT_EQ(mismatches(grab(), source, vp_[0] + 5, vp_[1] + 7), 0) << kind;
  }
}

TEST_F(FrameImageTest, OverlaysLeaveTheirTransparentColourUntouched) {
  std::vector<unsigned char> under(80 * 60);
  for (size_t i = 0; i < under.size(); i++) under[i] = static_cast<unsigned char>(1 + (i % 80) / 20);
  ASSERT_EQ(gload_image_file(indexed_gif("under.gif", 80, 60, under, 8).c_str(), 0, 0), 1);
  const Picture before = grab();
  // Entry 0 see-through, entry 1 a band from (10, 20) to (29, 39).
  std::vector<unsigned char> levels(80 * 60, 0);
  for (int y = 20; y < 40; y++) std::fill(levels.begin() + y * 80 + 10, levels.begin() + y * 80 + 30, 1);
  Record over;
  make_indexed(&over, 80, 60, levels, 2);
  gget_color_rgb(-1, &over.colors[0].red, &over.colors[0].green, &over.colors[0].blue);  // "" names the background
  over.colors[1] = {1.0f, 1.0f, 0.0f};
  goverlay_image(&over, "", 0, 0);
  Picture after = grab();
  EXPECT_TRUE(close_enough(after.at(vp_[0] + 15, vp_[1] + 25), on_window({255, 255, 0}, depth_)));
  for (auto [x, y] : {std::pair{50, 25}, {15, 5}, {79, 59}})
    EXPECT_EQ(after.at(vp_[0] + x, vp_[1] + y), before.at(vp_[0] + x, vp_[1] + y));
  // A named colour, from a file (the load mapped the record's pixels).
  IMG_free(&over);
  make_indexed(&over, 80, 60, levels, 2);
  over.colors[0] = {1.0f, 0.0f, 0.0f}, over.colors[1] = {0.0f, 0.0f, 1.0f};
  const std::string path = dir_ / "over.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &over), 1);
  EXPECT_EQ(goverlay_image_file(path.c_str(), "red", 0, 0), 0);
  const Picture last = grab();
  EXPECT_EQ(last.at(vp_[0] + 50, vp_[1] + 25), after.at(vp_[0] + 50, vp_[1] + 25));
  EXPECT_TRUE(close_enough(last.at(vp_[0] + 15, vp_[1] + 25), on_window({0, 0, 255}, depth_)));
}

TEST_F(FrameImageTest, SavedFramesDecodeToWhatTheFrameShows) {
  ASSERT_EQ(gload_image_file(indexed_gif("radar.gif", 120, 90, radar_levels(120, 90, 6), 13).c_str(), 10, 10), 1);
  const Picture window = grab();
  const std::pair<int, const char *> outputs[] = {
      {IMG_OUT_GIF, "frame.gif"}, {IMG_OUT_PNG, "frame.png"}, {IMG_OUT_XWD, "frame.xwd"}, {99, "other.xwd"}};
  for (const auto &[type, name] : outputs) {
    SCOPED_TRACE(name);
    gset_save_image_type(type);
    const std::string path = dir_ / name;
    ASSERT_EQ(gsave_image_file(path.c_str()), 1);
    const std::string magic = read_bytes(path).substr(0, 4);
    EXPECT_EQ(magic, type == IMG_OUT_GIF   ? "GIF8"
                     : type == IMG_OUT_PNG ? "\x89PNG"
                                           : std::string("\0\0\0", 3) + magic[3]);
    Record back;
    ASSERT_EQ(IMG_read(path.c_str(), &back, 0), 1);
    EXPECT_EQ(count_differences(record_picture(back), window), 0);
    // ImageMagick reads the colour map of a dump in another layout, and widens
    // 5- and 6-bit channels by rounding, not by shifting.
    const bool dump = type != IMG_OUT_GIF && type != IMG_OUT_PNG;
    if (dump && depth_ == 8) continue;
    const Picture seen = magick_decode(path);
    ASSERT_EQ(seen.pixels.size(), window.pixels.size());
    const int slack = dump && depth_ == 16 ? 8 : 0;
    for (size_t i = 0; i < seen.pixels.size(); i++)
      ASSERT_TRUE(close_enough(seen.pixels[i], window.pixels[i], slack, slack / 2, slack)) << "pixel " << i;
  }
}

TEST_F(FrameImageTest, GrabOfAnUnnamedWindowIsCalledXwdump) {
  Record img;
  ASSERT_EQ(gget_image(&img), 1);
  EXPECT_STREQ(img.info, gget_win_title());
  XDeleteProperty(gget_display(), gget_root_window(), XA_WM_NAME);
  XSync(gget_display(), False);
  const std::string path = dir_ / "dump.xwd";
  ASSERT_EQ(XWD_dump(path.c_str()), 1);
  IMG_free(&img);
  gquery_image_file(path.c_str(), &img);
  EXPECT_EQ(std::string(img.info) + std::to_string(img.depth), "xwdump" + std::to_string(depth_));
}

TEST_F(FrameImageTest, FilesThatCannotBeReadLeaveTheFrameAsItWas) {
  ASSERT_EQ(gload_image_file(indexed_gif("first.gif", 64, 64, radar_levels(64, 64), 13).c_str(), 0, 0), 1);
  const Picture before = grab();
  const std::string good = read_bytes(indexed_gif("second.gif", 64, 64, std::vector<unsigned char>(64 * 64, 7), 8));
  const std::string huge = good.substr(0, 6) + "\xFF\xFF\xFF\xFF" + good.substr(10);
  // A first code that names no string.
  const std::string corrupt =
      good.substr(0, 13 + 3 * (2 << (good[10] & 7))) + std::string(",\0\0\0\0\x40\0\x40\0\0\x02\x02\xFF\xFF\x00;", 16);
  const std::string path = dir_ / "bad";
  for (const std::string &bytes :
       {std::string(), std::string("GIF"), std::string("no image"), good.substr(0, 16), huge, corrupt}) {
    write_bytes(path, bytes);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(gload_image_file(path.c_str(), 0, 0) + goverlay_image_file(path.c_str(), "", 0, 0), 0);
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "") << "a message for " << bytes.size() << " bytes";
    EXPECT_EQ(count_differences(grab(), before), 0);
  }
  EXPECT_EQ(gload_image_file((dir_ / "missing.gif").c_str(), 0, 0), 0);
}

TEST_F(FrameImageTest, NativeImagesShowTheColourTableAndGreyBeyondIt) {
  CLR_read_table(nullptr);  // the shipped table: radar reflectivity at 16 to 30
  ASSERT_GT(CLR_get_num(), 30);
  std::string bytes = "ZYBIMG\n\nradar\n16 1\n";
  for (int i = 16; i <= 30; i++) bytes += static_cast<char>(i);
  bytes += static_cast<char>(200);
  write_bytes(dir_ / "radar.zyb", bytes);
  ASSERT_EQ(gload_image_file((dir_ / "radar.zyb").c_str(), 0, 0), 1);
  Picture window = grab();
  auto byte = [](float f) { return static_cast<unsigned char>(f * 255 + 0.5f); };
  for (int i = 16; i <= 30; i++) {
    float r, g, b;
    CLR_get_rgb(i, &r, &g, &b);
    EXPECT_TRUE(close_enough(window.at(vp_[0] + i - 16, vp_[1]), on_window({byte(r), byte(g), byte(b)}, depth_)))
        << "index " << i;
  }
  EXPECT_TRUE(close_enough(window.at(vp_[0] + 15, vp_[1]), on_window({200, 200, 200}, depth_), 2, 2, 2));
}
