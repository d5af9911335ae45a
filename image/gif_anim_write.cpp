// A sequence of frames written as one looping GIF89a animation, each frame
// after the first reduced to the rectangle that changed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/gif.h"
#include "image/gif_lzw.h"
#include "image/img_tool.h"
#include "util/files.h"
#include "util/mess.h"

namespace {

constexpr const char *kWho = "GIF_write_frames";
constexpr int kMaxSide = 65535;
constexpr int kMaxDelay = 65535;
constexpr uint32_t kNoColor = 0xFFFFFFFFu;  // no 24-bit colour has the top byte set

using Rgb = uint32_t;  // 0xRRGGBB

// ---- Frames as 24-bit colours -------------------------------------------------

struct ChannelScale {
  uint32_t mask;
  int shift, width;
  explicit ChannelScale(uint32_t m)
      : mask(m), shift(m != 0 ? __builtin_ctz(m) : 0), width(m != 0 ? __builtin_popcount(m) : 0) {}
  // A channel to 8 bits the way GIF_write takes it: narrower ones shifted up.
  uint32_t operator()(unsigned long value) const {
    if (width == 0) return 0;
    uint32_t v = static_cast<uint32_t>((value & mask) >> shift);
    return width >= 8 ? v >> (width - 8) : v << (8 - width);
  }
};

uint8_t color_byte(float c) { return static_cast<uint8_t>(std::lround(std::clamp(c, 0.0f, 1.0f) * 255.0f)); }

// The colour of each value of a colour-mapped record; values beyond the
// map show as its first entry, without a map they are grey levels.
std::vector<Rgb> map_colors(const ImageRecord &img) {
  std::vector<Rgb> lut(256);
  for (int v = 0; v < 256; v++) {
    if (img.colors == nullptr || img.num_colors <= 0) {
      lut[v] = static_cast<Rgb>(v) * 0x010101u;
      continue;
    }
    const ImageColor &c = img.colors[v < img.num_colors ? v : 0];
    lut[v] = (color_byte(c.red) << 16) | (color_byte(c.green) << 8) | color_byte(c.blue);
  }
  return lut;
}

// Converts a record (which passed IMG_check_layout) to width x height colours.
void frame_colors(const ImageRecord &img, std::vector<Rgb> *out) {
  out->resize(static_cast<size_t>(img.width) * img.height);
  Rgb *o = out->data();
  if (img.color_type == 1 && img.bits_per_pixel <= 8) {
    std::vector<Rgb> lut = map_colors(img);
    for (int y = 0; y < img.height; y++) {
      const unsigned char *row = img.data + static_cast<size_t>(y) * img.bytes_per_line;
      if (img.bits_per_pixel == 8) {
        for (int x = 0; x < img.width; x++) *o++ = lut[row[x]];
      } else {
        for (int x = 0; x < img.width; x++) *o++ = lut[GIF_pixel_value(&img, row, x) & 0xFF];
      }
    }
    return;
  }
  ChannelScale red(img.red_mask), green(img.green_mask), blue(img.blue_mask);
  std::vector<Rgb> lut = img.color_type == 1 ? map_colors(img) : std::vector<Rgb>();
  unsigned long last_value = ~0ul;
  Rgb last = 0;
  for (int y = 0; y < img.height; y++) {
    const unsigned char *row = img.data + static_cast<size_t>(y) * img.bytes_per_line;
    for (int x = 0; x < img.width; x++) {
      unsigned long v = GIF_pixel_value(&img, row, x);
      if (v != last_value) {
        last_value = v;
        last = img.color_type == 1 ? lut[v < 256 ? v : 0] : (red(v) << 16) | (green(v) << 8) | blue(v);
      }
      *o++ = last;
    }
  }
}

// ---- Colour tables ---------------------------------------------------------------

// A colour table of at most 256 entries with a quick way back from a colour
// to its entry.
class ColorTable {
 public:
  ColorTable() { clear(); }
  void clear() {
    colors_.clear();
    std::fill(std::begin(keys_), std::end(keys_), kNoColor);
  }
  int size() const { return static_cast<int>(colors_.size()); }
  const std::vector<Rgb> &colors() const { return colors_; }
  // The entry of c, added when there is room; -1 when the table is full.
  int entry(Rgb c) {
    size_t s = slot(c);
    if (keys_[s] == c) return entries_[s];
    if (colors_.size() >= 256) return -1;
    keys_[s] = c;
    entries_[s] = static_cast<uint8_t>(colors_.size());
    colors_.push_back(c);
    return entries_[s];
  }
  int find(Rgb c) const {
    size_t s = slot(c);
    return keys_[s] == c ? entries_[s] : -1;
  }

