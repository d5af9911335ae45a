// The LZW decoder of GIF image data, and the row order of interlaced images.
#include "image/gif_lzw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxWidth = 12;

// Codes are packed least significant bit first.
class BitReader {
 public:
  BitReader(const unsigned char *p, size_t n) : p_(p), end_(p + n) {}

  bool fill(int need) {
    if (bits_ >= need) return true;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (end_ - p_ >= 8) {
      uint64_t v;
      std::memcpy(&v, p_, 8);
      buf_ |= v << bits_;
      p_ += (63 - bits_) >> 3;
      bits_ |= 56;
      return true;
    }
#endif
    while (bits_ <= 56 && p_ < end_) {
      buf_ |= static_cast<uint64_t>(*p_++) << bits_;
      bits_ += 8;
    }
    return bits_ >= need;
  }
  int take(int width) {
    int code = static_cast<int>(buf_ & ((1u << width) - 1));
    buf_ >>= width;
    bits_ -= width;
    return code;
  }

 private:
  const unsigned char *p_;
  const unsigned char *end_;
  uint64_t buf_ = 0;
  int bits_ = 0;
};

// The single-pixel strings, with room for a 16-byte load past the last.
// Code sizes above 8 have roots beyond 255; their pixels keep the low byte.
struct RootBytes {
  unsigned char b[kMaxCodes + 16];
  RootBytes() {
    for (int i = 0; i < kMaxCodes; i++) b[i] = static_cast<unsigned char>(i);
    std::memset(b + kMaxCodes, 0, 16);
  }
};

const unsigned char *root_bytes() {
  static const RootBytes roots;
  return roots.b;
}

// Every string of the table is somewhere already: a root in root_bytes(),
// any longer one in the output, where it was written before. A table entry
// is where it is and how long it is, so emitting any code is one copy and
// the common path has a single test. The clear and end codes have length 0
// and take the rare path together with codes not yet defined.
class LzwDecoder {
 public:
  // Made once and kept: the tables are the only state of a decoding.
  void start(int code_size, unsigned char *out, size_t out_len, bool keep_full) {
    keep_full_ = keep_full;
    code_size_ = code_size;
    clear_code_ = 1 << code_size;
    end_code_ = clear_code_ + 1;
    out_ = cur_ = out;
    end_ = out + out_len;
    const unsigned char *roots = root_bytes();
    for (int r = 0; r < clear_code_; r++) {
      src_[r] = roots + r;
      len_[r] = 1;
    }
    len_[clear_code_] = len_[end_code_] = 0;
    reset();
  }

  size_t produced() const { return static_cast<size_t>(cur_ - out_); }

  LzwResult run(BitReader &in) {
    LzwResult result;
    if (!start_after_clear(in, &result)) return result;
    for (;;) {
      if (!in.fill(width_)) return LzwResult::kTruncated;
      int code = in.take(width_);
      unsigned char *begin = cur_;
      int len;
      if (__builtin_expect(code < next_ && len_[code] != 0, 1)) {
        len = len_[code];
        if (!copy(src_[code], len)) return LzwResult::kFull;
      } else if (code == clear_code_) {
        reset();
        if (!start_after_clear(in, &result)) return result;
        continue;
      } else if (code == end_code_) {
        return LzwResult::kEndCode;
      } else if (code == next_) {
        // The string being defined: the previous one and its own first pixel.
        len = prev_len_ + 1;
        if (!repeat_previous()) return LzwResult::kFull;
      } else {
        return LzwResult::kCorrupt;
      }
      if (next_ < kMaxCodes) {
        src_[next_] = prev_;
        len_[next_] = static_cast<uint16_t>(prev_len_ + 1);
        if (++next_ >= (1 << width_) && width_ < kMaxWidth) width_++;
      } else if (!keep_full_) {
        return LzwResult::kTableFull;
      }
      prev_ = begin;
      prev_len_ = len;
      if (cur_ == end_) return LzwResult::kFull;
    }
  }

