// Polymarkers: attributes, the primitive, the shapes, and their drawing on
// the X kinds.
#include "gks/gks_mark.h"

#include <cmath>
#include <iterator>

#include "gks/gks_draw.h"
#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"

namespace {

// The marker colour index lives in the shared state (mark_colr).
struct MarkState {
  int type = GKS_MARK_DOT;
  float width = 1.0f;
  float height = 10.0f;  // the marker size
};

MarkState &mark() {
  static MarkState s;
  return s;
}

// A vertex of a shape: (cx + ax * h + ox, cy + ay * h + oy). The factors
// multiply the integer h in double precision.
struct Vertex {
  double ax, ay;
  int ox = 0, oy = 0;  // only the dot has offsets
};

struct LineTemplate {
  int count;
  Vertex v[GksMarkShape::kVertices];
};

struct ShapeTemplate {
  int type;
  int lines;
  LineTemplate line[GksMarkShape::kLines];
};

constexpr double kC = 0.866;  // cos 30 degrees, as the circle has always used it
constexpr double kS = 0.5;

const ShapeTemplate kShapes[] = {
    {GKS_MARK_DOT, 1, {{5, {{0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}}}}},
    {GKS_MARK_PLUS, 2, {{2, {{-1, 0}, {1, 0}}}, {2, {{0, 1}, {0, -1}}}}},
    {GKS_MARK_STAR,
     4,
     {{2, {{-1, 0}, {1, 0}}}, {2, {{-1, -1}, {1, 1}}}, {2, {{0, 1}, {0, -1}}}, {2, {{1, -1}, {-1, 1}}}}},
    {GKS_MARK_CIRCLE,
     1,
     {{13,
       {{-1, 0},
        {-kC, kS},
        {-kS, kC},
        {0, 1},
        {kS, kC},
        {kC, kS},
        {1, 0},
        {kC, -kS},
        {kS, -kC},
        {0, -1},
        {-kS, -kC},
        {-kC, -kS},
        {-1, 0}}}}},
    {GKS_MARK_CROSS, 2, {{2, {{-1, -1}, {1, 1}}}, {2, {{1, -1}, {-1, 1}}}}},
    {GKS_MARK_SQUARE, 1, {{5, {{-1, 1}, {1, 1}, {1, -1}, {-1, -1}, {-1, 1}}}}},
    {GKS_MARK_TRI, 1, {{4, {{-1, 1}, {1, 1}, {0, -1}, {-1, 1}}}}},
    {GKS_MARK_POINT, 1, {{1, {{0, 0}}}}},
    {GKS_MARK_ITRI, 1, {{4, {{-1, -1}, {1, -1}, {0, 1}, {-1, -1}}}}},
};

const ShapeTemplate *shape_of(int type) {
  for (const ShapeTemplate &s : kShapes)
    if (s.type == type) return &s;
  return nullptr;
}

void draw_shape(const GksMarkShape &shape, MarkerSink *sink) {
  for (int i = 0; i < shape.lines; ++i) sink->draw(shape.v[i], shape.count[i]);
}

// X points are the device points truncated.
short truncated(float v) {
  if (std::isnan(v)) return static_cast<short>(-GKS_PIXEL_CLAMP);
  if (v > 32767.0f) return 32767;
  if (v < -32768.0f) return -32768;
  return static_cast<short>(v);
}

class XMarkerSink : public MarkerSink {
 public:
  explicit XMarkerSink(GksState &st) : st_(st) {}
  void centre(float x, float y, float *cx, float *cy) override {
    *cx = xW_p(x) + 0.5f;
    *cy = yW_p(y) + 0.5f;
  }
  void shadow(bool on) override {
    XSetForeground(st_.display, st_.mark_gc, on ? gdraw_black() : gdraw_pixel(st_.mark_colr));
  }
  void draw(const GksMarkPoint *points, int count) override {
    XPoint xp[GksMarkShape::kVertices];
    for (int i = 0; i < count; ++i) xp[i] = {truncated(points[i].x), truncated(points[i].y)};
    if (count == 1)
      XDrawPoint(st_.display, st_.draw_window, st_.mark_gc, xp[0].x, xp[0].y);
    else
      XDrawLines(st_.display, st_.draw_window, st_.mark_gc, xp, count, CoordModeOrigin);
  }

 private:
  GksState &st_;
};

}  // namespace

int greset_marker() {
  MarkState &s = mark();
  gks_state().mark_colr = 1;
  s.type = GKS_MARK_DOT;
  s.width = 1.0f;
  s.height = 10.0f;
  return 0;
}

int ginit_marker(int mode) {
  GksState &st = gks_state();
  gdraw_init_gc(&st.mark_gc, st.base_window, mode, st.mark_colr);
  return 0;
}

