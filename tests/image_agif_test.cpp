// Animated GIFs: read as ImageMagick composes them, written so that it
// decodes them to the frames and delays given, and damaged ones survived.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif.h"
#include "image/img_tool.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

struct Frame {
  Picture picture;
  int delay;
};

struct Frames {
  std::vector<Frame> frames;
  std::string messages;
  int result = 0;
};

Frames read_frames(const std::string &path, int max_frames = 128) {
  Frames got;
  ::testing::internal::CaptureStderr();
  got.result = GIF_read_frames(
      path.c_str(), max_frames,
      [](ImageRecord *img, int delay, void *user) {
        static_cast<std::vector<Frame> *>(user)->push_back({record_picture(*img), delay});
        return 0;
      },
      &got.frames);
  got.messages = ::testing::internal::GetCapturedStderr();
  return got;
}

// ImageMagick's composition of every frame, with alpha: the pixels it
// leaves transparent are ours to fill with the background.
struct MagickFrames {
  int width = 0, height = 0;
  std::vector<int> delays;
  std::vector<unsigned char> rgba;  // frames one after another
};

MagickFrames magick_frames(const std::string &path) {
  MagickFrames m;
  std::string info, raw;
  run({"/usr/bin/identify", "-format", "%W %H %T\n", path}, &info);
  int w, h, delay, used;
  for (const char *p = info.c_str(); std::sscanf(p, "%d %d %d\n%n", &w, &h, &delay, &used) == 3; p += used) {
    m.width = w, m.height = h;
    m.delays.push_back(delay);
  }
  run_magick({path, "-coalesce", "-depth", "8", "rgba:-"}, &raw);
  m.rgba.assign(raw.begin(), raw.end());
  return m;
}

// Pixels of frame f that differ: ImageMagick's opaque ones from ours, and
// those it leaves transparent (cleared to the background) from the file's
// background colour; without a background every pixel must be opaque.
long differences(const MagickFrames &m, size_t f, const Picture &ours, const Rgb *background = nullptr) {
  const size_t n = static_cast<size_t>(m.width) * m.height;
  if (ours.width != m.width || ours.height != m.height || m.rgba.size() < (f + 1) * n * 4) return -1;
  long diff = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char *p = &m.rgba[(f * n + i) * 4];
    const Rgb want = p[3] == 255 || background == nullptr ? Rgb{p[0], p[1], p[2]} : *background;
    diff += ours.pixels[i] != want || (p[3] != 255 && background == nullptr);
  }
  return diff;
}

// The colour of the background entry of a GIF's global table.
Rgb background_of(const std::string &bytes) {
  const unsigned char *b = reinterpret_cast<const unsigned char *>(bytes.data());
  if (bytes.size() < 13 || (b[10] & 0x80) == 0) return {0, 0, 0};
  const size_t at = 13 + 3 * static_cast<size_t>(b[11]);
  return at + 3 <= bytes.size() ? Rgb{b[at], b[at + 1], b[at + 2]} : Rgb{0, 0, 0};
}

Picture picture_of(int w, int h, int seed, int shift) {
  Picture p{w, h, {}};
  for (unsigned char v : radar_levels(w, h, seed)) p.pixels.push_back(palette_color(v * 7 + shift));
  return p;
}

// A GIF from hand-made blocks; image data coded with clear codes often
// enough that every code is a root of 9 bits.
struct Block {
  int left, top, width, height, disposal, delay, transparent;
  std::vector<unsigned char> pixels;  // width x height indices
};

std::string le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }

std::string image_data(const std::vector<unsigned char> &pixels) {
  std::vector<int> codes;
  for (size_t i = 0; i < pixels.size(); i++) {
    if (i % 200 == 0) codes.push_back(256);
    codes.push_back(pixels[i]);
  }
  codes.push_back(257);
  std::string bytes;
  unsigned acc = 0;
  int bits = 0;
  for (int c : codes) {
    acc |= static_cast<unsigned>(c) << bits, bits += 9;
    for (; bits >= 8; bits -= 8, acc >>= 8) bytes += static_cast<char>(acc & 0xFF);
  }
  if (bits > 0) bytes += static_cast<char>(acc);
  std::string out(1, '\x08');
  for (size_t i = 0; i < bytes.size(); i += 255) {
    const std::string part = bytes.substr(i, 255);
    out += static_cast<char>(part.size()) + part;
  }
  return out + '\0';
}

