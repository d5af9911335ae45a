// Images into and out of frames on a real X server, at the depth the test
// run gives (24, 16 or 8): loads and overlays compared pixel by pixel with
// what the files hold, and saved frames decoded by ImageMagick.
#include <gtest/gtest.h>

#include "xvfb_env.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

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
  if (depth == 8) {
    auto up = [](unsigned char v) { return static_cast<unsigned char>(v / 255.0f > 0.99f ? 255 : v); };
    return {up(c.r), up(c.g), up(c.b)};
  }
  if (depth != 16) return c;
  auto cut = [](unsigned char v, int bits) {
    int max = (1 << bits) - 1;
    return static_cast<unsigned char>(static_cast<int>(max * (v / 255.0f)) << (8 - bits));
  };
  return {cut(c.r, 5), cut(c.g, 6), cut(c.b, 5)};
}

bool close_enough(Rgb a, Rgb b) {
  auto d = [](int x, int y) { return x > y ? x - y : y - x; };
  return d(a.r, b.r) <= 1 && d(a.g, b.g) <= 1 && d(a.b, b.b) <= 1;
}

class FrameImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(gopen_gks(nullptr, 10000), 0);
    ASSERT_EQ(gopen_ws(0, "", GKS_WIN), 0) << "no window on " << xvfb()->display();
    gget_win_size(&width_, &height_);
    depth_ = gget_win_depth();
    // As the looper runs: shared, read-only colour cells.
    gset_rw_colors(0);
    frame_ = gcreate_frame(-1);
    ASSERT_GE(frame_, 0);
    gselect_frame(frame_);
  }
  void TearDown() override {
    GIF_transparent(0);
    gset_save_image_type(IMG_OUT_GIF);
    gclose_ws(0);
    gclose_gks();
  }

  // The draw window as the grab sees it.
  Picture grab() {
    ImageRecord img;
    RecordGuard guard{&img};
    EXPECT_EQ(gget_image(&img), 1);
    return img.data != nullptr ? record_picture(img) : Picture{};
  }

  // Writes an indexed GIF of the levels through the colours of palette_color.
  std::string indexed_gif(const std::string &name, int w, int h, const std::vector<unsigned char> &levels, int colors) {
    ImageRecord img;
    RecordGuard guard{&img};
    make_indexed(&img, w, h, levels, colors);
    std::string path = dir_ / name;
    EXPECT_EQ(GIF_write(path.c_str(), &img), 1);
    return path;
  }

  // Pixels of the window region at (x0, y0) that do not show the picture.
  long mismatches(const Picture &window, const Picture &expected, int x0, int y0) {
    long bad = 0;
    for (int y = 0; y < expected.height; y++) {
      for (int x = 0; x < expected.width; x++) {
        Rgb want = on_window(expected.at(x, y), depth_);
        if (!close_enough(window.at(x0 + x, y0 + y), want)) bad++;
      }
    }
    return bad;
  }

  Rgb background() {
    float r = 0, g = 0, b = 0;
    gget_color_rgb(-1, &r, &g, &b);
    return on_window({static_cast<unsigned char>(r * 255 + 0.5f), static_cast<unsigned char>(g * 255 + 0.5f),
                      static_cast<unsigned char>(b * 255 + 0.5f)},
                     depth_);
  }

  TempDir dir_;
  int width_ = 0, height_ = 0, depth_ = 0, frame_ = -1;
};

Picture indexed_picture(int w, int h, const std::vector<unsigned char> &levels) {
  Picture p;
  p.width = w;
  p.height = h;
  for (unsigned char v : levels) p.pixels.push_back(palette_color(v));
  return p;
}

}  // namespace

TEST_F(FrameImageTest, LoadedGifShowsItsColoursPixelForPixel) {
  std::vector<unsigned char> levels = radar_levels(160, 120, 2);
  std::string path = indexed_gif("radar.gif", 160, 120, levels, 13);
  ASSERT_EQ(gload_image_file(path.c_str(), 30, 20), 1);
  Picture window = grab();
  ASSERT_EQ(window.width, width_);
  EXPECT_EQ(mismatches(window, indexed_picture(160, 120, levels), 30, 20), 0);
  EXPECT_TRUE(close_enough(window.at(29, 20), background()));
  EXPECT_TRUE(close_enough(window.at(190, 140), background()));
}

