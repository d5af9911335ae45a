#include "image/gif.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>

#include "image/gif_blocks.h"
#include "image/gif_lzw.h"
#include "util/files.h"
#include "util/mess.h"

namespace {

struct GifState {
  int use_inter = 0;
  int trans = 0;
  // Kept between pictures so that coding touches no fresh memory.
  std::vector<unsigned char> out;
  std::vector<unsigned char> file;
  std::vector<unsigned char> codes;
};

GifState &state() {
  static GifState s;
  return s;
}

constexpr int kMaxLzwCodeSize = 11;  // the clear and end codes must fit the 4096-entry table
constexpr size_t kQueryBytes = 64 * 1024;
constexpr size_t kKeptOutput = size_t{8} << 20;

// ---- Reading ---------------------------------------------------------------

int read_image(GifByteReader &in, ImageRecord *img);
bool read_color_table(GifByteReader &in, int count, ImageRecord *img);

// The record of the screen and its first image.
int read_picture(GifByteReader &in, const GifScreen &screen, ImageRecord *img, int query) {
  img->width = screen.width;
  img->height = screen.height;
  img->depth = 8;
  img->bits_per_pixel = 8;
  img->bytes_per_line = img->width;
  img->color_type = 1;
  img->num_colors = screen.global_count;
  IMG_set_info(img, "GIF");
  MESS_print(MESS_DEBUG, "type: %s\n", img->info);
  IMG_log_fields(img);
  if (query == 1) return 1;

  if (img->num_colors > 0 && !read_color_table(in, img->num_colors, img)) {
    MESS_print(MESS_WARN, "GIF_read: Truncated color table\n");
    return 0;
  }
  if (IMG_alloc_pixels(img) == nullptr) {
    MESS_print(MESS_WARN, "Unable to allocate data buffer.\n");
    return 0;
  }
  unsigned char c;
  while (in.get(&c)) {
    if (c == ',') return read_image(in, img);
    if (c == '!') GIF_read_extension(in, nullptr, true);
  }
  return 1;
}

void report_graphic_control(const GifControl &c, int packed) {
  MESS_print(MESS_DEBUG, "Disposal method: %d\n", c.disposal);
  MESS_print(MESS_DEBUG, "User input: %d\n", (packed >> 1) & 1);
  MESS_print(MESS_DEBUG, "Transparency: %d\n", packed & 1);
  MESS_print(MESS_DEBUG, "Delay time: %d %.2f\n", c.delay, c.delay / 100.0);
  MESS_print(MESS_DEBUG, "Transparent color index: %d\n", c.transparent);
}

bool read_color_table(GifByteReader &in, int count, ImageRecord *img) {
  const unsigned char *rgb = in.take(static_cast<size_t>(count) * 3);
  if (rgb == nullptr) return false;
  if (IMG_alloc_colors(img, count) == nullptr) return false;
  for (int i = 0; i < count; i++) {
    img->colors[i] = {rgb[3 * i] / 255.0f, rgb[3 * i + 1] / 255.0f, rgb[3 * i + 2] / 255.0f};
  }
  MESS_print(MESS_DEBUG, "color table size: %d\n", count);
  return true;
}

// Copies the decoded rows (in stream order) to their places in the record,
// clipped to the record.
void place_rows(const unsigned char *decoded, int w, int h, bool interlaced, ImageRecord *img) {
  size_t n = std::min(w, img->bytes_per_line);
  if (n == 0 || decoded == nullptr) return;  // an empty image decodes to nothing
  size_t stream_row = 0;
  for (int row : LZW_row_order(h, interlaced)) {
    if (row < img->height) {
      std::memcpy(img->data + static_cast<size_t>(row) * img->bytes_per_line, decoded + stream_row * w, n);
    }
    stream_row++;
  }
}

int read_image(GifByteReader &in, ImageRecord *img) {
  unsigned char desc[9];
  if (!in.read(desc, 9)) {
    MESS_print(MESS_WARN, "GIF_read: Truncated image descriptor\n");
    return 1;
  }
  int w = GIF_le16(desc + 4), h = GIF_le16(desc + 6), packed = desc[8];
  MESS_print(MESS_DEBUG, "X: %3d Y: %3d W: %3d H: %3d\n", GIF_le16(desc), GIF_le16(desc + 2), w, h);
  if (packed & 0x80) {
    int count = 1 << ((packed & 7) + 1);
    if (!read_color_table(in, count, img)) {
      MESS_print(MESS_WARN, "GIF_read: Truncated local color table\n");
      return 0;
    }
  }
  bool interlaced = (packed & 0x40) != 0;
  size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<unsigned char> &codes = state().codes;
  LzwResult result;
  if (!interlaced && w == img->bytes_per_line) {
    // The common case decodes straight into the record.
    size_t fit = static_cast<size_t>(std::min(h, img->height)) * w;
    result = GIF_decode_image("GIF_read", in, img->data, fit, nullptr, &codes);
  } else {
    if (pixels > IMG_get_max_bytes()) {
      MESS_print(MESS_WARN, "GIF_read: Image too large: %d x %d\n", w, h);
      return 0;
    }
    std::vector<unsigned char> decoded(pixels);
    result = GIF_decode_image("GIF_read", in, decoded.data(), pixels, nullptr, &codes);
    place_rows(decoded.data(), w, h, interlaced, img);
  }
  if (codes.capacity() > kKeptOutput) std::vector<unsigned char>().swap(codes);
  switch (result) {
    case LzwResult::kCorrupt: return 0;
    case LzwResult::kTableFull: MESS_print(MESS_WARN, "GIF_read: LZW table overflow\n"); return 0;
    case LzwResult::kTruncated: MESS_print(MESS_WARN, "GIF_read: Image data ends early\n"); return 1;
    default: return 1;
  }
}

}  // namespace