std::string gif_of(int w, int h, const std::vector<Block> &blocks) {
  std::string s = "GIF89a" + le16(w) + le16(h) + "\xF7" + std::string(2, '\0');
  for (int i = 0; i < 256; i++) {
    const Rgb c = palette_color(i);
    s += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
  }
  for (const Block &b : blocks) {
    s += "\x21\xF9\x04" + std::string(1, static_cast<char>(b.disposal << 2 | (b.transparent >= 0))) + le16(b.delay) +
         static_cast<char>(b.transparent >= 0 ? b.transparent : 0) + '\0';
    s += "," + le16(b.left) + le16(b.top) + le16(b.width) + le16(b.height) + '\0' + image_data(b.pixels);
  }
  return s + ";";
}

Block block(int left, int top, int w, int h, unsigned char value, int delay = 10) {
  return {left, top, w, h, 1, delay, -1, std::vector<unsigned char>(static_cast<size_t>(w) * h, value)};
}

class AnimatedGifTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

}  // namespace

TEST_F(AnimatedGifTest, ImageMagickAnimationsLoadFrameForFrameAsItComposesThem) {
  const std::string big = dir_ / "big.ppm", small = dir_ / "small.ppm", other = dir_ / "other.ppm",
                    spotted = dir_ / "spotted.png";
  ASSERT_TRUE(write_ppm(big, picture_of(64, 48, 1, 0)));
  ASSERT_TRUE(write_ppm(small, picture_of(20, 14, 2, 100)));
  ASSERT_TRUE(write_ppm(other, picture_of(64, 48, 3, 50)));
  // A small picture with holes, so the frame below shows through.
  const Rgb hole = palette_color(100);  // the background of the small picture
  char colour[16];
  std::snprintf(colour, sizeof colour, "#%02X%02X%02X", hole.r, hole.g, hole.b);
  ASSERT_TRUE(run_magick({small, "-transparent", colour, spotted}));
  const std::vector<std::vector<std::string>> recipes = {
      // Full frames of different colours: local tables.
      {"-delay", "7", big, "-delay", "13", other, big, "-loop", "0"},
      // Each disposal once, with a frame that has holes after each.
      {"-delay",   "10",       "-dispose",   "None",  big,      "-page",  "+5+7",  small,    "-page", "+30+2",
       spotted,    "-dispose", "Background", "-page", "+50+40", small,    "-page", "+30+20", spotted, "-dispose",
       "Previous", "-page",    "+5+7",       small,   "-page",  "+30+20", spotted, "-page",  "+1+1",  small},
      {"-delay", "20", big, other, big, other, "-layers", "Optimize"},
  };
  for (const auto &recipe : recipes) {
    const std::string path = dir_ / "anim.gif";
    std::vector<std::string> args = recipe;
    args.push_back(path);
    ASSERT_TRUE(run_magick(args));
    std::string trace;
    for (const std::string &a : recipe) trace += a.substr(a.rfind('/') + 1) + " ";
    SCOPED_TRACE(trace);
    const MagickFrames magick = magick_frames(path);
    const Frames ours = read_frames(path);
    ASSERT_EQ(ours.result, static_cast<int>(magick.delays.size()));
    ASSERT_EQ(ours.frames.size(), magick.delays.size());
    const Rgb background = background_of(read_bytes(path));
    for (size_t f = 0; f < ours.frames.size(); f++) {
      EXPECT_EQ(differences(magick, f, ours.frames[f].picture, &background), 0) << "frame " << f;
      EXPECT_EQ(ours.frames[f].delay, magick.delays[f]) << "frame " << f;
    }
  }
}