TEST_F(FrameImageTest, NegativeOffsetsCountBackFromTheViewportEdges) {
  std::vector<unsigned char> levels(100 * 40, 3);
  std::string path = indexed_gif("strip.gif", 100, 40, levels, 4);
  ASSERT_EQ(gload_image_file(path.c_str(), -1, -1), 1);
  short vp[4];
  gget_xviewport(vp);
  Picture window = grab();
  Rgb colour = on_window(palette_color(3), depth_);
  int left = vp[0] + vp[2] - 100 - 1, top = vp[1] + vp[3] - 40 - 1;
  ASSERT_GT(left, 0);
  EXPECT_TRUE(close_enough(window.at(left, top), colour));
  EXPECT_TRUE(close_enough(window.at(left + 99, top + 39), colour));
  EXPECT_TRUE(close_enough(window.at(left - 1, top), background()));
  EXPECT_TRUE(close_enough(window.at(left + 100, top), background()));
  EXPECT_TRUE(close_enough(window.at(left, top + 40), background()));
  // And counted from the viewport's left and top edges when positive.
  gclear_frame(frame_);
  ASSERT_EQ(gload_image_file(path.c_str(), 7, 3), 1);
  window = grab();
  EXPECT_TRUE(close_enough(window.at(vp[0] + 7, vp[1] + 3), colour));
  EXPECT_TRUE(close_enough(window.at(vp[0] + 6, vp[1] + 3), background()));
}

TEST_F(FrameImageTest, IndicesBeyondTheColourMapShowEntryZero) {
  std::vector<unsigned char> levels(20 * 10, 1);
  for (int x = 0; x < 20; x++) levels[5 * 20 + x] = 9;  // only 4 colours exist
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, 20, 10, levels, 4);
  gload_image(&img, 0, 0);
  Picture window = grab();
  EXPECT_TRUE(close_enough(window.at(3, 5), on_window(palette_color(0), depth_)));
  EXPECT_TRUE(close_enough(window.at(3, 4), on_window(palette_color(1), depth_)));
}

TEST_F(FrameImageTest, IndicesWithoutAColourMapAreGreyOnTrueColour) {
  if (depth_ != 24) GTEST_SKIP() << "grey levels are a true-colour rule";
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  img.width = 256;
  img.height = 2;
  img.depth = 8;
  img.bits_per_pixel = 8;
  img.bytes_per_line = 256;
  img.color_type = 1;
  IMG_alloc_pixels(&img);
  for (int x = 0; x < 256; x++) img.data[x] = img.data[256 + x] = static_cast<unsigned char>(x);
  gload_image(&img, 0, 0);
  Picture window = grab();
  for (int x = 0; x < 256; x += 17) {
    unsigned char v = static_cast<unsigned char>(x);
    EXPECT_EQ(window.at(x, 1), (Rgb{v, v, v})) << x;
  }
}

TEST_F(FrameImageTest, TrueColourPngsLoadAtEveryDepth) {
  Picture source;
  source.width = 48;
  source.height = 30;
  // At depth 8 colours become colour cells: keep their number small.
  for (int i = 0; i < 48 * 30; i++) source.pixels.push_back(palette_color(((i % 48) / 6 + (i / 48) / 10 * 8) & 0xFF));
  std::string ppm = dir_ / "src.ppm";
  ASSERT_TRUE(write_ppm(ppm, source));
  for (const char *kind : {"PNG24", "PNG32"}) {
    std::string png = dir_ / (std::string(kind) + ".png");
    std::string type = std::string(kind) == "PNG24" ? "png:color-type=2" : "png:color-type=6";
    ASSERT_TRUE(run_magick({ppm, "-alpha", std::string(kind) == "PNG32" ? "set" : "off", "-define", type, std::string(kind) + ":" + png}));
    gclear_frame(frame_);
    ASSERT_EQ(gload_image_file(png.c_str(), 5, 7), 1) << kind;
    EXPECT_EQ(mismatches(grab(), source, 5, 7), 0) << kind;
  }
}

