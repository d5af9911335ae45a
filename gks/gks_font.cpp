// Stroke fonts: the font-file reader, the font list and the text layout.
#include "gks/gks_font.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

// ---------------------------------------------------------------------------
// Bytes and tokens, from a stream or from memory.

class ByteSource {
 public:
  explicit ByteSource(FILE *stream) : stream_(stream) {}
  ByteSource(const unsigned char *data, size_t size) : data_(data), size_(size) {}
  int get() {
    if (stream_) return std::getc(stream_);
    return pos_ < size_ ? data_[pos_++] : EOF;
  }

 private:
  FILE *stream_ = nullptr;
  const unsigned char *data_ = nullptr;
  size_t size_ = 0, pos_ = 0;
};

// A number needs no more characters than this; longer tokens are kept cut
// short so that a run of junk costs no memory.
constexpr size_t kTokenKeep = 24;

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The next white-space-separated token; false at the end of input.
bool next_token(ByteSource &in, std::string *token) {
  token->clear();
  int c = in.get();
  while (c != EOF && is_blank(c)) c = in.get();
  if (c == EOF) return false;
  for (; c != EOF && !is_blank(c); c = in.get())
    if (token->size() <= kTokenKeep) token->push_back(static_cast<char>(c));
  return true;
}

// Whole-token decimal integers only: "12x" is not a number.
bool to_int(const std::string &token, int *value) {
  if (token.empty() || token.size() > kTokenKeep) return false;
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(token.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

// ---------------------------------------------------------------------------
// The font-file reader.

constexpr int kGlyphEnd = 255;
constexpr int kDataEnd = 254;
constexpr int kMoveBit = 128;

class FontParser {
 public:
  FontParser(ByteSource &in, StrokeFont *font) : in_(in), font_(font) {}

  // Empty on success, else why the file was refused.
  std::string parse() {
    std::string why = read_strokes();
    if (why.empty()) why = read_offsets();
    if (why.empty()) why = check_glyphs();
    if (why.empty()) measure_widths();
    return why;
  }

 private:
  std::string read_strokes() {
    int first = 0;
    if (!next_token(in_, &token_)) return "the file is empty";
    if (!to_int(token_, &first)) return "not a number: " + token_;
    const bool labelled = first != kGlyphEnd;
    if (!labelled) font_->db.push_back(kGlyphEnd);
    if (labelled && !next_token(in_, &token_)) return "the stroke data end without 254";
    for (;;) {
      int value = 0;
      if (!next_token(in_, &token_)) return "the stroke data end without 254";
      if (!to_int(token_, &value)) return "not a number: " + token_;
      if (value < 0 || value > kGlyphEnd) return "stroke value out of range: " + token_;
      if (font_->db.size() >= static_cast<size_t>(FONT_STORE_MAX))
        return "more than " + std::to_string(FONT_STORE_MAX) + " stroke bytes";
      if (value == kDataEnd) {
        font_->db.push_back(kGlyphEnd);
        return "";
      }
      font_->db.push_back(static_cast<unsigned char>(value));
      if (value == kGlyphEnd && labelled && !next_token(in_, &token_)) return "the stroke data end without 254";
    }
  }

  std::string read_offsets() {
    const int stored = static_cast<int>(font_->db.size());
    for (int code = 0; code < FONT_CHARS; ++code) {
      int offset = 0;
      if (!next_token(in_, &token_)) return std::to_string(code) + " glyph offsets instead of 256";
      if (!to_int(token_, &offset)) return "glyph offset is not a number: " + token_;
      if (offset < -1 || offset >= stored)
        return "glyph offset " + token_ + " of character " + std::to_string(code) + " lies outside the stroke data";
      font_->index[(size_t)code] = offset;
    }
    return "";
  }

  // A glyph walks (x, y) pairs until an x of 255: from every offset that walk
  // must end inside the stored bytes. ends[p] says whether it does from p.
  std::string check_glyphs() const {
    const std::vector<unsigned char> &db = font_->db;
    std::vector<bool> ends(db.size(), false);
    for (size_t p = db.size(); p-- > 0;) ends[p] = db[p] == kGlyphEnd || (p + 2 < db.size() && ends[p + 2]);
    for (int code = 0; code < FONT_CHARS; ++code) {
      const int offset = font_->index[(size_t)code];
      if (offset >= 0 && !ends[(size_t)offset])
        return "the glyph of character " + std::to_string(code) + " runs off the stroke data";
    }
    return "";
  }

  void measure_widths() {
    for (int code = 0; code < FONT_CHARS; ++code) {
      int offset = font_->index[(size_t)code];
      if (offset < 0) continue;
      int widest = 0;
      for (size_t p = (size_t)offset; font_->db[p] != kGlyphEnd; p += 2)
        widest = std::max(widest, font_->db[p] >= kMoveBit ? font_->db[p] - kMoveBit : font_->db[p]);
      font_->size[(size_t)code] = static_cast<unsigned char>(widest);
    }
    font_->size[' '] = FONT_SPACE_WIDTH;
  }

  ByteSource &in_;
  StrokeFont *font_;
  std::string token_;
};

int read_font_from(ByteSource &in, const char *name, StrokeFont *font) {
  gfont_clear(font);
  std::string why = FontParser(in, font).parse();
  if (why.empty()) return 0;
  gfont_clear(font);
  MESS_print(MESS_WARN, "read_font: bad font file %s: %s\n", name ? name : "", why.c_str());
  return -1;
}

// Closes through FILE_close; holds nothing when the open failed.
using FileHolder = std::unique_ptr<FILE, int (*)(FILE *)>;
FileHolder hold(FILE *f) { return FileHolder(f, FILE_close); }

bool regular_file(FILE *f) {
  struct stat st {};
  return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

// Font and list files are plain files: a pipe or a standard stream would
// run a command or hold the caller.
FILE *open_plain_data(const char *name) {
  if (!FILE_is_safe_input(name)) return nullptr;
  FILE *f = FILE_open_data(name, nullptr);
  if (f && !regular_file(f)) {
    FILE_close(f);
    return nullptr;
  }
  return f;
}

// ---------------------------------------------------------------------------
// Font lists.

void skip_blanks(ByteSource &in, int *c) {
  while (*c != EOF && is_blank(*c)) *c = in.get();
}

// The token from *c on; *c is left on the character after it. One character
// more than a file name may hold is kept, so that truncation is noticed.
std::string read_word(ByteSource &in, int *c) {
  std::string word;
  for (; *c != EOF && !is_blank(*c); *c = in.get())
    if (word.size() <= FONT_FILE_MAX) word.push_back(static_cast<char>(*c));
  return word;
}

std::string read_rest_of_line(ByteSource &in, int *c) {
  std::string rest;
  for (; *c != EOF && *c != '\n'; *c = in.get())
    if (rest.size() <= FONT_FILE_MAX + 1) rest.push_back(static_cast<char>(*c));
  while (!rest.empty() && is_blank((unsigned char)rest.back())) rest.pop_back();
  return rest;
}

std::string limited(const std::string &text, size_t max, const char *what) {
  if (text.size() <= max) return text;
  std::string cut = copy_limited(text.c_str(), max);
  MESS_print(MESS_WARN, "gsetup_fonts: %s truncated to %zu characters: %s\n", what, max, cut.c_str());
  return cut;
}

void add_entry(FontList *list, const std::string &name, const std::string &file) {
  list->push_back({limited(name, FONT_NAME_MAX, "font name"), limited(file, FONT_FILE_MAX, "font file name")});
}

void report_surplus(size_t max) {
  MESS_print(MESS_WARN, "gsetup_fonts: font list holds more than %zu fonts; the rest are ignored\n", max);
}

// Entries of "name file..." lines (rest_of_line) or "name file" pairs, as
// many as max; the scan is that of "%s %[^\n]" or "%s %s", so a name alone
// on its line takes the next line as its file.
int read_entries(ByteSource &in, FontList *list, bool rest_of_line, size_t max) {
  list->clear();
  int c = in.get();
  for (;;) {
    skip_blanks(in, &c);
    if (c == EOF) break;
    if (list->size() == max) {
      report_surplus(max);
      break;
    }
    std::string name = read_word(in, &c);
    skip_blanks(in, &c);
    std::string file = rest_of_line ? read_rest_of_line(in, &c) : read_word(in, &c);
    if (file.empty()) break;
    add_entry(list, name, file);
  }
  return static_cast<int>(list->size());
}

std::string trimmed(const char *text) {
  std::string s(text);
  size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

int list_from_commas(const char *text, FontList *list) {
  int count = 0;
  char **files = nullptr;
  parse_string(text, ',', &count, &files);
  for (int i = 0; i < count; ++i) {
    if (list->size() == FONT_LIST_MAX) {
      report_surplus(FONT_LIST_MAX);
      break;
    }
    add_entry(list, "", trimmed(files[i]));
  }
  free_parsed_array(count, files);
  return static_cast<int>(list->size());
}

// ---------------------------------------------------------------------------
// Layout.

// Float to int by truncation, as the layout's integer steps want, without
// the undefined behaviour of a value out of range (absurd attributes).
int trunc_int(float v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<float>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<float>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

bool fixed_spacing(const TextAttributes &attr) { return attr.char_space > 0; }

// What W adds for a character that another one follows.
float width_step(const StrokeFont &font, const TextAttributes &attr, unsigned char c) {
  if (fixed_spacing(attr)) return (100 * attr.space + 100) * attr.char_space;
  return font.size[c] + 100 * attr.space;
}

// What x0 advances by, before expansion, after a drawn character or a space.
float advance(const StrokeFont &font, const TextAttributes &attr, unsigned char c) {
  if (fixed_spacing(attr)) return (100 + 100 * attr.space) * attr.char_space;
  if (font.index[c] < 0) return 100 * attr.space + FONT_SPACE_WIDTH;
  return font.size[c] + 100 * attr.space;
}

constexpr int kVerticalOffsets[] = {-35, -160, -140, -85, -35, 0};  // normal, top, cap, half, base, bottom

class GlyphWalker {
 public:
  GlyphWalker(const TextAttributes &attr, float x, float y, StrokeSink *sink)
      : attr_(attr),
        x_(x),
        y_(y),
        sink_(sink),
        scale_(attr.height / FONT_CAP_HEIGHT),
        yo_(gfont_vertical_offset(attr.vert_align)) {}

  void glyph(const std::vector<unsigned char> &db, size_t offset, int x0) {
    sink_->glyph_begin();
    int points = 0;
    for (size_t p = offset; p + 1 < db.size() && db[p] != kGlyphEnd; p += 2) {
      const bool move = db[p] >= kMoveBit;
      float wx = 0, wy = 0;
      world(move ? db[p] - kMoveBit : db[p], db[p + 1], x0, &wx, &wy);
      if (move || points == 0) {
        if (points > 1) sink_->piece_end(false);
        sink_->move_to(wx, wy);
        points = 1;
        continue;
      }
      sink_->line_to(wx, wy);
      if (++points == FONT_PIECE_MAX) {
        sink_->piece_split(wx, wy);
        points = 1;
      }
    }
    if (points > 1) sink_->piece_end(true);
  }

 private:
  // The baseline runs along (upy, -upx), a right angle clockwise from up.
  void world(int gx, int gy, int x0, float *wx, float *wy) const {
    const float along = (gx * attr_.expan + x0) * scale_;
    const float up = (gy + yo_) * scale_;
    *wx = x_ + attr_.upy * along + attr_.upx * up;
    *wy = y_ - attr_.upx * along + attr_.upy * up;
  }

  const TextAttributes &attr_;
  float x_, y_;
  StrokeSink *sink_;
  float scale_;
  int yo_;
};

}  // namespace

// ---------------------------------------------------------------------------

void gfont_clear(StrokeFont *font) {
  font->db.clear();
  font->index.fill(-1);
  font->size.fill(0);
}

int gfont_read(FILE *stream, const char *name, StrokeFont *font) {
  ByteSource in(stream);
  return read_font_from(in, name, font);
}

int gfont_read_bytes(const void *data, size_t size, const char *name, StrokeFont *font) {
  ByteSource in(static_cast<const unsigned char *>(data), size);
  return read_font_from(in, name, font);
}

int gfont_load(const char *name, StrokeFont *font) {
  gfont_clear(font);
  FileHolder f = hold(open_plain_data(name));
  if (!f.get()) {
    MESS_print(MESS_WARN, "read_font: unable to load font file: %s\n", name ? name : "");
    return -1;
  }
  return gfont_read(f.get(), name, font);
}

int gfont_list_read_lines(FILE *stream, FontList *list) {
  ByteSource in(stream);
  return read_entries(in, list, true, FONT_LIST_MAX);
}

int gfont_list_read_pairs(FILE *stream, FontList *list) {
  ByteSource in(stream);
  return read_entries(in, list, false, FONT_LIST_PAIRS_MAX);
}

int gfont_list_build(const char *list_text, FontList *list) {
  list->clear();
  if (list_text == nullptr || trimmed(list_text).empty()) {
    FileHolder f = hold(open_plain_data(FONT_LIST_FILE));
    return f.get() ? gfont_list_read_lines(f.get(), list) : 0;
  }
  if (strnicmp(list_text, "fi:", 3) == 0) {
    const std::string name = trimmed(list_text + 3);
    FileHolder f = hold(open_plain_data(name.c_str()));
    if (!f.get()) {
      char path[FILE_NAME_SIZE];
      FILE_add_path(RES_get("file_path"), name.c_str(), path);
      MESS_print(MESS_WARN, "gsetup_fonts: unable to load font list file: %s\n", path);
      return -1;
    }
    return gfont_list_read_pairs(f.get(), list);
  }
  return list_from_commas(list_text, list);
}

int gfont_list_index(const FontList &list, const char *name) {
  if (name == nullptr) return 1;
  if (std::isdigit((unsigned char)name[0])) {
    errno = 0;
    long n = std::strtol(name, nullptr, 10);
    return (errno == ERANGE || n > INT_MAX) ? INT_MAX : static_cast<int>(n);
  }
  for (size_t i = 0; i < list.size(); ++i)
    if (stricmp(list[i].name.c_str(), name) == 0) return static_cast<int>(i) + 1;
  return 1;
}

const char *gfont_list_file(const FontList &list, int font_ind) {
  if (font_ind < 1 || static_cast<size_t>(font_ind) > list.size()) return FONT_FALLBACK_FILE;
  return list[(size_t)font_ind - 1].file.c_str();
}

int gfont_text_width(const StrokeFont &font, const TextAttributes &attr, const char *string) {
  if (string == nullptr || *string == '\0') return 0;
  const auto *s = reinterpret_cast<const unsigned char *>(string);
  const size_t n = std::strlen(string);
  int w = 0;
  for (size_t i = 0; i + 1 < n; ++i) w = trunc_int(w + width_step(font, attr, s[i]));
  const float last = fixed_spacing(attr) ? 100 * attr.char_space : font.size[s[n - 1]];
  return trunc_int(w + last);
}

int gfont_start_offset(const StrokeFont &font, const TextAttributes &attr, const char *string) {
  const int expanded = trunc_int(attr.expan * gfont_text_width(font, attr, string));
  if (attr.horiz_align == 2) return -(expanded / 2);
  if (attr.horiz_align == 3) return -expanded;
  return 0;
}

int gfont_vertical_offset(int vert_align) {
  if (vert_align < 0 || vert_align >= static_cast<int>(std::size(kVerticalOffsets))) return kVerticalOffsets[0];
  return kVerticalOffsets[vert_align];
}

int gfont_text(const StrokeFont &font, const TextAttributes &attr, const char *string, float x, float y,
               StrokeSink *sink) {
  if (string == nullptr || sink == nullptr) return -1;
  GlyphWalker walker(attr, x, y, sink);
  int x0 = gfont_start_offset(font, attr, string);
  for (const auto *s = reinterpret_cast<const unsigned char *>(string); *s; ++s) {
    const int offset = font.index[*s];
    if (offset < 0 && *s != ' ') continue;
    if (offset >= 0) walker.glyph(font.db, (size_t)offset, x0);
    x0 = trunc_int(x0 + attr.expan * advance(font, attr, *s));
  }
  return 0;
}
