// The LZW encoder of GIF image data.
#include "image/gif_lzw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxWidth = 12;
// Buffers kept between pictures up to this size; larger ones go back.
constexpr size_t kKeptBytes = size_t{8} << 20;

// A longest match at some position: its code, the code of all but its
// last pixel (-1 for a single pixel), its length, and how many of its
// leading pixels repeat the first.
struct Match {
  int code;
  int shorter;
  int len;
  int run;
  int first;           // the value the first pixel was coded as
  int slot_pixel;      // the pixel free_slot was found for
  uint32_t free_slot;  // where the string one pixel longer would go in the table
};

// The table is cleared when it holds 4095 strings: leaving the last code
// unused packs busy pictures a little tighter than filling it.
constexpr int kClearAt = kMaxCodes - 1;

// A shorter code than the longest match defines a string the table holds
// already, so the look-ahead that may choose one runs only where new
// strings are worth little: in the last codes before the table is cleared
// and in the last pixels of the picture. Strings longer than kLookaheadMax
// are taken whole.
constexpr int kLookaheadCodes = 512;
constexpr size_t kLookaheadPixels = 4096;
constexpr int kLookaheadMax = 24;

class LzwEncoder {
 public:
  LzwEncoder() {
    std::fill(std::begin(table_), std::end(table_), kFree);
    std::fill(std::begin(pairs_), std::end(pairs_), int16_t{-1});
  }

  // Made once and kept, so that no coding allocates or touches fresh
  // memory beyond its output.
  void start(int code_size, const unsigned char *px, size_t n, const unsigned char *either, int either_value) {
    either_ = either;
    either_value_ = either_value;
    code_size_ = code_size;
    clear_code_ = 1 << code_size;
    end_code_ = clear_code_ + 1;
    px_ = px;
    n_ = n;
    width_ = code_size_ + 1;
    mask_ = (1 << width_) - 1;
    next_ = clear_code_ + 2;
    acc_ = 0;
    acc_bits_ = 0;
    raw_len_ = 0;
    // Every code covers a pixel, bar the clear and end codes: at most
    // 12 bits per pixel plus a clear per table, and room for 8-byte stores.
    size_t bound = n + n / 2 + n / 1024 + 64;
    if (raw_.size() < bound) raw_.resize(bound);
    for (int p : used_runs_) runs_[p].clear();
    used_runs_.clear();
  }

  // Gives back a code buffer that a huge picture left behind.
  void trim(size_t keep) {
    if (raw_.capacity() > keep) std::vector<unsigned char>().swap(raw_);
  }

  // Greedy matching with a one-step look-ahead: when the match at hand
  // less its last pixel leaves a next match at least two pixels longer,
  // the shorter code is sent (any parse decodes: the decoder grows its
  // table from the codes it gets). The table entry such a step defines
  // repeats an existing string, so it is counted but not stored.
  void encode(std::vector<unsigned char> *out) {
    if (either_ != nullptr) {
      encode_pixels<true>();
    } else {
      encode_pixels<false>();
    }
    out_code(end_code_);
    if (acc_bits_ > 0) put_bytes(8);
    write_sub_blocks(out);
  }

 private:
  template <bool kEither>
  void encode_pixels() {
    clear_table();
    size_t i = 0;
    Match cur = longest<kEither>(0);
    for (;;) {
      size_t after = i + cur.len;
      if (after >= n_) {
        out_code(cur.code);
        break;
      }
      Match next = longest<kEither>(after);
      if (cur.len >= 2 && cur.len <= kLookaheadMax &&
          (next_ >= kClearAt - kLookaheadCodes || n_ - i < kLookaheadPixels)) {
        Match alt = longest<kEither>(after - 1);
        if (alt.len > next.len + 1) {
          out_code(cur.shorter);
          if (!define_repeat()) alt = longest<kEither>(after - 1);
          i = after - 1;
          cur = alt;
          continue;
        }
      }
      out_code(cur.code);
      if (define(cur, next.first)) {
        // The new string may be the start of the next match.
        if (next.code == cur.code) next = walk<kEither>(after, next);
      } else {
        next = longest<kEither>(after);
      }
      i = after;
      cur = next;
    }
  }

  static constexpr int kHashBits = 15;
  static constexpr uint32_t kHashMask = (1u << kHashBits) - 1;
  // An entry is the key (prefix code << 8 | pixel) above the 12-bit code.
  // All ones is free: no string ever extends code 4095.
  static constexpr uint32_t kFree = 0xFFFFFFFFu;
  static constexpr uint32_t kNoSlot = 0xFFFFFFFFu;

  static uint32_t slot_of(uint32_t key) { return (key * 2654435761u) >> (32 - kHashBits); }

