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
#include "gks/gks_img.h"
#include "gks/gks_line.h"
#include "gks/gks_mark.h"
#include "gks/gks_meta.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "image/img_tool.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

constexpr int kEventEvery = 500;
constexpr int kRedrawEventEvery = 200;
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
  bool printing = false;  // a replay into a file is running
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

// The kernel's transformations and attributes in force, as the records
// of the calls that set them: recorded first when recording starts,
// written first into a metafile, and replayed to put things back after a
// print.
std::vector<Obj> kernel_state() {
  std::vector<Obj> records;
  auto add = [&records](int type, int value, const void *data, size_t size) {
    Obj obj;
    obj.type = type;
    obj.value = value;
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (data) obj.data.assign(bytes, bytes + size);
    records.push_back(std::move(obj));
  };
  auto add_float = [&add](int type, float v) { add(type, 1, &v, sizeof v); };
  for (int n = 0; n < GKS_NUM_TRAN; ++n) {
    int err = 0;
    float t[8];
    ginq_norm_tran(n, &err, t);
    add(GOBJ_WIN, n, t, 4 * sizeof(float));
    add(GOBJ_VP, n, t + 4, 4 * sizeof(float));
  }
  int err = 0, pair[2] = {0, 0};
  ginq_cur_norm_tran_num(&err, &pair[0]);
  add(GOBJ_SEL_TRAN, pair[0], nullptr, 0);

  add(GOBJ_LINE_COLR, gget_line_colr(), nullptr, 0);
  add_float(GOBJ_LINE_WIDTH, gget_line_width());
  add(GOBJ_LINE_TYPE, gget_line_type(), nullptr, 0);
  add(GOBJ_MARK_COLR, gget_marker_colr(), nullptr, 0);
  add_float(GOBJ_MARK_SIZE, gget_marker_size());
  add_float(GOBJ_MARK_WIDTH, gget_marker_width());
  add(GOBJ_MARK_TYPE, gget_marker_type(), nullptr, 0);
  add(GOBJ_FILL_COLR, gget_fill_colr(), nullptr, 0);
  add(GOBJ_FILL_STYLE, gget_fill_int_style(), nullptr, 0);
  add(GOBJ_FILL_INDEX, gget_fill_style_ind(), nullptr, 0);

  const TextAttributes &a = gget_text_attributes();
  add(GOBJ_TEXT_COLR, gget_text_colr(), nullptr, 0);
  add_float(GOBJ_TEXT_HEIGHT, a.height);
  add_float(GOBJ_TEXT_EXPAN, a.expan);
  add_float(GOBJ_TEXT_WIDTH, gget_text_width());
  add_float(GOBJ_TEXT_SPACE, a.space);
  add_float(GOBJ_TEXT_CHAR_SPACE, a.char_space);
  const float up[2] = {a.upx, a.upy};
  add(GOBJ_TEXT_UP, 1, up, sizeof up);
  ginq_text_align(&err, pair);
  add(GOBJ_TEXT_ALIGN, 1, pair, sizeof pair);
  ginq_text_fontprec(&err, pair);
  add(GOBJ_TEXT_FONT, 1, pair, sizeof pair);
  return records;
}

const void *data_of(const Obj &obj) { return obj.data.empty() ? nullptr : obj.data.data(); }

bool is_transform(int type) { return type >= GOBJ_WS_VP && type <= GOBJ_WIN; }

// The state as records of the open file's kind, whatever is in force: a
// metafile played elsewhere then starts from the same state.
void write_state(const std::vector<Obj> &records) {
  for (const Obj &obj : records) {
    if (is_transform(obj.type))
      gdrv_transform(obj.type, obj.value, floats(data_of(obj)));
    else
      gdrv_attribute(obj.type, obj.value, data_of(obj));
  }
  int err = 0, cur = 0;
  float t[8];
  ginq_cur_norm_tran_num(&err, &cur);
  ginq_norm_tran(cur, &err, t);
  gdrv_clip(t + 4);
}

void put_back(const std::vector<Obj> &records) {
  for (const Obj &obj : records) replay(obj);
}

// How the cache is printed into each file kind.
struct PrintKind {
  int type;
  const char *routine;  // of the messages
  const char *open_failure;
  const char *no_data;
  // The page during the replay (a metafile's as its workstation has it:
  // CGM coordinates depend on it); 0: as the driver's open left it.
  int width, height;
  bool state_first;  // the file starts with the state in force
};

const PrintKind kPrintKinds[] = {
    {GKS_META, "gprint_meta", "unable to open metafile\n", "gobj_print_meta: No redraw data to make metafile from\n",
     1000, 800, true},
    {GKS_PS, "gobj_print_plot", "unable to open postscript file\n",
     "gobj_print_plot: No redraw data to make Postscript file from\n", 757, 577, false},
    {GKS_HPGL, "gobj_print_hpgl", "unable to open hpgl file\n",
     "gobj_print_hpgl: No redraw data to make HPGL file from\n", 0, 0, false},
};

