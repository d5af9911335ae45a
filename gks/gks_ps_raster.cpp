// A picture of the window as a PostScript raster: pixel values to colours,
// an indexed or RGB (or grey) image, run-length coded and in ASCII85, the
// most compact of the standard PostScript encodings a printer reads.
#include "gks/gks_ps_raster.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gks/gks_tran.h"
#include "image/gif.h"
#include "image/img_tool.h"

namespace {

constexpr int kMaxIndexed = 256;
constexpr int kLineChars = 75;
constexpr int kPaletteEntriesPerLine = 12;

// ---- Pixel values to colours ---------------------------------------------------------

struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  unsigned long max = 0;
};

Channel channel_of(uint32_t mask) {
  Channel c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = __builtin_ctz(mask);
  c.max = (mask >> c.shift);
  return c;
}

unsigned char channel_byte(unsigned long v, const Channel &c) {
  if (c.max == 0) return 0;
  return static_cast<unsigned char>(((v & c.mask) >> c.shift) * 255 / c.max);
}

unsigned char unit_byte(float v) { return static_cast<unsigned char>(std::clamp(v, 0.0f, 1.0f) * 255.0f); }

uint32_t pack(unsigned r, unsigned g, unsigned b) { return (r << 16) | (g << 8) | b; }

// The record's colour of one stored pixel value, as 0xRRGGBB.
class PixelColours {
 public:
  explicit PixelColours(const ImageRecord &img)
      : img_(img), red_(channel_of(img.red_mask)), grn_(channel_of(img.green_mask)), blu_(channel_of(img.blue_mask)) {}

  uint32_t of(unsigned long v) const {
    if (img_.color_type == 0 && (red_.max || grn_.max || blu_.max))
      return pack(channel_byte(v, red_), channel_byte(v, grn_), channel_byte(v, blu_));
    if (img_.colors && v < static_cast<unsigned long>(img_.num_colors)) {
      const ImageColor &c = img_.colors[v];
      return pack(unit_byte(c.red), unit_byte(c.green), unit_byte(c.blue));
    }
    // Values without a colour are grey levels, as a viewer shows them.
    const int bits = std::clamp(img_.bits_per_pixel, 1, 8);
    const unsigned level = static_cast<unsigned>((v & 0xFF) * 255 / ((1u << bits) - 1) & 0xFF);
    return pack(level, level, level);
  }

 private:
  const ImageRecord &img_;
  Channel red_, grn_, blu_;
};

std::vector<uint32_t> colours_of(const ImageRecord &img) {
  const PixelColours colours(img);
  std::vector<uint32_t> out(static_cast<size_t>(img.width) * static_cast<size_t>(img.height));
  unsigned long last_value = 0;
  uint32_t last_colour = colours.of(0);
  size_t i = 0;
  for (int y = 0; y < img.height; ++y) {
    const unsigned char *row = img.data + static_cast<size_t>(y) * static_cast<size_t>(img.bytes_per_line);
    for (int x = 0; x < img.width; ++x) {
      const unsigned long v = GIF_pixel_value(&img, row, x);
      if (v != last_value) {
        last_value = v;
        last_colour = colours.of(v);
      }
      out[i++] = last_colour;
    }
  }
  return out;
}

// Entry numbers of at most 256 colours, in order of first appearance.
struct Palette {
  std::vector<uint32_t> colours;
  std::vector<unsigned char> entries;  // one per pixel
};

// false when the picture has more colours than an indexed image holds.
bool make_palette(const std::vector<uint32_t> &pixels, Palette *pal) {
  constexpr size_t kSlots = 1024;  // four times the entries: short probes
  std::vector<uint32_t> keys(kSlots);
  std::vector<int> values(kSlots, -1);
  pal->entries.resize(pixels.size());
  uint32_t last = 0;
  int last_entry = -1;
  for (size_t p = 0; p < pixels.size(); ++p) {
    const uint32_t c = pixels[p];
    if (last_entry < 0 || c != last) {
      size_t i = (c * 2654435761u >> 8) & (kSlots - 1);
      while (values[i] >= 0 && keys[i] != c) i = (i + 1) & (kSlots - 1);
      if (values[i] < 0) {
        if (pal->colours.size() == kMaxIndexed) return false;
        keys[i] = c;
        values[i] = static_cast<int>(pal->colours.size());
        pal->colours.push_back(c);
      }
      last = c;
      last_entry = values[i];
    }
    pal->entries[p] = static_cast<unsigned char>(last_entry);
  }
  return true;
}

unsigned char grey_of(uint32_t c, bool reverse) {
  const double level = (0.9 * (c >> 16) + ((c >> 8) & 0xFF) + 0.8 * (c & 0xFF)) / 2.7 / 255.0;
  return static_cast<unsigned char>(std::clamp(reverse ? 1.0 - level : level, 0.0, 1.0) * 255.0);
}

// ---- Encoding --------------------------------------------------------------------------

// ASCII85 in lines of kLineChars characters. A line never starts with "%",
// so that nothing in the samples reads as a comment to a print spooler.
class Ascii85Writer {
 public:
  explicit Ascii85Writer(FILE *out) : out_(out) {}
  void put(unsigned char byte) {
    tuple_ |= static_cast<uint32_t>(byte) << (24 - 8 * count_);
    if (++count_ == 4) flush_tuple(4);
  }
  void finish() {
    if (count_ > 0) flush_tuple(count_);
    std::fputs("~>\n", out_);
  }

