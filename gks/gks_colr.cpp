// The kernel's colour model: indices 0 .. 255 and the background (256),
// each with float RGB and an X pixel allocated on demand, read-only or
// read/write, in the default or a private colour map.
#include "gks/gks_colr.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "gks/colors.h"
#include "gks/gks_driver.h"
#include "gks/gks_loop.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_x11.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr unsigned int kColourDebug = 0x40000000u;
constexpr int kLastDrawingIndex = 255;
constexpr float kFullScale = 65535.0f;

// What only this module needs.
struct ColourExtras {
  bool rw_failed = false;                     // read/write allocation failed once: for good
  std::array<bool, GKS_NUM_COLR> writable{};  // the index's cell is read/write
};

ColourExtras &extras() {
  static ColourExtras x;
  return x;
}

GksState &st() { return gks_state(); }

bool is_x_type() { return st().win_type == GKS_WIN || st().win_type == GKS_PIX; }
bool in_table(int i) { return i >= 0 && i < GKS_NUM_COLR; }
bool is_pen(int i) { return i >= GKS_PEN_FIRST && i <= GKS_PEN_LAST; }
int table_index(int i) { return i == -1 ? GKS_BACK_COLR : i; }

float unit(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

XColor x_colour(float r, float g, float b) {
  XColor c{};
  c.red = static_cast<unsigned short>(unit(r) * kFullScale);
  c.green = static_cast<unsigned short>(unit(g) * kFullScale);
  c.blue = static_cast<unsigned short>(unit(b) * kFullScale);
  c.flags = DoRed | DoGreen | DoBlue;
  return c;
}

float distance(int i, float r, float g, float b) {
  return std::fabs(st().red[i] - r) + std::fabs(st().grn[i] - g) + std::fabs(st().blu[i] - b);
}

// Read-only allocation; on a full colour map the closest cell it holds.
bool alloc_read_only(Colormap cmap, XColor &colour) {
  Display *dpy = st().display;
  if (XAllocColor(dpy, cmap, &colour)) return true;
  Visual *visual = st().visual;
  int entries = visual ? visual->map_entries : 0;
  if (entries <= 0 || entries > 4096) return false;
  std::vector<XColor> cells(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) cells[static_cast<size_t>(i)].pixel = static_cast<unsigned long>(i);
  XQueryColors(dpy, cmap, cells.data(), entries);
  auto gap = [&colour](const XColor &c) {
    return std::labs(static_cast<long>(c.red) - colour.red) + std::labs(static_cast<long>(c.green) - colour.green) +
           std::labs(static_cast<long>(c.blue) - colour.blue);
  };
  const XColor &best = *std::min_element(cells.begin(), cells.end(),
                                         [&gap](const XColor &a, const XColor &b) { return gap(a) < gap(b); });
  colour = best;
  return true;
}

// Static visuals (TrueColor, StaticColor, StaticGray) have no writable
// cells; asking for one would only raise an X error.
bool can_have_rw_cells() {
  Visual *visual = st().visual;
  if (!visual) return false;
  int c = visual->c_class;
  return c == PseudoColor || c == GrayScale || c == DirectColor;
}

int new_rw_cell(Colormap cmap) {
  unsigned long pixel = 0;
  int granted = 0;
  if (can_have_rw_cells()) {
    granted = XAllocColorCells(st().display, cmap, False, nullptr, 0, &pixel, 1) ? 1 : 0;
    gsync();
  }
  if (!granted) {
    st().rw_colors = 0;
    extras().rw_failed = true;
  }
  MESS_print(kColourDebug, "Allocated RW Cells: %d\n", granted);
  return granted ? static_cast<int>(pixel) : -1;
}

void log_cell(const char *what, int i, unsigned long pixel, float r, float g, float b) {
  XColor back{};
  back.pixel = pixel;
  XQueryColor(st().display, gget_colormap(), &back);
  MESS_print(kColourDebug, "%s: %d %lu (%.2f %.2f %.2f) (%5d %5d %5d)\n", what, i, pixel, r, g, b, back.red, back.green,
             back.blue);
}

int store_rw(int i, unsigned long pixel, float r, float g, float b, const char *what) {
  XColor c = x_colour(r, g, b);
  c.pixel = pixel;
  XStoreColor(st().display, gget_colormap(), &c);
  gsync();
  log_cell(what, i, pixel, r, g, b);
  st().color_ind[i] = static_cast<int>(pixel);
  extras().writable[i] = true;
  return static_cast<int>(pixel);
}

int store_read_only(int i, float r, float g, float b, const char *what) {
  XColor c = x_colour(r, g, b);
  if (!alloc_read_only(gget_colormap(), c)) {
    gerr_printf("galloc_colr", "unable to allocate color %d\n", i);
    return -1;
  }
  gsync();
  log_cell(what, i, c.pixel, r, g, b);
  st().color_ind[i] = static_cast<int>(c.pixel);
  extras().writable[i] = false;
  return static_cast<int>(c.pixel);
}

int allocate_x_cell(int i, float r, float g, float b) {
  bool allocated = st().color_ind[i] >= 0;
  if (!allocated) {
    if (st().rw_colors) {
      int pixel = new_rw_cell(gget_colormap());
      if (pixel >= 0) return store_rw(i, static_cast<unsigned long>(pixel), r, g, b, "Stored new RW Cells");
    }
    return store_read_only(i, r, g, b, "Allocated new RW Cells");
  }
  // Re-defining an index: a writable cell changes colour in place, so what
  // was drawn with it changes on the screen too.
  if (st().rw_colors && extras().writable[i])
    return store_rw(i, static_cast<unsigned long>(st().color_ind[i]), r, g, b, "Stored RW Cells");
  if (st().rw_colors) {
    int pixel = new_rw_cell(gget_colormap());
    if (pixel >= 0) return store_rw(i, static_cast<unsigned long>(pixel), r, g, b, "Stored new RW Cells");
  }
  return store_read_only(i, r, g, b, "Allocated RW Cells");
}

// For index -1: an index already holding a near colour, else a new one.
int choose_index(float r, float g, float b, bool *reused) {
  GksState &s = st();
  *reused = false;
  int found = -1;
  for (int i = 0; i <= s.max_color_ind && i <= kLastDrawingIndex; ++i)
    if (gis_color_near(i, 0, r, g, b)) found = i;
  if (found >= 0) {
    MESS_print(kColourDebug, "Used existing ind: %d (%.2f %.2f %.2f)\n", found, r, g, b);
    *reused = true;
    return found;
  }
  if (s.max_color_ind < kLastDrawingIndex) {
    int i = ++s.max_color_ind;
    MESS_print(kColourDebug, "Allocated new ind: %d (%.2f %.2f %.2f)\n", i, r, g, b);
    return i;
  }
  // Every drawing index is taken: share the closest one.
  int best = 0;
  for (int i = 1; i <= kLastDrawingIndex; ++i)
    if (distance(i, r, g, b) < distance(best, r, g, b)) best = i;
  MESS_print(kColourDebug, "Used existing ind: %d (%.2f %.2f %.2f)\n", best, r, g, b);
  *reused = true;
  return best;
}

// The background text: the override, the resource, the X default.
std::string background_text() {
  GksState &s = st();
  if (!s.background.empty()) return s.background;
  const char *resource = RES_get("background");
  if (resource && *resource) return resource;
  if (s.display) {
    const char *xdefault = XGetDefault(s.display, s.prog_name.c_str(), "background");
    if (xdefault && *xdefault) return xdefault;
  }
  return "";
}

bool keeps_window_as_is(const std::string &text) {
  static const char *const kWords[] = {"none", "def", "over"};
  for (const char *word : kWords)
    if (stricmp(text.c_str(), word) == 0) return true;
  return false;
}

XColor named_background(const std::string &name) {
  GksState &s = st();
  XColor c{};
  int i = CLR_get_ind(name.c_str());
  if (i >= 0 && i < CLR_get_num()) {
    float r = 0, g = 0, b = 0;
    CLR_get_rgb(i, &r, &g, &b);
    s.red[GKS_BACK_COLR] = r;
    s.grn[GKS_BACK_COLR] = g;
    s.blu[GKS_BACK_COLR] = b;
    return x_colour(r, g, b);
  }
  if (!XParseColor(s.display, DefaultColormap(s.display, s.screen), name.c_str(), &c))
    gerr_printf("ginit_background", "unknown background color: %s\n", name.c_str());
  c.flags = DoRed | DoGreen | DoBlue;
  return c;
}

XColor default_background() {
  GksState &s = st();
  XColor c{};
  c.pixel = s.inverse ? WhitePixel(s.display, s.screen) : BlackPixel(s.display, s.screen);
  XQueryColor(s.display, DefaultColormap(s.display, s.screen), &c);
  c.flags = DoRed | DoGreen | DoBlue;
  return c;
}

void set_attribute_foregrounds(int i, int pixel) {
  GksState &s = st();
  if (!is_x_type() || !s.display || pixel < 0) return;
  struct Attribute {
    GC gc;
    int colour;
  };
  const Attribute attributes[] = {
      {s.line_gc, s.line_colr}, {s.text_gc, s.text_colr}, {s.mark_gc, s.mark_colr}, {s.fill_gc, s.fill_colr}};
  for (const Attribute &a : attributes)
    if (a.gc && a.colour == i) XSetForeground(s.display, a.gc, static_cast<unsigned long>(pixel));
}

}  // namespace

