#include "image/gif_lzw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxWidth = 12;

// ---- Decoding ----------------------------------------------------------------

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

// Every string in the table was written to the output before, so a table
// entry is just where that happened: emitting a code copies bytes from
// earlier in the output instead of walking prefix links.
class LzwDecoder {
 public:
  LzwDecoder(int code_size, unsigned char *out, size_t out_len)
      : code_size_(code_size), clear_code_(1 << code_size), end_code_(clear_code_ + 1), out_(out), out_len_(out_len) {
    width_ = code_size_ + 1;
    next_ = clear_code_ + 2;
  }

  LzwResult run(BitReader &in) {
    for (;;) {
      if (!in.fill(width_)) return LzwResult::kTruncated;
      int code = in.take(width_);
      if (code == clear_code_) {
        clear();
        continue;
      }
      if (code == end_code_) return LzwResult::kEndCode;
      size_t start = cur_;
      int len;
      if (prev_ < 0) {
        if (code > clear_code_) return LzwResult::kCorrupt;
        len = 1;
        if (!emit_root(code)) return LzwResult::kFull;
      } else {
        if (code < clear_code_) {
          len = 1;
          if (!emit_root(code)) return LzwResult::kFull;
        } else if (code < next_) {
          len = len_[code];
          if (!emit_copy(pos_[code], len)) return LzwResult::kFull;
        } else if (code == next_) {
          // The string being defined: the previous one and its own first pixel.
          len = prev_len_ + 1;
          if (!emit_copy(prev_pos_, prev_len_)) return LzwResult::kFull;
          if (!emit_root(out_[prev_pos_])) return LzwResult::kFull;
        } else {
          return LzwResult::kCorrupt;
        }
        if (next_ >= kMaxCodes) return LzwResult::kTableFull;
        pos_[next_] = static_cast<uint32_t>(prev_pos_);
        len_[next_] = static_cast<uint16_t>(prev_len_ + 1);
        if (next_ >= (1 << width_) - 1 && width_ < kMaxWidth) width_++;
        next_++;
      }
      prev_ = code;
      prev_pos_ = start;
      prev_len_ = len;
      if (cur_ >= out_len_) return LzwResult::kFull;
    }
  }

 private:
  void clear() {
    width_ = code_size_ + 1;
    next_ = end_code_ + 1;
    prev_ = -1;
  }

  bool emit_root(int code) {
    if (cur_ >= out_len_) return false;
    out_[cur_++] = static_cast<unsigned char>(code);
    return true;
  }

  // Copies len bytes from src (which ends at or before the current end of
  // the output); false when the output fills up.
  bool emit_copy(size_t src, int len) {
    size_t room = out_len_ - cur_;
    if (len <= 16 && room >= 16) {
      // Short strings dominate: one fixed-size move, loaded before it is
      // stored, so bytes past the string's end are harmless.
      unsigned char block[16];
      std::memcpy(block, out_ + src, 16);
      std::memcpy(out_ + cur_, block, 16);
      cur_ += len;
      return true;
    }
    if (static_cast<size_t>(len) > room) {
      std::memcpy(out_ + cur_, out_ + src, room);
      cur_ = out_len_;
      return false;
    }
    std::memcpy(out_ + cur_, out_ + src, len);
    cur_ += len;
    return true;
  }

  const int code_size_, clear_code_, end_code_;
  unsigned char *const out_;
  const size_t out_len_;
  size_t cur_ = 0;
  int width_;
  int next_;
  int prev_ = -1;
  size_t prev_pos_ = 0;
  int prev_len_ = 0;
  uint32_t pos_[kMaxCodes];
  uint16_t len_[kMaxCodes];
};

// ---- Encoding ----------------------------------------------------------------

// A (prefix, pixel) pair and its code packed in one word: the key,
// pixel * 4096 + prefix, above the 12-bit code. A free slot holds all ones,
// which no stored pair can: its prefix would be 4095, the last code.
constexpr uint32_t kFreeSlot = 0xFFFFFFFFu;
constexpr uint32_t kFreeKey = kFreeSlot >> 12;