TEST_F(AnimatedGifTest, ExportedLoopDecodesToTheFramesAndDelaysGiven) {
  // Frames in the forms a grab gives: colour-mapped, 24 and 32 bits, 5-6-5.
  constexpr int kW = 96, kH = 64;
  std::vector<Record> records(6);
  std::vector<Picture> expected;
  for (int i = 0; i < 6; i++) {
    Record &r = records[i];
    std::vector<unsigned char> levels(kW * kH, 0);
    // A blob that moves over a fixed backdrop.
    for (int y = 0; y < kH; y++)
      for (int x = 0; x < kW; x++)
        levels[y * kW + x] =
            (x - 10 - 12 * i) * (x - 10 - 12 * i) + (y - 30) * (y - 30) < 90 ? 1 + (x + y) % 5 : (x % 16 == 0) * 7;
    make_indexed(&r, kW, kH, levels, 16);
    const Picture p = record_picture(r);
    expected.push_back(p);
    const int bpp[] = {8, 24, 32, 16, 8, 24};
    if (bpp[i] == 8) continue;
    IMG_free(&r);
    make_true_colour(&r, p, bpp[i], i % 2 == 0);
    expected.back() = record_picture(r);  // 5-6-5 loses low bits
  }
  const int delays[] = {5, 10, 0, 250, 7, 33};
  const std::string path = dir_ / "loop.gif";
  ASSERT_EQ(GIF_write_frames(path.c_str(), records.data(), delays, 6), 1);
  const std::string bytes = read_bytes(path);
  EXPECT_NE(bytes.find("NETSCAPE2.0\x03\x01\x00\x00", 0, 15), std::string::npos) << "loops for ever";
  const MagickFrames magick = magick_frames(path);
  const Frames ours = read_frames(path);
  ASSERT_EQ(magick.delays.size(), 6u);
  ASSERT_EQ(ours.frames.size(), 6u);
  std::string info;
  run({"/usr/bin/identify", "-format", "%w ", path}, &info);
  // The first frame whole, then only where the blob moved, except around
  // the 5-6-5 frame, whose colours all differ a little.
  EXPECT_EQ(info, "96 31 31 96 96 31 ");
  for (int f = 0; f < 6; f++) {
    EXPECT_EQ(magick.delays[f], delays[f]);
    EXPECT_EQ(ours.frames[f].delay, delays[f]);
    EXPECT_EQ(differences(magick, f, expected[f]), 0) << "frame " << f;
    EXPECT_EQ(count_differences(ours.frames[f].picture, expected[f]), 0) << "frame " << f;
  }
}

TEST_F(AnimatedGifTest, FramesOfManyColoursGetTablesOfTheirOwnAndAreReducedPastTheLimit) {
  constexpr int kW = 64, kH = 64;
  std::vector<Record> records(2);
  for (int i = 0; i < 2; i++) {
    // Frame 0: 200 colours; frame 1: a smooth ramp of 4096 colours.
    Picture p{kW, kH, {}};
    for (int k = 0; k < kW * kH; k++)
      p.pixels.push_back(
          i == 0 ? palette_color(k % 200)
                 : Rgb{static_cast<unsigned char>(4 * (k % 64)), static_cast<unsigned char>(4 * (k / 64)), 90});
    make_true_colour(&records[i], p, 24);
  }
  const std::string path = dir_ / "many.gif";
  ASSERT_EQ(GIF_write_frames(path.c_str(), records.data(), nullptr, 2), 1);
  const Frames ours = read_frames(path);
  const MagickFrames magick = magick_frames(path);
  ASSERT_EQ(ours.frames.size(), 2u);
  EXPECT_EQ(count_differences(ours.frames[0].picture, record_picture(records[0])), 0);
  long error = 0;
  const Picture want = record_picture(records[1]);
  for (size_t k = 0; k < want.pixels.size(); k++) {
    const Rgb a = ours.frames[1].picture.pixels[k], b = want.pixels[k];
    error += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
  }
  EXPECT_LT(error / static_cast<double>(want.pixels.size()), 12.0) << "mean error of the reduced frame";
  for (int f = 0; f < 2; f++) EXPECT_EQ(differences(magick, f, ours.frames[f].picture), 0) << "frame " << f;
}

