// Pictures for the image tests: radar-like test images, PPM files, and
// ImageMagick as the independent judge of the files we write and the maker
// of files we read.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/img_tool.h"
#include "proc_util.h"

namespace zyb_test {

inline const char *magick() { return "/usr/bin/convert"; }

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
  struct Blob {
    double x, y, r;
  };
  std::vector<Blob> blobs;
  unsigned state = 12345u + 977u * seed;
  auto next = [&state]() {
    state = state * 1103515245u + 12345u;
    return (state >> 8) & 0xFFFF;
  };
  for (int i = 0; i < 9; i++) blobs.push_back({next() % w * 1.0, next() % h * 1.0, 20.0 + next() % (w / 5 + 1)});
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      double v = 0;
      for (const Blob &b : blobs) {
        double d2 = ((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (b.r * b.r);
        v += std::exp(-d2 * 2.0) * 7.0;
      }
      int level = static_cast<int>(v);
      out[static_cast<size_t>(y) * w + x] = static_cast<unsigned char>(level > 12 ? 12 : level);
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
  img->depth = 8;
  img->bits_per_pixel = 8;
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

// The colour of every pixel of a record, as the codecs understand it.
inline Picture record_picture(const ImageRecord &img) {
  Picture p;
  p.width = img.width;
  p.height = img.height;
  auto scale = [](uint32_t v, uint32_t mask) -> unsigned char {
    if (mask == 0) return 0;
    int shift = __builtin_ctz(mask);
    int bits = __builtin_popcount(mask);
    uint32_t c = (v & mask) >> shift;
    return static_cast<unsigned char>(bits >= 8 ? c >> (bits - 8) : c << (8 - bits));
  };
  for (int y = 0; y < img.height; y++) {
    const unsigned char *row = img.data + static_cast<size_t>(y) * img.bytes_per_line;
    for (int x = 0; x < img.width; x++) {
      uint32_t v = 0;
      int bytes = img.bits_per_pixel / 8;
      for (int i = 0; i < bytes; i++) {
        int k = img.byte_order ? i : bytes - 1 - i;
        v = (v << 8) | row[x * bytes + k];
      }
      if (img.color_type == 1) {
        if (img.colors == nullptr) {
          p.pixels.push_back({static_cast<unsigned char>(v), static_cast<unsigned char>(v), static_cast<unsigned char>(v)});
        } else {
          const ImageColor &c = img.colors[v < static_cast<uint32_t>(img.num_colors) ? v : 0];
          p.pixels.push_back({static_cast<unsigned char>(c.red * 255 + 0.5f), static_cast<unsigned char>(c.green * 255 + 0.5f),
                              static_cast<unsigned char>(c.blue * 255 + 0.5f)});
        }
      } else {
        p.pixels.push_back({scale(v, img.red_mask), scale(v, img.green_mask), scale(v, img.blue_mask)});
      }
    }
  }
  return p;
}

inline bool write_ppm(const std::string &path, const Picture &p) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
  std::fwrite(p.pixels.data(), 3, p.pixels.size(), f);
  return std::fclose(f) == 0;
}

// Binary PPM with maxval 255; comment lines in the header are skipped.
inline Picture parse_ppm(const std::string &bytes) {
  Picture p;
  size_t pos = 2;
  auto number = [&](int *out) {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') pos++;
      } else if (std::isspace(static_cast<unsigned char>(bytes[pos]))) {
        pos++;
      } else {
        break;
      }
    }
    size_t start = pos;
    while (pos < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[pos]))) pos++;
    if (pos == start) return false;
    *out = std::atoi(bytes.substr(start, pos - start).c_str());
    return true;
  };
  int maxval = 0;
  if (bytes.compare(0, 2, "P6") != 0 || !number(&p.width) || !number(&p.height) || !number(&maxval) || maxval != 255) {
    return Picture{};
  }
  size_t start = pos + 1;
  size_t n = static_cast<size_t>(p.width) * p.height;
  if (bytes.size() < start + 3 * n) return Picture{};
  p.pixels.resize(n);
  std::memcpy(p.pixels.data(), bytes.data() + start, 3 * n);
  return p;
}

// Runs ImageMagick's convert with the arguments; true on success.
inline bool run_magick(const std::vector<std::string> &args, std::string *out = nullptr) {
  std::vector<std::string> argv{magick()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string ignored;
  return run(argv, out != nullptr ? out : &ignored) == 0;
}

// The first image of a file as ImageMagick decodes it.
inline Picture magick_decode(const std::string &path) {
  std::string out;
  if (!run_magick({path + "[0]", "-depth", "8", "ppm:-"}, &out)) return Picture{};
  return parse_ppm(out);
}

// Number of pixels that differ; -1 when the sizes differ.
inline long count_differences(const Picture &a, const Picture &b) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
  long n = 0;
  for (size_t i = 0; i < a.pixels.size(); i++) n += a.pixels[i] != b.pixels[i];
  return n;
}

inline std::string read_bytes(const std::string &path) { return read_file(path); }

inline void write_bytes(const std::string &path, const std::string &bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Frees a record when the test leaves.
struct RecordGuard {
  ImageRecord *img;
  ~RecordGuard() { IMG_free(img); }
};

}  // namespace zyb_test
