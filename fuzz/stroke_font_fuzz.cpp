// The stroke-font reader on arbitrary bytes. A font it accepts is laid out
// whole, every code with attributes taken from the input, and every stroke
// must stay inside its glyph and its pieces inside their length; the same
// bytes are also read as both forms of font list file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gks/gks_font.h"
#include "util/mess.h"

namespace {

struct CheckingSink : StrokeSink {
  int points = 0;
  void move_to(float x, float y) override { points = 1; }
  void line_to(float x, float y) override {
    if (++points > FONT_PIECE_MAX) std::abort();
  }
  void piece_split(float x, float y) override {
    if (points != FONT_PIECE_MAX) std::abort();
    points = 1;
  }
  void piece_end(bool glyph_end) override {
    if (points < 2) std::abort();
  }
};

float byte_at(const uint8_t *data, size_t size, size_t i) { return i < size ? data[i] : 0; }

void read_lists(const uint8_t *data, size_t size) {
  FontList list;
  for (auto *read : {gfont_list_read_lines, gfont_list_read_pairs}) {
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (f == nullptr) return;
    if (read(f, &list) > FONT_LIST_MAX || list.size() > FONT_LIST_MAX) std::abort();
    for (const FontEntry &e : list)
      if (e.name.size() > FONT_NAME_MAX || e.file.size() > FONT_FILE_MAX) std::abort();
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  MESS_set(0, 0);  // the messages are checked by the tests, not here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 0) read_lists(data, size);
  StrokeFont font;
  if (gfont_read_bytes(data, size, "fuzz", &font) != 0) return 0;
  if (font.db.size() > FONT_STORE_MAX) std::abort();

  char text[FONT_CHARS];
  for (int i = 1; i < FONT_CHARS; ++i) text[i - 1] = static_cast<char>(i);
  text[FONT_CHARS - 1] = '\0';
  TextAttributes attr;
  attr.space = byte_at(data, size, 0) / 16 - 4;
  attr.char_space = byte_at(data, size, 1) / 64 - 1;
  attr.expan = byte_at(data, size, 2) / 32;
  attr.horiz_align = static_cast<int>(byte_at(data, size, 3)) % 5;
  attr.vert_align = static_cast<int>(byte_at(data, size, 4)) % 7;
  CheckingSink sink;
  gfont_text(font, attr, text, 0.5f, 0.5f, &sink);
  gfont_text_width(font, attr, text);
  return 0;
}
