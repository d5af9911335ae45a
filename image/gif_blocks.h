// The block structure of a GIF file held in memory, shared by the reader
// of single pictures and the reader of animations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "image/gif_lzw.h"

// A cursor over the bytes of a file held in memory.
class GifByteReader {
 public:
  GifByteReader(const unsigned char *p, size_t n) : p_(p), end_(p + n) {}
  bool get(unsigned char *c) {
    if (p_ >= end_) return false;
    *c = *p_++;
    return true;
  }
  bool read(unsigned char *dst, size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) return false;
    std::memcpy(dst, p_, n);
    p_ += n;
    return true;
  }
  void skip_to_end() { p_ = end_; }
  // The next n bytes without copying them; nullptr when fewer are left.
  const unsigned char *take(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) return nullptr;
    const unsigned char *at = p_;
    p_ += n;
    return at;
  }
  // Steps over a chain of sub-blocks up to and including the empty one;
  // false when the data ends first.
  bool skip_sub_blocks() {
    unsigned char size;
    while (get(&size)) {
      if (size == 0) return true;
      if (static_cast<size_t>(end_ - p_) < size) return p_ = end_, false;
      p_ += size;
    }
    return false;
  }
  // Gathers the data of a chain of sub-blocks into one run of bytes; false
  // when the data ends before the empty block.
  bool gather_sub_blocks(std::vector<unsigned char> *out) {
    out->clear();
    unsigned char size;
    while (get(&size)) {
      if (size == 0) return true;
      size_t n = std::min<size_t>(size, end_ - p_);
      out->insert(out->end(), p_, p_ + n);
      p_ += n;
    }
    return false;
  }
  bool at_end() const { return p_ >= end_; }

 private:
  const unsigned char *p_;
  const unsigned char *end_;
};

inline int GIF_le16(const unsigned char *b) { return b[0] | (b[1] << 8); }

// What a graphic control extension says about the image after it.
struct GifControl {
  int disposal = 0;      // 0 none, 1 keep, 2 restore to background, 3 restore to previous
  int delay = 0;         // hundredths of a second
  int transparent = -1;  // index, -1 none
};

// Reads an extension after its '!' introducer: a label and sub-blocks.
// A graphic control extension fills control (when given); with report the
// graphic control and application extensions are shown at the debug
// class. false when the file ends inside it.
bool GIF_read_extension(GifByteReader &in, GifControl *control, bool report);

// The logical screen and what precedes it.
struct GifScreen {
  int width = 0, height = 0;
  int background = 0;
  int global_count = 0;                   // entries of the global table, 0 none
  const unsigned char *global = nullptr;  // its red, green, blue bytes
};

// Checks the signature (after a leading "** " comment line) and reads the
// screen descriptor and the global table. Failures are reported with the
// caller's name in front; returns 1 or 0.
int GIF_read_screen(const char *who, GifByteReader &in, GifScreen *screen);

// Loads a whole file, at most max bytes of it; 0 with a message when it
// cannot be opened.
int GIF_load_file(const char *who, const char *name, size_t max, std::vector<unsigned char> *bytes);

// Reads the LZW minimum code size and the image data after an image
// descriptor (and its local table) and decodes at most out_len pixels into
// out in stream order; *produced is how many. codes is scratch space.
// Reports a bad code size and returns kCorrupt for it.
LzwResult GIF_decode_image(const char *who, GifByteReader &in, unsigned char *out, size_t out_len, size_t *produced,
                           std::vector<unsigned char> *codes);
