#include "gks/gks_obj.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "gks/gks_colr.h"
#include "gks/gks_driver.h"
#include "gks/gks_evnt.h"
#include "gks/gks_fill.h"
#include "gks/gks_line.h"
#include "gks/gks_mark.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

constexpr int kEventEvery = 500;
constexpr int kMetaNameMax = 159;
constexpr const char *kDefaultMetaName = "zyb.meta";

struct Obj {
  int type = 0;
  int value = 0;
  std::vector<unsigned char> data;
  int (*function)(void *) = nullptr;  // code 999
  void *argument = nullptr;           // code 999, from malloc
};

struct ObjState {
  std::deque<Obj> list;  // a deque keeps each record's buffer in place as the list grows
  bool redraw = false;
  bool action = true;
  bool lost_tail = false;  // an allocation failed: nothing is recorded until the cache is cleared
  int num_objects = 0;
  bool redrawn = false;
};

ObjState &state() {
  static ObjState s;
  return s;
}

bool recording_refused_by_user() {
  if (const char *env = std::getenv("zybredraw")) return stricmp(env, "no") == 0;
  Display *display = gget_display();
  if (!display) return false;
  const char *xdefault = XGetDefault(display, gget_prog_name(), "redraw");
  return xdefault && stricmp(xdefault, "no") == 0;
}

void free_record(Obj &obj) {
  std::free(obj.argument);
  obj.argument = nullptr;
}

Obj *append(int type, int value) {
  ObjState &s = state();
  try {
    s.list.emplace_back();
  } catch (const std::bad_alloc &) {
    s.lost_tail = true;
    gerr_printf("newobj", "malloc error\n");
    return nullptr;
  }
  Obj &obj = s.list.back();
  obj.type = type;
  obj.value = value;
  return &obj;
}

const float *floats(const void *data) { return static_cast<const float *>(data); }

// Replays a record as the kernel call that made it. Codes whose call takes
// only the value have no data.
struct Replay {
  int type;
  bool needs_data;
  int (*run)(int value, const void *data);
};

const int *ints(const void *data) { return static_cast<const int *>(data); }
float first_float(const void *data) { return *floats(data); }
// A text record holds the position, then the string.
const char *text_of(const void *data) { return static_cast<const char *>(data) + 2 * sizeof(float); }

const Replay kReplays[] = {
    {GOBJ_MESSAGE, true, [](int, const void *d) { return gmessage(1, static_cast<const char *>(d)); }},
    {GOBJ_WS_VP, true, [](int, const void *d) { return gset_ws_vp(1, floats(d)); }},
    {GOBJ_WS_WIN, true, [](int, const void *d) { return gset_ws_win(1, floats(d)); }},
    {GOBJ_SEL_TRAN, false, [](int v, const void *) { return gsel_norm_tran(v); }},
    {GOBJ_VP, true, [](int v, const void *d) { return gset_vp(v, floats(d)); }},
    {GOBJ_WIN, true, [](int v, const void *d) { return gset_win(v, floats(d)); }},
    {GOBJ_COLR_REP, true, [](int v, const void *d) { return gset_colr_rep(1, v, floats(d)); }},
    {GOBJ_CLEAR_REGION, true, [](int, const void *d) { return gclear_region(floats(d)); }},

    {GOBJ_POLYLINE, true, [](int v, const void *d) { return gpolyline(v, floats(d)); }},
    {GOBJ_LINE_TYPE, false, [](int v, const void *) { return gset_linetype(v); }},
    {GOBJ_LINE_WIDTH, true, [](int, const void *d) { return gset_linewidth(first_float(d)); }},
    {GOBJ_LINE_COLR, false, [](int v, const void *) { return gset_line_colr_ind(v); }},
    {GOBJ_LINE_BOLD, false, [](int v, const void *) { return gset_line_print_bold(v); }},

    {GOBJ_POLYMARKER, true, [](int v, const void *d) { return gpolymarker(v, floats(d)); }},
    {GOBJ_MARK_TYPE, false, [](int v, const void *) { return gset_marker_type(v); }},
    {GOBJ_MARK_SIZE, true, [](int, const void *d) { return gset_marker_size(first_float(d)); }},
    {GOBJ_MARK_COLR, false, [](int v, const void *) { return gset_marker_colr_ind(v); }},
    {GOBJ_MARK_WIDTH, true, [](int, const void *d) { return gset_marker_width(first_float(d)); }},

    {GOBJ_TEXT, true, [](int, const void *d) { return gtext(floats(d), text_of(d)); }},
    {GOBJ_TEXT_SPACE, true, [](int, const void *d) { return gset_space(first_float(d)); }},
    {GOBJ_TEXT_CHAR_SPACE, true, [](int, const void *d) { return gset_char_space(first_float(d)); }},
    {GOBJ_TEXT_EXPAN, true, [](int, const void *d) { return gset_expan(first_float(d)); }},
    {GOBJ_TEXT_COLR, false, [](int v, const void *) { return gset_text_colr_ind(v); }},
    {GOBJ_TEXT_HEIGHT, true, [](int, const void *d) { return gset_char_ht(first_float(d)); }},
    {GOBJ_TEXT_UP, true, [](int, const void *d) { return gset_char_up_vec(floats(d)); }},
    {GOBJ_TEXT_FONT, true, [](int, const void *d) { return gset_fontprec(ints(d)); }},
    {GOBJ_TEXT_ALIGN, true, [](int, const void *d) { return gset_text_align(ints(d)); }},
    {GOBJ_TEXT_WIDTH, true, [](int, const void *d) { return gset_text_width(first_float(d)); }},

    {GOBJ_FILL_AREA, true, [](int v, const void *d) { return gfill_area(v, floats(d)); }},
    {GOBJ_FILL_STYLE, false, [](int v, const void *) { return gset_fill_int_style(v); }},
    {GOBJ_FILL_INDEX, false, [](int v, const void *) { return gset_fill_style_ind(v); }},
    {GOBJ_FILL_COLR, false, [](int v, const void *) { return gset_fill_colr_ind(v); }},
    {GOBJ_FILL_SOLID, false, [](int v, const void *) { return gset_fill_print_solid(v); }},
};

