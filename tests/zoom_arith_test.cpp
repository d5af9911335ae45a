// Zoom arithmetic and pixel replication, without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gks/gks_zoom.h"

namespace {

TEST(ZoomView, CentresAndClampsAtTheEdges) {
  ZoomView middle = gzoom_view({320, 256}, 640, 512, 2);  // columns 160..479, rows 128..383
  EXPECT_EQ(middle.x0, 160);
  EXPECT_EQ(middle.y0, 128);
  EXPECT_EQ(middle.width, 320);
  EXPECT_EQ(middle.height, 256);
  EXPECT_EQ(middle.centre.x, 320);
  EXPECT_EQ(middle.centre.y, 256);

  ZoomView corner = gzoom_view({10, 10}, 640, 512, 2);
  EXPECT_EQ(corner.x0, 0);
  EXPECT_EQ(corner.y0, 0);
  EXPECT_EQ(corner.centre.x, 160);
  EXPECT_EQ(corner.centre.y, 128);

  ZoomView far = gzoom_view({630, 500}, 640, 512, 2);
  EXPECT_EQ(far.x0, 640 - 641 / 2);
  EXPECT_EQ(far.y0, 512 - 513 / 2);

  EXPECT_EQ(gzoom_view({600, 10}, 640, 512, 1).x0, 0) << "factor 1 never starts left of the picture";
}

TEST(ZoomArea, IsWhatTheViewShowsCutAtTheEdge) {
  ZoomArea middle = gzoom_source_area(gzoom_view({320, 256}, 640, 512, 2), 640, 512, 2);
  EXPECT_EQ(middle.x, 160);
  EXPECT_EQ(middle.width, 320);
  EXPECT_EQ(middle.height, 256);
  ZoomArea edge = gzoom_source_area(gzoom_view({640, 0}, 641, 8, 4), 641, 8, 4);
  EXPECT_EQ(edge.x + edge.width, 641);
  ZoomArea tiny = gzoom_source_area(gzoom_view({639, 511}, 640, 512, 1024), 640, 512, 1024);
  EXPECT_EQ(tiny.width * tiny.height, 1);
}

TEST(ZoomFactor, KeepsSetsAndMultiplies) {
  EXPECT_EQ(gzoom_factor(-2, 2, true).zoom, 4);
  EXPECT_EQ(gzoom_factor(-2, 2, true).replicate, 4);
  // The base window already shows x2, so only the increase is replicated.
  EXPECT_EQ(gzoom_factor(-2, 2, false).replicate, 2);
  EXPECT_EQ(gzoom_factor(-1, 8, true).replicate, 8);
  EXPECT_EQ(gzoom_factor(3, 8, false).zoom, 3);
  EXPECT_EQ(gzoom_factor(0, 8, false).replicate, 1) << "never a division by zero";
  int zoom = 1;
  for (int i = 0; i < 10; i++) zoom = gzoom_factor(-2, zoom, false).zoom;
  EXPECT_EQ(zoom, ZOOM_MAX_FACTOR);
}

TEST(ZoomCentre, WindowPointsBecomeFramePointsOnlyWhenZoomedFramesAreShown) {
  EXPECT_EQ(gzoom_centre(-1, -1, 640, 512, 4, {100, 90}, true).x, 100);
  ZoomPoint p = gzoom_centre(0, 511, 640, 512, 2, {320, 256}, true);
  EXPECT_EQ(p.x, 160);
  EXPECT_EQ(p.y, 383);
  EXPECT_EQ(gzoom_centre(1, 0, 640, 512, 2, {320, 256}, true).x, 161) << "(1 - 320) / 2 truncates to -159";
  EXPECT_EQ(gzoom_centre(33, 44, 640, 512, 2, {320, 256}, false).x, 33);
  EXPECT_EQ(gzoom_centre(33, 44, 640, 512, 1, {0, 0}, true).y, 44);
}

// An independent reading and writing of pixels, per pixel size.
struct Raster {
  int width, height, bpp, line;
  bool lsb;
  std::vector<unsigned char> bytes;
  Raster(int w, int h, int bits, bool lsb_first)
      : width(w), height(h), bpp(bits), line((w * bits + 7) / 8 + 3), lsb(lsb_first),
        bytes(static_cast<size_t>(line) * h) {}
  uint32_t mask() const { return bpp >= 32 ? 0xFFFFFFFFu : (1u << bpp) - 1; }
  int shift(int x) const { return lsb ? (x % (8 / bpp)) * bpp : 8 - bpp - (x % (8 / bpp)) * bpp; }
  uint32_t get(int x, int y) const {
    const unsigned char *row = &bytes[static_cast<size_t>(y) * line];
    uint32_t v = 0;
    if (bpp < 8) return (row[x * bpp / 8] >> shift(x)) & mask();
    for (int b = 0; b < bpp / 8; b++) v |= uint32_t(row[x * (bpp / 8) + b]) << (8 * b);
    return v;
  }
  void set(int x, int y, uint32_t v) {
    unsigned char *row = &bytes[static_cast<size_t>(y) * line];
    v &= mask();
    if (bpp < 8) {
      unsigned char &byte = row[x * bpp / 8];
      byte = static_cast<unsigned char>((byte & ~(mask() << shift(x))) | (v << shift(x)));
      return;
    }
    for (int b = 0; b < bpp / 8; b++) row[x * (bpp / 8) + b] = (v >> (8 * b)) & 0xFF;
  }
  ZoomRaster view() { return {bytes.data(), width, height, line, bpp, lsb}; }
};

Raster patterned(int w, int h, int bits, bool lsb) {
  Raster r(w, h, bits, lsb);
  for (size_t i = 0; i < r.bytes.size(); i++) r.bytes[i] = static_cast<unsigned char>(i * 37 + 11);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) r.set(x, y, uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u);
  return r;
}

