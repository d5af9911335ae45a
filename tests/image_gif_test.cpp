// The GIF reader and writer against files ImageMagick makes and decodes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "image/gif.h"
#include "image/img_tool.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

// A GIF we wrote, taken apart; its image data decoded by a plain textbook
// decoder that also notes where the end code starts.
struct GifParts {
  std::string bytes;
  int packed = 0, table_entries = 0, image_packed = 0, code_size = 0;
  size_t gce_at = 0;  // 0: no graphic control extension
  std::vector<int> blocks;
  std::vector<unsigned char> pixels;  // in stream order
  long end_code_bit = -1;
  bool trailer = false;
};

void textbook_decode(const std::vector<unsigned char> &data, GifParts *g) {
  const int clear = 1 << g->code_size;
  int width = g->code_size + 1, next = clear + 2, prev = -1;
  std::vector<int> prefix(4096, -1), suffix(4096, 0);
  for (int i = 0; i < clear; i++) suffix[i] = i;
  for (long bit = 0; bit + width <= 8L * static_cast<long>(data.size());) {
    int code = 0;
    for (int i = 0; i < width; i++, bit++) code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
    if (code == clear + 1) return void(g->end_code_bit = bit - width);
    if (code == clear) {
      width = g->code_size + 1, next = clear + 2, prev = -1;
      continue;
    }
    if (prev >= 0) {
      int first = code < next ? code : prev;
      while (prefix[first] >= 0) first = prefix[first];
      suffix[next] = suffix[first], prefix[next] = prev;
      if (next++ == (1 << width) - 1 && width < 12) width++;
    }
    std::vector<unsigned char> s;
    for (int c = code; c >= 0; c = prefix[c]) s.push_back(static_cast<unsigned char>(suffix[c]));
    g->pixels.insert(g->pixels.end(), s.rbegin(), s.rend());
    prev = code;
  }
}

GifParts dissect(const std::string &bytes) {
  GifParts g;
  g.bytes = bytes;
  auto b = [&bytes](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0; };
  g.packed = b(10);
  g.table_entries = g.packed & 0x80 ? 2 << (g.packed & 7) : 0;
  size_t p = 13 + 3 * g.table_entries;
  if (b(p) == 0x21 && b(p + 1) == 0xF9) g.gce_at = p, p += 8;
  if (b(p) != ',') return g;
  g.image_packed = b(p + 9);
  g.code_size = b(p + 10);
  std::vector<unsigned char> data;
  for (p += 11; p < bytes.size() && b(p) != 0; p += 1 + b(p)) {
    g.blocks.push_back(b(p));
    for (size_t i = p + 1; i <= p + b(p); i++) data.push_back(b(i));
  }
  g.trailer = p + 1 < bytes.size() && b(p) == 0 && b(p + 1) == ';';
  return textbook_decode(data, &g), g;
}

// A GIF with a 4-entry table and one w x h image whose codes of size 2 are
// the bytes of one sub-block.
std::string gif_with_codes(int w, int h, const std::string &codes) {
  const std::string size{static_cast<char>(w), static_cast<char>(w >> 8), static_cast<char>(h),
                         static_cast<char>(h >> 8)};
  return "GIF89a" + size + std::string("\x81\0\0", 3) + std::string(6, '\0') + std::string(6, '\xFF') +
         std::string(",\0\0\0\0", 5) + size + std::string("\0\x02", 2) + static_cast<char>(codes.size()) + codes +
         std::string("\0;", 2);
}

// A w x h picture whose pixel (x, y) has the level f(x, y).
std::vector<unsigned char> levels_of(int w, int h, const std::function<unsigned(unsigned, unsigned)> &f) {
  std::vector<unsigned char> v(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < v.size(); i++) v[i] = static_cast<unsigned char>(f(i % w, i / w));
  return v;
}

Picture read_gif(const std::string &path) {
  Record img;
  EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 1) << path;
  return img.data != nullptr ? record_picture(img) : Picture{};
}

class GifTest : public ::testing::Test {
 protected:
  void TearDown() override {
    GIF_interlace(0);
    GIF_transparent(0);
  }
  // Writes an indexed picture and returns the colours it should show.
  Picture write_indexed(const std::string &path, int w, int h, const std::vector<unsigned char> &levels, int colors) {
    Record img;
    make_indexed(&img, w, h, levels, colors);
    Picture expected = record_picture(img);
    EXPECT_EQ(GIF_write(path.c_str(), &img), 1);
    return expected;
  }
  TempDir dir_;
};

}  // namespace