const PrintKind *print_kind(int type) {
  for (const PrintKind &k : kPrintKinds)
    if (k.type == type) return &k;
  return nullptr;
}

bool open_output(const PrintKind &kind, const GksDriver &row, const char *name) {
  if (kind.type == GKS_META) return gmeta_open_file(name ? name : kDefaultMetaName) && gmeta_init_file() == 0;
  return row.open && row.open(name ? name : "") == 0;
}

int close_output(const PrintKind &kind, const GksDriver &row) {
  if (kind.type == GKS_META) return gmeta_close_file();
  return row.close ? row.close() : 0;
}

struct GrabbedImage {
  ImageRecord img;
  bool held = false;
  ~GrabbedImage() {
    if (held) IMG_free(&img);
  }
};

// Everything a print changes, put back when it ends, however it ends.
class PrintSession {
 public:
  PrintSession() {
    gget_win_offset(&x_, &y_);
    ObjState &s = state();
    s.printing = true;
    s.redraw = false;
    gset_cache(0);  // no event may act on the window while the type is a file's
  }
  ~PrintSession() {
    ObjState &s = state();
    gset_win_type(type_);
    gset_win_size(width_, height_);
    gset_win_offset(x_, y_);
    put_back(state_);
    gset_cursor(cursor_);
    gset_cache(action_);
    s.redraw = redraw_;
    s.printing = false;
  }
  PrintSession(const PrintSession &) = delete;
  PrintSession &operator=(const PrintSession &) = delete;

  const std::vector<Obj> &state_in_force() const { return state_; }

 private:
  std::vector<Obj> state_ = kernel_state();
  int type_ = gget_win_type();
  bool redraw_ = state().redraw;
  int action_ = gget_cache();
  int cursor_ = gset_cursor(GKS_CURSOR_WAIT);
  int width_ = gget_window_width();
  int height_ = gget_window_height();
  int x_ = 0, y_ = 0;
};

// The picture under the vectors, filling the viewport of transformation n.
void put_image(ImageRecord *img, int n) {
  int err = 0, cur = 0;
  ginq_cur_norm_tran_num(&err, &cur);
  gsel_norm_tran(n);
  gdrv_image(img, 0, 0);
  gsel_norm_tran(cur);
}

int print_cache(const PrintKind &kind, const char *name, int image_tran) {
  ObjState &s = state();
  if (s.printing) {
    gerr_printf(kind.routine, "a print is already running\n");
    return -1;
  }
  const GksDriver *row = gks_driver_or_report(kind.type, kind.routine);
  if (!row) return -1;
  GrabbedImage grab;
  if (image_tran >= 0 && image_tran < GKS_NUM_TRAN && row->image) grab.held = gget_image(&grab.img) != 0;
  int status = 0;
  {
    PrintSession session;
    gset_win_type(kind.type);
    if (!open_output(kind, *row, name)) {
      gerr_printf(kind.routine, "%s", kind.open_failure);
      return -1;
    }
    if (kind.width > 0) gset_win_size(kind.width, kind.height);
    if (grab.held) put_image(&grab.img, image_tran);
    if (s.list.empty())
      MESS_print(MESS_WARN, "%s", kind.no_data);
    else if (kind.state_first)
      write_state(session.state_in_force());
    for (const Obj &obj : s.list) replay(obj);
    status = close_output(kind, *row) == 0 ? 0 : -1;
  }
  gcheck_event();
  gbell(50);
  s.redrawn = true;
  return status;
}

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
  ObjState &s = state();
  const int previous = gget_redraw();
  if (flag && !previous && !s.lost_tail)
    for (Obj &obj : kernel_state()) s.list.push_back(std::move(obj));
  s.redraw = flag != 0;
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

int gobj_print_file(int type, const char *name, int image_tran) {
  const PrintKind *kind = print_kind(type);
  if (!kind) {
    gerr_printf("gobj_print_file", "workstation type %d has no file\n", type);
    return -1;
  }
  return print_cache(*kind, name, image_tran);
}

int gobj_print_meta() { return gobj_print_file(GKS_META, metafile_name().c_str(), -1); }

int gobj_print_plot() { return gobj_print_file(GKS_PS, nullptr, -1); }

int gobj_redraw() {
  ObjState &s = state();
  if (s.printing) return -1;
  s.redraw = false;
  s.redrawn = false;
  ginit_plot(GKS_PLOT_RESIZE);
  // By index: an event handler may print meanwhile, but never adds records.
  for (size_t i = 0; i < s.list.size() && !s.redrawn; ++i) {
    replay(s.list[i]);
    if ((i + 1) % kRedrawEventEvery == 0) gcheck_event();
  }
  s.redraw = true;
  gset_cache(1);
  return 0;
}