TEST_F(AnimatedGifTest, DamagedAnimationsGiveClearMessagesAndKeepWhatWasComposed) {
  const std::string path = dir_ / "bad.gif";
  struct Case {
    const char *name;
    std::string bytes;
    int frames;
    const char *message;
  };
  std::vector<Block> many;
  for (int i = 0; i < 3000; i++) many.push_back(block(i % 4, 0, 1, 1, static_cast<unsigned char>(i % 251), i));
  const Case cases[] = {
      {"empty screen", gif_of(0, 5, {block(0, 0, 1, 1, 3)}), 0, "Empty logical screen: 0 x 5"},
      {"huge screen", gif_of(65535, 65535, {block(0, 0, 1, 1, 3)}), 0, "Screen too large: 65535 x 65535"},
      {"no image", gif_of(8, 8, {}), 0, "No image in file"},
      {"zero-size image", gif_of(8, 8, {block(0, 0, 8, 8, 3), block(2, 2, 0, 4, 5)}), 2, "Image 1 is empty"},
      {"off screen", gif_of(8, 8, {block(0, 0, 8, 8, 3), block(9, 0, 2, 2, 5)}), 2, "lies outside the 8 x 8 screen"},
      {"larger than the screen", gif_of(8, 8, {block(-0, 4, 30, 30, 5)}), 1, "reaches beyond the 8 x 8 screen"},
      {"absurd delay", gif_of(8, 8, {block(0, 0, 8, 8, 3, 65535)}), 1, "cut from 65535 to 6000"},
      {"thousands of images", gif_of(4, 1, many), 128, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    write_bytes(path, c.bytes);
    const Frames got = read_frames(path);
    EXPECT_EQ(got.result, c.frames);
    EXPECT_NE(got.messages.find(c.message), std::string::npos) << got.messages;
  }
  // The last 128 of 3000: image i drew value i % 251 at column i % 4.
  write_bytes(path, gif_of(4, 1, many));
  const Frames last = read_frames(path);
  ASSERT_EQ(last.frames.size(), 128u);
  EXPECT_EQ(last.frames[0].delay, std::min(2872, 6000));
  for (int x = 0; x < 4; x++) EXPECT_EQ(last.frames[127].picture.at(x, 0), palette_color((2996 + x) % 251)) << x;
  // The larger-than-screen image shows its visible corner.
  write_bytes(path, gif_of(8, 8, {block(0, 4, 30, 30, 5)}));
  const Frames corner = read_frames(path);
  ASSERT_EQ(corner.frames.size(), 1u);
  EXPECT_EQ(corner.frames[0].picture.at(7, 7), palette_color(5));
  EXPECT_EQ(corner.frames[0].picture.at(7, 3), palette_color(0)) << "background above it";

  // Cut after every byte: never a crash; cut after a whole image, every
  // frame up to it as in the whole file.
  Block spotted = block(2, 1, 4, 4, 9);
  spotted.disposal = 3, spotted.transparent = 9, spotted.pixels[5] = 4;
  const std::string whole = gif_of(8, 6, {block(0, 0, 8, 6, 3), spotted, block(1, 1, 2, 2, 7)});
  write_bytes(path, whole);
  const Frames full = read_frames(path);
  ASSERT_EQ(full.frames.size(), 3u);
  EXPECT_EQ(full.frames[1].picture.at(3, 2), palette_color(4));
  EXPECT_EQ(full.frames[2].picture.at(3, 2), palette_color(3)) << "restored to what was before";
  for (size_t n = 0; n < whole.size(); n++) {
    write_bytes(path, whole.substr(0, n));
    const Frames part = read_frames(path);
    ASSERT_LE(part.frames.size(), 3u);
    // Only the last frame delivered can be short of its image.
    for (size_t f = 0; f + 1 < part.frames.size(); f++)
      EXPECT_EQ(count_differences(part.frames[f].picture, full.frames[f].picture), 0) << n;
  }
}
