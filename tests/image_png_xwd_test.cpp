// PNG and XWD files: ours checked by ImageMagick, ImageMagick's read by
// ours, and the damaged ones refused cleanly.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/img_tool.h"
#include "image/png.h"
#include "image/xdump.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

std::string stderr_of(const std::function<void()> &action) {
  ::testing::internal::CaptureStderr();
  action();
  return ::testing::internal::GetCapturedStderr();
}

bool has(const std::string &text, const std::string &part) {
  bool found = text.find(part) != std::string::npos;
  if (!found) ADD_FAILURE() << "\"" << part << "\" not in: " << text;
  return found;
}

uint32_t be32(const std::string &b, size_t at) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data()) + at;
  return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void put_be32(std::string *b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*b)[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// Chunk type -> data, in file order.
std::vector<std::pair<std::string, std::string>> png_chunks(const std::string &file) {
  std::vector<std::pair<std::string, std::string>> chunks;
  for (size_t p = 8; p + 12 <= file.size();) {
    uint32_t n = be32(file, p);
    chunks.emplace_back(file.substr(p + 4, 4), file.substr(p + 8, n));
    p += 12 + n;
  }
  return chunks;
}

std::string png_chunk(const std::string &type, const std::string &data) {
  std::string c(4, '\0');
  put_be32(&c, 0, static_cast<uint32_t>(data.size()));
  c += type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type.data()), 4);
  crc = crc32(crc, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size()));
  std::string tail(4, '\0');
  put_be32(&tail, 0, static_cast<uint32_t>(crc));
  return c + tail;
}

// A picture of distinct colours in blocks, so that shifts and channel swaps show.
Picture test_picture(int w, int h) {
  Picture p;
  p.width = w;
  p.height = h;
  std::vector<unsigned char> levels = radar_levels(w, h, 7);
  for (int i = 0; i < w * h; i++) p.pixels.push_back(palette_color((levels[i] * 11 + (i % w) / 2) & 0xFF));
  return p;
}

class PngXwdTest : public ::testing::Test {
 protected:
  // A file made by ImageMagick from the test picture with the given options.
  std::string magick_file(const std::string &name, const std::vector<std::string> &options, const Picture &p) {
    std::string ppm = dir_ / (name + ".ppm");
    EXPECT_TRUE(write_ppm(ppm, p));
    std::vector<std::string> args{ppm};
    args.insert(args.end(), options.begin(), options.end() - 1);
    std::string out = dir_ / options.back();
    args.push_back(out);
    EXPECT_TRUE(run_magick(args));
    return out;
  }
  TempDir dir_;
};

}  // namespace

TEST_F(PngXwdTest, PalettePngFromImageMagickReadsAsColourMapped) {
  Picture source = test_picture(57, 33);
  std::string path = magick_file("pal", {"-define", "png:color-type=3", "-define", "png:bit-depth=8", "PNG8:pal.png"}, source);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  ASSERT_EQ(PNG_read(path.c_str(), &img, 0), 1);
  EXPECT_STREQ(img.info, "PNG");
  EXPECT_EQ(img.depth, 8);
  EXPECT_EQ(img.bits_per_pixel, 8);
  EXPECT_EQ(img.color_type, 1);
  std::string plte;
  for (auto &c : png_chunks(read_bytes(path))) {
    if (c.first == "PLTE") plte = c.second;
  }
  EXPECT_EQ(img.num_colors, static_cast<int>(plte.size() / 3));
  EXPECT_EQ(count_differences(record_picture(img), source), 0);
}

TEST_F(PngXwdTest, RgbAndRgbaPngsReadAsTrueColourWithTheirLayouts) {
  Picture source = test_picture(41, 29);
  std::string rgb = magick_file("rgb", {"-define", "png:color-type=2", "-define", "png:bit-depth=8", "PNG24:rgb.png"}, source);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  ASSERT_EQ(PNG_read(rgb.c_str(), &img, 0), 1);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(img.bits_per_pixel, 24);
  EXPECT_EQ(img.color_type, 0);
  EXPECT_EQ(img.red_mask, 0xFF0000u);
  EXPECT_EQ(img.blue_mask, 0x0000FFu);
  EXPECT_EQ(count_differences(record_picture(img), source), 0);

  std::string rgba = magick_file("rgba", {"-alpha", "set", "-channel", "A", "-evaluate", "set", "40%", "+channel", "-define", "png:color-type=6", "-define", "png:bit-depth=8", "PNG32:rgba.png"}, source);
  IMG_free(&img);
  ASSERT_EQ(PNG_read(rgba.c_str(), &img, 0), 1);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(img.bits_per_pixel, 32);
  EXPECT_EQ(img.bytes_per_line, 4 * 41);
  // Alpha is gone: each pixel reads R, R, G, B.
  Rgb first = source.at(0, 0);
  EXPECT_EQ(img.data[0], first.r);
  EXPECT_EQ(img.data[1], first.r);
  EXPECT_EQ(img.data[2], first.g);
  EXPECT_EQ(img.data[3], first.b);
  EXPECT_EQ(count_differences(record_picture(img), source), 0);
}

