// Fill areas: the fill attributes, the twenty 8 x 8 patterns, and the fill
// area primitive (filled, then outlined in the fill colour).
#pragma once

typedef struct _XGC *GC;

// Interior styles.
constexpr int GKS_FILL_HOLLOW = 0;
constexpr int GKS_FILL_SOLID = 1;
constexpr int GKS_FILL_PATTERN = 2;

constexpr int GKS_NUM_FILL_PAT = 20;  // style indices 0 .. 19
constexpr int GKS_FILL_PAT_SIDE = 8;

int greset_fill();
int ginit_fill(int mode);  // a GKS_PLOT_* mode
int gdel_fill_pat();       // frees the X patterns

// count x, y pairs in world coordinates. 0, or -1.
int gfill_area(int count, const float *pts);

int gset_fill_colr_ind(int ci);
int gset_fill_int_style(int s);
int gset_fill_style_ind(int i);
int gset_fill_print_solid(int flag);

int gget_fill_colr();
int gget_fill_int_style();
int gget_fill_style_ind();
int gget_fill_print_solid();
GC gget_fill_gc();
// The eight row bytes of a pattern, top row first, least significant bit
// the leftmost pixel; nullptr outside 0 .. 19.
const unsigned char *gget_fill_pattern(int index);
