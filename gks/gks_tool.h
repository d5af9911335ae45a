// The GPH convenience calls the looper uses for its title, colours, font
// and alignment, and the maximum view of a workstation.
#pragma once

int ginq_maxview(int type, float *xmax, float *ymax);

constexpr int GPH_FONT_NAME_MAX = 19;

int GPH_set_win_title();
int GPH_set_color(int i, float r, float g, float b);
int GPH_set_def_font(const char *name);
const char *GPH_get_def_font();
int GPH_text_align(int h, int v);  // gset_text_align with (h, v)
int GPH_set_view_size(float sx, float sy, float ox, float oy);
int GPH_get_view_size(float *sx, float *sy, float *ox, float *oy);
