// The HPGL workstation: the plot as HP-GL/2 instructions in plotter units
// (1015 per inch, whole numbers), optionally wrapped in the PCL sequences
// that switch a laser printer into HP-GL/2.
//
// gopen_ws(ws, "file,option,...", GKS_HPGL) opens it (also a PostScript
// request when "zybprint" is "hpgl"): the name, else "zybhp_out", else
// "zyb.hpgl"; options from "zybhp_param" and then the device pieces.
#pragma once

#include <cstdio>

FILE *ghpgl_open_file(const char *name);  // as gps_open_file
int ghpgl_init();
int ghpgl_set_pcl(int mode);  // 0 none, 1 PCL, 2 PCL turned by 90 degrees
int ghpgl_set_rotate(int degrees);
int ghpgl_set_base_width(float mm);
int ghpgl_set_colorPS(int flag);  // kept, HPGL has no colours
int ghpgl_get_colorPS();
int ghpgl_set_reverse(int flag);                             // kept
int ghpgl_set_scale(float f);                                // accepted, no effect
int ghpgl_set_color_rep(int ci, float r, float g, float b);  // nothing: the grey table is the PostScript driver's
int ghpgl_init_file();
int ghpgl_close_file();

int ghpgl_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int ghpgl_move(float x, float y);  // world coordinates
int ghpgl_line(float x, float y);
int ghpgl_move_abs(float x, float y);  // plotter units
int ghpgl_line_abs(float x, float y);

int ghpgl_set_color(int ci);  // screening: black, white or light grey
int ghpgl_set_fill_color(int ci);
int ghpgl_set_width(int ci, float w);
int ghpgl_set_type(int t);