TEST_F(PngXwdTest, InterlacedPngIsAssembledByRows) {
  Picture source = test_picture(37, 23);
  std::string path = magick_file("inter", {"-interlace", "PNG", "-define", "png:color-type=2", "PNG24:inter.png"}, source);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  ASSERT_EQ(PNG_read(path.c_str(), &img, 0), 1);
  EXPECT_EQ(count_differences(record_picture(img), source), 0);
}

TEST_F(PngXwdTest, PngQueryGivesHeaderFieldsOnly) {
  std::string path = magick_file("q", {"-define", "png:color-type=2", "PNG24:q.png"}, test_picture(21, 13));
  ImageRecord img;
  RecordGuard guard{&img};
  ASSERT_EQ(IMG_read(path.c_str(), &img, 1), 1);
  EXPECT_EQ(img.width, 21);
  EXPECT_EQ(img.height, 13);
  EXPECT_EQ(img.bytes_per_line, 63);
  EXPECT_EQ(img.data, nullptr);
}

TEST_F(PngXwdTest, WrittenPngHasFullPaletteTextChunksAndDecodesAlike) {
  // A true-colour record of three colours still gets a PLTE of 256 entries.
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  img.width = 10;
  img.height = 6;
  img.depth = 24;
  img.bits_per_pixel = 32;
  img.bytes_per_line = 40;
  img.byte_order = 0;
  img.red_mask = 0xFF0000;
  img.green_mask = 0x00FF00;
  img.blue_mask = 0x0000FF;
  IMG_alloc_pixels(&img);
  const uint32_t colours[3] = {0x102030, 0xFF8000, 0x00C0FF};
  for (int i = 0; i < 60; i++) {
    uint32_t v = colours[(i / 7) % 3];
    std::memcpy(img.data + 4 * i, &v, 4);  // little-endian host, byte order 0
  }
  Picture expected = record_picture(img);
  std::string path = dir_ / "out.png";
  ASSERT_EQ(PNG_write(path.c_str(), &img), 1);
  EXPECT_EQ(count_differences(record_picture(img), expected), 0) << "the record must not change";

  auto chunks = png_chunks(read_bytes(path));
  std::vector<std::string> order;
  std::string plte, ihdr;
  std::vector<std::string> texts;
  for (auto &c : chunks) {
    order.push_back(c.first);
    if (c.first == "PLTE") plte = c.second;
    if (c.first == "IHDR") ihdr = c.second;
    if (c.first == "tEXt") texts.push_back(c.second);
  }
  EXPECT_EQ(plte.size(), 768u);
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(ihdr[8], 8);  // bit depth
  EXPECT_EQ(ihdr[9], 3);  // palette
  EXPECT_EQ(ihdr[12], 0);  // not interlaced
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].substr(0, 6), std::string("Title\0", 6));
  EXPECT_EQ(texts[1], std::string("Software\0ZYB - Ombrolux v5.0", 28));
  EXPECT_EQ(texts[2].substr(0, 14), std::string("Creation Time\0", 14));
  int day, year, h, m, s;
  char month[4];
  EXPECT_EQ(std::sscanf(texts[2].c_str() + 14, "%d %3s %d %d:%d:%d GMT", &day, month, &year, &h, &m, &s), 6)
      << texts[2].substr(14);
  EXPECT_EQ(count_differences(magick_decode(path), expected), 0);
}