 private:
  void reset() {
    width_ = code_size_ + 1;
    next_ = end_code_ + 1;
  }

  // The first code after a clear (or at the start) names a root and
  // defines nothing. false when decoding ends here, with the result.
  bool start_after_clear(BitReader &in, LzwResult *result) {
    for (;;) {
      if (!in.fill(width_)) return *result = LzwResult::kTruncated, false;
      int code = in.take(width_);
      if (code == clear_code_) continue;
      if (code == end_code_) return *result = LzwResult::kEndCode, false;
      if (code > clear_code_) return *result = LzwResult::kCorrupt, false;
      prev_ = cur_;
      prev_len_ = 1;
      *cur_++ = static_cast<unsigned char>(code);
      if (cur_ == end_) return *result = LzwResult::kFull, false;
      return true;
    }
  }

  // A string never overlaps the place it is copied to: it ends at or
  // before the first pixel of the string that followed it.
  bool copy(const unsigned char *src, int len) {
    size_t room = static_cast<size_t>(end_ - cur_);
    if (__builtin_expect(len <= 16 && room >= 16, 1)) {
      // Short strings dominate: one fixed-size move, loaded before it is
      // stored, so bytes past the string's end are harmless.
      unsigned char block[16];
      std::memcpy(block, src, 16);
      std::memcpy(cur_, block, 16);
      cur_ += len;
      return true;
    }
    size_t n = std::min(static_cast<size_t>(len), room);
    std::memcpy(cur_, src, n);
    cur_ += n;
    return n == static_cast<size_t>(len);
  }

  // Writes the previous string and its first pixel again, one byte at a
  // time: the last byte copied is the first one written.
  bool repeat_previous() {
    for (int i = 0; i <= prev_len_; i++) {
      if (cur_ == end_) return false;
      *cur_ = i < prev_len_ ? prev_[i] : prev_[0];
      cur_++;
    }
    return true;
  }

  int code_size_ = 0, clear_code_ = 0, end_code_ = 0;
  bool keep_full_ = false;
  unsigned char *out_ = nullptr;
  unsigned char *end_ = nullptr;
  unsigned char *cur_ = nullptr;
  int width_ = 0;
  int next_ = 0;
  const unsigned char *prev_ = nullptr;  // where the previous string was written
  int prev_len_ = 0;
  const unsigned char *src_[kMaxCodes];
  uint16_t len_[kMaxCodes];
};

// The decoder and its tables, kept from one picture to the next.
struct LzwDecodeState {
  std::unique_ptr<LzwDecoder> decoder_;
  LzwDecoder &decoder() {
    if (!decoder_) decoder_ = std::make_unique<LzwDecoder>();
    return *decoder_;
  }
};

LzwDecodeState &state() {
  static LzwDecodeState s;
  return s;
}

}  // namespace

std::vector<int> LZW_row_order(int height, bool interlaced) {
  std::vector<int> rows;
  rows.reserve(height > 0 ? height : 0);
  if (!interlaced) {
    for (int y = 0; y < height; y++) rows.push_back(y);
    return rows;
  }
  static const int kPassStart[4] = {0, 4, 2, 1};
  static const int kPassStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; pass++) {
    for (int y = kPassStart[pass]; y < height; y += kPassStep[pass]) rows.push_back(y);
  }
  return rows;
}

LzwResult LZW_decode(const unsigned char *codes, size_t n, int code_size, unsigned char *out, size_t out_len,
                     size_t *produced, LzwFullTable full) {
  if (produced != nullptr) *produced = 0;
  if (out_len == 0) return LzwResult::kFull;
  BitReader in(codes, n);
  LzwDecoder &decoder = state().decoder();
  decoder.start(code_size, out, out_len, full == LzwFullTable::kKeep);
  LzwResult result = decoder.run(in);
  if (produced != nullptr) *produced = decoder.produced();
  return result;
}
