// What the line, marker, fill and text areas share: setter checks, the
// hand-on of attributes, X points and contexts.
#include "gks/gks_draw.h"

#include <cmath>
#include <iterator>
#include <new>

#include "gks/gks_colr.h"
#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"

namespace {

bool is_pen(int ci) { return ci >= GKS_PEN_FIRST && ci <= GKS_PEN_LAST; }
bool is_file_kind() { return gtype_is_META() || gtype_is_PS() || gtype_is_HPGL(); }

// Object codes by area: each area applies its own codes to its context.
struct AttributeArea {
  int first, last;
  int (*apply)(int code, int value, const void *data);
};

const AttributeArea kAreas[] = {
    {GOBJ_LINE_TYPE, GOBJ_LINE_BOLD, gline_x11_attribute},
    {GOBJ_MARK_TYPE, GOBJ_MARK_WIDTH, gmark_x11_attribute},
    {GOBJ_TEXT_SPACE, GOBJ_TEXT_WIDTH, gtext_x11_attribute},
    {GOBJ_FILL_STYLE, GOBJ_FILL_SOLID, gfill_x11_attribute},
};

}  // namespace

int gdraw_check_colr(const char *routine, int *ci) {
  if (!gchk_graphics()) {
    gerr_printf(routine, "GKS not opened\n");
    return -1;
  }
  if (!gis_valid_colr(*ci)) {
    gerr_printf(routine, "invalid color index: %d\n", *ci);
    return -1;
  }
  if (gtype_is_WIN_PIX() && is_pen(*ci)) *ci = 1;
  if (!(is_file_kind() && is_pen(*ci)) && gget_color_ind(*ci) == -1) {
    gerr_printf(routine, "color index not initialized\n");
    return -1;
  }
  return 0;
}

bool gdraw_check_range(const char *routine, const char *what, float value, float low, float high) {
  if (value >= low && value <= high) return true;  // false for not-a-number too
  gerr_printf(routine, "invalid %s: %f\n", what, static_cast<double>(value));
  return false;
}

int gdraw_attribute(int code, int value, int size, const void *data) {
  if (gtype_is_META()) return gdrv_attribute(code, value, data);
  gnew_obj(code, value, size, data);
  return gdrv_attribute(code, value, data);
}

XPoint gdraw_xpoint(float world_x, float world_y) { return {gdraw_xcoord(xW_p(world_x)), gdraw_xcoord(yW_p(world_y))}; }

unsigned long gdraw_pixel(int ci) {
  const int pixel = gget_color_ind(ci);
  if (pixel >= 0) return static_cast<unsigned long>(pixel);
  const GksState &st = gks_state();
  return st.display ? WhitePixel(st.display, st.screen) : 0;
}

unsigned long gdraw_black() {
  const GksState &st = gks_state();
  return st.display ? BlackPixel(st.display, st.screen) : 0;
}

void gdraw_init_gc(GC *gc, Drawable on, int mode, int ci) {
  GksState &st = gks_state();
  if (mode > GKS_PLOT_RESIZE || !st.display) return;
  if (mode == GKS_PLOT_OPEN && !*gc && on) *gc = XCreateGC(st.display, on, 0, nullptr);
  if (!*gc) return;
  short vp[4];
  gget_xviewport(vp);
  XRectangle clip{vp[0], vp[1], static_cast<unsigned short>(vp[2]), static_cast<unsigned short>(vp[3])};
  XSetClipRectangles(st.display, *gc, 0, 0, &clip, 1, Unsorted);
  XSetForeground(st.display, *gc, gdraw_pixel(ci));
  XSetBackground(st.display, *gc, BlackPixel(st.display, st.screen));
}

XPointBuffer::XPointBuffer(int count) {
  if (count <= static_cast<int>(stack_.size())) return;
  try {
    heap_.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc &) {
    failed_ = true;
  }
}

int gattr_x11(int code, int value, const void *data) {
  for (const AttributeArea &area : kAreas)
    if (code >= area.first && code <= area.last) return area.apply(code, value, data);
  return 0;
}