int ginit_xcolr() {
  GksState &s = st();
  if (s.win_type == GKS_WIN && s.display && !s.user_colormap) {
    bool wanted = s.local_cmap || std::getenv("LOCAL_CMAP") || std::getenv("zyblocal_cmap");
    if (wanted)
      s.user_colormap = XCreateColormap(s.display, s.root_window, DefaultVisual(s.display, s.screen), AllocNone);
  }
  if (s.user_colormap && s.display && s.root_window) XSetWindowColormap(s.display, s.root_window, s.user_colormap);
  s.color_ind.fill(-1);
  extras().writable.fill(false);
  return 0;
}

int ginit_background() {
  GksState &s = st();
  std::string text = background_text();
  bool clear = !keeps_window_as_is(text);
  bool named = !text.empty() && clear;

  if (is_x_type() && s.display) {
    XColor c = named ? named_background(text) : default_background();
    if (!alloc_read_only(gget_colormap(), c))
      c.pixel = s.inverse ? WhitePixel(s.display, s.screen) : BlackPixel(s.display, s.screen);
    MESS_print(kColourDebug, "Allocated BG Color: %lu (%5d %5d %5d)\n", c.pixel, c.red, c.green, c.blue);
    XQueryColor(s.display, gget_colormap(), &c);
    MESS_print(kColourDebug, "Queried BG Color: %lu (%5d %5d %5d)\n", c.pixel, c.red, c.green, c.blue);
    s.color_ind[GKS_BACK_COLR] = static_cast<int>(c.pixel);
    s.red[GKS_BACK_COLR] = c.red / kFullScale;
    s.grn[GKS_BACK_COLR] = c.green / kFullScale;
    s.blu[GKS_BACK_COLR] = c.blue / kFullScale;
  } else if (s.win_type == GKS_PS) {
    s.red[GKS_BACK_COLR] = s.grn[GKS_BACK_COLR] = s.blu[GKS_BACK_COLR] = 1.0f;
  }
  if (clear && s.win_type == GKS_WIN) gclear_frame(GKS_FRAME_WINDOW);
  return 1;
}

