// The GIF reader and writer against files ImageMagick makes and decodes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "image/gif.h"
#include "image/gif_lzw.h"
#include "image/img_tool.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

// Where the parts of a GIF we wrote lie, and its image data decoded by a
// plain textbook decoder that also notes where the end code starts.
struct GifAnatomy {
  int packed = 0;
  int table_entries = 0;
  bool has_gce = false;
  int transparent_entry = -1;
  int image_packed = 0;
  int code_size = 0;
  std::vector<int> block_sizes;
  std::vector<unsigned char> data;
  std::vector<unsigned char> pixels;  // in stream order
  long end_code_bit = -1;
  bool trailer = false;
};

void reference_decode(GifAnatomy *g) {
  int clear = 1 << g->code_size, end = clear + 1;
  int width = g->code_size + 1, next = clear + 2, prev = -1;
  std::vector<int> prefix(4096, -1), suffix(4096, 0);
  for (int i = 0; i < clear; i++) suffix[i] = i;
  long bit = 0, total = static_cast<long>(g->data.size()) * 8;
  auto first_of = [&](int c) {
    while (prefix[c] >= 0) c = prefix[c];
    return suffix[c];
  };
  auto emit = [&](int c) {
    std::vector<unsigned char> s;
    for (; c >= 0; c = prefix[c]) s.push_back(static_cast<unsigned char>(suffix[c]));
    g->pixels.insert(g->pixels.end(), s.rbegin(), s.rend());
  };
  while (bit + width <= total) {
    int code = 0;
    for (int i = 0; i < width; i++, bit++) code |= ((g->data[bit / 8] >> (bit % 8)) & 1) << i;
    if (code == clear) {
      width = g->code_size + 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (code == end) {
      g->end_code_bit = bit - width;
      return;
    }
    if (prev < 0) {
      emit(code);
      prev = code;
      continue;
    }
    int first = code < next ? first_of(code) : first_of(prev);
    prefix[next] = prev;
    suffix[next] = first;
    emit(code < next ? code : next);
    if (next == (1 << width) - 1 && width < 12) width++;
    next++;
    prev = code;
  }
}

GifAnatomy dissect(const std::string &bytes) {
  GifAnatomy g;
  const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
  size_t p = 13;
  g.packed = b[10];
  if (g.packed & 0x80) g.table_entries = 1 << ((g.packed & 7) + 1);
  p += 3 * g.table_entries;
  if (b[p] == 0x21 && b[p + 1] == 0xF9) {
    g.has_gce = true;
    g.transparent_entry = b[p + 6];
    p += 8;
  }
  if (b[p] != ',') return g;
  g.image_packed = b[p + 9];
  g.code_size = b[p + 10];
  p += 11;
  while (p < bytes.size() && b[p] != 0) {
    g.block_sizes.push_back(b[p]);
    g.data.insert(g.data.end(), b + p + 1, b + p + 1 + b[p]);
    p += 1 + b[p];
  }
  g.trailer = p + 1 < bytes.size() && b[p] == 0 && b[p + 1] == ';';
  reference_decode(&g);
  return g;
}

class GifTest : public ::testing::Test {
 protected:
  void TearDown() override {
    GIF_interlace(0);
    GIF_transparent(0);
  }
  TempDir dir_;
};

// Writes an indexed picture and returns the colours it should show.
Picture write_indexed(const std::string &path, int w, int h, const std::vector<unsigned char> &levels, int colors) {
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, w, h, levels, colors);
  Picture expected = record_picture(img);
  EXPECT_EQ(GIF_write(path.c_str(), &img), 1);
  return expected;
}

Picture read_gif(const std::string &path) {
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 1);
  return img.data != nullptr ? record_picture(img) : Picture{};
}

bool has(const std::string &text, const char *part) {
  bool found = text.find(part) != std::string::npos;
  if (!found) ADD_FAILURE() << "\"" << part << "\" not in: " << text;
  return found;
}

