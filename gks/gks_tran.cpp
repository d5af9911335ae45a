// Normalisation transformations: world window -> NDC viewport -> the plot
// rectangle inside the workstation viewport, in window pixels (y down) or
// in PostScript units (y up).
#include "gks/gks_tran.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "gks/gks_driver.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_tool.h"
#include "gks/gks_x11.h"

namespace {

struct Rect {
  float xmin = 0, ymin = 0, xmax = 1, ymax = 1, dx = 1, dy = 1;
};

struct PlotRect {
  float x0 = 0, y0 = 0, dx = 1, dy = 1;
};

struct ClipRect {
  short x = 0, y = 0;
  unsigned short width = 0, height = 0;
};

struct TranState {
  std::array<Rect, GKS_NUM_TRAN> wn{}, vp{};
  int cur_trans = 0;
  Rect cur_wn, cur_vp;
  float wn_vp_x = 1, wn_vp_y = 1;
  Rect wkwn;
  Rect wkvp;
  PlotRect plt;
  float wkwn_plt_x = 1, wkwn_plt_y = 1;
  ClipRect clip;
};

TranState &tr() {
  static TranState t;
  return t;
}

constexpr int kRectBytes = 4 * static_cast<int>(sizeof(float));

// Callers pass xmin, xmax, ymin, ymax.
Rect make_rect(const float r[4]) {
  Rect out;
  out.xmin = r[0];
  out.xmax = r[1];
  out.ymin = r[2];
  out.ymax = r[3];
  out.dx = out.xmax - out.xmin;
  out.dy = out.ymax - out.ymin;
  return out;
}

Rect unit_square() { return Rect{}; }

// A zero-sized or non-finite rectangle would turn every conversion into
// infinities or not-a-number.
bool usable(const float *r, const char *routine) {
  bool ok = r && std::isfinite(r[0]) && std::isfinite(r[1]) && std::isfinite(r[2]) && std::isfinite(r[3]) &&
            r[1] != r[0] && r[3] != r[2];
  if (!ok) gerr_printf(routine, "invalid rectangle\n");
  return ok;
}

bool valid_tran(int n) { return n >= 0 && n < GKS_NUM_TRAN; }

float clamp_to(float v, float limit) {
  if (v > limit) return limit;
  if (v < -limit) return -limit;
  return v;
}

void compute_scales() {
  TranState &t = tr();
  t.wn_vp_x = t.cur_vp.dx / t.cur_wn.dx;
  t.wn_vp_y = t.cur_vp.dy / t.cur_wn.dy;
  t.wkwn_plt_x = t.plt.dx / t.wkwn.dx;
  t.wkwn_plt_y = t.plt.dy / t.wkwn.dy;
}

// The part of the workstation viewport that the workstation window maps
// onto, keeping its aspect ratio; the rest lies right of or below it.
void compute_plot_rect() {
  TranState &t = tr();
  int ox = 0, oy = 0;
  gget_win_offset(&ox, &oy);
  if (t.wkvp.dx / t.wkwn.dx > t.wkvp.dy / t.wkwn.dy) {
    t.plt.dy = t.wkvp.dy;
    t.plt.dx = t.wkwn.dx * t.wkvp.dy / t.wkwn.dy;
  } else {
    t.plt.dx = t.wkvp.dx;
    t.plt.dy = t.wkvp.dx * t.wkwn.dy / t.wkwn.dx;
  }
  t.plt.x0 = static_cast<float>(ox) + t.wkvp.xmin;
  t.plt.y0 = static_cast<float>(oy) + t.wkvp.ymin;
  compute_scales();
}

// Truncation of a double into a range X can take.
long trunc_in(double v, long lo, long hi) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(static_cast<long>(std::clamp(v, static_cast<double>(lo), static_cast<double>(hi))), lo, hi);
}

void compute_clip() {
  TranState &t = tr();
  long x = trunc_in(xNDC_p(t.cur_vp.xmin) + 0.5, SHRT_MIN, SHRT_MAX);
  long width = trunc_in(xNDC_p(t.cur_vp.xmax) - static_cast<double>(x) + 1.5, 0, USHRT_MAX);
  long y = trunc_in(yNDC_p(t.cur_vp.ymax) + 0.5, SHRT_MIN, SHRT_MAX);
  long height = trunc_in(yNDC_p(t.cur_vp.ymin) - static_cast<double>(y) + 1.5, 0, USHRT_MAX);
  t.clip.x = static_cast<short>(x);
  t.clip.y = static_cast<short>(y);
  t.clip.width = static_cast<unsigned short>(width);
  t.clip.height = static_cast<unsigned short>(height);
}

// The viewport of the current transformation as a driver's clip rectangle.
void apply_clip() {
  const Rect &vp = tr().cur_vp;
  const float ndc[4] = {vp.xmin, vp.xmax, vp.ymin, vp.ymax};
  gdrv_clip(ndc);
}

