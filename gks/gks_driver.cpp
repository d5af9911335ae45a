#include "gks/gks_driver.h"

#include <iterator>

#include "gks/gks_x11.h"
#include "util/mess.h"

namespace {

// Adding a driver means adding its row here: a strong reference, so a
// driver that is not linked fails the build instead of vanishing.
const GksDriver *const kRows[] = {&gks_window_driver, &gks_pixmap_driver, &gks_meta_driver, &gks_ps_driver,
                                  &gks_hpgl_driver};

const GksDriver *open_row() { return gchk_graphics() ? gks_driver(gget_win_type()) : nullptr; }

}  // namespace

const GksDriver *gks_driver(int type) {
  for (const GksDriver *row : kRows)
    if (row->type == type) return row;
  return nullptr;
}

const GksDriver *gks_driver_or_report(int type, const char *routine) {
  const GksDriver *row = gks_driver(type);
  if (!row) MESS_print(MESS_WARN, "%s: workstation type %d is not available\n", routine, type);
  return row;
}

int gks_driver_types(int *types, int max) {
  int n = 0;
  for (const GksDriver *row : kRows) {
    if (n >= max) break;
    types[n++] = row->type;
  }
  return n;
}

namespace {

// One dispatch point per entry: the open row's function, when it has one.
template <typename Entry, typename... Args>
int dispatch(Entry GksDriver::*entry, Args... args) {
  const GksDriver *row = open_row();
  if (!row || !(row->*entry)) return 0;
  return (row->*entry)(args...);
}

}  // namespace

int gdrv_color_rep(int ws, int ci, const float rgb[3]) { return dispatch(&GksDriver::color_rep, ws, ci, rgb); }
int gdrv_clear_region(const float rect[4]) { return dispatch(&GksDriver::clear_region, rect); }
int gdrv_clip(const float ndc[4]) { return dispatch(&GksDriver::clip, ndc); }
int gdrv_message(int ws, const char *text) { return dispatch(&GksDriver::message, ws, text); }
int gdrv_image(ImageRecord *img, int x, int y) { return dispatch(&GksDriver::image, img, x, y); }
int gdrv_transform(int code, int n, const float rect[4]) { return dispatch(&GksDriver::transform, code, n, rect); }
int gdrv_attribute(int code, int value, const void *data) { return dispatch(&GksDriver::attribute, code, value, data); }
int gdrv_polyline(int count, const float *pts) { return dispatch(&GksDriver::polyline, count, pts); }
int gdrv_fill_area(int count, const float *pts) { return dispatch(&GksDriver::fill_area, count, pts); }
int gdrv_polymarker(int count, const float *pts) { return dispatch(&GksDriver::polymarker, count, pts); }
int gdrv_text(const float pos[2], const char *string) { return dispatch(&GksDriver::text, pos, string); }
