// Polylines: the line attributes, the polyline primitive, and the
// rubber-band lines drawn straight into an X drawable.
#pragma once

typedef struct _XGC *GC;

// Line types: solid and four dash patterns (X dash lists, on and off pixels).
constexpr int GKS_LINE_SOLID = 1;
constexpr int GKS_LINE_DASH = 2;        // 6 on, 6 off
constexpr int GKS_LINE_DOT = 3;         // 3 on, 6 off
constexpr int GKS_LINE_DASH_DOT = 4;    // 6 on, 6 off, 3 on, 6 off
constexpr int GKS_LINE_SHORT_DASH = 5;  // 2 on, 2 off

constexpr int GKS_GC_COPY = 3;  // X raster function GXcopy

// Widths above this are refused like negative ones (lines, markers and
// text strokes, in pixels): nobody draws with them, and the X server would
// take seconds over every stroke. Likewise calls of more points.
constexpr float GKS_WIDTH_MAX = 100.0f;
constexpr int GKS_POINTS_MAX = 1000000;

int greset_line();
int ginit_line(int mode);  // a GKS_PLOT_* mode

// count x, y pairs in world coordinates; at least two. 0, or -1.
int gpolyline(int count, const float *pts);

int gset_line_colr_ind(int ci);
int gset_linewidth(float w);
int gset_linetype(int t);
int gset_line_print_bold(int n);
int gset_line_gc_func(int f);

int gget_line_colr();
float gget_line_width();
int gget_line_type();
int gget_line_print_bold();
int gget_line_gc_func();
GC gget_line_gc();
// The dash list of a line type (on, off, ... in pixels); count 0 for a
// solid line and for types that keep the context's list.
const char *gget_line_dashes(int type, int *count);

// Rubber bands: a line, and the rectangle spanned by two corners, with the
// line context into drawable. Points are x, y in pixels.
int gxline(unsigned long drawable, const short p1[2], const short p2[2]);
int gxrect(unsigned long drawable, const short p1[2], const short p2[2]);