TEST_F(PngXwdTest, DamagedPngsFailWithoutCrashing) {
  std::string good_path = magick_file("g", {"PNG24:g.png"}, test_picture(30, 20));
  std::string good = read_bytes(good_path);
  std::string path = dir_ / "bad.png";
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  for (size_t n : {size_t{0}, size_t{4}, size_t{8}, size_t{20}, size_t{40}, good.size() / 2, good.size() - 13}) {
    write_bytes(path, good.substr(0, n));
    stderr_of([&] { EXPECT_EQ(PNG_read(path.c_str(), &img, 0), 0) << "cut at " << n; });
    IMG_free(&img);
  }
  // A header promising 65535 x 65535 RGBA pixels: refused, nothing large allocated.
  std::string ihdr(13, '\0');
  put_be32(&ihdr, 0, 65535);
  put_be32(&ihdr, 4, 65535);
  ihdr[8] = 8;
  ihdr[9] = 6;
  std::string huge = good.substr(0, 8) + png_chunk("IHDR", ihdr) + png_chunk("IDAT", std::string("\x78\x9C\x03\x00\x00\x00\x00\x01", 8)) +
                     png_chunk("IEND", "");
  write_bytes(path, huge);
  std::string said = stderr_of([&] { EXPECT_EQ(PNG_read(path.c_str(), &img, 0), 0); });
  EXPECT_TRUE(has(said, "Unable to allocate data buffer."));
  EXPECT_EQ(img.data, nullptr);
}

// ---- XWD ---------------------------------------------------------------------

TEST_F(PngXwdTest, ColourMappedXwdRoundTripKeepsColourMapAndPixels) {
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, 33, 17, radar_levels(33, 17), 40);
  IMG_set_info(&img, "radar loop");
  std::string path = dir_ / "map.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &img), 1);
  std::string bytes = read_bytes(path);
  EXPECT_EQ(be32(bytes, 0), 100u + 11u);
  EXPECT_EQ(be32(bytes, 13 * 4), 3u);  // pseudo colour
  EXPECT_EQ(bytes.size(), 111u + 40u * 16u + 33u * 17u);

  ImageRecord back;
  IMG_init(&back);
  RecordGuard back_guard{&back};
  back.depth = 8;
  ASSERT_EQ(XWD_read(path.c_str(), &back, 0), 1);
  EXPECT_STREQ(back.info, "radar loop");
  EXPECT_EQ(back.color_type, 1);
  ASSERT_EQ(back.num_colors, 40);
  for (int i = 0; i < 40; i++) {
    EXPECT_NEAR(back.colors[i].red, img.colors[i].red, 1.0 / 65535) << i;
    EXPECT_NEAR(back.colors[i].green, img.colors[i].green, 1.0 / 65535) << i;
    EXPECT_NEAR(back.colors[i].blue, img.colors[i].blue, 1.0 / 65535) << i;
  }
  EXPECT_EQ(std::memcmp(back.data, img.data, 33 * 17), 0);
}

TEST_F(PngXwdTest, TrueColourXwdIsDecodedByImageMagickAndReadBack) {
  Picture source = test_picture(23, 19);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  img.width = 23;
  img.height = 19;
  img.depth = 24;
  img.bits_per_pixel = 32;
  img.bytes_per_line = 23 * 4;
  img.byte_order = 1;
  img.red_mask = 0xFF0000;
  img.green_mask = 0x00FF00;
  img.blue_mask = 0x0000FF;
  IMG_alloc_pixels(&img);
  for (int i = 0; i < 23 * 19; i++) {
    img.data[4 * i + 1] = source.pixels[i].r;
    img.data[4 * i + 2] = source.pixels[i].g;
    img.data[4 * i + 3] = source.pixels[i].b;
  }
  std::string path = dir_ / "true.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &img), 1);
  EXPECT_EQ(count_differences(magick_decode(path), source), 0);

  ImageRecord back;
  IMG_init(&back);
  RecordGuard back_guard{&back};
  back.depth = 24;
  ASSERT_EQ(XWD_read(path.c_str(), &back, 0), 1);
  EXPECT_EQ(back.color_type, 0);
  EXPECT_EQ(count_differences(record_picture(back), source), 0);
}

TEST_F(PngXwdTest, ImageMagickXwdReadsThroughTheDispatcher) {
  Picture source = test_picture(19, 11);
  std::string path = magick_file("im", {"-type", "TrueColor", "im.xwd"}, source);
  ImageRecord img;
  RecordGuard guard{&img};
  // Without a window a query may read pictures of any depth.
  ASSERT_EQ(IMG_read(path.c_str(), &img, 1), 1);
  EXPECT_EQ(img.depth, 24);
  EXPECT_EQ(count_differences(record_picture(img), source), 0);
}

TEST_F(PngXwdTest, XwdDeeperThanTheWindowIsRefused) {
  Picture source = test_picture(9, 5);
  std::string path = magick_file("deep", {"-type", "TrueColor", "deep.xwd"}, source);
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  img.depth = 8;
  std::string said = stderr_of([&] { EXPECT_EQ(XWD_read(path.c_str(), &img, 0), 0); });
  EXPECT_TRUE(has(said, "Incorrect depth: 24 > 8"));
}

