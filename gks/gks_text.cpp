// Text: attributes, the font list and the loaded font, the primitive, the
// drop shadow, and text on the X kinds (stroke fonts and X fonts).
#include "gks/gks_text.h"

#include <cmath>
#include <cstring>
#include <string>

#include "gks/gks_draw.h"
#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr int kAlignCentre = 2, kAlignRight = 3;
constexpr int kAlignTop = 1, kAlignCap = 2, kAlignHalf = 3, kAlignBottom = 5;

// The text colour index lives in the shared state (text_colr).
struct TextState {
  TextAttributes attr;
  float width = 1.0f;
  int font_ind = 1;
  int prec = 0;
  int drop_shadow = 0;  // not reset: a plot option

  FontList fonts;
  std::string list_text;  // from gset_font_list
  int font_type = GKS_FONT_NONE;
  int loaded_ind = 0;  // the font number whose font is loaded
  StrokeFont font;
  // Freed with the workstation's other X resources (gfree_text_font), or
  // when another font replaces it; never at exit, when the connection may
  // already be gone.
  XFontStruct *xfont = nullptr;

  TextState() { gfont_clear(&font); }
};

TextState &text() {
  static TextState s;
  return s;
}

std::string font_list_text() {
  const TextState &t = text();
  if (!t.list_text.empty()) return t.list_text;
  const char *resource = RES_get("font_list");
  if (resource && *resource) return resource;
  Display *display = gget_display();
  const char *xdefault = display ? XGetDefault(display, gget_prog_name(), "font_list") : nullptr;
  return xdefault ? xdefault : "";
}

void release_x_font() {
  TextState &t = text();
  Display *display = gget_display();
  if (t.xfont && display) XFreeFont(display, t.xfont);
  t.xfont = nullptr;
}

int load_x_font(const char *name) {
  TextState &t = text();
  GksState &st = gks_state();
  XFontStruct *loaded = st.display ? XLoadQueryFont(st.display, name) : nullptr;
  if (!loaded) {
    MESS_print(MESS_WARN, "read_font: unable to load font: %s\n", name);
    return -1;
  }
  if (st.text_gc) XSetFont(st.display, st.text_gc, loaded->fid);
  release_x_font();
  t.xfont = loaded;
  t.font_type = GKS_FONT_X;
  return 0;
}

int load_font_number(int n) {
  TextState &t = text();
  t.loaded_ind = n;
  return read_font(gfont_list_file(t.fonts, n));
}

// A float attribute: checked, skipped when unchanged, stored and handed on.
int set_float(float *attribute, float value, int code) {
  if (value == *attribute) return 0;
  *attribute = value;
  return gdraw_attribute(code, 1, static_cast<int>(sizeof value), &value);
}

// The world size of one pixel at (x, y); 0 where the conversion is clamped.
float pixel_step(float (*to_pixel)(float), float at) {
  const float step = to_pixel(at + 1.0f) - to_pixel(at);
  return std::isfinite(step) && step != 0.0f ? 1.0f / step : 0.0f;
}

// Stroke text into the draw window, in pieces of at most FONT_PIECE_MAX
// points, converted to pixels a piece at a time.
class XTextSink : public TextSink {
 public:
  explicit XTextSink(GksState &st) : st_(st) {}
  void move_to(float x, float y) override {
    count_ = 0;
    add(x, y);
  }
  void line_to(float x, float y) override {
    if (count_ == FONT_PIECE_MAX) draw_keeping_last();
    add(x, y);
  }
  void piece_split(float, float) override { draw_keeping_last(); }
  void piece_end(bool) override {
    if (count_ > 1) draw();
    count_ = 0;
  }
  void shadow(bool on) override {
    XSetForeground(st_.display, st_.text_gc, on ? gdraw_black() : gdraw_pixel(st_.text_colr));
  }