int galloc_colr(int i, float r, float g, float b) {
  GksState &s = st();
  r = unit(r);
  g = unit(g);
  b = unit(b);
  if (i >= GKS_NUM_COLR) {
    gerr_printf("galloc_colr", "invalid color index: %d\n", i);
    return -1;
  }
  if (i > s.max_color_ind && i <= kLastDrawingIndex) s.max_color_ind = i;
  if (i < 0) {
    bool reused = false;
    i = choose_index(r, g, b, &reused);
    if (reused && s.color_ind[i] >= 0 && is_x_type()) return s.color_ind[i];
    if (reused && !is_x_type()) return 1;
  }
  s.red[i] = r;
  s.grn[i] = g;
  s.blu[i] = b;
  // The file kinds keep their own colour tables (the metafile records the
  // call in gset_colr_rep instead).
  if (s.win_type != GKS_META) {
    const float rgb[3] = {r, g, b};
    gdrv_color_rep(1, i, rgb);
  }

  if (is_x_type() && s.display) return allocate_x_cell(i, r, g, b);
  // A file kind's colour is defined without a pixel (-2): the setters then accept it.
  const bool file_kind = s.win_type == GKS_PS || s.win_type == GKS_HPGL || s.win_type == GKS_META;
  if (file_kind && s.color_ind[i] < 0) s.color_ind[i] = -2;
  return 1;
}