// Replicates a whole w x h picture into a w x h raster and counts the pixels
// that are not the source pixel the zoom names.
int wrong_pixels(int w, int h, int bits, bool lsb, int x0, int y0, int f) {
  Raster source = patterned(w, h, bits, lsb), zoomed = patterned(w, h, bits, lsb);
  EXPECT_EQ(gzoom_replicate(source.view(), zoomed.view(), x0, y0, f), 1);
  int wrong = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      wrong += zoomed.get(x, y) != source.get(std::min(x0 + x / f, w - 1), std::min(y0 + y / f, h - 1));
  return wrong;
}

class Replicate : public ::testing::TestWithParam<int> {};

TEST_P(Replicate, EveryPixelComesFromItsBlockSource) {
  int bits = GetParam();
  for (bool lsb : {false, true}) {
    SCOPED_TRACE(lsb ? "low bits first" : "high bits first");
    EXPECT_EQ(wrong_pixels(64, 40, bits, lsb, 16, 10, 2), 0);
    EXPECT_EQ(wrong_pixels(61, 37, bits, lsb, 7, 3, 3), 0);   // odd sizes and origin
    EXPECT_EQ(wrong_pixels(29, 17, bits, lsb, 0, 0, 1), 0);   // a plain copy
    EXPECT_EQ(wrong_pixels(33, 9, bits, lsb, 32, 8, 64), 0);  // one pixel fills all
  }
  // 641 wide at x4 clamps x0 to 641 - 642 / 4 = 481, one column short of
  // what x0 + 640 / 4 would read.
  ZoomView edge = gzoom_view({640, 0}, 641, 8, 4);
  ASSERT_EQ(edge.x0, 481);
  EXPECT_EQ(wrong_pixels(641, 8, bits, false, edge.x0, edge.y0, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, Replicate, ::testing::Values(32, 24, 16, 8, 4, 1));

TEST(ReplicateRefuses, OddPixelSizesMismatchedLayoutsShortRowsAndNoFactor) {
  Raster r = patterned(16, 4, 32, false), source = r, other = patterned(16, 4, 16, false);
  std::vector<unsigned char> before = r.bytes;
  ZoomRaster odd = r.view(), odd_source = source.view(), short_rows = r.view();
  odd.bits_per_pixel = odd_source.bits_per_pixel = 12;
  short_rows.bytes_per_line = 16 * 4 - 1;
  EXPECT_EQ(gzoom_replicate(odd_source, odd, 0, 0, 2), 0);
  EXPECT_EQ(gzoom_replicate(source.view(), short_rows, 0, 0, 2), 0);
  EXPECT_EQ(gzoom_replicate(source.view(), r.view(), 0, 0, 0), 0);
  EXPECT_EQ(gzoom_replicate(other.view(), r.view(), 0, 0, 2), 0);
  EXPECT_EQ(r.bytes, before);
}

}  // namespace
