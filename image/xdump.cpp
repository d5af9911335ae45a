#include "image/xdump.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/mess.h"

namespace {

constexpr int kHeaderFields = 25;
constexpr uint32_t kHeaderBytes = kHeaderFields * 4;
constexpr uint32_t kFileVersion = 7;
constexpr uint32_t kZPixmap = 2;
constexpr uint32_t kPseudoColor = 3;
constexpr uint32_t kTrueColor = 4;
constexpr uint32_t kDirectColor = 5;
constexpr size_t kColorEntryBytes = 16;  // pixel, 4 bytes of 0, r, g, b, flags, pad
constexpr int kMaxSide = 65535;

enum Field {
  kHeaderSize,
  kVersion,
  kFormat,
  kDepth,
  kWidth,
  kHeight,
  kXOffset,
  kByteOrder,
  kBitmapUnit,
  kBitOrder,
  kBitmapPad,
  kBitsPerPixel,
  kBytesPerLine,
  kVisualClass,
  kRedMask,
  kGreenMask,
  kBlueMask,
  kBitsPerRgb,
  kColormapEntries,
  kNumColors,
  kWindowWidth,
  kWindowHeight,
  kWindowX,
  kWindowY,
  kBorderWidth
};

uint32_t get_be32(const unsigned char *b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
unsigned get_be16(const unsigned char *b) { return (b[0] << 8) | b[1]; }

void put_be32(unsigned char *b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v >> 24);
  b[1] = static_cast<unsigned char>(v >> 16);
  b[2] = static_cast<unsigned char>(v >> 8);
  b[3] = static_cast<unsigned char>(v);
}
void put_be16(unsigned char *b, unsigned v) {
  b[0] = static_cast<unsigned char>(v >> 8);
  b[1] = static_cast<unsigned char>(v);
}

// The reader reports on the standard error stream itself, not through the
// message module, so that its complaints show whatever the message level.
int fail(const char *text) {
  std::fputs(text, stderr);
  return 0;
}

bool valid_bits_per_pixel(uint32_t bpp) {
  static const uint32_t kValid[] = {1, 4, 8, 16, 24, 32};
  return std::find(std::begin(kValid), std::end(kValid), bpp) != std::end(kValid);
}

// The header fields must describe rows that hold their pixels, so that the
// record can be drawn and written without reading past its rows.
bool check_layout(const uint32_t *h) {
  if (h[kWidth] < 1 || h[kWidth] > kMaxSide || h[kHeight] < 1 || h[kHeight] > kMaxSide) {
    std::fprintf(stderr, "XWD_read: Invalid image size: %u x %u\n", h[kWidth], h[kHeight]);
    return false;
  }
  uint64_t row_bits = uint64_t{h[kWidth]} * h[kBitsPerPixel];
  if (!valid_bits_per_pixel(h[kBitsPerPixel]) || h[kDepth] < 1 || h[kDepth] > h[kBitsPerPixel] ||
      uint64_t{h[kBytesPerLine]} * 8 < row_bits || h[kBytesPerLine] > 4 * uint64_t{kMaxSide} + 64 ||
      h[kByteOrder] > 1) {
    std::fprintf(stderr,
                 "XWD_read: Invalid pixel format: depth %u, %u bits per pixel, %u bytes per line, byte order %u\n",
                 h[kDepth], h[kBitsPerPixel], h[kBytesPerLine], h[kByteOrder]);
    return false;
  }
  if (h[kNumColors] > IMG_MAX_COLORS) {
    std::fprintf(stderr, "XWD_read: Too many colors: %u\n", h[kNumColors]);
    return false;
  }
  return true;
}

// Keeps the first 75 characters of the window name, skipping the rest.
bool read_window_name(FILE *f, uint32_t length, ImageRecord *img) {
  char kept[IMG_INFO_SIZE] = {};
  uint32_t keep = std::min<uint32_t>(length, IMG_INFO_MAX);
  if (std::fread(kept, 1, keep, f) != keep) return false;
  for (uint32_t left = length - keep; left > 0;) {
    char skip[4096];
    size_t n = std::min<size_t>(left, sizeof(skip));
    if (std::fread(skip, 1, n, f) != n) return false;
    left -= static_cast<uint32_t>(n);
  }
  IMG_set_info(img, kept);
  return true;
}

bool read_color_map(FILE *f, int count, ImageRecord *img) {
  if (IMG_alloc_colors(img, count) == nullptr) return false;
  for (int i = 0; i < count; i++) {
    unsigned char e[kColorEntryBytes];
    if (std::fread(e, 1, sizeof(e), f) != sizeof(e)) return false;
    uint32_t pixel = get_be32(e);
    if (pixel >= static_cast<uint32_t>(count)) continue;
    img->colors[pixel] = {get_be16(e + 8) / 65535.0f, get_be16(e + 10) / 65535.0f, get_be16(e + 12) / 65535.0f};
  }
  return true;
}

}  // namespace