 private:
  void emit(char c) {
    if (column_ == 0 && c == '%') emit(' ');
    std::putc(c, out_);
    if (++column_ == kLineChars) {
      std::putc('\n', out_);
      column_ = 0;
    }
  }
  void flush_tuple(int bytes) {
    if (bytes == 4 && tuple_ == 0) {
      emit('z');
    } else {
      char digits[5];
      uint32_t t = tuple_;
      for (int i = 4; i >= 0; --i) {
        digits[i] = static_cast<char>('!' + t % 85);
        t /= 85;
      }
      for (int i = 0; i <= bytes; ++i) emit(digits[i]);
    }
    tuple_ = 0;
    count_ = 0;
  }

  FILE *out_;
  uint32_t tuple_ = 0;
  int count_ = 0;
  int column_ = 0;
};

// PostScript's RunLengthDecode format: a length byte n below 128 copies
// the n + 1 bytes after it; 257 - n repeats the next byte n times.
void run_length(const unsigned char *p, size_t n, Ascii85Writer *out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run > 1) {
      out->put(static_cast<unsigned char>(257 - run));
      out->put(p[i]);
      i += run;
      continue;
    }
    const size_t start = i;
    while (i < n && i - start < 128 && !(i + 1 < n && p[i] == p[i + 1])) ++i;
    out->put(static_cast<unsigned char>(i - start - 1));
    for (size_t k = start; k < i; ++k) out->put(p[k]);
  }
}

constexpr unsigned char kEndOfData = 128;

void write_palette_space(FILE *out, const Palette &pal) {
  std::fprintf(out, "[/Indexed /DeviceRGB %d <", static_cast<int>(pal.colours.size()) - 1);
  for (size_t i = 0; i < pal.colours.size(); ++i)
    std::fprintf(out, "%s%06X", i % kPaletteEntriesPerLine == 0 ? "\n" : "", static_cast<unsigned>(pal.colours[i]));
  std::fputs("\n>] setcolorspace\n", out);
}

// The samples follow the procedure that reads them; it also reads the
// data's end, so the file goes on as a program after it.
void write_image_operator(FILE *out, int width, int height, const char *decode) {
  std::fprintf(out,
               "{ /zybimgsrc currentfile /ASCII85Decode filter def\n"
               "<< /ImageType 1 /Width %d /Height %d /BitsPerComponent 8 /Decode %s\n"
               "/ImageMatrix [%d 0 0 %d 0 %d] /DataSource zybimgsrc /RunLengthDecode filter >> image\n"
               "zybimgsrc flushfile } exec\n",
               width, height, decode, width, -height, height);
}

}  // namespace

GpsRasterPlace gps_raster_place(const ImageRecord &img, int x, int y, const float ws_win[4]) {
  const float dx = ws_win[1] - ws_win[0], dy = ws_win[3] - ws_win[2];
  const float w = static_cast<float>(std::max(img.width - 1, 1)), h = static_cast<float>(std::max(img.height - 1, 1));
  const float k = std::min(w / dx, h / dy);  // window pixels per NDC unit, as the window rows have it
  auto page_x = [&](float px) { return xNDC_ps(ws_win[0] + px / k); };
  auto page_y = [&](float py) { return yNDC_ps(ws_win[3] - py / k); };
  GpsRasterPlace place;
  place.left = page_x(static_cast<float>(x) - 0.5f);
  place.bottom = page_y(static_cast<float>(y + img.height) - 0.5f);
  place.width = page_x(static_cast<float>(x + img.width) - 0.5f) - place.left;
  place.height = page_y(static_cast<float>(y) - 0.5f) - place.bottom;
  return place;
}

int gps_write_raster(FILE *out, const ImageRecord &img, const GpsRasterPlace &place, GpsRasterKind kind, bool reverse) {
  if (!out || img.width < 1 || img.height < 1 || !IMG_check_layout(&img)) return -1;
  const std::vector<uint32_t> pixels = colours_of(img);
  Palette pal;
  const bool indexed = kind == GpsRasterKind::colour && make_palette(pixels, &pal);

  std::fprintf(out, "gsave\ninitclip\n%.3f %.3f translate\n%.3f %.3f scale\n", place.left, place.bottom, place.width,
               place.height);
  const char *decode = "[0 1 0 1 0 1]";
  if (indexed) {
    write_palette_space(out, pal);
    decode = "[0 255]";
  } else {
    std::fputs(kind == GpsRasterKind::colour ? "/DeviceRGB setcolorspace\n" : "/DeviceGray setcolorspace\n", out);
    if (kind == GpsRasterKind::grey) decode = "[0 1]";
  }
  write_image_operator(out, img.width, img.height, decode);

  Ascii85Writer a85(out);
  const size_t width = static_cast<size_t>(img.width);
  std::vector<unsigned char> row(indexed || kind == GpsRasterKind::grey ? width : 3 * width);
  for (int y = 0; y < img.height; ++y) {
    const size_t first = static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x) {
      const uint32_t c = pixels[first + x];
      if (indexed) {
        row[x] = pal.entries[first + x];
      } else if (kind == GpsRasterKind::grey) {
        row[x] = grey_of(c, reverse);
      } else {
        row[3 * x] = static_cast<unsigned char>(c >> 16);
        row[3 * x + 1] = static_cast<unsigned char>(c >> 8);
        row[3 * x + 2] = static_cast<unsigned char>(c);
      }
    }
    run_length(row.data(), row.size(), &a85);
  }
  a85.put(kEndOfData);
  a85.finish();
  std::fputs("grestore\n", out);
  return 0;
}
