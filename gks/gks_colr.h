// The kernel's colour model: colour indices with their RGB values and X
// pixels, allocated read-only or read/write, in the default or a private
// colour map.
#pragma once

constexpr int GKS_NUM_COLR = 257;   // 0 .. 255 drawing colours, 256 the background
constexpr int GKS_BACK_COLR = 256;  // where index -1 is kept
constexpr int GKS_PEN_FIRST = 500;  // print-only pen colours 500 .. 508
constexpr int GKS_PEN_LAST = 508;
constexpr float GKS_NEAR_COLR = 0.01f;

int ginit_xcolr();
int ginit_background();
int galloc_colr(int i, float r, float g, float b);  // the X pixel (1 for file types)
int gset_colr_rep(int ws, int i, const float rgb[3]);
int gis_color_near(int v, int by_pixel, float r, float g, float b);
int gis_valid_colr(int i);
int gget_color_ind(int i);  // the pixel, -1 when not allocated
int gget_back_color();
int gget_color_rgb(int i, float *r, float *g, float *b);
int gget_max_color_ind();

unsigned long gget_colormap();  // the private map when there is one, else the default
int gset_user_cmap(unsigned long cmap);
unsigned long gget_user_cmap();
int gset_def_cmap(unsigned long cmap);
unsigned long gget_def_cmap();
int gset_local_colormap(int on);
int gget_local_colormap();
int gset_rw_colors(int on);
int gget_rw_colors();
int gset_inverse(int on);
int gget_inverse();
int gset_background_name(const char *name);  // override of the background resource
