// The kernel's shared state, for the kernel's own sources only.
//
// One record holds what the kernel areas share: the display connection,
// the window and its backing pixmap, the graphics contexts, the colour
// tables and the frame table. Each area keeps its private settings in its
// own source; what two or more areas touch lives here.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <cstdio>
#include <string>

#include "gks/gks_colr.h"
#include "gks/gks_loop.h"
#include "gks/gks_x11.h"

constexpr int GKS_NUM_CURSORS = 9;

struct GksFrame {
  unsigned char data[GKS_FRAME_DATA_MAX] = {};  // opaque block a caller may attach
  int data_len = 0;
  Pixmap pixmap = 0;  // 0: the slot holds no pixmap
  float delay = GKS_DEFAULT_DELAY;
};

// Every colour index starts without an X pixel.
inline std::array<int, GKS_NUM_COLR> unallocated_pixels() {
  std::array<int, GKS_NUM_COLR> pixels;
  pixels.fill(-1);
  return pixels;
}

struct GksState {
  // Connection and screen.
  Display *display = nullptr;
  int screen = 0;
  Visual *visual = nullptr;
  int depth = 0;
  int bits_per_pixel = 0;  // of images at the window's depth
  Window screen_root = 0;  // the screen's root window
  std::string display_name;  // as asked for; "" for Xlib's default

  // The workstation. root_window is our own top-level window (the kernel's
  // "root"); base_window the window-sized pixmap behind it; draw_window the
  // base window or a frame pixmap.
  Window root_window = 0;
  Pixmap base_window = 0;
  Drawable draw_window = 0;
  GC root_gc = nullptr;  // copying and clearing
  int win_width = 0, win_height = 0;
  int root_width = 0, root_height = 0;
  int win_x = 0, win_y = 0;
  int win_type = 0;
  int open_graphics = 0;
  int pix_mode = 0;
  std::string prog_name = "D11_Ozava";
  std::string win_title = "D11_Ozava";
  std::string geometry;
  int fixed_size = 0;
  int icon = 0;
  int cursor = 0;
  std::array<Cursor, GKS_NUM_CURSORS> cursors{};
  unsigned long back_colr = 0, fore_colr = 0;
  unsigned long red_mask = 0, grn_mask = 0, blu_mask = 0;
  std::array<unsigned char, GKS_ICON_BYTES> icon_bits{};
  bool icon_bits_set = false;  // false: the kernel's own icon

  // Error reporting.
  FILE *err_file = nullptr;
  int Xerror = 0;
  int Xerror_print = 1;
  int num_error = 0;

  // Attribute contexts. The line, marker, fill and text areas create them
  // and keep them (and their current colour index) here, so that colour
  // changes and the clip rectangle reach them.
  GC line_gc = nullptr, mark_gc = nullptr, fill_gc = nullptr, text_gc = nullptr;
  int line_colr = 1, mark_colr = 1, fill_colr = 1, text_colr = 1;

  // Colours: X pixel (-1 not allocated, -2 PostScript) and RGB per index.
  std::array<int, GKS_NUM_COLR> color_ind = unallocated_pixels();
  std::array<float, GKS_NUM_COLR> red{}, grn{}, blu{};
  int max_color_ind = 0;
  int inverse = 0;
  int local_cmap = 0;
  int rw_colors = 1;
  Colormap user_colormap = 0;
  Colormap def_colormap = 0;
  std::string background;

  // Frames and the loop.
  std::array<GksFrame, GKS_MAX_FRAMES> images{};
  int num_images = 0;
  int cur_image = -1;
  int looping = 0;
  int loop_direct = GKS_LOOP_FORWARD;
  float loop_delay = GKS_DEFAULT_DELAY;
  int loop_title = 1;
};

GksState &gks_state();
Visual *gget_visual();

// Entry points of kernel areas that are built separately: the object cache,
// zoom, attribute contexts, fonts and the output drivers. The core sources
// define GKS_CORE_SOURCE before this header and reach them through weak
// references, so the core links and runs without them and calls them only
// when they are part of the program. The areas define them with exactly
// these signatures.
#ifdef GKS_CORE_SOURCE
#define GKS_OPTIONAL [[gnu::weak]]
#else
#define GKS_OPTIONAL
#endif

// Object cache.
GKS_OPTIONAL int gset_cache(int flag);
GKS_OPTIONAL int gget_cache();
GKS_OPTIONAL int gset_redraw(int flag);
GKS_OPTIONAL int gget_redraw();
GKS_OPTIONAL void *gnew_obj(int type, int value, int size, const void *data);
GKS_OPTIONAL int ginit_objs();
GKS_OPTIONAL int gclear_objs();
// Zoom.
GKS_OPTIONAL int gget_zoom();
GKS_OPTIONAL int gzoom(int frame, int x, int y, int factor, int again);
GKS_OPTIONAL int greset_zoom();
// Attributes, contexts and fonts.
GKS_OPTIONAL int greset_line();
GKS_OPTIONAL int greset_marker();
GKS_OPTIONAL int greset_fill();
GKS_OPTIONAL int greset_text();
GKS_OPTIONAL int ginit_line(int mode);
GKS_OPTIONAL int ginit_marker(int mode);
GKS_OPTIONAL int ginit_fill(int mode);
GKS_OPTIONAL int ginit_text(int mode);
GKS_OPTIONAL int gdel_fill_pat();
GKS_OPTIONAL int gsetup_fonts();
GKS_OPTIONAL int gset_text_align(const int align[2]);
// Output drivers.
GKS_OPTIONAL int gmeta_printf(const char *format, ...);
GKS_OPTIONAL int gmeta_get_type();
GKS_OPTIONAL int gmeta_close_file();
GKS_OPTIONAL int gcgm_control(int cls, int id, int length, int word);
GKS_OPTIONAL int gcgm_ps_point(float x, float y);
GKS_OPTIONAL int gps_printf(const char *format, ...);
GKS_OPTIONAL int gps_set_color_rep(int ci, float r, float g, float b);
GKS_OPTIONAL int gps_set_fill_color(int ci);
GKS_OPTIONAL int gps_close_file();
GKS_OPTIONAL int ghpgl_printf(const char *format, ...);
GKS_OPTIONAL int ghpgl_close_file();
GKS_OPTIONAL int gopen_ps_ws(const char *device);
GKS_OPTIONAL int gopen_hpgl_ws(const char *device);
GKS_OPTIONAL int gopen_meta_ws(const char *device);
GKS_OPTIONAL int gopen_pix_ws(const char *device);
GKS_OPTIONAL int gsend_pix_quit();