bool GIF_read_extension(GifByteReader &in, GifControl *control, bool report) {
  unsigned char label, size;
  if (!in.get(&label) || !in.get(&size)) return false;
  const unsigned char *block = in.take(size);
  if (block == nullptr) return in.skip_to_end(), false;
  if (label == 0xF9 && size >= 4) {
    GifControl c;
    c.disposal = (block[0] >> 2) & 7;
    c.delay = GIF_le16(block + 1);
    c.transparent = (block[0] & 1) ? block[3] : -1;
    if (report) report_graphic_control(c, block[0]);
    if (control != nullptr) *control = c;
  } else if (label == 0xFF && size >= 11 && report) {
    MESS_print(MESS_DEBUG, "Application identifier: %8.8s\n", reinterpret_cast<const char *>(block));
    MESS_print(MESS_DEBUG, "Application authentication: %3.3s\n", reinterpret_cast<const char *>(block + 8));
  }
  return size == 0 || in.skip_sub_blocks();
}

int GIF_load_file(const char *who, const char *name, size_t max, std::vector<unsigned char> *bytes) {
  ImgStream f(FILE_open(name, "rb"));
  if (!f) {
    MESS_print(MESS_WARN, "%s: Unable to open file\n", who);
    return 0;
  }
  // A plain file is read in one go at its size; pipes and streams by parts.
  struct stat st {};
  if (fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<unsigned long long>(st.st_size) <= max) {
    std::setvbuf(f.get(), nullptr, _IONBF, 0);  // one read straight into the buffer
    bytes->resize(static_cast<size_t>(st.st_size));
    bytes->resize(std::fread(bytes->data(), 1, bytes->size(), f.get()));
    return 1;
  }
  IMG_slurp(f.get(), bytes, max);
  return 1;
}

int GIF_read_screen(const char *who, GifByteReader &in, GifScreen *screen) {
  unsigned char sig[3] = {0, 0, 0};
  in.read(sig, 3);
  if (std::memcmp(sig, "** ", 3) == 0) {
    unsigned char c = 0;
    while (in.get(&c) && c != '\n') {
    }
    std::memset(sig, 0, 3);
    in.read(sig, 3);
  }
  if (std::memcmp(sig, "GIF", 3) != 0) {
    MESS_print(MESS_WARN, "%s: Not a GIF file\n", who);
    return 0;
  }
  unsigned char head[10];  // version and logical screen descriptor
  if (!in.read(head, 10)) {
    MESS_print(MESS_WARN, "%s: Truncated GIF header\n", who);
    return 0;
  }
  int packed = head[7];
  screen->width = GIF_le16(head + 3);
  screen->height = GIF_le16(head + 5);
  screen->background = head[8];
  screen->global_count = (packed & 0x80) ? 1 << ((packed & 7) + 1) : 0;
  screen->global = nullptr;
  return 1;
}