struct OverflowNode {
  uint32_t word;
  int16_t next;  // next node of the chain, -1 none
};

class LzwEncoder {
 public:
  LzwEncoder(int code_size, std::vector<unsigned char> *out)
      : code_size_(code_size), clear_code_(1 << code_size), end_code_(clear_code_ + 1), out_(out) {
    width_ = code_size_ + 1;
    mask_ = (1 << width_) - 1;
    next_ = clear_code_ + 2;
    clear_table();
  }

  template <int kStep>
  void encode_rows(const LzwSource &src) {
    const int step = kStep > 0 ? kStep : src.pixel_step;
    bool first = true;
    int prefix = 0;
    for (int y : LZW_row_order(src.height, src.interlaced)) {
      const unsigned char *row = src.base + static_cast<long>(y) * src.row_step;
      int x = 0;
      if (first) {
        prefix = start_string(row[0]);
        first = false;
        x = 1;
      }
      while (x < src.width) {
        int p = row[x * step];
        if (p == run_value_) {
          x = extend_run<kStep>(row, x, src.width, step, &prefix);
          if (x >= src.width) break;
          p = row[x * step];
        }
        prefix = add_pixel(prefix, p);
        x++;
      }
    }
    out_code(prefix);
    out_code(end_code_);
  }

 private:
  // The string is now the single pixel p.
  int start_string(int p) {
    run_value_ = p;
    run_len_ = 1;
    std::vector<int16_t> &codes = runs_[p];
    if (codes.empty()) {
      codes.push_back(static_cast<int16_t>(p));
      used_runs_.push_back(p);
    }
    return p;
  }

  // Long runs of one pixel (the background of most pictures) pass through
  // the strings p, pp, ppp, ... in turn; those codes are kept by length,
  // so a run is matched by counting it instead of one lookup per pixel.
  // The string must be p repeated run_len_ times and row[x] must be p.
  // Returns the position after the pixels taken; the pixel there, if it is
  // p, has no longer run string yet.
  template <int kStep>
  int extend_run(const unsigned char *row, int x, int width, int step, int *prefix) {
    const std::vector<int16_t> &codes = runs_[run_value_];
    int limit = std::min(static_cast<int>(codes.size()) - run_len_, width - x);
    int r = count_same<kStep>(row, x, limit, step, static_cast<unsigned char>(run_value_));
    if (r == 0) return x;
    run_len_ += r;
    *prefix = codes[run_len_ - 1];
    return x + r;
  }

  template <int kStep>
  static int count_same(const unsigned char *row, int x, int limit, int step, unsigned char v) {
    int r = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (kStep == 1) {
      const uint64_t pattern = 0x0101010101010101ull * v;
      for (; r + 8 <= limit; r += 8) {
        uint64_t w;
        std::memcpy(&w, row + x + r, 8);
        uint64_t diff = w ^ pattern;
        if (diff != 0) return r + __builtin_ctzll(diff) / 8;
      }
    }
#endif
    while (r < limit && row[(x + r) * step] == v) r++;
    return r;
  }

  // Extends the current string by pixel p; returns the new prefix.
  inline int add_pixel(int prefix, int p) {
    uint32_t key = (static_cast<uint32_t>(p) << 12) | static_cast<uint32_t>(prefix);
    int slot = (p << 4) ^ prefix;
    uint32_t word = slots_[slot];
    if ((word >> 12) == key && key != kFreeKey) return found(p, static_cast<int>(word & 0xFFF));
    for (int n = chains_[slot]; n >= 0; n = nodes_[n].next) {
      if ((nodes_[n].word >> 12) == key) return found(p, static_cast<int>(nodes_[n].word & 0xFFF));
    }
    out_code(prefix);
    if (next_ < kMaxCodes && node_count_ < kMaxCodes) {
      uint32_t entry = (key << 12) | static_cast<uint32_t>(next_);
      if (word == kFreeSlot) {
        slots_[slot] = entry;
      } else {
        nodes_[node_count_] = {entry, chains_[slot]};
        chains_[slot] = static_cast<int16_t>(node_count_++);
      }
      if (p == run_value_) runs_[p].push_back(static_cast<int16_t>(next_));
      next_++;
    } else {
      clear_table();
    }
    return start_string(p);
  }

