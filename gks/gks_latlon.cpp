// The plot domain on the window, pixels back to latitude and longitude, and
// the pointer readout in the window title.
#include "gks/gks_latlon.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <string>

#include "domain/cty_read.h"
#include "domain/maptran.h"
#include "gks/gks.h"

namespace {

struct LatLonState {
  int installed_plot_count = -1;  // gget_plot_count() when the domain was last installed
  bool readout = false;
  std::string extra_before;  // the title's extra before the readout took it
  int loop_title_before = 1;
};

LatLonState state;

void ask_for_motion(bool on) {
  Display *display = gget_display();
  const Window window = gget_root_window();
  if (display == nullptr || window == 0) return;
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display, window, &attributes)) return;
  const long mask =
      on ? attributes.your_event_mask | PointerMotionMask : attributes.your_event_mask & ~PointerMotionMask;
  XSelectInput(display, window, mask);
}

// World coordinates of transformation n from those of the transformation
// in force, through their common NDC space: selecting n instead would
// record two selections in the object cache (and any metafile) for every
// pointer motion.
void world_of(int n, float px, float py, double *x, double *y) {
  int err = 0, current = 0;
  ginq_cur_norm_tran_num(&err, &current);
  float cur[8], to[8];
  ginq_norm_tran(current, &err, cur);
  ginq_norm_tran(n, &err, to);
  const double ndc_x = cur[4] + (static_cast<double>(xp_W(px)) - cur[0]) * (cur[5] - cur[4]) / (cur[1] - cur[0]);
  const double ndc_y = cur[6] + (static_cast<double>(yp_W(py)) - cur[2]) * (cur[7] - cur[6]) / (cur[3] - cur[2]);
  *x = to[0] + (ndc_x - to[4]) * (to[1] - to[0]) / (to[5] - to[4]);
  *y = to[2] + (ndc_y - to[6]) * (to[3] - to[2]) / (to[7] - to[6]);
}

// "39.742,-104.992 KDEN 8.2 km Denver_International": the station's name
// last, since a long window title leaves the readout only its first part.
std::string readout_text(int x, int y) {
  double lat = 0, lon = 0;
  const int got = gp_latlon(static_cast<float>(xZ_p(x)), static_cast<float>(yZ_p(y)), &lat, &lon);
  if (got < 0) return "no plot domain";
  if (got == 0) return "off the map";
  char text[GKS_TITLE_EXTRA_MAX + 1];
  std::snprintf(text, sizeof text, "%.3f,%.3f", lat, lon);
  std::string out = text;
  char label[CTY_LABEL_SIZE] = "";
  float km = 0;
  if (CTY_nearest(static_cast<float>(lat), static_cast<float>(lon), label, &km) != 1) return out;
  const std::string station = label;
  const size_t blank = station.find(' ');
  std::snprintf(text, sizeof text, " %s %.1f km", station.substr(0, blank).c_str(), km);
  out += text;
  if (blank != std::string::npos) out += station.substr(blank);
  return out;
}

}  // namespace

int gset_map_domain(const DomainRecord *domain) {
  if (domain == nullptr) {
    MAP_domain(nullptr);
    return 0;
  }
  // MAP_setup first: a domain it refuses leaves everything as it was.
  if (MAP_setup(domain) != 0) return -1;
  float mx = 1.0f, my = 1.0f;
  ginq_maxview(gget_win_type(), &mx, &my);
  const float whole[4] = {0.0f, mx, 0.0f, my};
  gset_vp(MAP_TRAN, whole);
  state.installed_plot_count = gget_plot_count();
  return 0;
}

int gfollow_map_domain() {
  if (MAP_get_proj() == DOM_MISSING || state.installed_plot_count == gget_plot_count()) return 0;
  DomainRecord domain;
  MAP_get_domain(&domain);
  // Even a failure counts as followed: the message is not repeated.
  state.installed_plot_count = gget_plot_count();
  return gset_map_domain(&domain) == 0 ? 1 : 0;
}

int gp_latlon(float px, float py, double *lat, double *lon) {
  if (MAP_get_proj() == DOM_MISSING) return -1;
  int err = 0, current = 0;
  ginq_cur_norm_tran_num(&err, &current);
  if (gfollow_map_domain() == 1) gsel_norm_tran(current);
  double x = 0, y = 0;
  world_of(MAP_TRAN, px, py, &x, &y);
  return MAP_inverse_d(x, y, lat, lon);
}

int gtoggle_latlon_readout(int x, int y) {
  if (state.readout) {
    state.readout = false;
    ask_for_motion(false);
    gset_loop_title(state.loop_title_before);
    gset_win_title_extra(state.extra_before.c_str());
    return 0;
  }
  char extra[GKS_TITLE_EXTRA_MAX + 1] = "";
  gget_win_title_extra(extra);
  state.extra_before = extra;
  // The frame number the loop writes into the title at every step would
  // wipe the readout out: it is held back while the readout is on.
  state.loop_title_before = gget_loop_title();
  gset_loop_title(0);
  ask_for_motion(true);
  state.readout = true;
  gshow_latlon_readout(x, y);
  return 1;
}

int gget_latlon_readout() { return state.readout ? 1 : 0; }

int gshow_latlon_readout(int x, int y) {
  if (!state.readout) return 0;
  return gset_win_title_extra(readout_text(x, y).c_str());
}

int greset_latlon_readout() {
  if (state.readout) gset_loop_title(state.loop_title_before);
  state.readout = false;
  state.extra_before.clear();
  return 0;
}
