// Animated GIFs read as a browser shows them: every image composed onto
// the logical screen, one frame per image.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/gif.h"
#include "image/gif_blocks.h"
#include "image/gif_lzw.h"
#include "image/img_tool.h"
#include "util/mess.h"

namespace {

constexpr const char *kWho = "GIF_read_frames";
constexpr int kMaxLzwCodeSize = 11;
constexpr int kMaxDelay = 6000;       // hundredths: a frame shown longer than a minute is a damaged file
constexpr int kReportedProblems = 3;  // images reported one by one; the rest are counted

struct Rect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 exclusive
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

struct ImageDesc {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int table_count = 0;                   // local table entries, 0 none
  const unsigned char *table = nullptr;  // its red, green, blue bytes
};

bool read_descriptor(GifByteReader &in, ImageDesc *d) {
  const unsigned char *b = in.take(9);
  if (b == nullptr) return false;
  d->left = GIF_le16(b);
  d->top = GIF_le16(b + 2);
  d->width = GIF_le16(b + 4);
  d->height = GIF_le16(b + 6);
  d->interlaced = (b[8] & 0x40) != 0;
  d->table_count = (b[8] & 0x80) ? 2 << (b[8] & 7) : 0;
  d->table = d->table_count > 0 ? in.take(static_cast<size_t>(d->table_count) * 3) : nullptr;
  return d->table_count == 0 || d->table != nullptr;
}

// The first pass: how many images there are, and whether they all use one
// table (then frames can stay colour-mapped with exact colours).
struct Survey {
  int images = 0;
  bool one_table = true;
};

Survey survey(GifByteReader in, const GifScreen &screen) {
  Survey s;
  s.one_table = screen.global_count > 0;
  unsigned char c;
  while (in.get(&c) && c != ';') {
    if (c == '!') {
      if (!GIF_read_extension(in, nullptr, false)) break;
    } else if (c == ',') {
      ImageDesc d;
      if (!read_descriptor(in, &d)) break;
      s.images++;
      if (d.table != nullptr &&
          (d.table_count != screen.global_count || std::memcmp(d.table, screen.global, 3 * d.table_count) != 0)) {
        s.one_table = false;
      }
      if (!in.get(&c) || !in.skip_sub_blocks()) break;
    }
  }
  return s;
}

// The logical screen as shown so far, and the rectangle an image with
// "restore to previous" will give back.
class Canvas {
 public:
  Canvas(const GifScreen &screen, bool indexed)
      : width_(screen.width), height_(screen.height), bytes_(indexed ? 1 : 3), global_(screen) {
    bool has_background = screen.global_count > screen.background;
    if (indexed) {
      background_[0] = static_cast<unsigned char>(screen.background);
    } else if (has_background) {
      std::memcpy(background_, screen.global + 3 * screen.background, 3);
    }
  }

  bool allocate() {
    size_t size = static_cast<size_t>(width_) * height_ * bytes_;
    if (size > IMG_get_max_bytes()) {
      MESS_print(MESS_WARN, "%s: Screen too large: %d x %d\n", kWho, width_, height_);
      return false;
    }
    pixels_.resize(size);
    fill({0, 0, width_, height_}, background_);
    return true;
  }

  // The part of an image on the screen; all zero when there is none.
  Rect clip(const ImageDesc &d) const {
    Rect r{std::max(d.left, 0), std::max(d.top, 0), std::min(d.left + d.width, width_),
           std::min(d.top + d.height, height_)};
    return r.empty() ? Rect() : r;
  }

  // What the previous image's disposal asks for, before the next is drawn.
  void dispose(int disposal, const Rect &r) {
    if (disposal == 2) fill(r, background_);
    if (disposal == 3) restore(r);
  }

  void save(const Rect &r) {
    saved_.clear();
    for (int y = r.y0; y < r.y1; y++) {
      const unsigned char *row = at(r.x0, y);
      saved_.insert(saved_.end(), row, row + static_cast<size_t>(r.x1 - r.x0) * bytes_);
    }
  }

  // Draws the decoded pixels (stream order, produced of them) of an image
  // whose visible part is r; the transparent index leaves the screen.
  void draw(const std::vector<unsigned char> &decoded, size_t produced, const ImageDesc &d, const Rect &r,
            int transparent) {
    const unsigned char *table = d.table != nullptr ? d.table : global_.global;
    int count = d.table != nullptr ? d.table_count : global_.global_count;
    std::vector<int> rows = LZW_row_order(d.height, d.interlaced);
    for (size_t k = 0; k < rows.size(); k++) {
      int y = d.top + rows[k];
      size_t first = k * d.width + (r.x0 - d.left);
      if (y < r.y0 || y >= r.y1) continue;
      if (first >= produced) continue;
      size_t n = std::min(static_cast<size_t>(r.x1 - r.x0), produced - first);
      draw_run(decoded.data() + first, n, at(r.x0, y), transparent, table, count);
    }
  }