  int found(int p, int code) {
    if (p == run_value_) {
      run_len_++;
    } else {
      run_value_ = -1;
    }
    return code;
  }

  void clear_table() {
    out_code(clear_code_);
    std::fill(std::begin(slots_), std::end(slots_), kFreeSlot);
    std::fill(std::begin(chains_), std::end(chains_), int16_t{-1});
    for (int p : used_runs_) runs_[p].clear();
    used_runs_.clear();
    run_value_ = -1;
    node_count_ = 0;
    width_ = code_size_ + 1;
    mask_ = (1 << width_) - 1;
    next_ = end_code_ + 1;
  }

  void out_code(int code) {
    acc_ |= static_cast<uint64_t>(code) << acc_bits_;
    acc_bits_ += width_;
    while (acc_bits_ >= 8) {
      put_byte(static_cast<unsigned char>(acc_));
      acc_ >>= 8;
      acc_bits_ -= 8;
    }
    if (next_ > mask_ && width_ < kMaxWidth) {
      width_++;
      mask_ = (1 << width_) - 1;
    }
    if (code == end_code_) finish();
  }

  // Full sub-blocks carry 254 data bytes: the count byte and the data
  // together fill a 255-byte buffer.
  void put_byte(unsigned char b) {
    data_[out_bytes_++] = b;
    if (out_bytes_ == 255) {
      data_[0] = 254;
      out_->insert(out_->end(), data_, data_ + 255);
      out_bytes_ = 1;
    }
  }

  void finish() {
    if (acc_bits_ > 0) put_byte(static_cast<unsigned char>(acc_));
    acc_ = 0;
    acc_bits_ = 0;
    if (out_bytes_ > 1) {
      data_[0] = static_cast<unsigned char>(out_bytes_ - 1);
      out_->insert(out_->end(), data_, data_ + out_bytes_);
      out_bytes_ = 1;
    }
  }

  const int code_size_, clear_code_, end_code_;
  std::vector<unsigned char> *out_;
  unsigned char data_[255];
  int out_bytes_ = 1;
  uint64_t acc_ = 0;
  int acc_bits_ = 0;
  int width_, mask_, next_;
  uint32_t slots_[kMaxCodes];
  int16_t chains_[kMaxCodes];  // first overflow node of each slot, -1 none
  OverflowNode nodes_[kMaxCodes];
  int node_count_ = 0;
  // Codes of the strings p, pp, ppp, ...: runs_[p][k - 1] is p repeated k times.
  std::vector<int16_t> runs_[256];
  std::vector<int> used_runs_;
  int run_value_ = -1;  // the string is run_value_ repeated run_len_ times; -1 it is not a run
  int run_len_ = 0;
};

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

LzwResult LZW_decode(const unsigned char *codes, size_t n, int code_size, unsigned char *out, size_t out_len) {
  if (out_len == 0) return LzwResult::kFull;
  BitReader in(codes, n);
  auto decoder = std::make_unique<LzwDecoder>(code_size, out, out_len);
  return decoder->run(in);
}

void LZW_encode(const LzwSource &src, int code_size, std::vector<unsigned char> *out) {
  if (src.width <= 0 || src.height <= 0) return;
  auto encoder = std::make_unique<LzwEncoder>(code_size, out);
  if (src.pixel_step == 1) {
    encoder->encode_rows<1>(src);
  } else {
    encoder->encode_rows<0>(src);
  }
}