TEST_F(PngXwdTest, LongWindowNameKeepsItsFirst75Characters) {
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, 4, 3, std::vector<unsigned char>(12, 1), 2);
  std::string path = dir_ / "name.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &img), 1);
  // Replace the name by one of 200 characters.
  std::string bytes = read_bytes(path);
  std::string name;
  for (int i = 0; i < 200; i++) name += static_cast<char>('a' + i % 26);
  std::string patched = bytes.substr(0, 100) + name + std::string(1, '\0') + bytes.substr(101);
  put_be32(&patched, 0, 301);
  write_bytes(path, patched);
  ImageRecord back;
  IMG_init(&back);
  RecordGuard back_guard{&back};
  back.depth = 8;
  ASSERT_EQ(XWD_read(path.c_str(), &back, 0), 1);
  EXPECT_EQ(std::string(back.info), name.substr(0, 75));
  EXPECT_EQ(back.data[0], 1);
}

TEST_F(PngXwdTest, DamagedXwdHeadersGetTheirMessages) {
  ImageRecord img;
  RecordGuard guard{&img};
  make_indexed(&img, 6, 4, std::vector<unsigned char>(24, 1), 2);
  std::string good_path = dir_ / "good.xwd";
  ASSERT_EQ(XWD_write(good_path.c_str(), &img), 1);
  std::string good = read_bytes(good_path);
  std::string path = dir_ / "bad.xwd";

  struct Case {
    const char *what;
    std::function<std::string()> make;
    const char *message;
  };
  auto with_field = [&good](int field, uint32_t v) {
    std::string b = good;
    put_be32(&b, 4 * field, v);
    return b;
  };
  const Case cases[] = {
      {"empty", [] { return std::string(); }, "Unable to read dump file header"},
      {"short header", [&] { return good.substr(0, 60); }, "Unable to read dump file header"},
      {"version", [&] { return with_field(1, 6); }, "XWD file format version mismatch"},
      {"header size", [&] { return with_field(0, 99); }, "XWD header size is too small."},
      {"name cut", [&] { return with_field(0, 100000); }, "Unable to read window name from dump file."},
      {"colours cut", [&] { return good.substr(0, 101 + 16); }, "Unable to read color map from dump file."},
      {"pixels cut", [&] { return good.substr(0, good.size() - 3); }, "Unable to read pixmap from dump file."},
      {"huge size", [&] { return with_field(4, 0xFFFFFFFFu); }, "Invalid image size"},
      {"rows too short", [&] { return with_field(12, 2); }, "Invalid pixel format"},
      {"size overflow", [&] {
         std::string b = with_field(4, 65535);
         put_be32(&b, 5 * 4, 65535);
         put_be32(&b, 12 * 4, 0x7FFFFFF0u);
         return b;
       }, "Invalid pixel format"},
      {"too large", [&] {
         std::string b = with_field(4, 65535);
         put_be32(&b, 5 * 4, 65535);
         put_be32(&b, 12 * 4, 65535);
         return b;
       }, "Unable to allocate data buffer."},
      {"too many colours", [&] { return with_field(19, 0x40000000u); }, "Too many colors"},
  };
  for (const Case &c : cases) {
    write_bytes(path, c.make());
    ImageRecord back;
    IMG_init(&back);
    back.depth = 8;
    std::string said = stderr_of([&] { EXPECT_EQ(XWD_read(path.c_str(), &back, 0), 0) << c.what; });
    EXPECT_TRUE(has(said, c.message)) << c.what;
    IMG_free(&back);
  }
  ImageRecord back;
  IMG_init(&back);
  RecordGuard back_guard{&back};
  EXPECT_TRUE(has(stderr_of([&] { XWD_read((dir_ / "missing.xwd").c_str(), &back, 0); }), "Unable to open dump file"));
}

TEST_F(PngXwdTest, DispatcherNamesFilesItCannotOpenOrRead) {
  ImageRecord img;
  IMG_init(&img);
  RecordGuard guard{&img};
  std::string missing = dir_ / "nothing.gif";
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(IMG_read(missing.c_str(), &img, 0), 0); }),
                  "IMG_read: Unable to open image file: " + missing));
  std::string native = dir_ / "map.zyb";
  write_bytes(native, "ZYBIMG\n12Z 05 MAR 24\nradar\n4 2\n01234567");
  EXPECT_TRUE(has(stderr_of([&] { EXPECT_EQ(IMG_read(native.c_str(), &img, 0), 0); }), native));
  EXPECT_EQ(img.data, nullptr);
}
