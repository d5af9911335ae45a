#include "util/tools.h"

#include <cstdint>
#include <utility>

namespace {

struct SwapState {
  // 1 as a 32-bit integer: its first byte is 1 on a little-endian host.
  int32_t swaptest = 1;
  int swap = 1;
};

SwapState &swap_state() {
  static SwapState s;
  return s;
}

bool host_little_endian() { return *reinterpret_cast<const unsigned char *>(&swap_state().swaptest) == 1; }

// Reads the current line into buffer (at most limit characters); the line
// feed that ends it stays in the stream. A line feed at the current
// position belongs to the previous line and is skipped first. Returns the
// number of characters stored, or EOF when no line was left.
int read_line(FILE *stream, char *buffer, int limit) {
  buffer[0] = '\0';
  if (stream == nullptr) return EOF;
  int c = getc(stream);
  if (c == EOF) return EOF;
  if (c == '\n') {
    c = getc(stream);
    if (c == EOF) return EOF;
  }
  int n = 0;
  while (c != EOF && c != '\n' && n < limit) {
    buffer[n++] = static_cast<char>(c);
    c = getc(stream);
  }
  if (c != EOF && (c == '\n' || n >= limit)) ungetc(c, stream);
  buffer[n] = '\0';
  return n;
}

}  // namespace

int fgetline(FILE *stream, char *buffer) { return read_line(stream, buffer, TOOLS_LINE_MAX); }

int fgetnline(FILE *stream, char *buffer, int n) {
  if (n < 0) n = 0;
  return read_line(stream, buffer, n);
}

int fgetstring(FILE *stream, char *buffer, int n) {
  if (n < 0) n = 0;
  int got = read_line(stream, buffer, n);
  if (got == EOF) return EOF;
  return got > 0 ? 1 : 0;
}

int swap_setup(int order) {
  bool little = host_little_endian();
  bool off = order == -1 || (order == 1 && !little) || (order == 2 && little);
  swap_state().swap = off ? 0 : 1;
  return 0;
}

int swap_active() { return swap_state().swap; }

int swap_long(void *four_bytes) {
  if (!swap_state().swap) return -1;
  auto *b = static_cast<unsigned char *>(four_bytes);
  std::swap(b[0], b[3]);
  std::swap(b[1], b[2]);
  return 0;
}

int swap_longs(void *array, int count) {
  if (!swap_state().swap) return -1;
  auto *b = static_cast<unsigned char *>(array);
  for (int i = 0; i < count; i++, b += 4) {
    std::swap(b[0], b[3]);
    std::swap(b[1], b[2]);
  }
  return 0;
}

int swap_shorts(void *array, int count) {
  if (!swap_state().swap) return -1;
  auto *b = static_cast<unsigned char *>(array);
  for (int i = 0; i < count; i++, b += 2) std::swap(b[0], b[1]);
  return 0;
}