 private:
  void add(float x, float y) {
    world_[2 * count_] = x;
    world_[2 * count_ + 1] = y;
    ++count_;
  }
  void draw() {
    float device[2 * FONT_PIECE_MAX];
    gW_p_points(count_, world_, device);
    XPoint points[FONT_PIECE_MAX];
    for (int i = 0; i < count_; ++i) points[i] = {gdraw_xcoord(device[2 * i]), gdraw_xcoord(device[2 * i + 1])};
    XDrawLines(st_.display, st_.draw_window, st_.text_gc, points, count_, CoordModeOrigin);
  }
  void draw_keeping_last() {
    draw();
    world_[0] = world_[2 * count_ - 2];
    world_[1] = world_[2 * count_ - 1];
    count_ = 1;
  }

  GksState &st_;
  float world_[2 * FONT_PIECE_MAX];
  int count_ = 0;
};

// An X font at the anchor pixel, shifted by the alignment.
int x_font_text(GksState &st, const float pos[2], const char *string) {
  const TextState &t = text();
  XFontStruct *font = t.xfont;
  const int length = static_cast<int>(std::strlen(string));
  int x = gdraw_xcoord(xW_p(pos[0])), y = gdraw_xcoord(yW_p(pos[1]));
  const int width = XTextWidth(font, string, length);
  if (t.attr.horiz_align == kAlignCentre) x -= width / 2;
  if (t.attr.horiz_align == kAlignRight) x -= width;
  const int vert = t.attr.vert_align;
  if (vert == kAlignTop || vert == kAlignCap) y += font->ascent;
  if (vert == kAlignHalf) y += font->ascent / 2;
  if (vert == kAlignBottom) y -= font->descent;
  if (t.drop_shadow > 0) {
    XSetForeground(st.display, st.text_gc, gdraw_black());
    for (int i = 0; i < t.drop_shadow; ++i)
      XDrawString(st.display, st.draw_window, st.text_gc, x + i, y + i, string, length);
    XSetForeground(st.display, st.text_gc, gdraw_pixel(st.text_colr));
  }
  XDrawString(st.display, st.draw_window, st.text_gc, x, y, string, length);
  return 0;
}

}  // namespace

int greset_text() {
  TextState &t = text();
  t.attr = TextAttributes{};
  t.width = 1.0f;
  t.font_ind = 1;
  gks_state().text_colr = 1;
  return 0;
}

int ginit_text(int mode) {
  GksState &st = gks_state();
  gdraw_init_gc(&st.text_gc, st.base_window, mode, st.text_colr);
  if (mode > GKS_PLOT_RESIZE || !st.display || !st.text_gc) return 0;
  XSetLineAttributes(st.display, st.text_gc, 1, LineSolid, CapProjecting, JoinBevel);
  // A re-set-up goes back to font 1 (greset_text); the open loads it in gsetup_fonts.
  TextState &t = text();
  if (mode == GKS_PLOT_RESIZE && t.loaded_ind != t.font_ind) load_font_number(t.font_ind);
  return 0;
}

int gsetup_fonts() {
  TextState &t = text();
  const std::string list = font_list_text();
  gfont_list_build(list.empty() ? nullptr : list.c_str(), &t.fonts);
  return load_font_number(t.font_ind);
}

int read_font(const char *name) {
  if (!gchk_graphics() || !name) return -1;
  TextState &t = text();
  gfont_clear(&t.font);
  if (name[0] == '#') return load_x_font(name + 1);
  if (gfont_load(name, &t.font) != 0) return -1;
  t.font_type = GKS_FONT_STROKE;
  release_x_font();
  return 0;
}

int gfree_text_font() {
  TextState &t = text();
  release_x_font();
  if (t.font_type == GKS_FONT_X) t.font_type = GKS_FONT_NONE;
  return 0;
}

int gset_font_list(const char *list) {
  text().list_text = copy_limited(list, GKS_FONT_LIST_TEXT_MAX);
  return 1;
}

int gget_font_index(const char *name) { return gfont_list_index(text().fonts, name); }

