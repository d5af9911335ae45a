// Pictures for the image tests, with ImageMagick as the independent judge
// of the files we write and the maker of files we read.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/img_tool.h"
#include "proc_util.h"

namespace zyb_test {

struct Rgb {
  unsigned char r, g, b;
  bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb &o) const { return !(*this == o); }
};

struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;
  Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Smooth blobs of a dozen levels over a background of 0, the kind of
// picture the looper mostly shows.
inline std::vector<unsigned char> radar_levels(int w, int h, int seed = 1) {
  std::vector<unsigned char> out(static_cast<size_t>(w) * h, 0);
  unsigned state = 12345u + 977u * seed;
  auto next = [&state]() { return ((state = state * 1103515245u + 12345u) >> 8) & 0xFFFF; };
  double blobs[9][3];
  for (auto &b : blobs) b[0] = next() % w, b[1] = next() % h, b[2] = 20.0 + next() % (w / 5 + 1);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      double v = 0;
      for (auto &b : blobs)
        v += std::exp(-((x - b[0]) * (x - b[0]) + (y - b[1]) * (y - b[1])) / (b[2] * b[2]) * 2.0) * 7.0;
      out[static_cast<size_t>(y) * w + x] = static_cast<unsigned char>(v > 12 ? 12 : static_cast<int>(v));
    }
  }
  return out;
}

// A colour for each of 256 indices, all different.
inline Rgb palette_color(int i) {
  return {static_cast<unsigned char>((i * 37) & 0xFF), static_cast<unsigned char>((i * 91 + 40) & 0xFF),
          static_cast<unsigned char>(255 - i)};
}

// An 8-bit colour-mapped record made from levels.
inline void make_indexed(ImageRecord *img, int w, int h, const std::vector<unsigned char> &levels, int num_colors) {
  IMG_init(img);
  img->width = w;
  img->height = h;
  img->depth = img->bits_per_pixel = 8;
  img->bytes_per_line = w;
  img->color_type = 1;
  IMG_alloc_pixels(img);
  std::memcpy(img->data, levels.data(), levels.size());
  IMG_alloc_colors(img, num_colors);
  for (int i = 0; i < num_colors; i++) {
    Rgb c = palette_color(i);
    img->colors[i] = {c.r / 255.0f, c.g / 255.0f, c.b / 255.0f};
  }
}

// A true-colour record of a picture: 16 bits (5-6-5), 24 or 32 bits a pixel,
// the most significant byte first unless lsb_first.
inline void make_true_colour(ImageRecord *img, const Picture &p, int bits = 32, bool lsb_first = false) {
  IMG_init(img);
  const bool short_pixels = bits == 16;
  img->width = p.width, img->height = p.height, img->bits_per_pixel = bits, img->depth = short_pixels ? 16 : 24;
  img->bytes_per_line = p.width * bits / 8, img->byte_order = lsb_first ? 0 : 1;
  img->red_mask = short_pixels ? 0xF800 : 0xFF0000, img->green_mask = short_pixels ? 0x07E0 : 0xFF00;
  img->blue_mask = short_pixels ? 0x1F : 0xFF;
  IMG_alloc_pixels(img);
  const int bytes = bits / 8;
  for (size_t k = 0; k < p.pixels.size(); k++) {
    const Rgb c = p.pixels[k];
    const uint32_t v = short_pixels ? (c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3 : uint32_t{c.r} << 16 | c.g << 8 | c.b;
    for (int b = 0; b < bytes; b++) img->data[k * bytes + b] = v >> 8 * (lsb_first ? b : bytes - 1 - b);
  }
}

// The colour of every pixel of a record, as the codecs understand it.
inline Picture record_picture(const ImageRecord &img) {
  Picture p{img.width, img.height, {}};
  auto scale = [](uint32_t v, uint32_t mask) -> unsigned char {
    if (mask == 0) return 0;
    int bits = __builtin_popcount(mask);
    uint32_t c = (v & mask) >> __builtin_ctz(mask);
    return static_cast<unsigned char>(bits >= 8 ? c >> (bits - 8) : c << (8 - bits));
  };
  auto byte = [](float f) { return static_cast<unsigned char>(f * 255 + 0.5f); };
  const int bytes = img.bits_per_pixel / 8;
  for (int y = 0; y < img.height; y++) {
    const unsigned char *row = img.data + static_cast<size_t>(y) * img.bytes_per_line;
    for (int x = 0; x < img.width; x++) {
      uint32_t v = 0;
      for (int i = 0; i < bytes; i++) v = (v << 8) | row[x * bytes + (img.byte_order ? i : bytes - 1 - i)];
      if (img.color_type != 1) {
        p.pixels.push_back({scale(v, img.red_mask), scale(v, img.green_mask), scale(v, img.blue_mask)});
      } else if (img.colors == nullptr) {
        p.pixels.push_back(
            {static_cast<unsigned char>(v), static_cast<unsigned char>(v), static_cast<unsigned char>(v)});
      } else {
        const ImageColor &c = img.colors[v < static_cast<uint32_t>(img.num_colors) ? v : 0];
        p.pixels.push_back({byte(c.red), byte(c.green), byte(c.blue)});
      }
    }
  }
  return p;
}

inline std::string read_bytes(const std::string &path) { return read_file(path); }

inline bool write_ppm(const std::string &path, const Picture &p) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
  std::fwrite(p.pixels.data(), 3, p.pixels.size(), f);
  return std::fclose(f) == 0;
}

// Runs ImageMagick's convert with the arguments; true on success.
inline bool run_magick(const std::vector<std::string> &args, std::string *out = nullptr) {
  std::vector<std::string> argv{"/usr/bin/convert"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string ignored;
  return run(argv, out != nullptr ? out : &ignored) == 0;
}

// The first image of a file as ImageMagick decodes it: its size on a line,
// then the raw pixels.
inline Picture magick_decode(const std::string &path) {
  std::string out;
  Picture p;
  if (!run_magick({path + "[0]", "-depth", "8", "-format", "%w %h\n", "-write", "info:-", "rgb:-"}, &out) ||
      std::sscanf(out.c_str(), "%d %d", &p.width, &p.height) != 2)
    return Picture{};
  const size_t start = out.find('\n') + 1, n = static_cast<size_t>(p.width) * p.height;
  if (out.size() != start + 3 * n) return Picture{};
  p.pixels.resize(n);
  std::memcpy(p.pixels.data(), out.data() + start, 3 * n);
  return p;
}

// Number of pixels that differ; -1 when the sizes differ.
inline long count_differences(const Picture &a, const Picture &b) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
  long n = 0;
  for (size_t i = 0; i < a.pixels.size(); i++) n += a.pixels[i] != b.pixels[i];
  return n;
}

// A record that starts empty and frees its arrays when it goes.
struct Record : ImageRecord {
  Record() { IMG_init(this); }
  ~Record() { IMG_free(this); }
  Record(const Record &) = delete;
  Record &operator=(const Record &) = delete;
};

}  // namespace zyb_test
