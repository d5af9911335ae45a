// Fill areas: attributes, patterns, the primitive, and its drawing on the
// X kinds.
#include "gks/gks_fill.h"

#include <array>

#include "gks/gks_draw.h"
#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"

namespace {

using PatternRows = std::array<unsigned char, GKS_FILL_PAT_SIDE>;

// 11 to 18 are dot screens of rising density, 10 is empty, 0 and 19 full.
constexpr PatternRows kPatterns[GKS_NUM_FILL_PAT] = {
    {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, {0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55},
    {0x55, 0x00, 0x55, 0x00, 0x55, 0x00, 0x55, 0x00}, {0x24, 0x11, 0x82, 0x48, 0x42, 0x11, 0x28, 0x84},
    {0x33, 0x33, 0x00, 0x00, 0xcc, 0xcc, 0x00, 0x00}, {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33},
    {0x03, 0x06, 0x0c, 0x18, 0x30, 0x60, 0xc0, 0x81}, {0x81, 0xc0, 0x60, 0x30, 0x18, 0x0c, 0x06, 0x03},
    {0xff, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00}, {0xc3, 0x66, 0x3c, 0x18, 0x3c, 0x66, 0xc3, 0x81},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x40, 0x10, 0x20, 0x01, 0x00, 0x04, 0x08, 0x02},
    {0x08, 0xa0, 0x44, 0x11, 0x22, 0x10, 0x81, 0x44}, {0x45, 0x28, 0x94, 0x43, 0x50, 0x09, 0x52, 0xa8},
    {0x19, 0xca, 0x34, 0x1a, 0xe1, 0x32, 0xa5, 0xcc}, {0x55, 0xdc, 0x3b, 0xe2, 0x97, 0xaa, 0x65, 0x3e},
    {0x7a, 0xe5, 0x5f, 0xab, 0xf5, 0xeb, 0x5e, 0xb5}, {0xfe, 0xbb, 0xf5, 0x6f, 0xfe, 0xd7, 0xbd, 0xeb},
    {0xfd, 0xff, 0xef, 0x7f, 0xdf, 0xfe, 0xf7, 0xaf}, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
};

// The fill colour index lives in the shared state (fill_colr).
struct FillState {
  int inter_style = GKS_FILL_SOLID;
  int inter_index = 1;
  int print_solid = 0;                         // not reset: a plot option
  std::array<Pixmap, GKS_NUM_FILL_PAT> pat{};  // the X stipples, made at the first set-up
};

FillState &fill() {
  static FillState s;
  return s;
}

bool valid_index(int i) { return static_cast<unsigned>(i) < GKS_NUM_FILL_PAT; }

void make_patterns() {
  GksState &st = gks_state();
  FillState &s = fill();
  for (int i = 0; i < GKS_NUM_FILL_PAT; ++i)
    if (!s.pat[static_cast<size_t>(i)])
      s.pat[static_cast<size_t>(i)] =
          XCreateBitmapFromData(st.display, st.root_window, reinterpret_cast<const char *>(kPatterns[i].data()), 8, 8);
}

}  // namespace

int greset_fill() {
  FillState &s = fill();
  gks_state().fill_colr = 1;
  s.inter_style = GKS_FILL_SOLID;
  s.inter_index = 1;
  return 0;
}

int ginit_fill(int mode) {
  GksState &st = gks_state();
  gdraw_init_gc(&st.fill_gc, st.root_window, mode, st.fill_colr);
  if (mode > GKS_PLOT_RESIZE || !st.display || !st.fill_gc) return 0;
  if (mode == GKS_PLOT_OPEN && st.root_window) make_patterns();
  XSetFillStyle(st.display, st.fill_gc, FillSolid);
  return 0;
}

int gdel_fill_pat() {
  GksState &st = gks_state();
  for (Pixmap &p : fill().pat) {
    if (p && st.display) XFreePixmap(st.display, p);
    p = 0;
  }
  return 0;
}