int gtext(const float pos[2], const char *string) {
  if (!gchk_graphics()) {
    gerr_printf("gtext", "GKS not opened\n");
    return -1;
  }
  if (!pos || !string || !*string) return 0;
  if (gtype_is_META()) return gdrv_text(pos, string);
  const size_t length = std::strlen(string);
  if (length > static_cast<size_t>(GKS_POINTS_MAX)) {
    gerr_printf("gtext", "text too long: %zu characters\n", length);
    return -1;
  }
  // The record holds the position, then the string with its zero.
  const int size = static_cast<int>(length) + 9;
  if (auto *data = static_cast<unsigned char *>(gnew_obj(GOBJ_TEXT, 1, size, nullptr))) {
    std::memcpy(data, pos, 2 * sizeof(float));
    std::memcpy(data + 2 * sizeof(float), string, length + 1);
  }
  return gdrv_text(pos, string);
}

int gset_text_colr_ind(int ci) {
  GksState &st = gks_state();
  if (ci == st.text_colr) return 0;
  if (gdraw_check_colr("gset_text_colr_ind", &ci) != 0) return -1;
  if (ci == st.text_colr) return 0;
  st.text_colr = ci;
  return gdraw_attribute(GOBJ_TEXT_COLR, ci, 0, nullptr);
}

int gset_expan(float f) {
  if (!gdraw_check_range("gset_expan", "expansion factor", f, 0, GKS_TEXT_EXPAN_MAX)) return -1;
  return set_float(&text().attr.expan, f, GOBJ_TEXT_EXPAN);
}

int gset_text_width(float w) {
  if (!gdraw_check_range("gset_text_width", "text width", w, 0, GKS_WIDTH_MAX)) return -1;
  if (w == text().width) return 0;
  if (w == 0 && gtype_is_PS()) w = 1;
  return set_float(&text().width, w, GOBJ_TEXT_WIDTH);
}

int gset_char_ht(float h) {
  if (!gdraw_check_range("gset_char_ht", "character height", h, 0, GKS_TEXT_HEIGHT_MAX)) return -1;
  return set_float(&text().attr.height, h, GOBJ_TEXT_HEIGHT);
}

int gset_char_up_vec(const float v[2]) {
  const float length = v ? std::hypot(v[0], v[1]) : 0.0f;
  if (!std::isfinite(length) || length == 0.0f) {
    gerr_printf("gset_char_up_vec", "invalid character up vector: %f,%f\n", v ? static_cast<double>(v[0]) : 0.0,
                v ? static_cast<double>(v[1]) : 0.0);
    return -1;
  }
  TextAttributes &a = text().attr;
  // A metafile records the vector as given and keeps the one in force.
  if (gtype_is_META()) return gdrv_attribute(GOBJ_TEXT_UP, 1, v);
  if (v[0] / length == a.upx && v[1] / length == a.upy) return 0;
  a.upx = v[0] / length;
  a.upy = v[1] / length;
  return gdraw_attribute(GOBJ_TEXT_UP, 1, 2 * static_cast<int>(sizeof(float)), v);
}

int gset_text_align(const int a[2]) {
  TextAttributes &attr = text().attr;
  if (a[0] == attr.horiz_align && a[1] == attr.vert_align) return 0;
  attr.horiz_align = a[0];
  attr.vert_align = a[1];
  return gdraw_attribute(GOBJ_TEXT_ALIGN, 1, 2 * static_cast<int>(sizeof(int)), a);
}

int gset_space(float s) {
  if (!gdraw_check_range("gset_space", "spacing", s, -GKS_TEXT_SPACE_MAX, GKS_TEXT_SPACE_MAX)) return -1;
  return set_float(&text().attr.space, s, GOBJ_TEXT_SPACE);
}

int gset_char_space(float s) {
  if (!gdraw_check_range("gset_char_space", "character spacing", s, -GKS_TEXT_SPACE_MAX, GKS_TEXT_SPACE_MAX)) return -1;
  return set_float(&text().attr.char_space, s, GOBJ_TEXT_CHAR_SPACE);
}