TEST_F(GifTest, OurFilesReadBackAndImageMagickDecodesThemPixelForPixel) {
  struct Case {
    const char *name;
    int w, h, colors;
    std::vector<unsigned char> levels;
    bool interlace, transparent;
    std::function<void(const GifParts &)> check;
  };
  const Case cases[] = {
      {"radar", 203, 131, 13, radar_levels(203, 131), false, false,
       [](const GifParts &g) {
         for (size_t i = 0; i + 1 < g.blocks.size(); i++) EXPECT_EQ(g.blocks[i], 254) << "block " << i;
       }},
      // Needs clears of the full code table.
      {"noise", 300, 200, 256,
       levels_of(300, 200,
                 [](unsigned x, unsigned y) { return ((x * 73856093u) ^ (y * 19349663u)) * 2654435761u >> 24; }),
       false, false, [](const GifParts &g) { EXPECT_EQ(g.packed, 0xF7); }},
      {"one colour", 17, 9, 8, std::vector<unsigned char>(17 * 9, 5), false, false,
       [](const GifParts &g) {
         EXPECT_EQ(std::make_pair(g.packed, g.code_size), std::make_pair(0x80, 2)) << "2 entries";
       }},
      // Strings of hundreds of pixels.
      {"long runs", 500, 40, 4,
       levels_of(500, 40, [](unsigned x, unsigned y) { return x == y * 37 % 500 ? 1 + y % 3 : 0; }), false, false,
       nullptr},
      // Row y holds entry y (entries go by first appearance): rows in pass order.
      {"interlaced", 23, 37, 40, levels_of(23, 37, [](unsigned, unsigned y) { return y; }), true, false,
       [](const GifParts &g) {
         EXPECT_EQ(g.image_packed & 0x40, 0x40);
         int k = 0;
         for (int pass : {0, 4, 2, 1})
           for (int y = pass; y < 37; y += pass == 0 ? 8 : 2 * pass) EXPECT_EQ(g.pixels.at(23 * k++), y) << k;
       }},
      // Without a window there is no background pixel, so entry 0 is marked.
      {"transparent", 8, 4, 13, radar_levels(8, 4), false, true,
       [](const GifParts &g) { EXPECT_EQ(g.bytes.substr(g.gce_at, 7), std::string("\x21\xF9\x04\x01\x0A\0\0", 7)); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    GIF_interlace(c.interlace);
    GIF_transparent(c.transparent);
    const std::string path = dir_ / "out.gif";
    Picture expected = write_indexed(path, c.w, c.h, c.levels, c.colors);
    EXPECT_EQ(count_differences(read_gif(path), expected), 0);
    EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
    GifParts g = dissect(read_bytes(path));
    EXPECT_TRUE(g.trailer);
    EXPECT_EQ(g.pixels.size(), static_cast<size_t>(c.w) * c.h);
    if (c.check) c.check(g);
  }
}

TEST_F(GifTest, ThreeHundredValuesKeepTheFirst256AndMapTheRestToEntryZero) {
  Record img;
  img.width = 300, img.height = 2, img.depth = img.bits_per_pixel = 16, img.bytes_per_line = 600;
  img.red_mask = 0xF800, img.green_mask = 0x07E0, img.blue_mask = 0x001F;
  IMG_alloc_pixels(&img);
  auto value = [](int x) { return 1000u + 7 * x; };
  for (int i = 0; i < 600; i++) img.data[2 * i] = value(i % 300) >> 8, img.data[2 * i + 1] = value(i % 300) & 0xFF;
  const std::string path = dir_ / "many.gif";
  ASSERT_EQ(GIF_write(path.c_str(), &img), 1);
  GifParts g = dissect(read_bytes(path));
  EXPECT_EQ(g.packed, 0xF7);
  ASSERT_EQ(g.pixels.size(), 600u);
  for (int x = 0; x < 300; x++) EXPECT_EQ(g.pixels[x], x < 256 ? x : 0) << "column " << x;
  // Entry 255 holds the 256th value, scaled from 5-6-5 bits to 8.
  const unsigned v = value(255);
  const std::string rgb{static_cast<char>((v >> 11) << 3), static_cast<char>(((v >> 5) & 0x3F) << 2),
                        static_cast<char>((v & 0x1F) << 3)};
  EXPECT_EQ(g.bytes.substr(13 + 3 * 255, 3), rgb);
}

TEST_F(GifTest, EndCodeAfterAFullSubBlockGoesIntoAFinalShortBlock) {
  bool hit = false;
  for (int w = 40; w < 3000 && !hit; w++) {
    const std::string path = dir_ / "edge.gif";
    Picture expected = write_indexed(path, w, 12,
                                     levels_of(w, 12,
                                               [w](unsigned x, unsigned y) {
                                                 const size_t i = y * w + x;
                                                 return (i * 7 + i / 3 + (i * i) % 11) % 16;
                                               }),
                                     16);
    GifParts g = dissect(read_bytes(path));
    ASSERT_GE(g.end_code_bit, 0) << "width " << w;
    if (g.end_code_bit / 8 == 0 || g.end_code_bit / 8 % 254 != 0) continue;
    hit = true;
    EXPECT_TRUE(g.trailer && g.blocks.back() > 0 && g.blocks.back() < 254) << g.blocks.back();
    EXPECT_EQ(count_differences(read_gif(path), expected), 0);
    EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
  }
  EXPECT_TRUE(hit) << "no picture put the end code right after a full sub-block";
}

TEST_F(GifTest, CommentLineQueryAndALargerScreenAreRead) {
  const std::string plain = dir_ / "plain.gif", path = dir_ / "commented.gif";
  Picture expected = write_indexed(plain, 31, 7, radar_levels(31, 7), 13);
  std::string bytes = read_bytes(plain);
  bytes[6] = 40, bytes[8] = 9;  // a logical screen of 40 x 9 around the 31 x 7 image
  write_bytes(path, "** radar composite, made at 12Z\n" + bytes);
  Record img;
  ASSERT_EQ(IMG_read(path.c_str(), &img, 1), 1);
  EXPECT_EQ(std::make_tuple(img.width, img.height, img.depth), std::make_tuple(40, 9, 8));
  EXPECT_EQ(img.data, nullptr) << "a query reads no pixels";
  IMG_free(&img);
  ASSERT_EQ(IMG_read(path.c_str(), &img, 0), 1);
  EXPECT_STREQ(img.info, "GIF");
  ASSERT_EQ(img.bytes_per_line, 40);
  Picture got = record_picture(img);
  for (int i = 0; i < 40 * 9; i++) {
    const int x = i % 40, y = i / 40;
    EXPECT_TRUE(x < 31 && y < 7 ? got.at(x, y) == expected.at(x, y) : img.data[i] == 0) << x << "," << y;
  }
}

TEST_F(GifTest, ImageMagickFilesAndALocalColourTableReadAsTheyShow) {
  Picture source{61, 43, {}};
  for (unsigned char v : radar_levels(61, 43, 3)) source.pixels.push_back(palette_color(v * 9));
  const std::string ppm = dir_ / "src.ppm", inter = dir_ / "im_inter.gif", ext = dir_ / "im_ext.gif";
  ASSERT_TRUE(write_ppm(ppm, source));
  ASSERT_TRUE(run_magick({ppm, "-interlace", "GIF", inter}));
  EXPECT_EQ(dissect(read_bytes(inter)).image_packed & 0x40, 0x40);
  EXPECT_EQ(count_differences(read_gif(inter), source), 0);
  // Two frames, so that the looping application extension is written too.
  ASSERT_TRUE(run_magick({"-delay", "7", ppm, ppm, "-set", "comment", "radar, composite; 12Z", "-loop", "0", ext}));
  const std::string ext_bytes = read_bytes(ext);
  EXPECT_TRUE(ext_bytes.find("\x21\xFE") != std::string::npos && ext_bytes.find("NETSCAPE") != std::string::npos);
  EXPECT_EQ(count_differences(read_gif(ext), source), 0);
  // Ours with a wrong global table and the true one as local table.
  const std::string ours = dir_ / "ours.gif", local = dir_ / "local.gif";
  Picture expected = write_indexed(ours, 29, 11, radar_levels(29, 11, 5), 16);
  const GifParts g = dissect(read_bytes(ours));
  const size_t table = 3 * g.table_entries;
  std::string rest = g.bytes.substr(13 + table);
  rest[9] = static_cast<char>(0x80 | (g.packed & 7));
  write_bytes(local, g.bytes.substr(0, 13) + std::string(table, '\x7F') + rest.substr(0, 10) +
                         g.bytes.substr(13, table) + rest.substr(10));
  EXPECT_EQ(count_differences(read_gif(local), expected), 0);
  EXPECT_EQ(count_differences(magick_decode(local), expected), 0);
}

TEST_F(GifTest, DamagedFilesFailWithTheirMessagesAndNeverCrash) {
  const std::string path = dir_ / "bad.gif";
  const std::tuple<const char *, std::string, const char *> cases[] = {
      {"none.gif", "", "GIF_read: Unable to open file"},
      {"bad.gif", "", "GIF_read: Not a GIF file"},
      {"bad.gif", "GIX89a and then some", "GIF_read: Not a GIF file"},
      // Refused before any allocation.
      {"bad.gif", gif_with_codes(65535, 65535, "\x4C\x01"), "Unable to allocate data buffer."},
      // Codes: clear, 1, then 7 while the next free code is 6.
      {"bad.gif", gif_with_codes(4, 1, "\xCC\x01"), "GIF_read: Corrupt LZW data"},
  };
  for (const auto &[name, bytes, message] : cases) {
    write_bytes(path, bytes);
    Record img;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(GIF_read((dir_ / name).c_str(), &img, 0), 0) << message;
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(message), std::string::npos) << message;
    EXPECT_TRUE(img.data == nullptr || std::string(message).find("LZW") != std::string::npos) << message;
  }
}
