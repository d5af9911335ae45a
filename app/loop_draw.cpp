// The looper's drawing commands (text, line, marker) and the drawing rows
// of "set": transformation, viewport, window, and the line, marker and text
// attributes. Everything is drawn into the draw target of "set dr", and the
// window is updated (and a dump file of the plot parameters written) after
// each drawing command.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "app/loop_cmd.h"
#include "app/plt_tool.h"
#include "domain/maptran.h"
#include "gks/gks.h"
#include "util/mess.h"
#include "util/string.h"

namespace loop_cmd {

namespace {

// Coordinates beyond this are refused: they mean nothing on any plot, and
// floats lose whole units there.
constexpr float kPointMax = 1.0e9f;

constexpr float kOpenTextHeight = 10.0f;                // pixels, at transformation 0
constexpr int kOpenAlignHoriz = 2, kOpenAlignVert = 3;  // centred on the half line

struct Point {
  float x = 0, y = 0;
};

// What "open" set up, to be set up again once the kernel has reset it.
struct DrawSetUp {
  int ws_type = 0;
  int plot_count = -1;
};

DrawSetUp &set_up() {
  static DrawSetUp s;
  return s;
}

bool usable(float v) { return std::isfinite(v) && std::fabs(v) <= kPointMax; }

// A point word: "%f,%f".
bool point_word(const std::string &word, Point *p) {
  const char *s = word.c_str();
  char *end = nullptr;
  const float x = std::strtof(s, &end);
  if (end == s || *end != ',') return false;
  const char *t = end + 1;
  const float y = std::strtof(t, &end);
  if (end == t || !usable(x) || !usable(y)) return false;
  *p = {x, y};
  return true;
}

// A point word in world coordinates: pixels from the top-left corner at
// transformation 0, whose window runs from -height at the bottom to 0 at
// the top; latitude and longitude through the plot domain at
// LOOP_TRAN_MAP; world coordinates of the others as they are.
bool world_point(const std::string &word, Point *p) {
  const int trans = LOOP_state().trans;
  if (trans == LOOP_TRAN_MAP) return map_point(word, &p->x, &p->y);
  if (!point_word(word, p)) return false;
  if (trans == 0) p->y = -p->y;
  return true;
}

// The kernel's transformation behind the looper's: latitude and longitude
// points are drawn through the plot domain's.
int kernel_tran(int trans) { return trans == LOOP_TRAN_MAP && MAP_get_proj() != DOM_MISSING ? MAP_TRAN : trans; }

// A resize (or a new workstation) resets the kernel's transformations and
// attributes; drawing then starts again from what "open" set up, and the
// plot domain goes back over the window, where latitude and longitude
// points are drawn through it.
void follow_reset() {
  const LoopState &st = LOOP_state();
  if (!st.open) return;
  const bool reset = set_up().plot_count != gget_plot_count();
  if (reset) set_up_drawing(set_up().ws_type);
  const bool domain_again = gfollow_map_domain() == 1;
  if (reset || domain_again) gsel_norm_tran(kernel_tran(st.trans));
}

// What a drawing command drew shows in the window and, when the plot
// parameters ask for a dump file, goes into it.
void show_drawing() {
  gupdate_window();
  PLT_dump_drawing();
}

// The text of "te": the rest of the line after the point word, from its
// first non-blank to the end of the line, as "%*s %s %[^\n]" reads it.
std::string text_after_point(const char *line) {
  const char *p = line;
  for (int field = 0; field < 2; ++field) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    while (*p && !std::isspace(static_cast<unsigned char>(*p))) ++p;
  }
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const char *end = p;
  while (*end && *end != '\n') ++end;
  return std::string(p, end);
}

int invalid_set_text(const Command &c) { return c.quote("Invalid set text command: %s\n"); }

float number(const std::string &value) { return static_cast<float>(std::strtod(value.c_str(), nullptr)); }

// ---------------------------------------------------------------------------
// Attribute rows: the attribute word's leading letters, what the value does
// and the reply. A row that can only use some values says which; others
// are answered as an invalid row.

using Value = const std::string &;

struct AttributeRow {
  const char *prefix;
  void (*apply)(Value value);
  const char *reply;
  bool (*usable)(Value value) = nullptr;
};

template <size_t N>
int run_attribute(const AttributeRow (&rows)[N], const Command &c, const Words &v) {
  for (const AttributeRow &row : rows) {
    if (!begins_with(v[1], row.prefix)) continue;
    if (row.usable && !row.usable(v[2])) return invalid_set_text(c);
    row.apply(v[2]);
    return LOOP_reply(c.sender, MQ_LAST_LINE, row.reply, v[2].c_str());
  }
  return invalid_set_text(c);
}

bool is_background_word(Value name) { return is_word(name, "none") || is_word(name, "off") || is_word(name, "back"); }

// A colour name or number through the colour table. A name the table does
// not know would give the background colour (-1) and draw invisibly: it is
// reported and the colour in force kept.
void set_colour(int (*setter)(int), Value name) {
  const int ci = CLR_get_ind(name.c_str());
  if (ci == CLR_NONE && !is_background_word(name)) {
    MESS_print(MESS_WARN, "LOOP_process: unknown color: %s\n", name.c_str());
    return;
  }
  setter(ci);
}

// Whole words, case-sensitive; anything else is read as a number.
int line_style(Value value) {
  struct Style {
    const char *word;
    int type;
  };
  static const Style kStyles[] = {{"solid", GKS_LINE_SOLID}, {"dash", GKS_LINE_DASH}, {"doubledash", GKS_LINE_DOT}};
  for (const Style &s : kStyles)
    if (value == s.word) return s.type;
  return LOOP_int_value(value.c_str());
}

// Leading letters, any case, tested in this order ("tri" before "itri").
int marker_style(Value value) {
  struct Style {
    const char *prefix;
    int type;
  };
  static const Style kStyles[] = {
      {"pnt", GKS_MARK_DOT},       {"plus", GKS_MARK_PLUS}, {"star", GKS_MARK_STAR},  {"crcl", GKS_MARK_CIRCLE},
      {"circle", GKS_MARK_CIRCLE}, {"x", GKS_MARK_CROSS},   {"sqr", GKS_MARK_SQUARE}, {"square", GKS_MARK_SQUARE},
      {"tri", GKS_MARK_TRI},       {"dot", GKS_MARK_POINT}, {"itri", GKS_MARK_ITRI},
  };
  for (const Style &s : kStyles)
    if (begins_with(value, s.prefix)) return s.type;
  return LOOP_int_value(value.c_str());
}

// The first letter gives the horizontal alignment, the second the vertical.
void set_alignment(Value value) {
  struct Letter {
    char letter;
    int align;
  };
  static const Letter kHoriz[] = {{'C', 2}, {'R', 3}};
  static const Letter kVert[] = {{'U', 1}, {'T', 2}, {'C', 3}, {'B', 4}, {'L', 5}};
  auto pick = [&value](const auto &letters, size_t at, int otherwise) {
    if (at >= value.size()) return otherwise;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(value[at])));
    for (const Letter &l : letters)
      if (l.letter == c) return l.align;
    return otherwise;
  };
  GPH_text_align(pick(kHoriz, 0, 1), pick(kVert, 1, 4));
}

