// PNG and XWD files: ours checked by ImageMagick, ImageMagick's read by
// ours, and damaged ones refused cleanly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
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

uint32_t be32(const std::string &b, size_t at) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(b.data()) + at;
  return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void put_be32(std::string *b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*b)[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// The data of every chunk of a type, in file order.
std::vector<std::string> png_chunks(const std::string &file, const std::string &type) {
  std::vector<std::string> found;
  for (size_t p = 8; p + 12 <= file.size(); p += 12 + be32(file, p))
    if (file.compare(p + 4, 4, type) == 0) found.push_back(file.substr(p + 8, be32(file, p)));
  return found;
}

// Distinct colours in blocks, so that shifts and channel swaps show.
Picture test_picture(int w, int h, int colours = 256) {
  Picture p{w, h, {}};
  std::vector<unsigned char> levels = radar_levels(w, h, 7);
  for (int i = 0; i < w * h; i++) p.pixels.push_back(palette_color((levels[i] * 11 + (i % w) / 2) % colours));
  return p;
}

class PngXwdTest : public ::testing::Test {
 protected:
  // A file made by ImageMagick from the picture, written as format:name.
  std::string magick_file(const std::string &format, const std::string &name, std::vector<std::string> options,
                          const Picture &p) {
    const std::string ppm = dir_ / "source.ppm", out = dir_ / name;
    EXPECT_TRUE(write_ppm(ppm, p));
    options.insert(options.begin(), ppm);
    options.push_back(format + ":" + out);
    EXPECT_TRUE(run_magick(options));
    return out;
  }
  TempDir dir_;
};

}  // namespace

TEST_F(PngXwdTest, ImageMagickPngsReadWithTheirLayouts) {
  struct Case {
    const char *format;
    std::vector<std::string> options;
    int depth, bits_per_pixel, color_type;
  };
  const Case cases[] = {
      {"PNG8", {"-define", "png:color-type=3", "-define", "png:bit-depth=8"}, 8, 8, 1},
      {"PNG24", {"-define", "png:color-type=2", "-define", "png:bit-depth=8"}, 24, 24, 0},
      {"PNG32",
       {"-alpha", "set", "-channel", "A", "-evaluate", "set", "40%", "+channel", "-define", "png:color-type=6"},
       24,
       32,
       0},
      {"PNG24", {"-interlace", "PNG", "-define", "png:color-type=2"}, 24, 24, 0},
  };
  const Picture source = test_picture(57, 33);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.options.front());
    const std::string path = magick_file(c.format, "in.png", c.options, source);
    Record img;
    ASSERT_EQ(IMG_read(path.c_str(), &img, 1), 1);
    EXPECT_EQ(std::make_tuple(img.width, img.height, img.bytes_per_line),
              std::make_tuple(57, 33, 57 * c.bits_per_pixel / 8));
    EXPECT_EQ(img.data, nullptr) << "a query reads no pixels";
    IMG_free(&img);
    ASSERT_EQ(PNG_read(path.c_str(), &img, 0), 1);
    EXPECT_STREQ(img.info, "PNG");
    EXPECT_EQ(std::make_tuple(img.depth, img.bits_per_pixel, img.color_type),
              std::make_tuple(c.depth, c.bits_per_pixel, c.color_type));
    EXPECT_EQ(img.num_colors * 3u, c.color_type ? png_chunks(read_bytes(path), "PLTE").at(0).size() : 0u);
    EXPECT_EQ(count_differences(record_picture(img), source), 0);
  }
  // Damaged ones fail without crashing.
  const std::string good = read_bytes(dir_ / "in.png"), path = dir_ / "bad.png";
  for (size_t n : {size_t{0}, size_t{4}, size_t{8}, size_t{20}, size_t{40}, good.size() / 2, good.size() - 13}) {
    Record img;
    write_bytes(path, good.substr(0, n));
    stderr_of([&] { EXPECT_EQ(PNG_read(path.c_str(), &img, 0), 0) << "cut at " << n; });
  }
}

TEST_F(PngXwdTest, WrittenPngHasAFullPaletteAndTextChunksAndDecodesAlike) {
  // A true-colour record of three colours still gets a PLTE of 256 entries.
  const Picture source = test_picture(10, 6, 3);
  Record img;
  make_true_colour(&img, source);
  const std::string path = dir_ / "out.png";
  ASSERT_EQ(PNG_write(path.c_str(), &img), 1);
  EXPECT_EQ(count_differences(record_picture(img), source), 0) << "the record must not change";
  EXPECT_EQ(count_differences(magick_decode(path), source), 0);
  const std::string bytes = read_bytes(path);
  EXPECT_EQ(png_chunks(bytes, "PLTE").at(0).size(), 768u);
  const std::string ihdr = png_chunks(bytes, "IHDR").at(0);
  EXPECT_EQ(ihdr.substr(8), std::string("\x08\x03\x00\x00\x00", 5)) << "8-bit palette, not interlaced";
  const std::vector<std::string> texts = png_chunks(bytes, "tEXt");
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].substr(0, 6), std::string("Title\0", 6));
  EXPECT_EQ(texts[1], std::string("Software\0ZYB - Ombrolux v5.0", 28));
  EXPECT_EQ(texts[2].substr(0, 14), std::string("Creation Time\0", 14));
  EXPECT_TRUE(std::regex_match(texts[2].substr(14), std::regex(R"(\d+ [A-Za-z]{3} \d+ \d+:\d+:\d+ GMT)"))) << texts[2];
}