template <size_t N>
std::string bytes_of(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string stderr_of(const std::function<void()> &action) {
  ::testing::internal::CaptureStderr();
  action();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace

TEST_F(GifTest, RadarPictureSurvivesOurRoundTripAndImageMagick) {
  std::string path = dir_ / "radar.gif";
  Picture expected = write_indexed(path, 203, 131, radar_levels(203, 131), 13);
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
  GifAnatomy g = dissect(read_bytes(path));
  EXPECT_TRUE(g.trailer);
  for (size_t i = 0; i + 1 < g.block_sizes.size(); i++) EXPECT_EQ(g.block_sizes[i], 254) << "block " << i;
}

TEST_F(GifTest, NoisyPictureNeedsTableClearsAndStillDecodes) {
  std::string path = dir_ / "noise.gif";
  std::vector<unsigned char> noise(300 * 200);
  unsigned s = 7;
  for (auto &v : noise) v = static_cast<unsigned char>((s = s * 1664525u + 1013904223u) >> 24);
  Picture expected = write_indexed(path, 300, 200, noise, 256);
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
}

TEST_F(GifTest, OneColourImageGetsTwoEntryTableAndCodeSizeTwo) {
  std::string path = dir_ / "one.gif";
  Picture expected = write_indexed(path, 17, 9, std::vector<unsigned char>(17 * 9, 5), 8);
  GifAnatomy g = dissect(read_bytes(path));
  EXPECT_EQ(g.packed, 0x80);
  EXPECT_EQ(g.table_entries, 2);
  EXPECT_EQ(g.code_size, 2);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
}

TEST_F(GifTest, ThreeHundredValuesKeepTheFirst256AndMapTheRestToEntryZero) {
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  img.width = 300;
  img.height = 2;
  img.depth = 16;
  img.bits_per_pixel = 16;
  img.bytes_per_line = 600;
  img.red_mask = 0xF800;
  img.green_mask = 0x07E0;
  img.blue_mask = 0x001F;
  IMG_alloc_pixels(&img);
  for (int y = 0; y < 2; y++) {
    for (int x = 0; x < 300; x++) {
      unsigned v = 1000 + 7 * x;
      img.data[y * 600 + 2 * x] = static_cast<unsigned char>(v >> 8);
      img.data[y * 600 + 2 * x + 1] = static_cast<unsigned char>(v);
    }
  }
  std::string path = dir_ / "many.gif";
  ASSERT_EQ(GIF_write(path.c_str(), &img), 1);

  std::string bytes = read_bytes(path);
  GifAnatomy g = dissect(bytes);
  EXPECT_EQ(g.packed, 0xF7);
  ASSERT_EQ(g.pixels.size(), 600u);
  for (int x = 0; x < 300; x++) EXPECT_EQ(g.pixels[x], x < 256 ? x : 0) << "column " << x;
  // Entry 255 holds the 256th value, scaled from 5-6-5 bits to 8.
  unsigned v = 1000 + 7 * 255;
  const unsigned char *rgb = reinterpret_cast<const unsigned char *>(bytes.data()) + 13 + 3 * 255;
  EXPECT_EQ(rgb[0], ((v >> 11) & 0x1F) << 3);
  EXPECT_EQ(rgb[1], ((v >> 5) & 0x3F) << 2);
  EXPECT_EQ(rgb[2], (v & 0x1F) << 3);
}

TEST_F(GifTest, InterlacedOutputStoresRowsInPassOrderAndReadsBackNaturally) {
  GIF_interlace(1);
  std::string path = dir_ / "inter.gif";
  std::vector<unsigned char> rows(23 * 37);
  for (int y = 0; y < 37; y++) std::fill(rows.begin() + y * 23, rows.begin() + (y + 1) * 23, y);
  Picture expected = write_indexed(path, 23, 37, rows, 40);

  GifAnatomy g = dissect(read_bytes(path));
  EXPECT_EQ(g.image_packed & 0x40, 0x40);
  std::vector<int> order = LZW_row_order(37, true);
  ASSERT_EQ(order.size(), 37u);
  EXPECT_EQ(std::vector<int>(order.begin(), order.begin() + 6), (std::vector<int>{0, 8, 16, 24, 32, 4}));
  ASSERT_EQ(g.pixels.size(), 23u * 37u);
  // Row y holds entry y (entries go by first appearance in the picture).
  for (int k = 0; k < 37; k++) EXPECT_EQ(g.pixels[k * 23], order[k]) << "stored row " << k;
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
}

TEST_F(GifTest, EndCodeAfterAFullSubBlockGoesIntoAFinalShortBlock) {
  bool hit = false;
  for (int w = 40; w < 3000 && !hit; w++) {
    std::vector<unsigned char> levels(static_cast<size_t>(w) * 12);
    for (size_t i = 0; i < levels.size(); i++) levels[i] = static_cast<unsigned char>((i * 7 + i / 3 + (i * i) % 11) % 16);
    std::string path = dir_ / "edge.gif";
    Picture expected = write_indexed(path, w, 12, levels, 16);
    GifAnatomy g = dissect(read_bytes(path));
    ASSERT_GE(g.end_code_bit, 0) << "width " << w;
    long bytes_before = g.end_code_bit / 8;
    if (bytes_before == 0 || bytes_before % 254 != 0) continue;
    hit = true;
    EXPECT_TRUE(g.trailer);
    EXPECT_GT(g.block_sizes.back(), 0);
    EXPECT_LT(g.block_sizes.back(), 254);
    EXPECT_EQ(count_differences(read_gif(path), expected), 0);
    EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
  }
  EXPECT_TRUE(hit) << "no picture put the end code right after a full sub-block";
}

TEST_F(GifTest, TransparentOutputWritesAGraphicControlExtension) {
  // Without a window there is no background pixel, so entry 0 is marked.
  GIF_transparent(1);
  std::string path = dir_ / "trans.gif";
  Picture expected = write_indexed(path, 8, 4, radar_levels(8, 4), 13);
  std::string bytes = read_bytes(path);
  GifAnatomy g = dissect(bytes);
  ASSERT_TRUE(g.has_gce);
  size_t gce = 13 + 3 * g.table_entries;
  EXPECT_EQ(bytes.substr(gce, 6), std::string("\x21\xF9\x04\x01\x0A\x00", 6));
  EXPECT_EQ(g.transparent_entry, 0);
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
}

TEST_F(GifTest, CommentLineBeforeTheSignatureIsSkipped) {
  std::string plain = dir_ / "plain.gif";
  Picture expected = write_indexed(plain, 31, 7, radar_levels(31, 7), 13);
  std::string path = dir_ / "commented.gif";
  write_bytes(path, "** radar composite, made at 12Z\n" + read_bytes(plain));
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
  ImageRecord img;
  RecordGuard guard{&img};
  ASSERT_EQ(IMG_read(path.c_str(), &img, 0), 1);
  EXPECT_STREQ(img.info, "GIF");
  EXPECT_EQ(count_differences(record_picture(img), expected), 0);
}

TEST_F(GifTest, QueryGivesTheScreenSizeWithoutPixels) {
  std::string path = dir_ / "q.gif";
  write_indexed(path, 45, 19, radar_levels(45, 19), 13);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  ASSERT_EQ(GIF_read(path.c_str(), &img, 1), 1);
  EXPECT_EQ(img.width, 45);
  EXPECT_EQ(img.height, 19);
  EXPECT_EQ(img.depth, 8);
  EXPECT_EQ(img.data, nullptr);
  EXPECT_STREQ(img.info, "GIF");
}

TEST_F(GifTest, ImageMagickInterlacedAndExtendedFilesReadAsItDecodesThem) {
  Picture source;
  source.width = 61;
  source.height = 43;
  std::vector<unsigned char> levels = radar_levels(61, 43, 3);
  for (unsigned char v : levels) source.pixels.push_back(palette_color(v * 9));
  std::string ppm = dir_ / "src.ppm";
  ASSERT_TRUE(write_ppm(ppm, source));

  std::string inter = dir_ / "im_inter.gif";
  ASSERT_TRUE(run_magick({ppm, "-interlace", "GIF", inter}));
  EXPECT_EQ(dissect(read_bytes(inter)).image_packed & 0x40, 0x40);
  EXPECT_EQ(count_differences(read_gif(inter), magick_decode(inter)), 0);
  EXPECT_EQ(count_differences(read_gif(inter), source), 0);

  std::string ext = dir_ / "im_ext.gif";
  // Two frames, so that the looping application extension is written too.
  ASSERT_TRUE(run_magick({"-delay", "7", ppm, ppm, "-set", "comment", "radar, composite; 12Z", "-loop", "0", ext}));
  std::string bytes = read_bytes(ext);
  EXPECT_NE(bytes.find("\x21\xFE"), std::string::npos);
  EXPECT_NE(bytes.find("NETSCAPE"), std::string::npos);
  EXPECT_EQ(count_differences(read_gif(ext), source), 0);
}

TEST_F(GifTest, LocalColourTableReplacesTheGlobalOne) {
  std::string ours = dir_ / "ours.gif";
  Picture expected = write_indexed(ours, 29, 11, radar_levels(29, 11, 5), 16);
  std::string bytes = read_bytes(ours);
  GifAnatomy g = dissect(bytes);
  size_t table_bytes = 3 * g.table_entries;
  std::string table = bytes.substr(13, table_bytes);
  // Same picture with a wrong global table and the true one as local table.
  std::string patched = bytes.substr(0, 13) + std::string(table_bytes, '\x7F');
  std::string rest = bytes.substr(13 + table_bytes);
  rest[9] = static_cast<char>(0x80 | (g.packed & 7));
  patched += rest.substr(0, 10) + table + rest.substr(10);
  std::string path = dir_ / "local.gif";
  write_bytes(path, patched);
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
}

TEST_F(GifTest, SmallImageOnALargerScreenLandsTopLeftOverZeros) {
  std::string path = dir_ / "small.gif";
  std::vector<unsigned char> levels(15, 2);
  levels[0] = 3;  // entries: 3 becomes 0, 2 becomes 1
  write_indexed(path, 5, 3, levels, 4);
  std::string bytes = read_bytes(path);
  bytes[6] = 9;  // screen 9 x 7
  bytes[8] = 7;
  write_bytes(path, bytes);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  ASSERT_EQ(GIF_read(path.c_str(), &img, 0), 1);
  ASSERT_EQ(img.width, 9);
  ASSERT_EQ(img.height, 7);
  ASSERT_EQ(img.bytes_per_line, 9);
  for (int y = 0; y < 7; y++) {
    for (int x = 0; x < 9; x++) {
      int expected = (x < 5 && y < 3) ? (x == 0 && y == 0 ? 0 : 1) : 0;
      EXPECT_EQ(img.data[y * 9 + x], expected) << x << "," << y;
    }
  }
}

TEST_F(GifTest, DamagedFilesFailWithMessagesAndNeverCrash) {
  std::string path = dir_ / "bad.gif";
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};

  write_bytes(path, "");
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 0); }), "GIF_read: Not a GIF file"));
  write_bytes(path, "GIX89a and then some");
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 0); }), "GIF_read: Not a GIF file"));
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(GIF_read((dir_ / "none.gif").c_str(), &img, 0), 0); }),
                  "GIF_read: Unable to open file"));

  // Screen and image of 65535 x 65535: refused before any allocation.
  std::string huge = bytes_of("GIF89a\xFF\xFF\xFF\xFF\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF,\0\0\0\0\xFF\xFF\xFF\xFF\x00\x02\x02\x4C\x01\x00;");
  write_bytes(path, huge);
  IMG_free(&img);
  std::string said = stderr_of([&] { EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 0); });
  EXPECT_TRUE(has(said, "Unable to allocate data buffer."));
  EXPECT_TRUE(has(said, "65535"));
  EXPECT_EQ(img.data, nullptr);

  // Code size 2, codes: clear, 1, then 7 while the next free code is 6.
  std::string corrupt = bytes_of(
      "GIF89a\x04\x00\x01\x00\x81\x00\x00\0\0\0\xFF\xFF\xFF\0\0\0\xFF\xFF\xFF,\0\0\0\0\x04\x00\x01\x00\x00\x02\x02\xCC\x01\x00;");
  write_bytes(path, corrupt);
  IMG_free(&img);
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 0); }), "GIF_read: Corrupt LZW data"));

  // Every prefix of a good file: a result, never a crash.
  std::string good_path = dir_ / "good.gif";
  write_indexed(good_path, 40, 30, radar_levels(40, 30), 13);
  std::string good = read_bytes(good_path);
  for (size_t n = 0; n < good.size(); n++) {
    write_bytes(path, good.substr(0, n));
    IMG_free(&img);
    stderr_of([&] { GIF_read(path.c_str(), &img, 0); });
  }
}

