// The plot_param keywords: each switches an option of the kernel, the image
// writers or the plot layer.
#pragma once

// Plot-layer options kept here for the plotting modules.
struct PltSettings {
  float view_offset[4] = {0.0f, 0.0f, 0.05f, 0.05f};
  int full_labels = 0;
  int overlay_base = 0;
  int num_overlay = 0;
  int grid_factor = 0;
  int skip_x = 0, skip_y = 0;
  float offset_x = 0.0f, offset_y = 0.0f;
  int plot_limit = 0;
  int color_bar = 0;
  float bar_min = -9999.0f, bar_max = -9999.0f;
  int grid_headers = 1;
  int max_bad = 5;
  char grid_format[80] = "";
  int dump_type = 0;  // 0 none, 1 xwd, 2 gif, 3 img, 4 png
  char dump_name[161] = "";
};

int PLT_param_decode();  // 0
int PLT_set_view_offset(float offset);
int PLT_panel_decode(const char *text);
int PLT_set_dump(int type, const char *name);
int PLT_set_num_overlay(int n);
int PLT_set_overlay_base(int n);
// After a drawing command: the dump keywords' file ("gif", "png", "xwd",
// "img" with a name) receives the picture just drawn into (the draw target).
// 1 written, 0 no dump asked for, -1 after a message.
int PLT_dump_drawing();
const PltSettings *PLT_get_settings();
void PLT_reset();  // back to the start-up settings