TEST_F(FrameImageTest, OverlayLeavesTheTransparentColourUntouched) {
  std::vector<unsigned char> under(80 * 60);
  for (size_t i = 0; i < under.size(); i++) under[i] = static_cast<unsigned char>(1 + (i % 80) / 20);
  ASSERT_EQ(gload_image_file(indexed_gif("under.gif", 80, 60, under, 8).c_str(), 0, 0), 1);
  Picture before = grab();

  // The overlay: entry 0 is the background colour, entry 1 a colour of its own.
  ImageRecord over;
  RecordGuard guard{&over};
  std::vector<unsigned char> levels(80 * 60, 0);
  for (int y = 20; y < 40; y++) std::fill(levels.begin() + y * 80 + 10, levels.begin() + y * 80 + 30, 1);
  make_indexed(&over, 80, 60, levels, 2);
  float r = 0, g = 0, b = 0;
  gget_color_rgb(-1, &r, &g, &b);
  over.colors[0] = {r, g, b};
  over.colors[1] = {1.0f, 1.0f, 0.0f};
  goverlay_image(&over, "", 0, 0);
  Picture after = grab();
  EXPECT_TRUE(close_enough(after.at(15, 25), on_window({255, 255, 0}, depth_)));
  EXPECT_EQ(after.at(50, 25), before.at(50, 25));
  EXPECT_EQ(after.at(15, 5), before.at(15, 5));
  EXPECT_EQ(after.at(79, 59), before.at(79, 59));
}

TEST_F(FrameImageTest, OverlayWithANamedColourTreatsThatColourAsTransparent) {
  std::vector<unsigned char> under(40 * 30, 2);
  ASSERT_EQ(gload_image_file(indexed_gif("under.gif", 40, 30, under, 4).c_str(), 0, 0), 1);
  Picture before = grab();
  ImageRecord over;
  RecordGuard guard{&over};
  std::vector<unsigned char> levels(40 * 30, 0);
  for (int x = 0; x < 40; x++) levels[10 * 40 + x] = 1;
  make_indexed(&over, 40, 30, levels, 2);
  over.colors[0] = {1.0f, 0.0f, 0.0f};  // red: see-through
  over.colors[1] = {0.0f, 0.0f, 1.0f};
  std::string path = dir_ / "over.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &over), 1);
  EXPECT_EQ(goverlay_image_file(path.c_str(), "red", 0, 0), 0);
  Picture after = grab();
  EXPECT_EQ(after.at(5, 5), before.at(5, 5));
  EXPECT_TRUE(close_enough(after.at(5, 10), on_window({0, 0, 255}, depth_)));
}

TEST_F(FrameImageTest, SavedFramesDecodeToWhatTheFrameShows) {
  std::vector<unsigned char> levels = radar_levels(120, 90, 6);
  ASSERT_EQ(gload_image_file(indexed_gif("radar.gif", 120, 90, levels, 13).c_str(), 10, 10), 1);
  Picture window = grab();
  struct Output {
    int type;
    const char *name;
  };
  for (Output out : {Output{IMG_OUT_GIF, "frame.gif"}, Output{IMG_OUT_PNG, "frame.png"}, Output{IMG_OUT_XWD, "frame.xwd"},
                     Output{99, "other.xwd"}}) {
    gset_save_image_type(out.type);
    EXPECT_EQ(gget_save_image_type(), out.type);
    std::string path = dir_ / out.name;
    ASSERT_EQ(gsave_image_file(path.c_str()), 1) << out.name;
    std::string bytes = read_bytes(path);
    if (out.type == IMG_OUT_GIF) EXPECT_EQ(bytes.substr(0, 6), "GIF89a");
    if (out.type == IMG_OUT_PNG) EXPECT_EQ(bytes.substr(1, 3), "PNG");
    ImageRecord back;
    RecordGuard guard{&back};
    ASSERT_EQ(IMG_read(path.c_str(), &back, 0), 1) << out.name;
    EXPECT_EQ(count_differences(record_picture(back), window), 0) << out.name;
    // ImageMagick reads the XWD colour map in another layout; it checks the
    // true-colour dumps and every GIF and PNG.
    bool dump = out.type != IMG_OUT_GIF && out.type != IMG_OUT_PNG;
    if (!dump || depth_ == 24) {
      EXPECT_EQ(count_differences(magick_decode(path), window), 0) << out.name;
    } else if (depth_ == 16) {
      // ImageMagick widens 5- and 6-bit channels by rounding, not by shifting.
      Picture seen = magick_decode(path);
      ASSERT_EQ(seen.pixels.size(), window.pixels.size());
      long far = 0;
      for (size_t i = 0; i < seen.pixels.size(); i++) {
        auto d = [](int a, int b) { return a > b ? a - b : b - a; };
        Rgb a = seen.pixels[i], b = window.pixels[i];
        far += d(a.r, b.r) > 8 || d(a.g, b.g) > 4 || d(a.b, b.b) > 8;
      }
      EXPECT_EQ(far, 0) << out.name;
    }
  }
}