int gset_colr_rep(int ws, int i, const float rgb[3]) {
  GksState &s = st();
  if (!s.open_graphics) {
    gerr_printf("gset_colr_rep", "GKS not opened\n");
    return -1;
  }
  if (is_pen(i)) return 0;
  if (!gis_valid_colr(i) || !rgb) {
    gerr_printf("gset_colr_rep", "invalid color index: %d\n", i);
    return -1;
  }
  if (s.win_type == GKS_META) return gdrv_color_rep(ws, i, rgb);
  gnew_obj(GOBJ_COLR_REP, i, 3 * static_cast<int>(sizeof(float)), rgb);
  int pixel = galloc_colr(i, rgb[0], rgb[1], rgb[2]);
  if (i >= 0) set_attribute_foregrounds(i, pixel);
  return 0;
}

int gis_color_near(int v, int by_pixel, float r, float g, float b) {
  if (v == -1) return 0;
  int i = v;
  if (by_pixel) {
    const auto &pixels = st().color_ind;
    auto it = std::find(pixels.begin(), pixels.end(), v);
    if (it == pixels.end()) return 0;
    i = static_cast<int>(it - pixels.begin());
  }
  if (!in_table(i)) return 0;
  return distance(i, r, g, b) < GKS_NEAR_COLR ? 1 : 0;
}

int gis_valid_colr(int i) { return (i >= -1 && i <= GKS_BACK_COLR) || is_pen(i); }

int gget_color_ind(int i) {
  i = table_index(i);
  return in_table(i) ? st().color_ind[i] : -1;
}

int gget_back_color() {
  int pixel = st().color_ind[GKS_BACK_COLR];
  return pixel >= 0 ? pixel : static_cast<int>(st().back_colr);
}

int gget_color_rgb(int i, float *r, float *g, float *b) {
  i = table_index(i);
  if (!in_table(i)) i = GKS_BACK_COLR;
  if (r) *r = st().red[i];
  if (g) *g = st().grn[i];
  if (b) *b = st().blu[i];
  return 1;
}

int gget_max_color_ind() { return st().max_color_ind; }

unsigned long gget_colormap() { return st().user_colormap ? st().user_colormap : st().def_colormap; }

int gset_user_cmap(unsigned long cmap) {
  st().user_colormap = cmap;
  return 0;
}

unsigned long gget_user_cmap() { return st().user_colormap; }

int gset_def_cmap(unsigned long cmap) {
  st().def_colormap = cmap;
  return 0;
}

unsigned long gget_def_cmap() { return st().def_colormap; }

int gset_local_colormap(int on) {
  st().local_cmap = on;
  return 0;
}

int gget_local_colormap() { return st().local_cmap; }

int gset_rw_colors(int on) {
  // Once the server has refused a writable cell, asking again is pointless.
  st().rw_colors = (on && !extras().rw_failed) ? 1 : 0;
  return 0;
}

int gget_rw_colors() { return st().rw_colors; }

int gset_inverse(int on) {
  st().inverse = on;
  return 0;
}

int gget_inverse() { return st().inverse; }

int gset_background_name(const char *name) {
  st().background = copy_limited(name, 49);
  return 0;
}
