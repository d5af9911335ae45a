// Window events: the keys and buttons that drive the loop, exposures,
// resizes and the requests other programs send as client messages.
//
// Events are pulled by polling only, so queue messages and frame timing keep
// running while nobody touches the window.
#include "gks/gks_evnt.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <string>

#include "gks/gks.h"
#include "image/gif.h"
#include "image/xdump.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr int INPUT_OFF = 0;
constexpr int INPUT_ON = 1;
constexpr int INPUT_KEY_SEEN = 2;
constexpr int INPUT_QUIT = 3;

constexpr int KEY_BUFFER_SIZE = 80;
constexpr int DUMP_TITLE_CHARS = 5;

struct EventModule {
  int input_mode = INPUT_OFF;
  int user_event = 0;     // the event just served was a key press or button release
  int expose_served = 0;  // a run of exposures has had its one copy
  int mapped = 0;
};

EventModule events;

bool serving_events() { return gtype_is_WIN() && gget_cache() != 0 && gget_display() != nullptr; }

// ---------------------------------------------------------------------------
// Loop control shared by keys and buttons

int show_frame(int step) { return gdisplay_frame(ginc_frame(step)); }

// Delays reached through float steps (0.5 less four tenths, say) land a
// hair off the round value; within this slack they count as that value.
constexpr float DELAY_SLACK = 1e-4f;

// The step shrinks near zero so that a fast loop can still be fine-tuned.
void loop_faster() { ginc_loop_delay(gget_loop_delay() > 0.11f + DELAY_SLACK ? -0.1f : -0.05f); }
void loop_slower() { ginc_loop_delay(gget_loop_delay() >= 0.09f - DELAY_SLACK ? 0.1f : 0.05f); }

void toggle_loop() { gtoggle_loop(-1); }
void show_next_frame() { show_frame(1); }
void show_previous_frame() { show_frame(-1); }

void next_or_faster() {
  if (gget_looping())
    loop_faster();
  else
    show_next_frame();
}

void previous_or_slower() {
  if (gget_looping())
    loop_slower();
  else
    show_previous_frame();
}

// ---------------------------------------------------------------------------
// Image dumps

struct DumpKind {
  const char *extension;
  int (*dump)(const char *path);
  const char *created;
  const char *creating;
  const char *failed;
};

const DumpKind gif_dump{"gif", GIF_dump, "Created GIF file: %s\n", "Creating GIF files:\n",
                        "gprocess_x11_event: Unable to write GIF file: %s\n"};
const DumpKind xwd_dump{"xwd", XWD_dump, "Created XWD file: %s\n", "Creating XWD files:\n",
                        "gprocess_x11_event: Unable to write XWD file: %s\n"};

// The first characters of the title, blanks made safe for a file name.
std::string dump_stem() {
  std::string stem = copy_limited(gget_win_title(), DUMP_TITLE_CHARS);
  for (char &c : stem)
    if (c == ' ') c = '_';
  return stem;
}

// Path of one dump file; frame < 0 names the single-frame file.
std::string dump_path(const DumpKind &kind, int frame) {
  char name[FILE_NAME_SIZE];
  if (frame < 0)
    std::snprintf(name, sizeof name, "%s.%s", dump_stem().c_str(), kind.extension);
  else
    std::snprintf(name, sizeof name, "%s-%2.2d.%s", dump_stem().c_str(), frame, kind.extension);
  char path[FILE_NAME_SIZE];
  FILE_add_path(RES_get("image_path"), name, path);
  return path;
}

// Writes the draw target; success_format is printed with the path.
void dump_one(const DumpKind &kind, const std::string &path, const char *success_format) {
  if (kind.dump(path.c_str()))
    MESS_print(MESS_MESS, success_format, path.c_str());
  else
    MESS_print(MESS_WARN, kind.failed, path.c_str());
}