TEST_F(GifTest, CodesPastAFullTableWithoutClearFailTheRead) {
  // Code size 2: clear, then root codes only until the table is full and one more.
  std::vector<unsigned char> data;
  unsigned long long acc = 0;
  int bits = 0;
  auto put = [&](int code, int width) {
    acc |= static_cast<unsigned long long>(code) << bits;
    bits += width;
    while (bits >= 8) {
      data.push_back(static_cast<unsigned char>(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  int width = 3, next = 6;
  put(4, width);
  put(1, width);
  while (next <= 4096) {
    put(1, width);
    if (next < 4096 && next == (1 << width) - 1 && width < 12) width++;
    next++;
  }
  put(1, width);
  if (bits > 0) data.push_back(static_cast<unsigned char>(acc));
  std::string file =
      bytes_of("GIF89a\x64\x00\x64\x00\x81\x00\x00\0\0\0\xFF\xFF\xFF\0\0\0\xFF\xFF\xFF,\0\0\0\0\x64\x00\x64\x00\x00\x02");
  for (size_t i = 0; i < data.size(); i += 255) {
    size_t n = std::min<size_t>(255, data.size() - i);
    file += static_cast<char>(n);
    file.append(reinterpret_cast<const char *>(data.data()) + i, n);
  }
  file += std::string("\0;", 2);
  std::string path = dir_ / "full.gif";
  write_bytes(path, file);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(GIF_read(path.c_str(), &img, 0), 0); }), "GIF_read: LZW table overflow"));
}

TEST_F(GifTest, IgnoredStreamMarkingsDoNotChangeTheDecodedPixels) {
  // The decoder's string copies against the textbook decoder on a picture
  // with long runs, where strings grow to hundreds of pixels.
  std::string path = dir_ / "runs.gif";
  std::vector<unsigned char> levels(500 * 40, 0);
  for (int y = 0; y < 40; y++) levels[y * 500 + (y * 37) % 500] = static_cast<unsigned char>(1 + y % 3);
  Picture expected = write_indexed(path, 500, 40, levels, 4);
  GifAnatomy g = dissect(read_bytes(path));
  std::vector<unsigned char> ours(500 * 40);
  LzwResult r = LZW_decode(g.data.data(), g.data.size(), g.code_size, ours.data(), ours.size());
  EXPECT_TRUE(r == LzwResult::kEndCode || r == LzwResult::kFull);
  EXPECT_EQ(ours, g.pixels);
  EXPECT_EQ(count_differences(read_gif(path), expected), 0);
}