int replay_call(int type, int value, const void *data) {
  for (const Replay &r : kReplays) {
    if (r.type != type) continue;
    return data || !r.needs_data ? r.run(value, data) : -1;
  }
  return -1;
}

int replay(const Obj &obj) {
  if (obj.type == GOBJ_FUNC) return obj.function ? obj.function(obj.argument) : 0;
  return replay_call(obj.type, obj.value, obj.data.empty() ? nullptr : obj.data.data());
}

// What a metafile print changes for its duration, put back afterwards.
struct SavedWorkstation {
  int type = gget_win_type();
  int redraw = gget_redraw();
  int cursor = gget_cursor_type();
  int width = gget_window_width();
  int height = gget_window_height();

  void restore() const {
    gset_win_type(type);
    gset_cursor(cursor);
    gset_redraw(redraw);
  }
};

std::string metafile_name() {
  const char *env = std::getenv("METAOUT");
  return env && *env ? copy_limited(env, kMetaNameMax) : kDefaultMetaName;
}

}  // namespace

int ginit_objs() {
  ObjState &s = state();
  s.num_objects = 0;
  if (recording_refused_by_user()) s.redraw = false;
  return 0;
}

int gset_cache(int flag) {
  state().action = flag != 0;
  return 0;
}

int gget_cache() { return state().action ? 1 : 0; }

int gset_redraw(int flag) {
  int previous = gget_redraw();
  state().redraw = flag != 0;
  return previous;
}

int gget_redraw() { return state().redraw ? 1 : 0; }
int gget_num_objects() { return state().num_objects; }
int gget_obj_count() { return static_cast<int>(state().list.size()); }

void *gnew_obj(int type, int value, int size, const void *data) {
  ObjState &s = state();
  if (++s.num_objects % kEventEvery == 0) gcheck_event();
  if (!s.redraw || s.lost_tail) return nullptr;
  Obj *obj = append(type, value);
  if (!obj || size <= 0) return nullptr;
  try {
    obj->data.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc &) {
    s.lost_tail = true;
    gerr_printf("newobj", "malloc error\n");
    return nullptr;
  }
  if (data) std::memcpy(obj->data.data(), data, static_cast<size_t>(size));
  return obj->data.data();
}

int gset_redraw_func(int (*function)(void *), void *argument) {
  if (!gget_redraw()) return 0;
  Obj *obj = append(GOBJ_FUNC, 1);
  if (!obj) return -1;
  obj->function = function;
  obj->argument = argument;
  return 0;
}

int gclear_objs() {
  ObjState &s = state();
  for (Obj &obj : s.list) free_record(obj);
  s.list.clear();
  s.lost_tail = false;
  return 0;
}

int gobj_redraw_funcs(int type, int value, const void *data) { return replay_call(type, value, data); }

int gobj_print_meta() {
  SavedWorkstation saved;
  gset_cursor(GKS_CURSOR_WAIT);
  const GksDriver *meta = gks_driver_or_report(GKS_META, "gprint_meta");
  std::string name = metafile_name();
  gset_win_type(GKS_META);
  if (!meta || !meta->open || meta->open(name.c_str()) != 0) {
    gerr_printf("gprint_meta", "unable to open metafile\n");
    saved.restore();
    return -1;
  }
  gset_redraw(0);
  ObjState &s = state();
  if (s.list.empty()) MESS_print(MESS_WARN, "gobj_print_meta: No redraw data to make metafile from\n");
  for (const Obj &obj : s.list) replay(obj);
  if (meta->close) meta->close();
  saved.restore();
  gset_win_size(saved.width, saved.height);
  gcheck_event();
  gbell(50);
  s.redrawn = true;
  return 0;
}