TEST_F(FrameImageTest, TransparentGifMarksTheBackgroundEntry) {
  // The picture's colour comes first in the frame, the background second.
  std::vector<unsigned char> levels(50 * 20, 4);
  ASSERT_EQ(gload_image_file(indexed_gif("blob.gif", 50, 20, levels, 8).c_str(), 0, 0), 1);
  GIF_transparent(1);
  std::string path = dir_ / "trans.gif";
  ASSERT_EQ(GIF_dump(path.c_str()), 1);
  std::string bytes = read_bytes(path);
  int entries = 1 << ((static_cast<unsigned char>(bytes[10]) & 7) + 1);
  size_t gce = 13 + 3 * entries;
  ASSERT_EQ(bytes.substr(gce, 4), std::string("\x21\xF9\x04\x01", 4));
  int entry = static_cast<unsigned char>(bytes[gce + 6]);
  EXPECT_EQ(entry, 1);
  Rgb marked{static_cast<unsigned char>(bytes[13 + 3 * entry]), static_cast<unsigned char>(bytes[14 + 3 * entry]),
             static_cast<unsigned char>(bytes[15 + 3 * entry])};
  EXPECT_TRUE(close_enough(marked, background()));
}

TEST_F(FrameImageTest, GrabOfAnUnnamedWindowIsCalledXwdump) {
  ImageRecord img;
  RecordGuard guard{&img};
  ASSERT_EQ(gget_image(&img), 1);
  EXPECT_STREQ(img.info, gget_win_title());
  XDeleteProperty(gget_display(), gget_root_window(), XA_WM_NAME);
  XSync(gget_display(), False);
  IMG_free(&img);
  ASSERT_EQ(gget_image(&img), 1);
  EXPECT_STREQ(img.info, "xwdump");
  EXPECT_EQ(img.width, width_);
  EXPECT_EQ(img.depth, depth_);
  std::string path = dir_ / "dump.xwd";
  EXPECT_EQ(XWD_dump(path.c_str()), 1);
  ImageRecord back;
  RecordGuard back_guard{&back};
  gquery_image_file(path.c_str(), &back);
  EXPECT_EQ(back.width, width_);
  EXPECT_STREQ(back.info, "xwdump");
}

TEST_F(FrameImageTest, FilesThatCannotBeReadLeaveTheFrameAsItWas) {
  ASSERT_EQ(gload_image_file(indexed_gif("first.gif", 64, 64, radar_levels(64, 64), 13).c_str(), 0, 0), 1);
  Picture before = grab();
  std::string good = read_bytes(indexed_gif("second.gif", 64, 64, std::vector<unsigned char>(64 * 64, 7), 8));
  std::string path = dir_ / "bad";
  std::string huge = good;
  huge[6] = huge[7] = huge[8] = huge[9] = static_cast<char>(0xFF);
  int entries = 1 << ((static_cast<unsigned char>(good[10]) & 7) + 1);
  // A first code that names no string.
  std::string corrupt = good.substr(0, 13 + 3 * entries) + std::string(",\0\0\0\0\x40\0\x40\0\0\x02\x02\xFF\xFF\x00;", 16);
  for (const std::string &bytes : {std::string(), std::string("GIF"), std::string("not an image at all"), huge, corrupt}) {
    write_bytes(path, bytes);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(gload_image_file(path.c_str(), 0, 0), 0);
    EXPECT_EQ(goverlay_image_file(path.c_str(), "", 0, 0), 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_differences(grab(), before), 0);
  }
  EXPECT_EQ(gload_image_file((dir_ / "missing.gif").c_str(), 0, 0), 0);
}

TEST_F(FrameImageTest, XimageDescriptionFollowsTheWindowFormat) {
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, 13, 5, std::vector<unsigned char>(65, 2), 4);
  XImage xi;
  ASSERT_EQ(gset_ximage_params(&img, &xi), 1);
  EXPECT_EQ(xi.width, 13);
  EXPECT_EQ(xi.depth, depth_);
  EXPECT_EQ(xi.format, ZPixmap);
  EXPECT_EQ(xi.bitmap_pad, 32);
  switch (depth_) {
    case 24:
      EXPECT_EQ(xi.bits_per_pixel, 24);
      EXPECT_EQ(xi.bytes_per_line, 39);
      break;
    case 16:
      EXPECT_EQ(xi.bits_per_pixel, 16);
      EXPECT_EQ(xi.bytes_per_line, 26);
      break;
    default:
      EXPECT_EQ(xi.bits_per_pixel, 8);
      EXPECT_EQ(xi.data, reinterpret_cast<char *>(img.data));
  }
  if (xi.data != reinterpret_cast<char *>(img.data)) std::free(xi.data);
}
