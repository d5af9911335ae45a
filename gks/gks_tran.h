// Normalisation transformations: six world windows with NDC viewports, the
// workstation window and viewport, the derived plot rectangle, the
// conversions to device coordinates and the clip rectangle.
//
// Rectangles are passed as four floats: xmin, xmax, ymin, ymax.
#pragma once

constexpr int GKS_NUM_TRAN = 6;
constexpr float GKS_PIXEL_CLAMP = 30000.0f;
constexpr float GKS_PS_CLAMP = 100000.0f;

// The mode of ginit_tran when only the window size changed; the others are
// ginit_plot's (GKS_PLOT_*).
constexpr int GKS_TRAN_SIZE_ONLY = 10;

int ginit_tran(int mode);
int gset_ws_win(int ws, const float r[4]);
int gset_ws_vp(int ws, const float r[4]);
int gset_win(int n, const float r[4]);
int gset_vp(int n, const float r[4]);
int gsel_norm_tran(int n);
int gpts_in_win(int count, const float *pts);  // x, y pairs in world units
int gget_xviewport(short rect[4]);             // x, y, width, height in pixels
int gget_ws_win(float r[4]);                   // the workstation window in force
struct GksDispSpace {
  int device_units;  // always 1
  float xmax, ymax;  // largest coordinate: width - 1, height - 1
  int width, height;
};

int ginq_disp_space_size(int ws, int *err, GksDispSpace *out);
int ginq_cur_norm_tran_num(int *err, int *n);
int ginq_norm_tran(int n, int *err, float out[8]);  // window then viewport, xmin xmax ymin ymax

int gset_tran_mult(float mult);
int greset_clip();

// World and NDC to window pixels (y down) and to PostScript units (y up), and back.
float xW_p(float x);
float yW_p(float y);
float xNDC_p(float x);
float yNDC_p(float y);
float xW_ps(float x);
float yW_ps(float y);
float xNDC_ps(float x);
float yNDC_ps(float y);
// xW_p and yW_p of count points (x, y pairs) into out, in one pass.
void gW_p_points(int count, const float *pts, float *out);
float xp_W(float px);
float yp_W(float py);