int gfill_area(int count, const float *pts) {
  if (count > GKS_POINTS_MAX || !gpts_in_win(count, pts)) return 0;
  if (gtype_is_META()) return gdrv_fill_area(count, pts);
  gnew_obj(GOBJ_FILL_AREA, count, count * 2 * static_cast<int>(sizeof(float)), pts);
  return gdrv_fill_area(count, pts);
}

int gset_fill_colr_ind(int ci) {
  GksState &st = gks_state();
  if (ci == st.fill_colr) return 0;
  if (gdraw_check_colr("gset_fill_colr_ind", &ci) != 0) return -1;
  // Always handed on: a pen index that became 1 still sets the context.
  st.fill_colr = ci;
  return gdraw_attribute(GOBJ_FILL_COLR, ci, 0, nullptr);
}

int gset_fill_int_style(int s) {
  FillState &f = fill();
  if (s == f.inter_style) return 0;
  if (!gchk_graphics()) {
    gerr_printf("gset_fill_int_style", "GKS not opened\n");
    return -1;
  }
  f.inter_style = s;
  return gdraw_attribute(GOBJ_FILL_STYLE, s, 0, nullptr);
}

int gset_fill_style_ind(int i) {
  FillState &f = fill();
  if (i == f.inter_index) return 0;
  if (!gchk_graphics()) {
    gerr_printf("gset_fill_style_ind", "GKS not opened\n");
    return -1;
  }
  if (!valid_index(i)) {
    gerr_printf("gset_fill_style_ind", "invalid style index: %d\n", i);
    return -1;
  }
  // A metafile keeps its own record of the index.
  if (gtype_is_META()) return gdrv_attribute(GOBJ_FILL_INDEX, i, nullptr);
  f.inter_index = i;
  return gdraw_attribute(GOBJ_FILL_INDEX, i, 0, nullptr);
}

int gset_fill_print_solid(int flag) {
  fill().print_solid = flag;
  gnew_obj(GOBJ_FILL_SOLID, flag, 0, nullptr);
  return 0;
}

int gget_fill_colr() { return gks_state().fill_colr; }
int gget_fill_int_style() { return fill().inter_style; }
int gget_fill_style_ind() { return fill().inter_index; }
int gget_fill_print_solid() { return fill().print_solid; }
GC gget_fill_gc() { return gks_state().fill_gc; }

const unsigned char *gget_fill_pattern(int index) { return valid_index(index) ? kPatterns[index].data() : nullptr; }

// ---------------------------------------------------------------- X kinds

int gfill_x11(int count, const float *pts) {
  GksState &st = gks_state();
  if (!st.display || !st.draw_window || !st.fill_gc) return 0;
  XPointBuffer buffer(count);
  XPoint *points = buffer.data();
  if (!points) {
    gerr_printf("gfill_area", "malloc error\n");
    return -1;
  }
  for (int i = 0; i < count; ++i) points[i] = gdraw_xpoint(pts[2 * i], pts[2 * i + 1]);
  XFillPolygon(st.display, st.draw_window, st.fill_gc, points, count, Nonconvex, CoordModeOrigin);
  XDrawLines(st.display, st.draw_window, st.fill_gc, points, count, CoordModeOrigin);
  return 0;
}

int gfill_x11_attribute(int code, int value, const void *) {
  GksState &st = gks_state();
  FillState &f = fill();
  if (!st.display || !st.fill_gc) return 0;
  const Pixmap stipple = f.pat[static_cast<size_t>(f.inter_index)];
  switch (code) {
    case GOBJ_FILL_COLR: XSetForeground(st.display, st.fill_gc, gdraw_pixel(value)); break;
    case GOBJ_FILL_INDEX:
      if (stipple) XSetStipple(st.display, st.fill_gc, stipple);
      break;
    case GOBJ_FILL_STYLE:
      if (value == GKS_FILL_SOLID) XSetFillStyle(st.display, st.fill_gc, FillSolid);
      if (value == GKS_FILL_PATTERN && stipple) {
        XSetFillStyle(st.display, st.fill_gc, FillStippled);
        XSetStipple(st.display, st.fill_gc, stipple);
      }
      break;
    default: break;
  }
  return 0;
}