LzwResult GIF_decode_image(const char *who, GifByteReader &in, unsigned char *out, size_t out_len, size_t *produced,
                           std::vector<unsigned char> *codes) {
  if (produced != nullptr) *produced = 0;
  unsigned char code_size;
  if (!in.get(&code_size)) return LzwResult::kTruncated;
  if (code_size < 1 || code_size > kMaxLzwCodeSize) {
    MESS_print(MESS_WARN, "%s: Invalid LZW code size: %d\n", who, code_size);
    return LzwResult::kCorrupt;
  }
  in.gather_sub_blocks(codes);
  if (out_len == 0) return LzwResult::kEndCode;
  LzwResult result = LZW_decode(codes->data(), codes->size(), code_size, out, out_len, produced);
  if (result == LzwResult::kCorrupt) MESS_print(MESS_WARN, "%s: Corrupt LZW data\n", who);
  return result;
}

int GIF_read(const char *name, ImageRecord *img, int query) {
  std::vector<unsigned char> &file = state().file;
  // LZW can grow data by half at worst, so a larger file cannot be a
  // picture within the pixel limit; what is past this is ignored. A query
  // needs no more than a comment line and the screen descriptor.
  if (!GIF_load_file("GIF_read", name, query == 1 ? kQueryBytes : IMG_get_max_bytes() * 2 + 4096, &file)) return 0;
  GifByteReader in(file.data(), file.size());
  GifScreen screen;
  int ok = GIF_read_screen("GIF_read", in, &screen) && read_picture(in, screen, img, query);
  if (file.capacity() > kKeptOutput) std::vector<unsigned char>().swap(file);
  return ok;
}

// ---- Palette reduction -------------------------------------------------------

unsigned long GIF_pixel_value(const ImageRecord *img, const unsigned char *row, int x) {
  bool msb = img->byte_order != 0;
  const unsigned char *p;
  switch (img->bits_per_pixel) {
    case 32:
      p = row + 4 * static_cast<size_t>(x);
      return msb ? (p[1] << 16) | (p[2] << 8) | p[3] : (p[2] << 16) | (p[1] << 8) | p[0];
    case 24:
      p = row + 3 * static_cast<size_t>(x);
      return msb ? (p[0] << 16) | (p[1] << 8) | p[2] : (p[2] << 16) | (p[1] << 8) | p[0];
    case 16: p = row + 2 * static_cast<size_t>(x); return msb ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
    case 8: return row[x];
    case 4: return (x & 1) ? row[x / 2] & 0x0F : row[x / 2] >> 4;
    case 2: return (row[x / 4] >> (6 - 2 * (x & 3))) & 3;
    case 1: return (row[x / 8] >> (x & 7)) & 1;
    default: return 0;
  }
}

namespace {

struct ChannelShift {
  int shift;  // lowest set bit of the mask
  int width;  // set bits of the mask
};

ChannelShift channel_shift(uint32_t mask) {
  if (mask == 0) return {0, 0};
  int shift = __builtin_ctz(mask);
  return {shift, __builtin_popcount(mask)};
}

unsigned char scale_channel(unsigned long value, uint32_t mask, ChannelShift c) {
  unsigned long v = (value & mask) >> c.shift;
  return static_cast<unsigned char>(c.width <= 8 ? v << (8 - c.width) : v >> (c.width - 8));
}

// Finds entry numbers for pixel values: a direct table for values below
// 2^16, a small open hash for wider ones.
class EntryMap {
 public:
  explicit EntryMap(int bits) : direct_(bits <= 16) {
    if (direct_) {
      direct_table_.assign(size_t{1} << bits, -1);
    } else {
      keys_.assign(kHashSlots, 0);
      values_.assign(kHashSlots, -1);
    }
  }
  // The entry of value, or -1 when it has none yet.
  int find(unsigned long value) const {
    if (direct_) return direct_table_[value];
    for (size_t i = hash(value);; i = (i + 1) & (kHashSlots - 1)) {
      if (values_[i] < 0) return -1;
      if (keys_[i] == value) return values_[i];
    }
  }
  void add(unsigned long value, int entry) {
    if (direct_) {
      direct_table_[value] = static_cast<short>(entry);
      return;
    }
    size_t i = hash(value);
    while (values_[i] >= 0) i = (i + 1) & (kHashSlots - 1);
    keys_[i] = value;
    values_[i] = static_cast<short>(entry);
  }