void select_tran(int n) {
  TranState &t = tr();
  t.cur_trans = n;
  t.cur_wn = t.wn[static_cast<size_t>(n)];
  t.cur_vp = t.vp[static_cast<size_t>(n)];
  compute_scales();
}

}  // namespace

int ginit_tran(int mode) {
  TranState &t = tr();
  int w = 0, h = 0;
  gget_win_size(&w, &h);
  t.wkvp.xmin = 0;
  t.wkvp.ymin = 0;
  t.wkvp.xmax = static_cast<float>(w - 1);
  t.wkvp.ymax = static_cast<float>(h - 1);
  t.wkvp.dx = static_cast<float>(w - 1);
  t.wkvp.dy = static_cast<float>(h - 1);
  if (mode != 10) {
    t.wkwn = unit_square();
    t.wn.fill(unit_square());
    t.vp.fill(unit_square());
    select_tran(0);
  }
  compute_plot_rect();
  switch (mode) {
    case GKS_PLOT_OPEN:
    case GKS_PLOT_RESIZE:
    case GKS_TRAN_SIZE_ONLY: compute_clip(); break;
    case GKS_PLOT_PS:
    case GKS_PLOT_HPGL:
    case GKS_PLOT_META: apply_clip(); break;
    default: break;
  }
  return 0;
}

int gset_ws_win(int ws, const float r[4]) {
  if (!usable(r, "gset_ws_win")) return -1;
  gdrv_transform(GOBJ_WS_WIN, ws, r);
  gnew_obj(GOBJ_WS_WIN, ws, kRectBytes, r);
  tr().wkwn = make_rect(r);
  compute_plot_rect();
  compute_clip();
  apply_clip();
  return 0;
}

int gset_ws_vp(int ws, const float r[4]) {
  if (!usable(r, "gset_ws_vp")) return -1;
  gdrv_transform(GOBJ_WS_VP, ws, r);
  gnew_obj(GOBJ_WS_VP, ws, kRectBytes, r);
  tr().wkvp = make_rect(r);
  compute_plot_rect();
  compute_clip();
  apply_clip();
  return 0;
}

int gset_win(int n, const float r[4]) {
  if (!valid_tran(n)) {
    gerr_printf("gset_win", "invalid transformation number: %d\n", n);
    return -1;
  }
  if (!usable(r, "gset_win")) return -1;
  gdrv_transform(GOBJ_WIN, n, r);
  gnew_obj(GOBJ_WIN, n, kRectBytes, r);
  TranState &t = tr();
  t.wn[static_cast<size_t>(n)] = make_rect(r);
  if (n == t.cur_trans) {
    t.cur_wn = t.wn[static_cast<size_t>(n)];
    compute_scales();
  }
  return 0;
}

int gset_vp(int n, const float r[4]) {
  if (!valid_tran(n)) {
    gerr_printf("gset_vp", "invalid transformation number: %d\n", n);
    return -1;
  }
  if (!usable(r, "gset_vp")) return -1;
  gdrv_transform(GOBJ_VP, n, r);
  gnew_obj(GOBJ_VP, n, kRectBytes, r);
  TranState &t = tr();
  t.vp[static_cast<size_t>(n)] = make_rect(r);
  if (n == t.cur_trans) {
    t.cur_vp = t.vp[static_cast<size_t>(n)];
    compute_scales();
    compute_clip();
    apply_clip();
  }
  return 0;
}

int gsel_norm_tran(int n) {
  if (!valid_tran(n)) {
    gerr_printf("gsel_norm_tran", "invalid transformation number: %d\n", n);
    return -1;
  }
  if (n == tr().cur_trans) return 0;
  gdrv_transform(GOBJ_SEL_TRAN, n, nullptr);
  gnew_obj(GOBJ_SEL_TRAN, n, 0, nullptr);
  select_tran(n);
  compute_clip();
  apply_clip();
  return 0;
}

int gpts_in_win(int count, const float *pts) {
  if (count < 1 || !pts) return 0;
  float xmin = pts[0], xmax = pts[0], ymin = pts[1], ymax = pts[1];
  for (int i = 1; i < count; ++i) {
    xmin = std::min(xmin, pts[2 * i]);
    xmax = std::max(xmax, pts[2 * i]);
    ymin = std::min(ymin, pts[2 * i + 1]);
    ymax = std::max(ymax, pts[2 * i + 1]);
  }
  const Rect &wn = tr().cur_wn;
  if (wn.xmin > xmax || xmin > wn.xmax || wn.ymin > ymax || ymin > wn.ymax) return 0;
  return 1;
}

int gget_xviewport(short rect[4]) {
  if (!rect) return -1;
  const ClipRect &c = tr().clip;
  rect[0] = c.x;
  rect[1] = c.y;
  rect[2] = static_cast<short>(std::min<int>(c.width, SHRT_MAX));
  rect[3] = static_cast<short>(std::min<int>(c.height, SHRT_MAX));
  return 0;
}

int gget_ws_win(float r[4]) {
  const Rect &w = tr().wkwn;
  r[0] = w.xmin;
  r[1] = w.xmax;
  r[2] = w.ymin;
  r[3] = w.ymax;
  return 0;
}

