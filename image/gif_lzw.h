// The variable-width LZW code of GIF image data, kept apart from the file
// format around it.
#pragma once

#include <cstddef>
#include <vector>

enum class LzwResult {
  kEndCode,    // the end code was read
  kFull,       // the output was filled; the rest of the stream is ignored
  kTruncated,  // the data ran out before the end code
  kCorrupt,    // a code that names no string
  kTableFull,  // a code after the 4096th table entry without a clear code
};

// What a decoder does with codes that follow a full table without a clear
// code: fail, or go on with the table as it is (as browsers do, and as
// encoders that defer the clear expect).
enum class LzwFullTable { kFail, kKeep };

// Decodes the data bytes (sub-block counts already removed) into out, at
// most out_len pixels in stream order; *produced (when given) is how many
// were written. code_size is 1 .. 11.
LzwResult LZW_decode(const unsigned char *codes, size_t n, int code_size, unsigned char *out, size_t out_len,
                     size_t *produced = nullptr, LzwFullTable full = LzwFullTable::kFail);

// Pixels to encode: entry numbers at base + y * row_step + x * pixel_step.
struct LzwSource {
  const unsigned char *base = nullptr;
  long row_step = 0;
  int pixel_step = 1;
  int width = 0, height = 0;
  bool interlaced = false;  // visit rows in the four interlace passes
  // Pixels the picture does not care about: where either (laid out as the
  // pixels, one byte each) is non-zero, the pixel may be coded as its
  // entry or as either_value, whichever continues the string at hand.
  // Only for pixels in one run of bytes (pixel_step 1, row_step width, not
  // interlaced).
  const unsigned char *either = nullptr;
  int either_value = -1;
};

// Appends the image data (the sub-blocks, without the terminating empty
// block) to out. code_size is 2 .. 8.
void LZW_encode(const LzwSource &src, int code_size, std::vector<unsigned char> *out);

// Rows of an interlaced image in the order they are stored.
std::vector<int> LZW_row_order(int height, bool interlaced);