 private:
  static constexpr size_t kHashSlots = 1024;  // at most 256 values are ever stored
  static size_t hash(unsigned long v) { return (v * 2654435761u >> 12) & (kHashSlots - 1); }
  bool direct_;
  std::vector<short> direct_table_;
  std::vector<unsigned long> keys_;
  std::vector<short> values_;
};

class PaletteBuilder {
 public:
  PaletteBuilder(const ImageRecord *img, GifPalette *pal)
      : img_(img),
        pal_(pal),
        map_(img->bits_per_pixel),
        red_(channel_shift(img->red_mask)),
        grn_(channel_shift(img->green_mask)),
        blu_(channel_shift(img->blue_mask)) {
    pal_->num_color = 0;
  }

  int entry_of(unsigned long value) {
    if (value == last_value_) return last_entry_;
    int e = map_.find(value);
    if (e < 0) e = add(value);
    last_value_ = value;
    last_entry_ = e;
    return e;
  }

  void report() const {
    MESS_print(MESS_DEBUG, "mask: %d-%d %d-%d %d-%d\n", red_.shift, 8 - red_.width, grn_.shift, 8 - grn_.width,
               blu_.shift, 8 - blu_.width);
    MESS_print(MESS_DEBUG, "num_color: %d\n", pal_->num_color);
  }

 private:
  int add(unsigned long value) {
    if (pal_->num_color >= 256) return 0;
    int e = pal_->num_color++;
    pal_->color_ind[e] = value;
    set_color(e, value);
    map_.add(value, e);
    return e;
  }

  void set_color(int e, unsigned long value) {
    if (img_->color_type == 0) {
      pal_->red[e] = scale_channel(value, img_->red_mask, red_);
      pal_->grn[e] = scale_channel(value, img_->green_mask, grn_);
      pal_->blu[e] = scale_channel(value, img_->blue_mask, blu_);
      return;
    }
    if (img_->colors == nullptr || img_->num_colors <= 0) {
      // Without a colour map the values are grey levels.
      unsigned char grey = static_cast<unsigned char>(std::min<unsigned long>(value, 255));
      pal_->red[e] = pal_->grn[e] = pal_->blu[e] = grey;
      return;
    }
    // Values beyond the map show as its first entry, as on the screen.
    const ImageColor &c = img_->colors[value < static_cast<unsigned long>(img_->num_colors) ? value : 0];
    pal_->red[e] = static_cast<unsigned char>(255 * c.red);
    pal_->grn[e] = static_cast<unsigned char>(255 * c.green);
    pal_->blu[e] = static_cast<unsigned char>(255 * c.blue);
  }

  const ImageRecord *img_;
  GifPalette *pal_;
  EntryMap map_;
  ChannelShift red_, grn_, blu_;
  unsigned long last_value_ = ~0ul;
  int last_entry_ = 0;
};

}  // namespace

int GIF_reduce_palette(ImageRecord *img, unsigned char *entries, GifPalette *pal) {
  PaletteBuilder builder(img, pal);
  int bpp = img->bits_per_pixel;
  int per_row = static_cast<int>(static_cast<long long>(img->bytes_per_line) * 8 / bpp);
  int step = bpp / 8;
  int lead = (bpp == 16 && img->byte_order != 0) ? 1 : 0;
  int byte_entries[256];
  std::fill(std::begin(byte_entries), std::end(byte_entries), -1);
  for (int y = 0; y < img->height; y++) {
    unsigned char *row = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    unsigned char *out = entries != nullptr ? entries + static_cast<size_t>(y) * img->width : nullptr;
    if (bpp == 8 && out == nullptr) {
      // The common case: one byte per pixel, replaced where it stands.
      for (int x = 0; x < per_row; x++) {
        int v = x < img->width ? row[x] : 0;
        int e = byte_entries[v];
        if (e < 0) e = byte_entries[v] = builder.entry_of(v);
        row[x] = static_cast<unsigned char>(e);
      }
      continue;
    }
    for (int x = 0; x < per_row; x++) {
      unsigned long value = x < img->width ? GIF_pixel_value(img, row, x) : 0;
      int e = builder.entry_of(value);
      if (out != nullptr) {
        if (x < img->width) out[x] = static_cast<unsigned char>(e);
      } else {
        unsigned char *p = row + static_cast<size_t>(x) * step;
        std::memset(p, 0, step);
        p[lead] = static_cast<unsigned char>(e);
      }
    }
  }
  builder.report();
  return pal->num_color;
}

// ---- Writing -----------------------------------------------------------------