int gset_fontprec(const int fp[2]) {
  TextState &t = text();
  if (fp[0] == t.font_ind) return 0;
  if (gtype_is_META()) {
    t.font_ind = fp[0];
    t.prec = fp[1];
    return gdrv_attribute(GOBJ_TEXT_FONT, 1, fp);
  }
  const int num_fonts = static_cast<int>(t.fonts.size());
  if (num_fonts > 0 && (fp[0] < 1 || fp[0] > num_fonts)) {
    MESS_print(MESS_WARN, "gset_fontprec: invalid font id: %d\n", fp[0]);
    return -1;
  }
  t.font_ind = fp[0];
  t.prec = fp[1];
  gdraw_attribute(GOBJ_TEXT_FONT, 1, 2 * static_cast<int>(sizeof(int)), fp);
  return num_fonts > 0 ? load_font_number(fp[0]) : 0;
}

int gset_text_path(int) { return 0; }

int ginq_text_align(int *err, int out[2]) {
  if (err) *err = 0;
  out[0] = text().attr.horiz_align;
  out[1] = text().attr.vert_align;
  return 0;
}

int ginq_text_fontprec(int *err, int out[2]) {
  if (err) *err = 0;
  out[0] = text().font_ind;
  out[1] = text().prec;
  return 0;
}

int gget_text_colr() { return gks_state().text_colr; }
float gget_text_width() { return text().width; }
GC gget_text_gc() { return gks_state().text_gc; }
int gget_font_type() { return text().font_type; }
const TextAttributes &gget_text_attributes() { return text().attr; }

int gset_font_drop(int d) {
  if (d < 0 || d > GKS_FONT_DROP_MAX) {
    gerr_printf("gset_font_drop", "invalid drop shadow: %d\n", d);
    return -1;
  }
  text().drop_shadow = d;
  return 0;
}

int gget_font_drop() { return text().drop_shadow; }
int gset_font_drop_color(int) { return 0; }

int gtext_strokes(const float pos[2], const char *string, TextSink *sink) {
  const TextState &t = text();
  if (t.font_type != GKS_FONT_STROKE) return -1;
  const float x = pos[0], y = pos[1];
  auto copy_at = [&](float cx, float cy) {
    sink->string_begin(cx, cy);
    gfont_text(t.font, t.attr, string, cx, cy, sink);
  };
  if (t.drop_shadow > 0) {
    // py comes out negative: pixel rows grow downwards.
    const float px = pixel_step(xW_p, x), py = pixel_step(yW_p, y);
    sink->shadow(true);
    for (int i = 0; i < t.drop_shadow; ++i) copy_at(x + static_cast<float>(i) * px, y + static_cast<float>(i) * py);
    sink->shadow(false);
  }
  copy_at(x, y);
  return 0;
}

// ---------------------------------------------------------------- X kinds

int gtext_x11(const float pos[2], const char *string) {
  GksState &st = gks_state();
  if (!st.display || !st.draw_window || !st.text_gc) return 0;
  const int type = text().font_type;
  if (type == GKS_FONT_X && text().xfont) return x_font_text(st, pos, string);
  XTextSink sink(st);
  return type == GKS_FONT_STROKE ? gtext_strokes(pos, string, &sink) : 0;
}

int gtext_x11_attribute(int code, int value, const void *data) {
  GksState &st = gks_state();
  if (!st.display || !st.text_gc) return 0;
  if (code == GOBJ_TEXT_COLR) XSetForeground(st.display, st.text_gc, gdraw_pixel(value));
  if (code == GOBJ_TEXT_WIDTH) {
    XGCValues values{};
    values.line_width = gdraw_xwidth(*static_cast<const float *>(data));
    XChangeGC(st.display, st.text_gc, GCLineWidth, &values);
  }
  return 0;
}