bool is_point_word(Value value) {
  Point p;
  return point_word(value, &p);
}

void set_up_vector(Value value) {
  Point p;
  point_word(value, &p);
  const float up[2] = {p.x, p.y};
  gset_char_up_vec(up);
}

// The font number of a name or number; the precision stays.
void set_font(Value value) {
  int err = 0, fontprec[2] = {1, 0};
  ginq_text_fontprec(&err, fontprec);
  fontprec[0] = gget_font_index(value.c_str());
  gset_fontprec(fontprec);
}

const AttributeRow kLineRows[] = {
    {"co", [](Value v) { set_colour(gset_line_colr_ind, v); }, "Line color set to: %s\n"},
    {"wi", [](Value v) { gset_linewidth(number(v)); }, "Line width set to: %s\n"},
    {"st", [](Value v) { gset_linetype(line_style(v)); }, "Line style set to: %s\n"},
};

const AttributeRow kMarkerRows[] = {
    {"co", [](Value v) { set_colour(gset_marker_colr_ind, v); }, "Marker color set to: %s\n"},
    {"si", [](Value v) { gset_marker_size(number(v)); }, "Marker size set to: %s\n"},
    {"wi", [](Value v) { gset_marker_width(number(v)); }, "Marker width set to: %s\n"},
    {"st", [](Value v) { gset_marker_type(marker_style(v)); }, "Marker style set to: %s\n"},
};

const AttributeRow kTextRows[] = {
    {"co", [](Value v) { set_colour(gset_text_colr_ind, v); }, "Text color set to: %s\n"},
    {"ex", [](Value v) { gset_expan(number(v)); }, "Text expansion set to: %s\n"},
    {"wi", [](Value v) { gset_text_width(number(v)); }, "Text width set to: %s\n"},
    {"he", [](Value v) { gset_char_ht(number(v)); }, "Text height set to: %s\n"},
    {"hi", [](Value v) { gset_char_ht(number(v)); }, "Text height set to: %s\n"},
    {"up", set_up_vector, "Text up vector set to: %s\n", is_point_word},
    {"al", set_alignment, "Text alignment set to: %s\n"},
    {"sp", [](Value v) { gset_space(number(v)); }, "Text spacing set to: %s\n"},
    {"fo", set_font, "Text font set to: %s\n"},
};