namespace {

void put_le16(std::vector<unsigned char> *out, int v) {
  out->push_back(static_cast<unsigned char>(v & 0xFF));
  out->push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

int table_bits(int used) {
  int n = 1;
  while ((1 << n) < used) n++;
  return n;
}

int transparent_entry(const ImageRecord *img, const GifPalette &pal) {
  long back = img->back_pixel;
  for (int e = 0; e < pal.num_color; e++) {
    if (static_cast<long>(pal.color_ind[e]) == back) return e;
  }
  return 0;
}

void put_header(std::vector<unsigned char> *out, const ImageRecord *img, const GifPalette &pal, int n) {
  const unsigned char *sig = reinterpret_cast<const unsigned char *>("GIF89a");
  out->insert(out->end(), sig, sig + 6);
  put_le16(out, img->width);
  put_le16(out, img->height);
  out->push_back(static_cast<unsigned char>(0x80 + (n - 1) * 16 + (n - 1)));
  out->push_back(0);  // background entry
  out->push_back(0);  // aspect
  for (int e = 0; e < (1 << n); e++) {
    bool used = e < pal.num_color;
    out->push_back(used ? pal.red[e] : 0);
    out->push_back(used ? pal.grn[e] : 0);
    out->push_back(used ? pal.blu[e] : 0);
  }
}

void put_transparency(std::vector<unsigned char> *out, int entry) {
  const unsigned char gce[] = {0x21, 0xF9, 0x04, 0x01, 10, 0, static_cast<unsigned char>(entry), 0};
  out->insert(out->end(), gce, gce + sizeof(gce));
}

void put_image_descriptor(std::vector<unsigned char> *out, const ImageRecord *img, int code_size) {
  out->push_back(',');
  put_le16(out, 0);
  put_le16(out, 0);
  put_le16(out, img->width);
  put_le16(out, img->height);
  out->push_back(state().use_inter == 1 ? 0x40 : 0);
  out->push_back(static_cast<unsigned char>(code_size));
}

}  // namespace

int GIF_write(const char *name, ImageRecord *img) {
  IMG_log_fields(img);
  if (!IMG_check_layout(img)) {
    MESS_print(MESS_WARN, "GIF_write: No pixels to write (%d x %d, %d bits per pixel)\n", img->width, img->height,
               img->bits_per_pixel);
    return 0;
  }
  ImgStream f(FILE_open(name, "wb"));
  if (!f) {
    MESS_print(MESS_WARN, "Unable to open GIF file\n");
    return 0;
  }

  GifPalette pal;
  LzwSource src;
  std::vector<unsigned char> packed_entries;
  if (img->bits_per_pixel >= 8) {
    GIF_reduce_palette(img, nullptr, &pal);
    src.base = img->data + ((img->bits_per_pixel == 16 && img->byte_order != 0) ? 1 : 0);
    src.pixel_step = img->bits_per_pixel / 8;
    src.row_step = img->bytes_per_line;
  } else {
    // Packed pixels cannot hold an entry number in place.
    packed_entries.resize(static_cast<size_t>(img->width) * img->height);
    GIF_reduce_palette(img, packed_entries.data(), &pal);
    src.base = packed_entries.data();
    src.pixel_step = 1;
    src.row_step = img->width;
  }
  src.width = img->width;
  src.height = img->height;
  src.interlaced = state().use_inter == 1;

  int n = table_bits(pal.num_color);
  int code_size = std::max(n, 2);
  MESS_print(MESS_DEBUG, "num_color+: %d\n", 1 << n);
  MESS_print(MESS_DEBUG, "code_size: %d\n", code_size);

  std::vector<unsigned char> &out = state().out;
  out.clear();
  put_header(&out, img, pal, n);
  if (state().trans) put_transparency(&out, transparent_entry(img, pal));
  put_image_descriptor(&out, img, code_size);
  LZW_encode(src, code_size, &out);
  out.push_back(0);  // block terminator
  out.push_back(';');

  bool written = std::fwrite(out.data(), 1, out.size(), f.get()) == out.size();
  if (out.capacity() > kKeptOutput) std::vector<unsigned char>().swap(out);
  if (!written) {
    MESS_print(MESS_WARN, "GIF_write: Unable to write GIF file\n");
    return 0;
  }
  return 1;
}

int GIF_interlace(int on) {
  state().use_inter = on;
  return 0;
}

int GIF_transparent(int on) {
  state().trans = on;
  return 0;
}