void dump_frames(const DumpKind &kind) {
  int count = gget_num_images();
  int previous_cursor = gset_cursor(GKS_CURSOR_WAIT);
  if (count <= 1) {
    dump_one(kind, dump_path(kind, -1), kind.created);
  } else if (gget_looping()) {
    MESS_print(MESS_MESS, "%s", kind.creating);
    for (int i = 0; i < count; i++) {
      gselect_frame(i);
      dump_one(kind, dump_path(kind, i), "%s\n");
    }
  } else {
    // Frames made but none shown yet: the loop would start at frame 0.
    int current = gget_cur_frame() < 0 ? 0 : gget_cur_frame();
    gselect_frame(current);
    dump_one(kind, dump_path(kind, current), kind.created);
  }
  gset_cursor(previous_cursor);
}

void print_metafile() {
  int previous_cursor = gset_cursor(GKS_CURSOR_WAIT);
  gobj_print_meta();
  gset_cursor(previous_cursor);
}

// ---------------------------------------------------------------------------
// Keys

enum class Modifier { Any, Alt };

struct KeyRow {
  KeySym key;
  Modifier modifier;
  void (*act)(const XKeyEvent &key);
};

void request_quit(const XKeyEvent &) { events.input_mode = INPUT_QUIT; }
void delete_current_frame(const XKeyEvent &) { gdelete_frame(GKS_FRAME_CURRENT); }
void zoom_at_pointer(const XKeyEvent &key) { gzoom(GKS_FRAME_CURRENT, key.x, key.y, -2, 0); }
void unzoom(const XKeyEvent &) { gunzoom(); }
void metafile_key(const XKeyEvent &) { print_metafile(); }
void gif_key(const XKeyEvent &) { dump_frames(gif_dump); }
void xwd_key(const XKeyEvent &) { dump_frames(xwd_dump); }
void loop_key(const XKeyEvent &) { toggle_loop(); }
void next_key(const XKeyEvent &) { next_or_faster(); }
void previous_key(const XKeyEvent &) { previous_or_slower(); }
void latlon_key(const XKeyEvent &key) { gtoggle_latlon_readout(key.x, key.y); }

// Keysyms are case-sensitive: Alt-Shift-q gives Q and does nothing.
const KeyRow key_table[] = {
    {XK_Return, Modifier::Any, request_quit},
    {XK_q, Modifier::Alt, request_quit},
    {XK_d, Modifier::Alt, delete_current_frame},
    {XK_z, Modifier::Alt, zoom_at_pointer},
    {XK_u, Modifier::Alt, unzoom},
    {XK_m, Modifier::Alt, metafile_key},
    {XK_g, Modifier::Alt, gif_key},
    {XK_x, Modifier::Alt, xwd_key},
    {XK_l, Modifier::Alt, loop_key},
    {XK_bracketright, Modifier::Alt, next_key},
    {XK_bracketleft, Modifier::Alt, previous_key},
    {XK_c, Modifier::Alt, latlon_key},
};

void serve_key(XEvent &event) {
  events.user_event = 1;
  // Keys typed while the window is opening (input not yet enabled) are dropped.
  if (events.input_mode != INPUT_ON && events.input_mode != INPUT_KEY_SEEN) return;
  events.input_mode = INPUT_KEY_SEEN;

  char text[KEY_BUFFER_SIZE];
  KeySym key = NoSymbol;
  XLookupString(&event.xkey, text, sizeof text, &key, nullptr);
  bool alt = (event.xkey.state & Mod1Mask) != 0;
  for (const KeyRow &row : key_table) {
    if (row.key != key) continue;
    if (row.modifier == Modifier::Alt && !alt) return;
    row.act(event.xkey);
    return;
  }
}

// ---------------------------------------------------------------------------
// Buttons

struct ButtonRow {
  unsigned int button;
  void (*stopped)();
  void (*looping)();
};

const ButtonRow button_table[] = {
    {Button1, show_previous_frame, loop_slower},
    {Button2, toggle_loop, toggle_loop},
    {Button3, show_next_frame, loop_faster},
};