  // A record of the screen for the sink.
  bool deliver(GifFrameSink sink, int delay, void *user, int *stop) {
    ImageRecord img;
    IMG_init(&img);
    img.width = width_;
    img.height = height_;
    img.depth = bytes_ == 1 ? 8 : 24;
    img.bits_per_pixel = 8 * bytes_;
    img.bytes_per_line = width_ * bytes_;
    img.color_type = bytes_ == 1 ? 1 : 0;
    if (bytes_ == 3) img.red_mask = 0xFF0000, img.green_mask = 0x00FF00, img.blue_mask = 0x0000FF;
    IMG_set_info(&img, "GIF");
    if (IMG_alloc_pixels(&img) == nullptr || (bytes_ == 1 && IMG_alloc_colors(&img, global_.global_count) == nullptr)) {
      IMG_free(&img);
      return false;
    }
    std::memcpy(img.data, pixels_.data(), pixels_.size());
    for (int i = 0; i < img.num_colors; i++) {
      const unsigned char *c = global_.global + 3 * i;
      img.colors[i] = {c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f};
    }
    *stop = sink(&img, delay, user);
    IMG_free(&img);
    return true;
  }

 private:
  unsigned char *at(int x, int y) { return pixels_.data() + (static_cast<size_t>(y) * width_ + x) * bytes_; }

  void fill(const Rect &r, const unsigned char *value) {
    for (int y = r.y0; y < r.y1; y++) {
      unsigned char *p = at(r.x0, y);
      for (int x = r.x0; x < r.x1; x++, p += bytes_) std::memcpy(p, value, bytes_);
    }
  }

  void restore(const Rect &r) {
    size_t row_bytes = static_cast<size_t>(r.x1 - r.x0) * bytes_;
    if (saved_.size() != row_bytes * (r.y1 - r.y0)) return;
    for (int y = r.y0; y < r.y1; y++) std::memcpy(at(r.x0, y), &saved_[(y - r.y0) * row_bytes], row_bytes);
  }

  void draw_run(const unsigned char *src, size_t n, unsigned char *dst, int transparent, const unsigned char *table,
                int count) {
    if (bytes_ == 1) {
      if (transparent < 0) return void(std::memcpy(dst, src, n));
      for (size_t i = 0; i < n; i++) {
        if (src[i] != transparent) dst[i] = src[i];
      }
      return;
    }
    for (size_t i = 0; i < n; i++, dst += 3) {
      int v = src[i];
      if (v == transparent) continue;
      if (table == nullptr) {
        dst[0] = dst[1] = dst[2] = static_cast<unsigned char>(v);  // no table: grey levels
      } else {
        std::memcpy(dst, table + 3 * (v < count ? v : 0), 3);  // beyond the table: its first entry
      }
    }
  }

  const int width_, height_, bytes_;
  const GifScreen &global_;
  unsigned char background_[3] = {0, 0, 0};
  std::vector<unsigned char> pixels_;
  std::vector<unsigned char> saved_;
};

// Reports the first few images that show nothing or only in part, and
// counts the rest.
class Problems {
 public:
  void note(const char *format, int image, const ImageDesc &d, const GifScreen &s) {
    if (++count_ <= kReportedProblems) {
      MESS_print(MESS_WARN, format, kWho, image, d.width, d.height, d.left, d.top, s.width, s.height);
    }
  }
  ~Problems() {
    if (count_ > kReportedProblems) {
      MESS_print(MESS_WARN, "%s: %d more images lie outside the screen or are empty\n", kWho,
                 count_ - kReportedProblems);
    }
  }