int XWD_read(const char *name, ImageRecord *img, int query) {
  ImgStream f(std::fopen(name, "r"));
  if (!f) return fail("Unable to open dump file\n");

  unsigned char raw[kHeaderBytes];
  if (std::fread(raw, 1, sizeof(raw), f.get()) != sizeof(raw)) return fail("Unable to read dump file header\n");
  uint32_t h[kHeaderFields];
  for (int i = 0; i < kHeaderFields; i++) h[i] = get_be32(raw + 4 * i);

  if (h[kVersion] != kFileVersion) return fail("XWD file format version mismatch\n");
  if (h[kHeaderSize] < kHeaderBytes) return fail("XWD header size is too small.\n");
  if (static_cast<int64_t>(h[kDepth]) > img->depth) {
    std::fprintf(stderr, "Incorrect depth: %d > %d\n", static_cast<int>(h[kDepth]), img->depth);
    return 0;
  }
  if (!check_layout(h)) return 0;
  if (!read_window_name(f.get(), h[kHeaderSize] - kHeaderBytes, img)) {
    return fail("Unable to read window name from dump file.\n");
  }

  img->width = static_cast<int>(h[kWidth]);
  img->height = static_cast<int>(h[kHeight]);
  img->byte_order = static_cast<int>(h[kByteOrder]);
  img->depth = static_cast<int>(h[kDepth]);
  img->bytes_per_line = static_cast<int>(h[kBytesPerLine]);
  img->bits_per_pixel = static_cast<int>(h[kBitsPerPixel]);
  // A direct-colour dump without a colour map (as image tools write true
  // colour) is read as true colour too.
  bool true_color = h[kVisualClass] == kTrueColor || (h[kVisualClass] == kDirectColor && h[kNumColors] == 0);
  img->color_type = true_color ? 0 : 1;
  if (img->color_type == 0) {
    img->red_mask = h[kRedMask];
    img->green_mask = h[kGreenMask];
    img->blue_mask = h[kBlueMask];
  }
  int num_colors = static_cast<int>(h[kNumColors]);
  IMG_log_fields(img);
  MESS_print(MESS_DEBUG, "color type: %d\n", img->color_type);
  MESS_print(MESS_DEBUG, "num_colors: %d\n", num_colors);

  if (num_colors > 0 && !read_color_map(f.get(), num_colors, img)) {
    return fail("Unable to read color map from dump file.\n");
  }
  if (IMG_alloc_pixels(img) == nullptr) return fail("Unable to allocate data buffer.\n");
  size_t size = static_cast<size_t>(img->bytes_per_line) * img->height;
  if (std::fread(img->data, 1, size, f.get()) != size) return fail("Unable to read pixmap from dump file.\n");
  return 1;
}

int XWD_write(const char *name, const ImageRecord *img) {
  if (!IMG_check_layout(img)) {
    MESS_print(MESS_WARN, "XWD_write: No pixels to write (%d x %d, %d bits per pixel)\n", img->width, img->height,
               img->bits_per_pixel);
    return 0;
  }
  ImgStream f(std::fopen(name, "w"));
  if (!f) {
    MESS_print(MESS_WARN, "Unable to open dump file\n");
    return 0;
  }
  int num_colors = img->colors != nullptr ? img->num_colors : 0;
  size_t name_bytes = std::strlen(img->info) + 1;

  uint32_t h[kHeaderFields] = {};
  h[kHeaderSize] = static_cast<uint32_t>(kHeaderBytes + name_bytes);
  h[kVersion] = kFileVersion;
  h[kFormat] = kZPixmap;
  h[kDepth] = img->depth;
  h[kWidth] = img->width;
  h[kHeight] = img->height;
  h[kByteOrder] = img->byte_order;
  h[kBitmapUnit] = 32;
  h[kBitOrder] = img->byte_order;
  h[kBitmapPad] = 32;
  h[kBitsPerPixel] = img->bits_per_pixel;
  h[kBytesPerLine] = img->bytes_per_line;
  h[kVisualClass] = img->color_type == 1 ? kPseudoColor : kTrueColor;
  h[kRedMask] = img->red_mask;
  h[kGreenMask] = img->green_mask;
  h[kBlueMask] = img->blue_mask;
  h[kBitsPerRgb] = 8;
  h[kColormapEntries] = num_colors;
  h[kNumColors] = num_colors;
  h[kWindowWidth] = img->width;
  h[kWindowHeight] = img->height;
  unsigned char raw[kHeaderBytes];
  for (int i = 0; i < kHeaderFields; i++) put_be32(raw + 4 * i, h[i]);
  if (std::fwrite(raw, 1, sizeof(raw), f.get()) != sizeof(raw)) {
    MESS_print(MESS_WARN, "Unable to write dump file header\n");
    return 0;
  }
  IMG_log_fields(img);
  MESS_print(MESS_DEBUG, "num colors: %d\n", num_colors);

  if (std::fwrite(img->info, 1, name_bytes, f.get()) != name_bytes) {
    MESS_print(MESS_WARN, "Unable to write window name to dump file.\n");
    return 0;
  }
  std::vector<unsigned char> entries(kColorEntryBytes * num_colors);
  for (int i = 0; i < num_colors; i++) {
    unsigned char *e = &entries[kColorEntryBytes * i];
    auto channel = [](float v) { return static_cast<unsigned>(65535 * std::clamp(v, 0.0f, 1.0f)); };
    put_be32(e, static_cast<uint32_t>(i));
    put_be16(e + 8, channel(img->colors[i].red));
    put_be16(e + 10, channel(img->colors[i].green));
    put_be16(e + 12, channel(img->colors[i].blue));
    e[14] = 7;  // all three channels
  }
  if (!entries.empty() && std::fwrite(entries.data(), 1, entries.size(), f.get()) != entries.size()) {
    MESS_print(MESS_WARN, "Unable to write color map to dump file.\n");
    return 0;
  }
  size_t size = static_cast<size_t>(img->bytes_per_line) * img->height;
  if (std::fwrite(img->data, 1, size, f.get()) != size) {
    MESS_print(MESS_WARN, "Unable to write to XWD file.\n");
    return 0;
  }
  return 1;
}