int gset_tran_mult(float mult) { return 0; }
int greset_clip() { return 0; }

// ---------------------------------------------------------------- conversions

float xW_p(float x) {
  const TranState &t = tr();
  float v = ((x - t.cur_wn.xmin) * t.wn_vp_x + t.cur_vp.xmin - t.wkwn.xmin) * t.wkwn_plt_x + t.plt.x0;
  return clamp_to(v, GKS_PIXEL_CLAMP);
}

float yW_p(float y) {
  const TranState &t = tr();
  float v = (t.wkwn.ymax - ((y - t.cur_wn.ymin) * t.wn_vp_y + t.cur_vp.ymin)) * t.wkwn_plt_y + t.plt.y0;
  return clamp_to(v, GKS_PIXEL_CLAMP);
}

// The same expressions as xW_p and yW_p, with the state read once: text
// converts its strokes a piece at a time.
void gW_p_points(int count, const float *pts, float *out) {
  const TranState &t = tr();
  for (int i = 0; i < 2 * count; i += 2) {
    const float x = ((pts[i] - t.cur_wn.xmin) * t.wn_vp_x + t.cur_vp.xmin - t.wkwn.xmin) * t.wkwn_plt_x + t.plt.x0;
    const float y =
        (t.wkwn.ymax - ((pts[i + 1] - t.cur_wn.ymin) * t.wn_vp_y + t.cur_vp.ymin)) * t.wkwn_plt_y + t.plt.y0;
    out[i] = clamp_to(x, GKS_PIXEL_CLAMP);
    out[i + 1] = clamp_to(y, GKS_PIXEL_CLAMP);
  }
}

float xNDC_p(float x) {
  const TranState &t = tr();
  return clamp_to((x - t.wkwn.xmin) * t.wkwn_plt_x + t.plt.x0, GKS_PIXEL_CLAMP);
}

float yNDC_p(float y) {
  const TranState &t = tr();
  return clamp_to((t.wkwn.ymax - y) * t.wkwn_plt_y + t.plt.y0, GKS_PIXEL_CLAMP);
}

float xW_ps(float x) {
  const TranState &t = tr();
  float v = ((x - t.cur_wn.xmin) * t.wn_vp_x + t.cur_vp.xmin - t.wkwn.xmin) * t.wkwn_plt_x + t.plt.x0;
  return clamp_to(v, GKS_PS_CLAMP);
}

float yW_ps(float y) {
  const TranState &t = tr();
  float v = ((y - t.cur_wn.ymin) * t.wn_vp_y + t.cur_vp.ymin - t.wkwn.ymin) * t.wkwn_plt_y + t.plt.y0;
  return clamp_to(v, GKS_PS_CLAMP);
}

float xNDC_ps(float x) {
  const TranState &t = tr();
  return clamp_to((x - t.wkwn.xmin) * t.wkwn_plt_x + t.plt.x0, GKS_PS_CLAMP);
}

float yNDC_ps(float y) {
  const TranState &t = tr();
  return clamp_to((y - t.wkwn.ymin) * t.wkwn_plt_y + t.plt.y0, GKS_PS_CLAMP);
}

float xp_W(float px) {
  const TranState &t = tr();
  return ((px - t.plt.x0) / t.wkwn_plt_x + t.wkwn.xmin - t.cur_vp.xmin) / t.wn_vp_x + t.cur_wn.xmin;
}

float yp_W(float py) {
  const TranState &t = tr();
  return (t.wkwn.ymax - (py - t.plt.y0) / t.wkwn_plt_y - t.cur_vp.ymin) / t.wn_vp_y + t.cur_wn.ymin;
}

// ---------------------------------------------------------------- inquiries

int ginq_disp_space_size(int ws, int *err, GksDispSpace *out) {
  int w = 0, h = 0;
  gget_win_size(&w, &h);
  if (w <= 0 || h <= 0) {
    if (err) *err = -1;
    return -1;
  }
  if (err) *err = 0;
  if (out) {
    out->device_units = 1;
    out->xmax = static_cast<float>(w - 1);
    out->ymax = static_cast<float>(h - 1);
    out->width = w;
    out->height = h;
  }
  return 0;
}

int ginq_cur_norm_tran_num(int *err, int *n) {
  if (err) *err = 0;
  if (n) *n = tr().cur_trans;
  return 0;
}

int ginq_norm_tran(int n, int *err, float out[8]) {
  if (!valid_tran(n)) {
    if (err) *err = -1;
    return -1;
  }
  if (err) *err = 0;
  if (out) {
    const Rect &w = tr().wn[static_cast<size_t>(n)];
    const Rect &v = tr().vp[static_cast<size_t>(n)];
    const float values[8] = {w.xmin, w.xmax, w.ymin, w.ymax, v.xmin, v.xmax, v.ymin, v.ymax};
    std::copy(values, values + 8, out);
  }
  return 0;
}