TEST_F(PngXwdTest, ColourMappedXwdKeepsColourMapPixelsAndNameOf75Characters) {
  Record img;
  make_indexed(&img, 33, 17, radar_levels(33, 17), 40);
  IMG_set_info(&img, "radar loop");
  const std::string path = dir_ / "map.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &img), 1);
  const std::string bytes = read_bytes(path);
  EXPECT_EQ(be32(bytes, 0), 100u + 11u);
  EXPECT_EQ(be32(bytes, 13 * 4), 3u) << "pseudo colour";
  EXPECT_EQ(bytes.size(), 111u + 40u * 16u + 33u * 17u);
  for (const std::string &name : {std::string("radar loop"), std::string(200, 'n') + "z"}) {
    std::string patched = bytes.substr(0, 100) + name + std::string(1, '\0') + bytes.substr(111);
    put_be32(&patched, 0, 100 + static_cast<uint32_t>(name.size()) + 1);
    write_bytes(path, patched);
    Record back;
    back.depth = 8;
    ASSERT_EQ(XWD_read(path.c_str(), &back, 0), 1);
    EXPECT_EQ(std::string(back.info), name.substr(0, 75));
    EXPECT_EQ(back.color_type, 1);
    ASSERT_EQ(back.num_colors, 40);
    auto near = [](float a, float b) { return std::abs(a - b) <= 1.0f / 65535; };
    for (int i = 0; i < 40; i++) {
      const ImageColor &a = back.colors[i], &b = img.colors[i];
      EXPECT_TRUE(near(a.red, b.red) && near(a.green, b.green) && near(a.blue, b.blue)) << "entry " << i;
    }
    EXPECT_EQ(std::memcmp(back.data, img.data, 33 * 17), 0);
  }
}

TEST_F(PngXwdTest, TrueColourXwdsPassBothWaysAndAreRefusedByShallowerWindows) {
  const Picture source = test_picture(23, 19);
  Record img;
  make_true_colour(&img, source);
  const std::string ours = dir_ / "true.xwd";
  ASSERT_EQ(XWD_write(ours.c_str(), &img), 1);
  EXPECT_EQ(count_differences(magick_decode(ours), source), 0);
  const std::string theirs = magick_file("XWD", "im.xwd", {"-type", "TrueColor"}, source);
  for (const std::string &path : {ours, theirs}) {
    Record back;
    // Without a window a query may read pictures of any depth.
    ASSERT_EQ(IMG_read(path.c_str(), &back, 1), 1) << path;
    EXPECT_EQ(std::make_pair(back.depth, back.color_type), std::make_pair(24, 0));
    EXPECT_EQ(count_differences(record_picture(back), source), 0) << path;
    IMG_free(&back);
    IMG_init(&back);
    back.depth = 8;
    const std::string said = stderr_of([&] { EXPECT_EQ(XWD_read(path.c_str(), &back, 0), 0); });
    EXPECT_NE(said.find("Incorrect depth: 24 > 8"), std::string::npos) << said;
  }
}

TEST_F(PngXwdTest, DamagedXwdHeadersGetTheirMessages) {
  Record img;
  make_indexed(&img, 6, 4, std::vector<unsigned char>(24, 1), 2);
  const std::string path = dir_ / "bad.xwd";
  ASSERT_EQ(XWD_write(path.c_str(), &img), 1);
  const std::string good = read_bytes(path);
  // Header fields (32-bit words) to replace.
  auto with = [&good](std::vector<std::pair<int, uint32_t>> fields) {
    std::string b = good;
    for (auto [field, value] : fields) put_be32(&b, 4 * field, value);
    return b;
  };
  const std::pair<std::string, const char *> cases[] = {
      {"", "Unable to read dump file header"},
      {good.substr(0, 60), "Unable to read dump file header"},
      {with({{1, 6}}), "XWD file format version mismatch"},
      {with({{0, 99}}), "XWD header size is too small."},
      {with({{0, 100000}}), "Unable to read window name from dump file."},
      {good.substr(0, 101 + 16), "Unable to read color map from dump file."},
      {good.substr(0, good.size() - 3), "Unable to read pixmap from dump file."},
      {with({{4, 0xFFFFFFFFu}}), "Invalid image size"},
      {with({{12, 2}}), "Invalid pixel format"},
      {with({{4, 65535}, {5, 65535}, {12, 0x7FFFFFF0u}}), "Invalid pixel format"},
      {with({{4, 65535}, {5, 65535}, {12, 65535}}), "Unable to allocate data buffer."},
      {with({{19, 0x40000000u}}), "Too many colors"},
  };
  for (const auto &c : cases) {
    const char *message = c.second;
    write_bytes(path, c.first);
    Record back;
    back.depth = 8;
    const std::string said = stderr_of([&] { EXPECT_EQ(XWD_read(path.c_str(), &back, 0), 0) << message; });
    EXPECT_NE(said.find(message), std::string::npos) << said;
  }
  const std::string missing = dir_ / "missing.xwd";
  EXPECT_NE(stderr_of([&] { XWD_read(missing.c_str(), &img, 0); }).find("Unable to open dump file"), std::string::npos);
  EXPECT_NE(stderr_of([&] {
              EXPECT_EQ(IMG_read(missing.c_str(), &img, 0), 0);
            }).find("IMG_read: Unable to open image file: " + missing),
            std::string::npos);
}