 private:
  static constexpr size_t kSlots = 2048;
  size_t slot(Rgb c) const {
    size_t s = (c * 2654435761u) >> 21;
    while (keys_[s] != kNoColor && keys_[s] != c) s = (s + 1) & (kSlots - 1);
    return s;
  }
  std::vector<Rgb> colors_;
  Rgb keys_[kSlots];
  uint8_t entries_[kSlots] = {};
};

// Adds the colours of pixels to table; false when they do not fit.
bool collect(const std::vector<Rgb> &pixels, ColorTable *table) {
  Rgb last = kNoColor;
  for (Rgb c : pixels) {
    if (c == last) continue;
    last = c;
    if (table->entry(c) < 0) return false;
  }
  return true;
}

// Reduces a picture of more than 256 colours to 255 by cutting the colour
// cube (5 bits a channel) at the median of its most populous box in turn;
// each box's colour is the mean of its pixels. The pixels are replaced.
void quantize(std::vector<Rgb> *pixels, ColorTable *table) {
  constexpr int kBins = 1 << 15;
  auto bin_of = [](Rgb c) { return static_cast<int>(((c >> 9) & 0x7C00) | ((c >> 6) & 0x03E0) | ((c >> 3) & 0x1F)); };
  std::vector<uint32_t> count(kBins, 0);
  std::vector<uint64_t> sum(3 * kBins, 0);
  for (Rgb c : *pixels) {
    int b = bin_of(c);
    count[b]++;
    sum[3 * b] += c >> 16, sum[3 * b + 1] += (c >> 8) & 0xFF, sum[3 * b + 2] += c & 0xFF;
  }
  std::vector<int> bins;
  for (int b = 0; b < kBins; b++) {
    if (count[b] != 0) bins.push_back(b);
  }
  struct Box {
    size_t begin, end;  // range of bins
    uint64_t pixels;
  };
  auto channel = [](int bin, int ch) { return (bin >> (10 - 5 * ch)) & 0x1F; };
  std::vector<Box> boxes{{0, bins.size(), pixels->size()}};
  while (boxes.size() < 255) {
    // Cut the box with the most pixels that holds more than one bin.
    auto it = std::max_element(boxes.begin(), boxes.end(), [](const Box &a, const Box &b) {
      return (a.end - a.begin > 1 ? a.pixels : 0) < (b.end - b.begin > 1 ? b.pixels : 0);
    });
    if (it->end - it->begin < 2) break;
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    for (size_t i = it->begin; i < it->end; i++) {
      for (int ch = 0; ch < 3; ch++)
        lo[ch] = std::min(lo[ch], channel(bins[i], ch)), hi[ch] = std::max(hi[ch], channel(bins[i], ch));
    }
    int ch = 0;
    for (int k = 1; k < 3; k++) {
      if (hi[k] - lo[k] > hi[ch] - lo[ch]) ch = k;
    }
    std::sort(bins.begin() + it->begin, bins.begin() + it->end,
              [&](int a, int b) { return channel(a, ch) < channel(b, ch); });
    uint64_t half = it->pixels / 2, seen = 0;
    size_t cut = it->begin;
    while (cut + 1 < it->end && seen + count[bins[cut]] <= half) seen += count[bins[cut++]];
    if (cut == it->begin) seen += count[bins[cut++]];
    Box upper{cut, it->end, it->pixels - seen};
    it->end = cut;
    it->pixels = seen;
    boxes.push_back(upper);
  }
  std::vector<uint8_t> entry_of_bin(kBins, 0);
  table->clear();
  for (const Box &box : boxes) {
    uint64_t n = 0, r = 0, g = 0, b = 0;
    for (size_t i = box.begin; i < box.end; i++) {
      int bin = bins[i];
      n += count[bin], r += sum[3 * bin], g += sum[3 * bin + 1], b += sum[3 * bin + 2];
    }
    Rgb c = n == 0 ? 0 : static_cast<Rgb>(((r / n) << 16) | ((g / n) << 8) | (b / n));
    int e = table->entry(c);  // two boxes may share a mean
    for (size_t i = box.begin; i < box.end; i++) entry_of_bin[bins[i]] = static_cast<uint8_t>(e);
  }
  const std::vector<Rgb> &colors = table->colors();
  for (Rgb &c : *pixels) c = colors[entry_of_bin[bin_of(c)]];
}

// ---- The file -------------------------------------------------------------------

void put_le16(std::vector<unsigned char> *out, int v) {
  out->push_back(static_cast<unsigned char>(v & 0xFF));
  out->push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

int table_bits(int entries) {
  int n = 1;
  while ((1 << n) < entries) n++;
  return n;
}

// A global table keeps one more entry, when it has room, for the pixels a
// frame leaves as they were.
int global_entries(const ColorTable &global) { return global.size() + (global.size() < 256 ? 1 : 0); }

void put_table(std::vector<unsigned char> *out, const std::vector<Rgb> &colors, int bits) {
  for (int e = 0; e < (1 << bits); e++) {
    Rgb c = e < static_cast<int>(colors.size()) ? colors[e] : 0;
    out->insert(out->end(), {static_cast<unsigned char>(c >> 16), static_cast<unsigned char>(c >> 8),
                             static_cast<unsigned char>(c)});
  }
}

void put_header(std::vector<unsigned char> *out, int width, int height, const ColorTable *global) {
  for (const char *sig = "GIF89a"; *sig != '\0'; sig++) out->push_back(static_cast<unsigned char>(*sig));
  put_le16(out, width);
  put_le16(out, height);
  int bits = global != nullptr ? table_bits(global_entries(*global)) : 1;
  out->push_back(static_cast<unsigned char>(global != nullptr ? 0x80 | (bits - 1) << 4 | (bits - 1) : 0));
  out->push_back(0);  // background entry
  out->push_back(0);  // aspect
  if (global != nullptr) put_table(out, global->colors(), bits);
  // Loop for ever.
  const unsigned char loop[] = {0x21, 0xFF, 0x0B, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                                'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
  out->insert(out->end(), loop, loop + sizeof(loop));
}

struct Rect {
  int x0, y0, x1, y1;  // x1, y1 exclusive
};

// The smallest rectangle that holds every pixel of cur that differs from
// shown; nullopt-like width 0 when none does.
Rect changed_rect(const std::vector<Rgb> &cur, const std::vector<Rgb> &shown, int width, int height) {
  Rect r{width, height, 0, 0};
  for (int y = 0; y < height; y++) {
    const Rgb *a = &cur[static_cast<size_t>(y) * width], *b = &shown[static_cast<size_t>(y) * width];
    int x = 0;
    while (x < width && a[x] == b[x]) x++;
    if (x == width) continue;
    int last = width - 1;
    while (a[last] == b[last]) last--;
    r.x0 = std::min(r.x0, x);
    r.x1 = std::max(r.x1, last + 1);
    r.y0 = std::min(r.y0, y);
    r.y1 = y + 1;
  }
  return r;
}

// Everything the frames share while they are written.
class AnimationWriter {
 public:
  AnimationWriter(int width, int height, std::vector<unsigned char> *out) : width_(width), height_(height), out_(out) {}

  // Uses one global table for all frames when their colours fit.
  void set_global(const ColorTable &table) {
    global_ = &table;
    transparent_ = table.size() < 256 ? table.size() : -1;
  }

  void frame(std::vector<Rgb> *cur, int delay) {
    ColorTable local;
    const ColorTable *table = global_;
    int transparent = transparent_;
    if (table == nullptr) {
      if (!collect(*cur, &local)) quantize(cur, &local);
      table = &local;
      transparent = local.size() < 256 ? local.size() : -1;
    }
    Rect r{0, 0, width_, height_};
    if (!shown_.empty()) {
      r = changed_rect(*cur, shown_, width_, height_);
      if (r.x1 <= r.x0) r = {0, 0, 1, 1};  // nothing changed: one pixel, kept as it was
    } else {
      transparent = -1;  // nothing to see through on the first frame
    }
    int w = r.x1 - r.x0, h = r.y1 - r.y0;
    // Every pixel gets its entry; one that did not change may instead be
    // the transparent entry, whichever codes shorter.
    indices_.resize(static_cast<size_t>(w) * h);
    unchanged_.assign(transparent >= 0 ? indices_.size() : 0, 0);
    unsigned char *o = indices_.data();
    unsigned char *same = unchanged_.data();
    for (int y = r.y0; y < r.y1; y++) {
      const Rgb *row = &(*cur)[static_cast<size_t>(y) * width_];
      const Rgb *old = shown_.empty() ? nullptr : &shown_[static_cast<size_t>(y) * width_];
      Rgb last = kNoColor;
      int last_entry = 0;
      for (int x = r.x0; x < r.x1; x++) {
        if (row[x] != last) last = row[x], last_entry = table->find(last);
        *o++ = static_cast<unsigned char>(last_entry);
        if (transparent >= 0) *same++ = row[x] == old[x];
      }
    }
    int bits = global_ != nullptr ? table_bits(global_entries(*global_))
                                  : table_bits(table->size() + (transparent >= 0 ? 1 : 0));
    const unsigned char gce[] = {0x21,
                                 0xF9,
                                 0x04,
                                 static_cast<unsigned char>((1 << 2) | (transparent >= 0 ? 1 : 0)),
                                 static_cast<unsigned char>(delay & 0xFF),
                                 static_cast<unsigned char>(delay >> 8),
                                 static_cast<unsigned char>(transparent >= 0 ? transparent : 0),
                                 0};
    out_->insert(out_->end(), gce, gce + sizeof(gce));
    out_->push_back(',');
    put_le16(out_, r.x0);
    put_le16(out_, r.y0);
    put_le16(out_, w);
    put_le16(out_, h);
    out_->push_back(static_cast<unsigned char>(global_ != nullptr ? 0 : 0x80 | (bits - 1)));
    if (global_ == nullptr) put_table(out_, local.colors(), bits);
    int code_size = std::max(bits, 2);
    out_->push_back(static_cast<unsigned char>(code_size));
    LzwSource src;
    src.base = indices_.data();
    src.row_step = w;
    src.width = w;
    src.height = h;
    if (transparent >= 0) {
      src.either = unchanged_.data();
      src.either_value = transparent;
    }
    LZW_encode(src, code_size, out_);
    out_->push_back(0);
    shown_.swap(*cur);
  }

 private:
  const int width_, height_;
  std::vector<unsigned char> *out_;
  const ColorTable *global_ = nullptr;
  int transparent_ = -1;    // entry of the global table kept for unchanged pixels
  std::vector<Rgb> shown_;  // the screen after the frames so far
  std::vector<unsigned char> indices_;
  std::vector<unsigned char> unchanged_;  // 1 where a pixel may be transparent
};

bool check_frame(const ImageRecord *f, int i, int width, int height) {
  if (f == nullptr || !IMG_check_layout(f)) {
    MESS_print(MESS_WARN, "%s: Frame %d has no pixels to write\n", kWho, i);
    return false;
  }
  if (f->width != width || f->height != height) {
    MESS_print(MESS_WARN, "%s: Frame %d is %d x %d, not %d x %d as the first\n", kWho, i, f->width, f->height, width,
               height);
    return false;
  }
  if (width > kMaxSide || height > kMaxSide) {
    MESS_print(MESS_WARN, "%s: Frames of %d x %d are too large for GIF\n", kWho, width, height);
    return false;
  }
  return true;
}

// Frames from an array.
struct ArrayFeed {
  const ImageRecord *frames;
  const int *delays;
  const ImageRecord *get(int i, int *delay) {
    *delay = delays != nullptr ? delays[i] : 0;
    return &frames[i];
  }
  void release() {}
};

// Frames from a source, one record at a time.
struct SourceFeed {
  GifFrameSource source;
  void *user;
  ImageRecord img;
  SourceFeed(GifFrameSource s, void *u) : source(s), user(u) { IMG_init(&img); }
  ~SourceFeed() { IMG_free(&img); }
  const ImageRecord *get(int i, int *delay) {
    IMG_free(&img);
    IMG_init(&img);
    *delay = 0;
    return source(i, &img, delay, user) == 1 ? &img : nullptr;
  }
  void release() { IMG_free(&img); }
};

// Two passes over the frames: their colours, to choose the tables, then
// the frames themselves.
template <typename Feed>
int write_animation(const char *name, int count, Feed &feed) {
  if (count < 1) {
    MESS_print(MESS_WARN, "%s: No frames to write\n", kWho);
    return 0;
  }
  int delay = 0, width = 0, height = 0;
  std::vector<Rgb> pixels;
  ColorTable global;
  bool shared = true;
  for (int i = 0; i < count && (shared || i == 0); i++) {
    const ImageRecord *f = feed.get(i, &delay);
    if (i == 0 && f != nullptr) width = f->width, height = f->height;
    if (!check_frame(f, i, width, height)) return 0;
    frame_colors(*f, &pixels);
    feed.release();
    shared = shared && collect(pixels, &global);
  }
  std::vector<unsigned char> out;
  put_header(&out, width, height, shared ? &global : nullptr);
  AnimationWriter writer(width, height, &out);
  if (shared) writer.set_global(global);
  for (int i = 0; i < count; i++) {
    const ImageRecord *f = feed.get(i, &delay);
    if (!check_frame(f, i, width, height)) return 0;
    frame_colors(*f, &pixels);
    feed.release();
    writer.frame(&pixels, std::clamp(delay, 0, kMaxDelay));
  }
  out.push_back(';');

  ImgStream f(FILE_open(name, "wb"));
  if (!f) {
    MESS_print(MESS_WARN, "%s: Unable to open GIF file: %s\n", kWho, name);
    return 0;
  }
  if (std::fwrite(out.data(), 1, out.size(), f.get()) != out.size()) {
    MESS_print(MESS_WARN, "%s: Unable to write GIF file: %s\n", kWho, name);
    return 0;
  }
  return 1;
}

}  // namespace

int GIF_write_frames(const char *name, const ImageRecord *frames, const int *delays_cs, int count) {
  if (frames == nullptr) count = 0;
  ArrayFeed feed{frames, delays_cs};
  return write_animation(name, count, feed);
}

int GIF_write_frame_source(const char *name, int count, GifFrameSource source, void *user) {
  if (source == nullptr) count = 0;
  SourceFeed feed(source, user);
  return write_animation(name, count, feed);
}
