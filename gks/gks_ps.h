// The PostScript workstation: the plot as a PostScript program for a
// printer, in PostScript units (1/72 inch) from the kernel's xW_ps/yW_ps,
// with grey levels or RGB colours, printed line widths and dash patterns.
//
// gopen_ws(ws, "file,option,...", GKS_PS) opens it (the name, else
// "zybps_print", else "PSPRINT", else "zyb.ps"; options from "zybps_param"
// and then the device pieces). A replay into a file of an open window
// drives the same functions itself: switch the type to GKS_PS, then
// gps_open_file, gps_init, options, gps_set_size, gps_init_file, and
// gps_close_file at the end.
#pragma once

#include <cstdio>

struct ImageRecord;

// The stream ("|command" pipes, "+file" appends); nullptr after a message.
// "PSCOLOR" in the environment switches colour output on.
FILE *gps_open_file(const char *name);
int gps_init();                      // the values in force: black, 1 dot, solid
int gps_set_size(float w, float h);  // the paper in inches, long side first
int gps_set_EPS(int flag);
int gps_set_orient(int portrait);
int gps_set_scale(float f);
int gps_set_colorPS(int flag);  // RGB colours instead of grey levels
int gps_get_colorPS();
int gps_set_reverse(int flag);  // grey levels reversed
int gps_set_base_width(float dots);
int gps_init_file();   // the prolog (or, appending, the state lines); -1 without a file
int gps_close_file();  // the trailer; -1 without a file or when output was lost

int gps_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int gps_move(float x, float y);  // world coordinates
int gps_line(float x, float y);
int gps_move_abs(float x, float y);  // PostScript units
int gps_line_abs(float x, float y);

// Colour index ci now has this colour: its grey level follows.
int gps_set_color_rep(int ci, float r, float g, float b);
// The grey of an index, 0 black .. 1 white (-1 the background; the pens
// 500 .. 508 black, white and light grey).
float gps_get_gray(int ci);
int gps_set_color(int ci);       // lines, markers and text
int gps_set_fill_color(int ci);  // fill areas; -1 the (white) background
int gps_set_width(int ci, float w);
int gps_set_type(int t);

// A picture of the window (a grab of a frame: one pixel per window pixel)
// as a raster, under what is drawn after it: image pixel (c, r) lands where
// window pixel (x + c, y + r) lies on the page. The window is taken to be
// the image's size and to show the workstation window in force, as the
// window's drawing did; so call it after that workstation window is set and
// before the vectors. An indexed image when the picture has at most 256
// colours, else RGB (grey levels without colour output), run-length coded
// in ASCII85. 0, or -1 without a file or with a record without pixels.
int gps_image(ImageRecord *img, int x, int y);