 private:
  int count_ = 0;
};

// Decodes an image's data; the pixels a short stream leaves out stay as
// they are on the screen. The buffer is no larger than the data could fill.
LzwResult decode(GifByteReader &in, const ImageDesc &d, std::vector<unsigned char> *codes,
                 std::vector<unsigned char> *out, size_t *produced) {
  *produced = 0;
  unsigned char code_size;
  if (!in.get(&code_size)) return LzwResult::kTruncated;
  if (code_size < 1 || code_size > kMaxLzwCodeSize) return LzwResult::kCorrupt;
  bool complete = in.gather_sub_blocks(codes);
  size_t pixels = static_cast<size_t>(d.width) * d.height;
  // Every code takes at least code_size + 1 bits and names at most 4096 pixels.
  size_t reachable = (codes->size() * 8 / (code_size + 1) + 1) * 4096;
  out->resize(std::min(pixels, reachable));
  if (out->empty()) return complete ? LzwResult::kEndCode : LzwResult::kTruncated;
  LzwResult r =
      LZW_decode(codes->data(), codes->size(), code_size, out->data(), out->size(), produced, LzwFullTable::kKeep);
  if (r == LzwResult::kFull && *produced < pixels) r = LzwResult::kTruncated;
  if (!complete && (r == LzwResult::kFull || r == LzwResult::kEndCode)) r = LzwResult::kTruncated;
  return r;
}

int clamp_delay(int delay, int image) {
  if (delay <= kMaxDelay) return delay;
  MESS_print(MESS_WARN, "%s: Delay of image %d cut from %d to %d hundredths of a second\n", kWho, image, delay,
             kMaxDelay);
  return kMaxDelay;
}

}  // namespace

int GIF_read_frames(const char *name, int max_frames, GifFrameSink sink, void *user) {
  if (max_frames < 1 || sink == nullptr) return 0;
  std::vector<unsigned char> file;
  if (!GIF_load_file(kWho, name, IMG_get_max_bytes() * 2 + 4096, &file)) return 0;
  GifByteReader in(file.data(), file.size());
  GifScreen screen;
  if (!GIF_read_screen(kWho, in, &screen)) return 0;
  if (screen.width == 0 || screen.height == 0) {
    MESS_print(MESS_WARN, "%s: Empty logical screen: %d x %d\n", kWho, screen.width, screen.height);
    return 0;
  }
  if (screen.global_count > 0) {
    screen.global = in.take(static_cast<size_t>(screen.global_count) * 3);
    if (screen.global == nullptr) {
      MESS_print(MESS_WARN, "%s: Truncated color table\n", kWho);
      return 0;
    }
  }
  Survey s = survey(in, screen);
  if (s.images == 0) {
    MESS_print(MESS_WARN, "%s: No image in file: %s\n", kWho, name);
    return 0;
  }
  int first = std::max(0, s.images - max_frames);
  if (first > 0) MESS_print(MESS_DEBUG, "%s: %d images, the last %d kept\n", kWho, s.images, max_frames);
  Canvas canvas(screen, s.one_table);
  if (!canvas.allocate()) return 0;

  Problems problems;
  GifControl control;
  std::vector<unsigned char> codes, decoded;
  int image = 0, delivered = 0, stop = 0;
  int last_disposal = 0;
  Rect last_rect;
  unsigned char c;
  while (!stop && in.get(&c) && c != ';') {
    if (c == '!') {
      GIF_read_extension(in, &control, true);
      continue;
    }
    if (c != ',') continue;
    ImageDesc d;
    if (!read_descriptor(in, &d)) break;
    canvas.dispose(last_disposal, last_rect);
    Rect r = canvas.clip(d);
    if (d.width == 0 || d.height == 0) {
      problems.note("%s: Image %d is empty (%d x %d at %d, %d on a %d x %d screen)\n", image, d, screen);
    } else if (r.empty()) {
      problems.note("%s: Image %d (%d x %d at %d, %d) lies outside the %d x %d screen\n", image, d, screen);
    } else if (r.x1 - r.x0 < d.width || r.y1 - r.y0 < d.height) {
      problems.note("%s: Image %d (%d x %d at %d, %d) reaches beyond the %d x %d screen\n", image, d, screen);
    }
    if (control.disposal == 3) canvas.save(r);
    size_t produced = 0;
    LzwResult result = decode(in, d, &codes, &decoded, &produced);
    if (!r.empty()) canvas.draw(decoded, produced, d, r, control.transparent);
    if (image >= first && delivered < max_frames &&
        canvas.deliver(sink, clamp_delay(control.delay, image), user, &stop))
      delivered++;
    if (result == LzwResult::kCorrupt) {
      MESS_print(MESS_WARN, "%s: Corrupt LZW data in image %d; the frames after it are dropped\n", kWho, image);
      break;
    }
    if (result == LzwResult::kTruncated) {
      MESS_print(MESS_WARN, "%s: Image %d ends early\n", kWho, image);
    }
    last_disposal = control.disposal;
    last_rect = r;
    control = GifControl();
    image++;
  }
  return delivered;
}
