// Zoom arithmetic and pixel replication, without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "gks/gks_zoom.h"

namespace {

TEST(ZoomArithmetic, ViewsClampAtTheEdgesAndFactorsDoubleUpTo1024) {
  struct Row {
    int x, y, w, h, factor, x0, y0, cx, cy;
  };
  const Row rows[] = {
      {320, 256, 640, 512, 2, 160, 128, 320, 256},  // columns 160 .. 479, rows 128 .. 383
      {10, 10, 640, 512, 2, 0, 0, 160, 128},
      {630, 500, 640, 512, 2, 640 - 641 / 2, 512 - 513 / 2, 480, 384},
      {630, 500, 641, 513, 2, 641 - 642 / 2, 513 - 514 / 2, 480, 384},  // odd sizes: W - (W + 1) / f
      {600, 10, 640, 512, 1, 0, 0, 320, 256},                           // factor 1 never starts left of the picture
  };
  for (const Row &r : rows) {
    ZoomView v = gzoom_view({r.x, r.y}, r.w, r.h, r.factor);
    EXPECT_EQ(std::vector<int>({v.x0, v.y0, v.centre.x, v.centre.y}), std::vector<int>({r.x0, r.y0, r.cx, r.cy}))
        << r.x << "," << r.y << " x" << r.factor;
  }
  ZoomArea edge = gzoom_source_area(gzoom_view({640, 0}, 641, 8, 4), 641, 8, 4);
  EXPECT_EQ(edge.x + edge.width, 641);
  EXPECT_EQ(gzoom_factor(-2, 2, true).replicate, 4);
  EXPECT_EQ(gzoom_factor(-2, 2, false).replicate, 2) << "the base window already shows x2";
  EXPECT_EQ(gzoom_factor(0, 8, false).replicate, 1) << "never a division by zero";
  int zoom = 1;
  for (int i = 0; i < 10; i++) zoom = gzoom_factor(-2, zoom, false).zoom;
  EXPECT_EQ(zoom, ZOOM_MAX_FACTOR);
  EXPECT_EQ(gzoom_centre(1, 0, 640, 512, 2, {320, 256}, true).x, 161) << "(1 - 320) / 2 truncates to -159";
  EXPECT_EQ(gzoom_centre(33, 44, 640, 512, 2, {320, 256}, false).x, 33);
}

// A Z-format raster laid out, read and written by Xlib itself, filled with
// a pattern that differs from pixel to pixel.
struct Raster {
  std::vector<char> bytes;
  XImage image{};
  Raster(int w, int h, int bits, bool lsb) : bytes(size_t((w * bits + 7) / 8 + 3) * h, 0x5A) {
    image.width = w;
    image.height = h;
    image.format = ZPixmap;
    image.data = bytes.data();
    image.byte_order = image.bitmap_bit_order = lsb ? LSBFirst : MSBFirst;
    image.bitmap_unit = image.bitmap_pad = 8;
    image.depth = image.bits_per_pixel = bits;
    image.bytes_per_line = (w * bits + 7) / 8 + 3;
    XInitImage(&image);
    for (int y = 0; y < h; y++)
      for (int x = 0; x < w; x++) XPutPixel(&image, x, y, (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u));
  }
  unsigned long get(int x, int y) { return XGetPixel(&image, x, y); }
  ZoomRaster view() {
    return {reinterpret_cast<unsigned char *>(bytes.data()),
            image.width,
            image.height,
            image.bytes_per_line,
            image.bits_per_pixel,
            image.byte_order == LSBFirst};
  }
};

// Pixels of a replicated w x h picture that are not the source pixel the zoom names.
int wrong_pixels(int w, int h, int bits, bool lsb, int x0, int y0, int f) {
  Raster source(w, h, bits, lsb), zoomed(w, h, bits, lsb);
  EXPECT_EQ(gzoom_replicate(source.view(), zoomed.view(), x0, y0, f), 1);
  int wrong = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      wrong += zoomed.get(x, y) != source.get(std::min(x0 + x / f, w - 1), std::min(y0 + y / f, h - 1));
  return wrong;
}

TEST(ZoomReplicate, EveryPixelComesFromItsBlockSourceAtEveryPixelSize) {
  for (int bits : {32, 24, 16, 8, 4, 1}) {
    for (bool lsb : {false, true}) {
      SCOPED_TRACE(std::to_string(bits) + (lsb ? " bits, low first" : " bits, high first"));
      EXPECT_EQ(wrong_pixels(64, 40, bits, lsb, 16, 10, 2), 0);
      EXPECT_EQ(wrong_pixels(61, 37, bits, lsb, 7, 3, 3), 0);   // odd sizes and origin
      EXPECT_EQ(wrong_pixels(33, 9, bits, lsb, 32, 8, 64), 0);  // one pixel fills all
      // 641 wide at x4 clamps x0 to 641 - 642 / 4 = 481, one column short of what 640 / 4 would read.
      EXPECT_EQ(wrong_pixels(641, 8, bits, lsb, gzoom_view({640, 0}, 641, 8, 4).x0, 0, 4), 0);
    }
  }
  Raster r(16, 4, 32, false), source(16, 4, 32, false), other(16, 4, 16, false);
  std::vector<char> before = r.bytes;
  ZoomRaster odd = r.view(), odd_source = source.view(), short_rows = r.view();
  odd.bits_per_pixel = odd_source.bits_per_pixel = 12;
  short_rows.bytes_per_line = 16 * 4 - 1;
  EXPECT_EQ(gzoom_replicate(odd_source, odd, 0, 0, 2), 0);
  EXPECT_EQ(gzoom_replicate(source.view(), short_rows, 0, 0, 2), 0);
  EXPECT_EQ(gzoom_replicate(source.view(), r.view(), 0, 0, 0), 0);
  EXPECT_EQ(gzoom_replicate(other.view(), r.view(), 0, 0, 2), 0);
  EXPECT_EQ(r.bytes, before) << "refused replications leave the destination alone";
}

}  // namespace
