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
  int bits_per_pixel = 0;    // of images at the window's depth
  Window screen_root = 0;    // the screen's root window
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
