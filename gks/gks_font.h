// Stroke fonts without X: reading font files and font lists, and laying a
// string out as strokes in world coordinates. The kernel's text code owns
// the attributes and the loaded font and sends the strokes to its drivers.
//
// Font file: decimal integers. The stroke bytes come first, each glyph a run
// of (x, y) pairs ended by 255; x of 128 or more is a pen move to x - 128, a
// smaller x a pen draw; 254 ends the data and is stored as 255. A first
// integer other than 255 starts the labelled form: that integer, the token
// after it and one token after every 255 are labels. Then 256 glyph offsets
// into the stored bytes, -1 for no glyph. Glyph grid: baseline at y = 35,
// cap height 105 units.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

constexpr int FONT_STORE_MAX = 15000;  // stroke bytes of a font, the final 255 included
constexpr int FONT_CHARS = 256;
constexpr int FONT_SPACE_WIDTH = 40;     // advance of the space character, in grid units
constexpr int FONT_CAP_HEIGHT = 105;     // grid units that text_height stands for
constexpr int FONT_PIECE_MAX = 30;       // points of one stroke piece
constexpr int FONT_LIST_MAX = 40;        // entries of a font list
constexpr int FONT_LIST_PAIRS_MAX = 10;  // entries read from a "fi:" list file
constexpr int FONT_NAME_MAX = 9;         // longer names are truncated
constexpr int FONT_FILE_MAX = 99;        // longer file names are truncated
constexpr const char *FONT_FALLBACK_FILE = "modern.fnt";
constexpr const char *FONT_LIST_FILE = "zyb.fnl";

struct StrokeFont {
  std::vector<unsigned char> db;               // stroke bytes, at most FONT_STORE_MAX
  std::array<int, FONT_CHARS> index;           // offset of each code's glyph in db, or -1
  std::array<unsigned char, FONT_CHARS> size;  // advance width of each code
};

// Empties the font: no glyphs, all widths 0.
void gfont_clear(StrokeFont *font);

// Read a font file. name is used in messages only. A malformed file (a token
// that is not a number, a stroke value outside 0..255, no 254, more than
// FONT_STORE_MAX stroke bytes, fewer than 256 offsets, an offset outside the
// stored bytes or a glyph that runs off their end) is refused with one
// message. Returns 0, or -1 with the font left empty.
int gfont_read(FILE *stream, const char *name, StrokeFont *font);
int gfont_read_bytes(const void *data, size_t size, const char *name, StrokeFont *font);

// Finds the font file along "file_path" (then as named, then among the
// shipped data files) and reads it. Pipes, standard streams and anything
// but a regular file are refused. Returns 0 or -1 (font left empty).
int gfont_load(const char *name, StrokeFont *font);

struct FontEntry {
  std::string name;  // at most FONT_NAME_MAX characters, may be empty
  std::string file;  // at most FONT_FILE_MAX characters
};
using FontList = std::vector<FontEntry>;

// Builds the font list from the chosen list text:
//   nullptr or ""  the file "zyb.fnl" (name, then the rest of the line as
//                  the file), at most FONT_LIST_MAX entries; none when the
//                  file is missing;
//   "fi:file"      a list file of name and file token pairs, at most
//                  FONT_LIST_PAIRS_MAX entries;
//   otherwise      comma-separated font files with empty names, at most
//                  FONT_LIST_MAX.
// Too long names and files are truncated and surplus entries dropped, each
// with a message. Returns the number of entries, or -1 when a "fi:" file
// cannot be opened (the list is then empty).
int gfont_list_build(const char *list_text, FontList *list);
// The two file forms on their own.
int gfont_list_read_lines(FILE *stream, FontList *list);
int gfont_list_read_pairs(FILE *stream, FontList *list);

// The font number for a name: a leading digit gives the decimal number,
// else the 1-based position of the first entry whose name matches ignoring
// case, else 1.
int gfont_list_index(const FontList &list, const char *name);
// The file of font number font_ind (1-based); the fallback font file when
// the list is empty or the number lies outside it.
const char *gfont_list_file(const FontList &list, int font_ind);

// The attributes that shape stroke text, as the kernel holds them.
struct TextAttributes {
  float height = 0.01f;          // world units of the cap height
  float expan = 1.0f;            // expansion factor
  float space = 0.25f;           // spacing between characters, in 100 grid units
  float char_space = 0.0f;       // fixed character spacing; 0 is off
  int horiz_align = 0;           // 0 normal, 1 left, 2 centre, 3 right
  int vert_align = 0;            // 0 normal, 1 top, 2 cap, 3 half, 4 base, 5 bottom
  float upx = 0.0f, upy = 1.0f;  // up vector, unit length
};

// Receives the strokes of a string in world coordinates, in drawing order.
// A piece is a polyline of at most FONT_PIECE_MAX points; it always starts
// with move_to.
class StrokeSink {
 public:
  virtual ~StrokeSink() = default;
  // A character with a glyph begins.
  virtual void glyph_begin() {}
  // A new piece starts at (x, y).
  virtual void move_to(float x, float y) = 0;
  // The piece goes on to (x, y).
  virtual void line_to(float x, float y) = 0;
  // The piece reached FONT_PIECE_MAX points at (x, y), the point just
  // given to line_to; it is finished and the next piece starts there.
  virtual void piece_split(float x, float y) = 0;
  // A piece of more than one point is finished: by a pen move that starts
  // the next piece (glyph_end false) or by the end of the glyph.
  virtual void piece_end(bool glyph_end) = 0;
};

// Total width W of a string in grid units, before expansion.
int gfont_text_width(const StrokeFont &font, const TextAttributes &attr, const char *string);
// Start offset of the first character in grid units, from the horizontal alignment.
int gfont_start_offset(const StrokeFont &font, const TextAttributes &attr, const char *string);
// Offset added to glyph y for the vertical alignment.
int gfont_vertical_offset(int vert_align);

// Lays string out at world position (x, y) and sends its strokes to sink.
// Characters without a glyph are skipped, except the space, which advances.
// Returns 0, or -1 for a missing string or sink.
int gfont_text(const StrokeFont &font, const TextAttributes &attr, const char *string, float x, float y,
               StrokeSink *sink);