  // The code of the pair, or -1 with the free slot where it would go.
  int find(int prefix, int pixel, uint32_t *free_slot) const {
    uint32_t key = (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
    for (uint32_t s = slot_of(key);; s = (s + 1) & kHashMask) {
      uint32_t e = table_[s];
      if (e == kFree) return *free_slot = s, -1;
      if ((e >> 12) == key) return static_cast<int>(e & 0xFFF);
    }
  }

  // The slot a failed find gave may have been taken by a later insert.
  void insert(int prefix, int pixel, int code, uint32_t s) {
    if (s == kNoSlot) s = slot_of((static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel));
    if (prefix < clear_code_) {
      int pair = (prefix << 8) | pixel;
      pairs_[pair] = static_cast<int16_t>(code);
      pairs_taken_[pairs_taken_count_++] = static_cast<uint16_t>(pair);
      return;
    }
    uint32_t key = (static_cast<uint32_t>(prefix) << 8) | static_cast<uint32_t>(pixel);
    if (table_[s] != kFree) {
      s = slot_of(key);
      while (table_[s] != kFree) s = (s + 1) & kHashMask;
    }
    table_[s] = (key << 12) | static_cast<uint32_t>(code);
    taken_[taken_count_++] = s;
  }

  template <bool kEither>
  [[gnu::always_inline]] inline Match longest(size_t i) const {
    int p = px_[i];
    Match m{p, -1, 1, 1, p, -1, 0};
    // Long runs of one pixel (the background of most pictures) pass through
    // the strings p, pp, ppp, ... in turn; those codes are kept by length,
    // so a run is matched by counting it instead of one lookup per pixel.
    if (i + 1 < n_ && px_[i + 1] == p && !runs_[p].empty()) {
      size_t limit = std::min(runs_[p].size() + 1, n_ - i);
      int r = static_cast<int>(count_same(px_ + i, limit, static_cast<unsigned char>(p)));
      m = {run_code(p, r), run_code(p, r - 1), r, r, p, -1, 0};
    }
    m = walk<kEither>(i, m);
    if (!kEither || either_[i] == 0) return m;
    // A pixel that may take either value starts the longer string, the
    // transparent one when they tie.
    Match other = walk<kEither>(i, {either_value_, -1, 1, 1, either_value_, -1, 0});
    return other.len >= m.len ? other : m;
  }

  // The code of p repeated k times (k >= 1), -1 for k = 0.
  int run_code(int p, int k) const { return k >= 2 ? runs_[p][k - 2] : k == 1 ? p : -1; }

  // Extends the match at i while the table has the longer string.
  // Two-pixel strings, the first step of most matches, come from a direct
  // table; longer ones from the hash.
  template <bool kEither>
  [[gnu::always_inline]] inline Match walk(size_t i, Match m) const {
    const unsigned char *px = px_ + i;
    const unsigned char *either = kEither ? either_ + i : nullptr;
    const size_t room = n_ - i;
    if (m.len == 1) {
      if (room < 2) return m;
      bool free = kEither && either[1] != 0;
      int pixel = free ? either_value_ : px[1];
      int c = pairs_[(m.code << 8) | pixel];
      if (c < 0 && free) {
        pixel = px[1];
        c = pairs_[(m.code << 8) | pixel];
      }
      if (c < 0) return m;
      m.run += pixel == m.first;
      m.shorter = m.code;
      m.code = c;
      m.len = 2;
    }
    while (static_cast<size_t>(m.len) < room) {
      bool free = kEither && either[m.len] != 0;
      int pixel = free ? either_value_ : px[m.len];
      int c = find(m.code, pixel, &m.free_slot);
      m.slot_pixel = pixel;
      if (c < 0 && free) {
        uint32_t slot;
        pixel = px[m.len];
        c = find(m.code, pixel, &slot);
      }
      if (c < 0) return m;
      m.run += (m.run == m.len) & (pixel == m.first);
      m.shorter = m.code;
      m.code = c;
      m.len++;
    }
    return m;
  }

  static size_t count_same(const unsigned char *p, size_t limit, unsigned char v) {
    size_t r = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t pattern = 0x0101010101010101ull * v;
    for (; r + 8 <= limit; r += 8) {
      uint64_t w;
      std::memcpy(&w, p + r, 8);
      uint64_t diff = w ^ pattern;
      if (diff != 0) return r + __builtin_ctzll(diff) / 8;
    }
#endif
    while (r < limit && p[r] == v) r++;
    return r;
  }

  // Stores the string of m (which starts with pixel first) followed by
  // pixel; false when the table was full and has been cleared instead.
  bool define(const Match &m, int pixel) {
    if (next_ >= kClearAt) {
      clear_table();
      return false;
    }
    insert(m.code, pixel, next_, pixel == m.slot_pixel ? m.free_slot : kNoSlot);
    if (m.run == m.len && pixel == m.first && runs_[pixel].size() + 1 == static_cast<size_t>(m.len)) {
      if (runs_[pixel].empty()) used_runs_.push_back(pixel);
      runs_[pixel].push_back(static_cast<int16_t>(next_));
    }
    next_++;
    return true;
  }

  bool define_repeat() {
    if (next_ >= kClearAt) {
      clear_table();
      return false;
    }
    next_++;
    return true;
  }

  void clear_table() {
    out_code(clear_code_);
    // Small pictures fill a few slots of the big table: free just those.
    for (int i = 0; i < taken_count_; i++) table_[taken_[i]] = kFree;
    taken_count_ = 0;
    for (int i = 0; i < pairs_taken_count_; i++) pairs_[pairs_taken_[i]] = -1;
    pairs_taken_count_ = 0;
    for (int p : used_runs_) runs_[p].clear();
    used_runs_.clear();
    width_ = code_size_ + 1;
    mask_ = (1 << width_) - 1;
    next_ = end_code_ + 1;
  }

  void out_code(int code) {
    acc_ |= static_cast<uint64_t>(code) << acc_bits_;
    acc_bits_ += width_;
    if (acc_bits_ >= 32) put_bytes(4);
    if (next_ > mask_ && width_ < kMaxWidth) {
      width_++;
      mask_ = (1 << width_) - 1;
    }
  }

  // Moves whole bytes of the accumulator out; count is 4 while coding, 8
  // for the last partial byte at the end.
  void put_bytes(int count) {
    std::memcpy(&raw_[raw_len_], &acc_, 8);
    int bytes = count == 4 ? 4 : (acc_bits_ + 7) / 8;
    raw_len_ += bytes;
    acc_ = bytes < 8 ? acc_ >> (8 * bytes) : 0;
    acc_bits_ = std::max(0, acc_bits_ - 8 * bytes);
  }

  // Full sub-blocks carry 254 data bytes, the last one the rest.
  void write_sub_blocks(std::vector<unsigned char> *out) const {
    size_t at = out->size();
    out->resize(at + raw_len_ + raw_len_ / 254 + 1);
    unsigned char *o = out->data() + at;
    for (size_t done = 0; done < raw_len_; done += 254) {
      size_t len = std::min<size_t>(254, raw_len_ - done);
      *o++ = static_cast<unsigned char>(len);
      std::memcpy(o, &raw_[done], len);
      o += len;
    }
    out->resize(static_cast<size_t>(o - out->data()));
  }

  int code_size_ = 0, clear_code_ = 0, end_code_ = 0;
  const unsigned char *px_ = nullptr;
  size_t n_ = 0;
  const unsigned char *either_ = nullptr;
  int either_value_ = -1;
  int width_ = 0, mask_ = 0, next_ = 0;
  uint64_t acc_ = 0;
  int acc_bits_ = 0;
  std::vector<unsigned char> raw_;
  size_t raw_len_ = 0;
  uint32_t table_[1u << kHashBits];
  uint32_t taken_[kMaxCodes];  // the slots in use
  int taken_count_ = 0;
  int16_t pairs_[256 * 256];  // code of the string of two roots (first << 8 | second), -1 none
  uint16_t pairs_taken_[kMaxCodes];
  int pairs_taken_count_ = 0;
  // Codes of the strings pp, ppp, ...: runs_[p][k - 2] is p repeated k times.
  std::vector<int16_t> runs_[256];
  std::vector<int> used_runs_;
};

// The pixels of a source one after another, in the order they are coded.
const unsigned char *stream_pixels(const LzwSource &src, std::vector<unsigned char> *buffer) {
  size_t w = static_cast<size_t>(src.width);
  if (src.pixel_step == 1 && !src.interlaced && src.row_step == src.width) return src.base;
  buffer->resize(w * static_cast<size_t>(src.height));
  unsigned char *o = buffer->data();
  for (int y : LZW_row_order(src.height, src.interlaced)) {
    const unsigned char *row = src.base + static_cast<long>(y) * src.row_step;
    if (src.pixel_step == 1) {
      std::memcpy(o, row, w);
    } else {
      for (size_t x = 0; x < w; x++) o[x] = row[x * src.pixel_step];
    }
    o += w;
  }
  return buffer->data();
}

// The encoder and its buffers, kept from one picture to the next.
struct LzwEncodeState {
  std::unique_ptr<LzwEncoder> encoder_;
  std::vector<unsigned char> pixels;  // a source gathered into coding order
  LzwEncoder &encoder() {
    if (!encoder_) encoder_ = std::make_unique<LzwEncoder>();
    encoder_->trim(kKeptBytes);
    return *encoder_;
  }
};

LzwEncodeState &state() {
  static LzwEncodeState s;
  return s;
}

}  // namespace

void LZW_encode(const LzwSource &src, int code_size, std::vector<unsigned char> *out) {
  if (src.width <= 0 || src.height <= 0) return;
  LzwEncodeState &s = state();
  const unsigned char *px = stream_pixels(src, &s.pixels);
  size_t n = static_cast<size_t>(src.width) * static_cast<size_t>(src.height);
  LzwEncoder &encoder = s.encoder();
  bool contiguous = px == src.base;
  encoder.start(code_size, px, n, contiguous ? src.either : nullptr, src.either_value);
  encoder.encode(out);
  if (s.pixels.capacity() > kKeptBytes) std::vector<unsigned char>().swap(s.pixels);
}
