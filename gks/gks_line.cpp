// Polylines: attributes, the primitive, and its drawing on the X kinds.
#include "gks/gks_line.h"

#include <cmath>
#include <cstdlib>

#include "gks/gks_draw.h"
#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"

namespace {

// The line colour index lives in the shared state (line_colr), where the
// colour code finds it when the index changes colour.
struct LineState {
  float width = 1.0f;
  int type = GKS_LINE_SOLID;
  int print_bold = 1;  // not reset: a plot option
  int gc_function = GKS_GC_COPY;
};

LineState &line() {
  static LineState s;
  return s;
}

struct DashList {
  int type;
  char list[4];
  int count;
};

const DashList kDashLists[] = {
    {GKS_LINE_DASH, {6, 6}, 2},
    {GKS_LINE_DOT, {3, 6}, 2},
    {GKS_LINE_DASH_DOT, {6, 6, 3, 6}, 4},
    {GKS_LINE_SHORT_DASH, {2, 2}, 2},
};

}  // namespace

int greset_line() {
  LineState &s = line();
  gks_state().line_colr = 1;
  s.width = 1.0f;
  s.type = GKS_LINE_SOLID;
  s.gc_function = GKS_GC_COPY;
  return 0;
}

int ginit_line(int mode) {
  GksState &st = gks_state();
  gdraw_init_gc(&st.line_gc, st.root_window, mode, st.line_colr);
  if (mode <= GKS_PLOT_RESIZE && st.display && st.line_gc) XSetFunction(st.display, st.line_gc, GKS_GC_COPY);
  return 0;
}

int gpolyline(int count, const float *pts) {
  if (!gchk_graphics()) {
    gerr_printf("gpolyline", "GKS not opened\n");
    return -1;
  }
  if (count < 2 || count > GKS_POINTS_MAX || !pts) {
    gerr_printf("gpolyline", "invalid number of points: %d\n", count);
    return -1;
  }
  if (!gpts_in_win(count, pts)) return 0;
  // Only the X kinds keep polylines for a replay.
  if (gtype_is_WIN_PIX()) gnew_obj(GOBJ_POLYLINE, count, count * 2 * static_cast<int>(sizeof(float)), pts);
  return gdrv_polyline(count, pts);
}

int gset_line_colr_ind(int ci) {
  if (gdraw_check_colr("gset_line_colr_ind", &ci) != 0) return -1;
  GksState &st = gks_state();
  if (ci == st.line_colr) return 0;
  st.line_colr = ci;
  return gdraw_attribute(GOBJ_LINE_COLR, ci, 0, nullptr);
}

int gset_linewidth(float w) {
  if (!gchk_graphics()) {
    gerr_printf("gset_linewidth", "GKS not opened\n");
    return -1;
  }
  if (!gdraw_check_range("gset_linewidth", "line width", w, 0, GKS_WIDTH_MAX)) return -1;
  LineState &s = line();
  if (w == s.width) return 0;
  if (w == 0 && gtype_is_PS()) w = 1;
  s.width = w;
  return gdraw_attribute(GOBJ_LINE_WIDTH, 1, static_cast<int>(sizeof w), &w);
}

int gset_linetype(int t) {
  if (!gchk_graphics()) {
    gerr_printf("gset_linetype", "GKS not opened\n");
    return -1;
  }
  if (t < 0) {
    gerr_printf("gset_linetype", "invalid line type: %d\n", t);
    return -1;
  }
  LineState &s = line();
  if (t == s.type) return 0;
  s.type = t;
  return gdraw_attribute(GOBJ_LINE_TYPE, t, 0, nullptr);
}

int gset_line_print_bold(int n) {
  line().print_bold = n < 1 ? 1 : n;
  gnew_obj(GOBJ_LINE_BOLD, line().print_bold, 0, nullptr);
  return 0;
}

int gset_line_gc_func(int f) {
  GksState &st = gks_state();
  line().gc_function = f;
  if (st.display && st.line_gc) XSetFunction(st.display, st.line_gc, f);
  return 0;
}

int gget_line_colr() { return gks_state().line_colr; }
float gget_line_width() { return line().width; }
int gget_line_type() { return line().type; }
int gget_line_print_bold() { return line().print_bold; }
int gget_line_gc_func() { return line().gc_function; }
GC gget_line_gc() { return gks_state().line_gc; }

const char *gget_line_dashes(int type, int *count) {
  for (const DashList &d : kDashLists)
    if (d.type == type) {
      *count = d.count;
      return d.list;
    }
  *count = 0;
  return nullptr;
}

int gxline(unsigned long drawable, const short p1[2], const short p2[2]) {
  GksState &st = gks_state();
  if (!st.display || !st.line_gc || !drawable) return -1;
  XDrawLine(st.display, drawable, st.line_gc, p1[0], p1[1], p2[0], p2[1]);
  return 0;
}

int gxrect(unsigned long drawable, const short p1[2], const short p2[2]) {
  GksState &st = gks_state();
  if (!st.display || !st.line_gc || !drawable) return -1;
  const int x = p1[0] < p2[0] ? p1[0] : p2[0], y = p1[1] < p2[1] ? p1[1] : p2[1];
  XDrawRectangle(st.display, drawable, st.line_gc, x, y, static_cast<unsigned>(std::abs(p2[0] - p1[0])),
                 static_cast<unsigned>(std::abs(p2[1] - p1[1])));
  return 0;
}

// ---------------------------------------------------------------- X kinds

int gline_x11(int count, const float *pts) {
  GksState &st = gks_state();
  if (!st.display || !st.draw_window || !st.line_gc) return 0;
  XPointBuffer buffer(count);
  XPoint *points = buffer.data();
  if (!points) {
    gerr_printf("gpolyline", "malloc error\n");
    return -1;
  }
  for (int i = 0; i < count; ++i) points[i] = gdraw_xpoint(pts[2 * i], pts[2 * i + 1]);
  XDrawLines(st.display, st.draw_window, st.line_gc, points, count, CoordModeOrigin);
  return 0;
}

int gline_x11_attribute(int code, int value, const void *data) {
  GksState &st = gks_state();
  if (!st.display || !st.line_gc) return 0;
  XGCValues values{};
  switch (code) {
    case GOBJ_LINE_COLR: XSetForeground(st.display, st.line_gc, gdraw_pixel(value)); break;
    case GOBJ_LINE_WIDTH:
      values.line_width = gdraw_xwidth(*static_cast<const float *>(data));
      XChangeGC(st.display, st.line_gc, GCLineWidth, &values);
      break;
    case GOBJ_LINE_TYPE: {
      values.line_style = value == GKS_LINE_SOLID ? LineSolid : LineOnOffDash;
      XChangeGC(st.display, st.line_gc, GCLineStyle, &values);
      int count = 0;
      const char *dashes = gget_line_dashes(value, &count);
      if (count > 0) XSetDashes(st.display, st.line_gc, 0, dashes, count);
      break;
    }
    default: break;
  }
  return 0;
}