void serve_button_press(XEvent &event) {
  // With Alt held the buttons belong to the window manager's moves.
  if (event.xbutton.state & Mod1Mask) return;
  for (const ButtonRow &row : button_table) {
    if (row.button != event.xbutton.button) continue;
    (gget_looping() ? row.looping : row.stopped)();
    return;
  }
}

void serve_button_release(XEvent &) { events.user_event = 1; }

// ---------------------------------------------------------------------------
// Client messages

// Another program has finished drawing into the window's picture: keep it
// as a new frame and give the program a cleared picture for the next one.
void add_drawn_frame() {
  int count = gget_num_images();
  if (count == 0) {
    gcreate_frame(0);
    gset_looping(1);
    gswitch_frame(0, GKS_FRAME_WINDOW);
    return;
  }
  gcreate_frame(-1);
  gcopy_frame(count, count - 1);
  gswitch_frame(count, count - 1);
  gclear_frame(count);
  gsync();
}

void serve_client_message(XEvent &event) {
  const XClientMessageEvent &message = event.xclient;
  bool request = message.message_type == XA_NOTICE && message.format == 8;
  int code = request ? message.data.b[0] : -1;
  if (code == GKS_REQUEST_NEW_FRAME) {
    // The sender waits until the "+" disappears from the window name.
    gset_win_title_extra("+");
    add_drawn_frame();
  } else if (code == GKS_REQUEST_QUIT) {
    events.input_mode = INPUT_QUIT;
  }
  gset_win_title_extra("");
}

// ---------------------------------------------------------------------------
// Window structure

void serve_expose(XEvent &) {
  if (events.expose_served) return;
  events.expose_served = 1;
  gupdate_window();
}

void serve_configure(XEvent &event) {
  if (event.xconfigure.window != gget_root_window()) return;
  if (gresize_window(-1, -1) == 1) ginit_plot(1);
}

void serve_map(XEvent &) { events.mapped = 1; }
void serve_unmap(XEvent &) { events.mapped = 0; }

// Only the latest pointer position could matter; the queued ones are dropped.
void drain_motion(XEvent &event) {
  Display *display = gget_display();
  XEvent latest = event;
  while (XCheckTypedEvent(display, MotionNotify, &latest)) {
  }
  gshow_latlon_readout(latest.xmotion.x, latest.xmotion.y);
}

struct EventRow {
  int type;
  void (*serve)(XEvent &event);
};

const EventRow event_table[] = {
    {Expose, serve_expose},
    {ConfigureNotify, serve_configure},
    {MapNotify, serve_map},
    {UnmapNotify, serve_unmap},
    {ClientMessage, serve_client_message},
    {KeyPress, serve_key},
    {ButtonPress, serve_button_press},
    {ButtonRelease, serve_button_release},
    {MotionNotify, drain_motion},
};

}  // namespace

// This program starts no rubber band and installs no mouse callback, so
// there is no echo to switch off here.
int ginit_event(int mode) {
  if (mode == 0) {
    events.input_mode = INPUT_OFF;
    greset_latlon_readout();
  }
  return 1;
}

int gset_input_mode(int mode) {
  events.input_mode = mode == 1 ? INPUT_ON : INPUT_OFF;
  return 0;
}

int gget_input_mode() { return events.input_mode != INPUT_QUIT ? 1 : 0; }

int gis_mapped() { return events.mapped; }

int gprocess_x11_event(XEvent *event) {
  if (!event || !serving_events()) return 0;
  events.user_event = 0;
  if (event->type != Expose && event->type != ConfigureNotify) events.expose_served = 0;
  for (const EventRow &row : event_table) {
    if (row.type != event->type) continue;
    row.serve(*event);
    break;
  }
  return 0;
}

int gcheck_event() {
  int user_events = 0;
  // A handler may switch the workstation type for a while (the metafile
  // print), so the conditions are checked again before every event.
  while (serving_events() && XPending(gget_display()) > 0) {
    XEvent event;
    XNextEvent(gget_display(), &event);
    gprocess_x11_event(&event);
    user_events += events.user_event;
  }
  return user_events;
}