int gmark_shape(int type, float cx, float cy, float size, GksMarkShape *shape) {
  shape->lines = 0;
  const ShapeTemplate *t = shape_of(type);
  if (!t) return 0;
  const int h = static_cast<int>(size * 0.5f);
  for (int i = 0; i < t->lines; ++i) {
    const LineTemplate &line = t->line[i];
    shape->count[i] = line.count;
    for (int k = 0; k < line.count; ++k) {
      const Vertex &v = line.v[k];
      shape->v[i][k] = {static_cast<float>(cx + v.ax * h + v.ox), static_cast<float>(cy + v.ay * h + v.oy)};
    }
  }
  shape->lines = t->lines;
  return shape->lines;
}

int gmark_points(int count, const float *pts, float size, MarkerSink *sink) {
  const int type = mark().type;
  const int drop = gget_font_drop();
  GksMarkShape shape;
  for (int p = 0; p < count; ++p) {
    float cx = 0, cy = 0;
    sink->centre(pts[2 * p], pts[2 * p + 1], &cx, &cy);
    if (drop > 0) {
      sink->shadow(true);
      for (int i = 0; i < drop; ++i)
        if (gmark_shape(type, cx + static_cast<float>(i), cy + static_cast<float>(i), size, &shape))
          draw_shape(shape, sink);
      sink->shadow(false);
    }
    if (gmark_shape(type, cx, cy, size, &shape)) draw_shape(shape, sink);
  }
  return 0;
}

int gpolymarker(int count, const float *pts) {
  // Reported under the polyline's name, as it always has been.
  if (!gchk_graphics()) {
    gerr_printf("gpolyline", "GKS not opened\n");
    return -1;
  }
  if (count < 1 || count > GKS_POINTS_MAX || !pts) {
    gerr_printf("gpolyline", "invalid number of points: %d\n", count);
    return -1;
  }
  if (gtype_is_META()) return gdrv_polymarker(count, pts);
  gnew_obj(GOBJ_POLYMARKER, count, count * 2 * static_cast<int>(sizeof(float)), pts);
  return gdrv_polymarker(count, pts);
}

int gset_marker_colr_ind(int ci) {
  if (gdraw_check_colr("gset_marker_colr_ind", &ci) != 0) return -1;
  GksState &st = gks_state();
  if (ci == st.mark_colr) return 0;
  st.mark_colr = ci;
  return gdraw_attribute(GOBJ_MARK_COLR, ci, 0, nullptr);
}

int gset_marker_size(float s) {
  if (!gchk_graphics()) {
    gerr_printf("gset_marker_size", "GKS not opened\n");
    return -1;
  }
  if (!gdraw_check_range("gset_marker_size", "marker size", s, 0, GKS_MARK_SIZE_MAX)) return -1;
  if (s == mark().height) return 0;
  mark().height = s;
  return gdraw_attribute(GOBJ_MARK_SIZE, 1, static_cast<int>(sizeof s), &s);
}

int gset_marker_type(int t) {
  if (!gchk_graphics()) {
    gerr_printf("gset_marker_type", "GKS not opened\n");
    return -1;
  }
  if (t == mark().type) return 0;
  mark().type = t;
  return gdraw_attribute(GOBJ_MARK_TYPE, t, 0, nullptr);
}

int gset_marker_width(float w) {
  if (!gchk_graphics()) {
    gerr_printf("gset_marker_width", "GKS not opened\n");
    return -1;
  }
  if (!gdraw_check_range("gset_marker_width", "marker width", w, 0, GKS_WIDTH_MAX)) return -1;
  if (w == mark().width) return 0;
  if (w == 0 && gtype_is_PS()) w = 1;
  mark().width = w;
  return gdraw_attribute(GOBJ_MARK_WIDTH, 1, static_cast<int>(sizeof w), &w);
}

int gget_marker_colr() { return gks_state().mark_colr; }
float gget_marker_size() { return mark().height; }
int gget_marker_type() { return mark().type; }
float gget_marker_width() { return mark().width; }
GC gget_marker_gc() { return gks_state().mark_gc; }

// ---------------------------------------------------------------- X kinds

int gmark_x11(int count, const float *pts) {
  GksState &st = gks_state();
  if (!st.display || !st.draw_window || !st.mark_gc) return 0;
  XMarkerSink sink(st);
  return gmark_points(count, pts, GKS_MARK_UNIT * mark().height, &sink);
}

int gmark_x11_attribute(int code, int value, const void *data) {
  GksState &st = gks_state();
  if (!st.display || !st.mark_gc) return 0;
  if (code == GOBJ_MARK_COLR) XSetForeground(st.display, st.mark_gc, gdraw_pixel(value));
  if (code == GOBJ_MARK_WIDTH) {
    XGCValues values{};
    values.line_width = gdraw_xwidth(*static_cast<const float *>(data));
    XChangeGC(st.display, st.mark_gc, GCLineWidth, &values);
  }
  return 0;
}