// The two corners of a viewport or window: lower left, upper right.
bool corner_words(const Words &v, float rect[4]) {
  Point low, high;
  if (v.size() < 3 || !point_word(v[1], &low) || !point_word(v[2], &high)) return false;
  rect[0] = low.x;
  rect[1] = high.x;
  rect[2] = low.y;
  rect[3] = high.y;
  return true;
}

}  // namespace

bool point_word(const std::string &word, float *x, float *y) {
  Point p;
  if (!point_word(word, &p)) return false;
  *x = p.x;
  *y = p.y;
  return true;
}

void set_up_drawing(int ws_type) {
  float mx = 1.0f, my = 1.0f;
  ginq_maxview(ws_type, &mx, &my);
  // Transformation 1 spans the whole display space, transformation 0 maps
  // window pixels with y counted down from the top (0 at the top, -height
  // at the bottom), which is what the drawing commands' pixel points expect.
  const float whole[4] = {0.0f, mx, 0.0f, my};
  gset_ws_win(0, whole);
  gset_vp(1, whole);
  gset_win(1, whole);
  gset_vp(0, whole);
  const float w = static_cast<float>(gget_window_width());
  const float h = static_cast<float>(gget_window_height());
  const float pixels[4] = {0.0f, w, -h, 0.0f};
  gset_win(0, pixels);
  gset_char_ht(kOpenTextHeight);
  GPH_text_align(kOpenAlignHoriz, kOpenAlignVert);
  set_up().ws_type = ws_type;
  set_up().plot_count = gget_plot_count();
}

int draw_text(const Command &c) {
  Point p;
  const std::string text = text_after_point(c.line);
  // The text is one field of the command: it keeps to the word limit.
  if (c.args.size() < 2 || !world_point(c.args[0], &p) || text.empty() || text.size() > LOOP_WORD_MAX)
    return c.quote("Invalid text command: %s\n");
  follow_reset();
  const float pos[2] = {p.x, p.y};
  gtext(pos, text.c_str());
  show_drawing();
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Text plotted at: %s %s\n", c.args[0].c_str(), text.c_str());
}

int draw_line(const Command &c) {
  Point a, b;
  if (c.args.size() != 2 || !world_point(c.args[0], &a) || !world_point(c.args[1], &b))
    return c.quote("Invalid line command: %s\n");
  follow_reset();
  const float pts[4] = {a.x, a.y, b.x, b.y};
  gpolyline(2, pts);
  show_drawing();
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Line plotted at: %s %s\n", c.args[0].c_str(), c.args[1].c_str());
}

// The second word is required and not used.
int draw_marker(const Command &c) {
  Point p;
  if (c.args.size() != 2 || !world_point(c.args[0], &p)) return c.quote("Invalid marker command: %s\n");
  follow_reset();
  const float pts[2] = {p.x, p.y};
  gpolymarker(1, pts);
  show_drawing();
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Marker plotted at: %s\n", c.args[0].c_str());
}

int set_transformation(const Command &c, const Words &v) {
  const int n = LOOP_int_value(v[1].c_str());
  if (!begins_with_digit(v[1]) || n >= GKS_NUM_TRAN) return c.quote("Invalid set command: %s\n");
  follow_reset();
  LOOP_state().trans = n;
  gsel_norm_tran(kernel_tran(n));
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Transformation set to %d\n", n);
}

int set_viewport(const Command &c, const Words &v) {
  float rect[4];
  follow_reset();
  if (!corner_words(v, rect) || gset_vp(LOOP_state().trans, rect) != 0) return c.quote("Invalid set command: %s\n");
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Viewport coordinates set to %s %s\n", v[1].c_str(), v[2].c_str());
}

int set_window(const Command &c, const Words &v) {
  float rect[4];
  follow_reset();
  if (!corner_words(v, rect) || gset_win(LOOP_state().trans, rect) != 0) return c.quote("Invalid set command: %s\n");
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Window coordinates set to %s %s\n", v[1].c_str(), v[2].c_str());
}

int set_line(const Command &c, const Words &v) {
  follow_reset();
  return run_attribute(kLineRows, c, v);
}

int set_marker(const Command &c, const Words &v) {
  follow_reset();
  return run_attribute(kMarkerRows, c, v);
}

int set_text(const Command &c, const Words &v) {
  follow_reset();
  return run_attribute(kTextRows, c, v);
}

int set_attribute_without_value(const Command &c, const Words &) { return invalid_set_text(c); }

}  // namespace loop_cmd
