// The GPH calls: small conveniences the looper uses around the kernel.
#include "gks/gks_tool.h"

#include <cstring>
#include <string>

#include "gks/gks_colr.h"
#include "gks/gks_state.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

struct ToolState {
  std::string font_name;
  float sizex = 0, sizey = 0, offx = 0, offy = 0;
};

ToolState &tool() {
  static ToolState t;
  return t;
}

// The program name from the command line: the path's last component.
std::string program_name() {
  const char *path = RES_get_prog();
  if (!path || !*path) return "";
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

int ginq_maxview(int type, float *xmax, float *ymax) {
  int err = 0;
  GksDispSpace space{};
  int status = ginq_disp_space_size(1, &err, &space);
  float x = 1.0f, y = 1.0f;
  if (status >= 0 && err >= 0 && space.xmax > 0 && space.ymax > 0) {
    if (space.xmax > space.ymax)
      y = space.ymax / space.xmax;
    else
      x = space.xmax / space.ymax;
  }
  if (xmax) *xmax = x;
  if (ymax) *ymax = y;
  return status < 0 ? status : 0;
}

int GPH_set_win_title() {
  const char *name = RES_get("name");
  std::string program = program_name();
  gset_prog_name(name && *name ? name : program.c_str());

  const char *title = RES_get("title");
  std::string chosen;
  if (title && *title)
    chosen = title;
  else if (name && *name)
    chosen = (name[0] == '+') ? name + 1 : name;
  else
    chosen = program;
  return gset_win_title(chosen.c_str());
}

int GPH_set_color(int i, float r, float g, float b) {
  const float rgb[3] = {r, g, b};
  return gset_colr_rep(1, i, rgb);
}

int GPH_set_def_font(const char *name) {
  tool().font_name = copy_limited(name, GPH_FONT_NAME_MAX);
  return 0;
}

const char *GPH_get_def_font() { return tool().font_name.c_str(); }

int GPH_text_align(int h, int v) {
  const int align[2] = {h, v};
  return gset_text_align(align);
}

int GPH_set_view_size(float sx, float sy, float ox, float oy) {
  ToolState &t = tool();
  t.sizex = sx;
  t.sizey = sy;
  t.offx = ox;
  t.offy = oy;
  return 0;
}

int GPH_get_view_size(float *sx, float *sy, float *ox, float *oy) {
  const ToolState &t = tool();
  if (sx) *sx = t.sizex;
  if (sy) *sy = t.sizey;
  if (ox) *ox = t.offx;
  if (oy) *oy = t.offy;
  return 0;
}
