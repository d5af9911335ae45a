// The workstation: opening the X11 window with its backing pixmap ("base
// window"), titles, cursors, resizing, clearing, and the X error handlers.
#include "gks/gks_x11.h"

#include <X11/cursorfont.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include <X11/Xatom.h>

#include "gks/gks_colr.h"
#include "gks/gks_draw.h"
#include "gks/gks_driver.h"
#include "gks/gks_evnt.h"
#include "gks/gks_fill.h"
#include "gks/gks_img.h"
#include "gks/gks_line.h"
#include "gks/gks_loop.h"
#include "gks/gks_mark.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_zoom.h"
#include "image/img_tool.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace {

constexpr int kWindowBorder = 5;
constexpr int kFileDepth = 10;  // what file kinds report as their depth
constexpr int kDefaultX = 100;
constexpr int kDefaultY = 100;
constexpr int kMaxXErrors = 25;
constexpr int kErrorTextMax = 80;
constexpr int kRequestNameMax = 60;
constexpr int kIconSide = 48;

// Cursor-font glyphs, in the order of the cursor types.
constexpr unsigned int kCursorGlyphs[GKS_NUM_CURSORS] = {XC_X_cursor, XC_left_ptr, XC_fleur, XC_exchange, XC_dot,
                                                         XC_pencil,   XC_tcross,   XC_xterm, XC_watch};

constexpr long kWindowEvents = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | EnterWindowMask |
                               LeaveWindowMask | ButtonMotionMask | ExposureMask | StructureNotifyMask |
                               FocusChangeMask;

// What the window layer keeps for itself.
struct WindowExtras {
  Pixmap icon_pixmap = 0;
  int plot_count = 0;  // ginit_plot calls
};

WindowExtras &extras() {
  static WindowExtras x;
  return x;
}

bool is_x_kind(int type) { return type == GKS_WIN || type == GKS_PIX; }
bool is_window_type() { return gks_state().win_type == GKS_WIN; }
bool is_x_type() {
  int t = gks_state().win_type;
  return t == GKS_WIN || t == GKS_PIX;
}

// The kernel's own icon: a strip of film, in case the program sets none.
std::array<unsigned char, GKS_ICON_BYTES> default_icon() {
  std::array<unsigned char, GKS_ICON_BYTES> bits{};
  auto set = [&bits](int x, int y) { bits[y * 6 + x / 8] |= static_cast<unsigned char>(1u << (x % 8)); };
  for (int y = 0; y < kIconSide; ++y)
    for (int x = 0; x < kIconSide; ++x) {
      bool border = x < 2 || x > 45 || y < 2 || y > 45;
      bool rails = x == 9 || x == 38;
      bool holes = (x >= 3 && x <= 6) || (x >= 41 && x <= 44);
      bool hole_row = (y % 8) >= 3 && (y % 8) <= 5;
      bool picture_edge = (y % 16) == 0 && x > 9 && x < 38;
      if (border || rails || (holes && hole_row) || picture_edge) set(x, y);
    }
  return bits;
}

unsigned long background_pixel() {
  const GksState &st = gks_state();
  int pixel = st.color_ind[GKS_BACK_COLR];
  return pixel >= 0 ? static_cast<unsigned long>(pixel) : st.back_colr;
}

void fill_drawable(Drawable d, int w, int h) {
  GksState &st = gks_state();
  if (!st.display || !d || !st.root_gc || w <= 0 || h <= 0) return;
  XSetForeground(st.display, st.root_gc, background_pixel());
  XFillRectangle(st.display, d, st.root_gc, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XSetForeground(st.display, st.root_gc, st.fore_colr);
}

// Frame pixmaps are released without talking to the server: used when the
// connection is gone.
void forget_frame_pixmaps() {
  for (GksFrame &frame : gks_state().images) frame.pixmap = 0;
}

// Xlib calls this in the middle of its own work: it may look up texts and
// record, but never send a request.
int Xerror_handler(Display *display, XErrorEvent *event) {
  GksState &st = gks_state();
  st.Xerror = 1;
  if (!st.Xerror_print) return 0;
  char text[kErrorTextMax + 1] = "";
  XGetErrorText(display, event->error_code, text, sizeof text);
  char code[16];
  std::snprintf(code, sizeof code, "%d", event->request_code);
  char request[kRequestNameMax + 1] = "";
  XGetErrorDatabaseText(display, "XRequest", code, "", request, sizeof request);
  MESS_print(MESS_WARN, "X11 error: %s in %s\n", text, request);
  if (++st.num_error >= kMaxXErrors) {
    MESS_print(MESS_ERROR, "X11 error: too many errors\n");
    // The server frees the frames when the connection closes.
    if (st.win_type == GKS_WIN) forget_frame_pixmaps();
    ZYB_exit(4);
  }
  return 0;
}

int XerrorIO_handler(Display *) {
  // The connection is gone, and the server has dropped our pixmaps with it.
  if (gks_state().win_type == GKS_WIN) forget_frame_pixmaps();
  MESS_print(MESS_ERROR, "Fatal X11 Error\n");
  ZYB_exit(4);
}

bool valid_side(int side) { return side >= 1 && side <= GKS_MAX_WINDOW_SIDE; }

// Position and size of the new window: the defaults, then a geometry text
// from the program, the resource or the X defaults.
void apply_geometry(XSizeHints &hints) {
  GksState &st = gks_state();
  std::string text = st.geometry;
  if (text.empty()) {
    const char *resource = RES_get("geometry");
    if (resource && *resource) text = resource;
  }
  if (text.empty()) {
    const char *xdefault = XGetDefault(st.display, st.prog_name.c_str(), "geometry");
    if (xdefault && *xdefault) text = xdefault;
  }
  if (text.empty()) return;

  int x = 0, y = 0;
  unsigned int w = 0, h = 0;
  int mask = XParseGeometry(text.c_str(), &x, &y, &w, &h);
  // A zero or absurd size in the text is dropped rather than sent to X.
  if ((mask & WidthValue) && valid_side(static_cast<int>(w))) hints.width = static_cast<int>(w);
  if ((mask & HeightValue) && valid_side(static_cast<int>(h))) hints.height = static_cast<int>(h);
  if ((mask & WidthValue) && (mask & HeightValue) && valid_side(static_cast<int>(w)) && valid_side(static_cast<int>(h)))
    hints.flags |= USSize;
  if ((mask & XValue) && (mask & YValue)) {
    hints.flags |= USPosition;
    if (mask & XNegative) x = x - hints.width + DisplayWidth(st.display, st.screen);
    if (mask & YNegative) y = y - hints.height + DisplayHeight(st.display, st.screen);
    hints.x = x;
    hints.y = y;
  }
}

int bits_per_pixel_of(Display *display, int depth) {
  int count = 0;
  XPixmapFormatValues *formats = XListPixmapFormats(display, &count);
  int bpp = depth;
  for (int i = 0; formats && i < count; ++i)
    if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
  if (formats) XFree(formats);
  return bpp;
}

void set_window_manager_hints(Window win) {
  GksState &st = gks_state();
  const char *iconic = XGetDefault(st.display, st.prog_name.c_str(), "iconic");
  if (iconic && stricmp(iconic, "on") == 0) st.icon = 1;
  RES_getval("icon", &st.icon, RES_BOOLEAN);

  if (!st.icon_bits_set) st.icon_bits = default_icon();
  extras().icon_pixmap =
      XCreatePixmapFromBitmapData(st.display, win, reinterpret_cast<char *>(st.icon_bits.data()), kIconSide, kIconSide,
                                  BlackPixel(st.display, st.screen), WhitePixel(st.display, st.screen), 1);

  XWMHints wm{};
  wm.flags = InputHint | StateHint | IconPixmapHint;
  wm.input = True;
  wm.initial_state = st.icon ? IconicState : NormalState;
  wm.icon_pixmap = extras().icon_pixmap;
  XSetWMHints(st.display, win, &wm);
}

void set_class_hint(Window win) {
  GksState &st = gks_state();
  std::string name = st.prog_name;
  std::string cls = "Zyb";
  XClassHint hint;
  hint.res_name = name.data();
  hint.res_class = cls.data();
  XSetClassHint(st.display, win, &hint);
}

void close_display() {
  GksState &st = gks_state();
  if (st.display) XCloseDisplay(st.display);
  st.display = nullptr;
  st.visual = nullptr;
  st.display_name.clear();
}

// The connection outlives a closed workstation: other kernel areas may
// still hold fonts or contexts made on it, and a server whose last client
// leaves resets itself. Reopening the same display reuses it.
bool connect_display(const char *name) {
  GksState &st = gks_state();
  std::string wanted = name ? name : "";
  if (st.display && st.display_name == wanted) return true;
  close_display();
  st.display = XOpenDisplay(name);
  if (!st.display) return false;
  st.display_name = wanted;
  return true;
}

// ---- Opening the window ------------------------------------------------------

bool connect_screen(const char *display_name) {
  GksState &st = gks_state();
  XSetErrorHandler(Xerror_handler);
  XSetIOErrorHandler(XerrorIO_handler);
  if (!connect_display(display_name)) {
    MESS_print(MESS_WARN, "gopen_ws: unable to connect to display\n");
    return false;
  }
  Display *dpy = st.display;
  st.screen = DefaultScreen(dpy);
  st.depth = DefaultDepth(dpy, st.screen);
  st.visual = DefaultVisual(dpy, st.screen);
  st.screen_root = RootWindow(dpy, st.screen);
  st.bits_per_pixel = bits_per_pixel_of(dpy, st.depth);
  gset_def_cmap(DefaultColormap(dpy, st.screen));
  IMG_set_read_depth(st.depth);
  return true;
}

XSizeHints window_hints() {
  GksState &st = gks_state();
  XSizeHints hints{};
  hints.flags = PPosition | PSize;
  hints.x = kDefaultX;
  hints.y = kDefaultY;
  hints.width = st.win_width > 0 ? st.win_width : GKS_DEFAULT_WIDTH;
  hints.height = st.win_height > 0 ? st.win_height : GKS_DEFAULT_HEIGHT;
  apply_geometry(hints);
  if (st.fixed_size) {
    hints.min_width = hints.max_width = hints.width;
    hints.min_height = hints.max_height = hints.height;
    hints.flags |= PMinSize | PMaxSize;
  }
  return hints;
}

void choose_window_colours() {
  GksState &st = gks_state();
  if (std::getenv("zybinverse")) gset_inverse(1);
  bool inverse = gget_inverse() != 0;
  Display *dpy = st.display;
  st.back_colr = inverse ? WhitePixel(dpy, st.screen) : BlackPixel(dpy, st.screen);
  st.fore_colr = inverse ? BlackPixel(dpy, st.screen) : WhitePixel(dpy, st.screen);
}

// The top-level window; 0 when the server refused it.
Window create_top_window(const XSizeHints &hints) {
  GksState &st = gks_state();
  Display *dpy = st.display;
  XSetWindowAttributes attr{};
  attr.background_pixel = st.back_colr;
  attr.border_pixel = st.fore_colr;
  attr.backing_store = Always;
  attr.colormap = DefaultColormap(dpy, st.screen);
  attr.event_mask = kWindowEvents;
  unsigned long attr_mask = CWBackPixel | CWBorderPixel | CWBackingStore | CWColormap | CWEventMask;

  // A failure here must be seen, not printed: errors are only recorded.
  st.Xerror_print = 0;
  st.Xerror = 0;
  Window win = XCreateWindow(dpy, st.screen_root, hints.x, hints.y, static_cast<unsigned>(hints.width),
                             static_cast<unsigned>(hints.height), kWindowBorder, st.depth, InputOutput, st.visual,
                             attr_mask, &attr);
  XSync(dpy, False);
  bool failed = st.Xerror || !win;
  st.Xerror_print = 1;
  return failed ? 0 : win;
}

void describe_window(Window win, XSizeHints &hints) {
  GksState &st = gks_state();
  std::replace(st.win_title.begin(), st.win_title.end(), '_', ' ');
  XSetStandardProperties(st.display, win, st.win_title.c_str(), st.win_title.c_str(), None, nullptr, 0, &hints);
  set_window_manager_hints(win);
  st.root_gc = XCreateGC(st.display, win, 0, nullptr);
  // Copies between pixmaps must not queue a NoExpose event each.
  XSetGraphicsExposures(st.display, st.root_gc, False);
  set_class_hint(win);
}

void make_base_window(int w, int h) {
  GksState &st = gks_state();
  if (st.base_window) XFreePixmap(st.display, st.base_window);
  st.base_window = XCreatePixmap(st.display, st.root_window, static_cast<unsigned>(w), static_cast<unsigned>(h),
                                 static_cast<unsigned>(st.depth));
  st.draw_window = st.base_window;
}

void map_and_wait(Window win) {
  Display *dpy = gks_state().display;
  XMapWindow(dpy, win);
  XSync(dpy, False);
  XEvent first;
  XWindowEvent(dpy, win, ExposureMask | StructureNotifyMask, &first);
}

// The window manager may have chosen another size: the base window follows.
void adopt_real_size(const XSizeHints &hints) {
  GksState &st = gks_state();
  XWindowAttributes real{};
  XGetWindowAttributes(st.display, st.root_window, &real);
  st.win_width = st.root_width = real.width;
  st.win_height = st.root_height = real.height;
  if (real.width != hints.width || real.height != hints.height) make_base_window(real.width, real.height);
  st.red_mask = real.visual->red_mask;
  st.grn_mask = real.visual->green_mask;
  st.blu_mask = real.visual->blue_mask;
}

void create_cursors() {
  GksState &st = gks_state();
  for (int i = 0; i < GKS_NUM_CURSORS; ++i) st.cursors[i] = XCreateFontCursor(st.display, kCursorGlyphs[i]);
  XSync(st.display, False);
}

void finish_open() {
  GksState &st = gks_state();
  st.open_graphics = 1;
  ginit_objs();
  ginit_plot(0);
  gsetup_fonts();
  ginit_background();
  gsync();
  gcheck_event();
  gset_cursor(GKS_CURSOR_WAIT);
}

int open_window_ws(const char *device) {
  GksState &st = gks_state();
  ParsedList pieces(device, ',');
  const char *display_name = pieces.at(0);
  if (display_name && !*display_name) display_name = nullptr;
  if (!connect_screen(display_name)) return -1;

  st.win_type = GKS_WIN;
  gset_cache(1);
  XSizeHints hints = window_hints();
  choose_window_colours();
  Window win = create_top_window(hints);
  if (!win) {
    MESS_print(MESS_WARN, "gopen_ws: unable to open window\n");
    return -1;
  }
  st.root_window = win;
  describe_window(win, hints);
  make_base_window(hints.width, hints.height);
  map_and_wait(win);
  ginit_xcolr();
  adopt_real_size(hints);
  XClearWindow(st.display, win);
  fill_drawable(st.base_window, st.root_width, st.root_height);
  create_cursors();
  finish_open();
  return 0;
}

// ---- Drawing into another program's window -------------------------------------

// The window information line of the program that owns the window:
// "+root:drawable[:WxH[:cmap]]".
struct WindowInfo {
  unsigned long root = 0, drawable = 0, cmap = 0;
  int width = GKS_DEFAULT_WIDTH, height = GKS_DEFAULT_HEIGHT;
};

bool parse_window_info(const char *text, WindowInfo *info) {
  if (!text) return false;
  if (*text == '+') ++text;
  unsigned long root = 0, drawable = 0, cmap = 0;
  int w = 0, h = 0;
  int n = std::sscanf(text, "%lu:%lu:%dx%d:%lu", &root, &drawable, &w, &h, &cmap);
  if (n < 2 || !root || !drawable) return false;
  info->root = root;
  info->drawable = drawable;
  if (n >= 4) {
    if (!valid_side(w) || !valid_side(h)) return false;
    info->width = w;
    info->height = h;
  }
  if (n >= 5) info->cmap = cmap;
  return true;
}

const char *window_info_text(const ParsedList &pieces) {
  if (const char *piece = pieces.at(1); piece && *piece) return piece;
  if (const char *env = std::getenv("zybwindow"); env && *env) return env;
  return std::getenv("WINDOW");
}

int open_pixmap_ws(const char *device) {
  GksState &st = gks_state();
  ParsedList pieces(device, ',');
  WindowInfo info;
  if (!parse_window_info(window_info_text(pieces), &info)) {
    MESS_print(MESS_WARN, "gopen_ws: no window to draw into (zybwindow or WINDOW)\n");
    return -1;
  }
  const char *display_name = pieces.at(0);
  if (display_name && !*display_name) display_name = nullptr;
  if (!connect_screen(display_name)) return -1;

  st.win_type = GKS_PIX;
  gset_cache(0);
  st.root_window = info.root;
  st.base_window = info.drawable;
  st.draw_window = info.drawable;
  st.win_width = st.root_width = info.width;
  st.win_height = st.root_height = info.height;
  st.red_mask = st.visual->red_mask;
  st.grn_mask = st.visual->green_mask;
  st.blu_mask = st.visual->blue_mask;
  st.back_colr = BlackPixel(st.display, st.screen);
  st.fore_colr = WhitePixel(st.display, st.screen);
  if (info.cmap) gset_user_cmap(info.cmap);
  ginit_xcolr();
  st.root_gc = XCreateGC(st.display, st.draw_window, 0, nullptr);
  XSetGraphicsExposures(st.display, st.root_gc, False);
  st.open_graphics = 1;
  ginit_objs();
  ginit_plot(0);
  gsetup_fonts();
  gsync();
  return 0;
}

// Asks the owner of the window to quit, as a client message it serves.
void send_quit_request() {
  GksState &st = gks_state();
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = st.root_window;
  event.xclient.message_type = XA_NOTICE;
  event.xclient.format = 8;
  event.xclient.data.b[0] = GKS_REQUEST_QUIT;
  XSendEvent(st.display, st.root_window, True, 0, &event);
  XSync(st.display, False);
}

// ---- Output files ------------------------------------------------------------

// The kernel's side of opening a file kind, after its driver opened the
// file and set the page size: no window, no events, a plot state of its own.
int file_plot_mode(int type) {
  switch (type) {
    case GKS_PS: return GKS_PLOT_PS;
    case GKS_HPGL: return GKS_PLOT_HPGL;
    default: return GKS_PLOT_META;
  }
}

void start_file_ws(int type) {
  GksState &st = gks_state();
  st.win_type = type;
  st.depth = kFileDepth;
  gset_cache(0);
  st.open_graphics = 1;
  ginit_objs();
  ginit_plot(file_plot_mode(type));
  gsetup_fonts();
}

// ---- Closing -----------------------------------------------------------------

void free_attribute_contexts() {
  GksState &st = gks_state();
  gfree_text_font();
  gdel_fill_pat();
  for (GC *gc : {&st.line_gc, &st.mark_gc, &st.fill_gc, &st.text_gc}) {
    if (*gc && st.display) XFreeGC(st.display, *gc);
    *gc = nullptr;
  }
}

void close_window_resources() {
  GksState &st = gks_state();
  Display *dpy = st.display;
  gdelete_all_frames();
  // Frames beyond the loop are ours too; none may outlive the connection.
  for (GksFrame &frame : st.images) {
    if (frame.pixmap && dpy) XFreePixmap(dpy, frame.pixmap);
    frame.pixmap = 0;
  }
  if (dpy && st.root_window) {
    XUnmapWindow(dpy, st.root_window);
    XDestroyWindow(dpy, st.root_window);
  }
  if (dpy && st.base_window) XFreePixmap(dpy, st.base_window);
  st.root_window = 0;
  st.base_window = 0;
  st.draw_window = 0;
}

void close_display_resources() {
  GksState &st = gks_state();
  Display *dpy = st.display;
  if (!dpy) return;
  for (Cursor &c : st.cursors) {
    if (c) XFreeCursor(dpy, c);
    c = 0;
  }
  if (extras().icon_pixmap) XFreePixmap(dpy, extras().icon_pixmap);
  extras().icon_pixmap = 0;
  if (st.root_gc) XFreeGC(dpy, st.root_gc);
  st.root_gc = nullptr;
  XSync(dpy, False);
}

int close_window_ws() {
  GksState &st = gks_state();
  // A saved zoom picture belongs to this window; it must not outlive it.
  greset_zoom();
  close_window_resources();
  free_attribute_contexts();
  if (st.user_colormap && st.display) {
    XFreeColormap(st.display, st.user_colormap);
    gset_user_cmap(0);
  }
  if (st.display) XSync(st.display, False);
  gclear_objs();
  close_display_resources();
  return 0;
}

int close_pixmap_ws() {
  GksState &st = gks_state();
  free_attribute_contexts();
  if (st.display) XSync(st.display, False);
  if (st.pix_mode == GKS_PIX_MODE_KILL && st.display) send_quit_request();
  // The window and drawable belong to their owner.
  if (st.root_gc && st.display) XFreeGC(st.display, st.root_gc);
  st.root_gc = nullptr;
  st.root_window = st.base_window = st.draw_window = 0;
  gset_user_cmap(0);
  return 0;
}

// ---- What both X kinds draw the same way -----------------------------------------

int x11_clear_region(const float rect[4]) {
  GksState &st = gks_state();
  if (!st.display || !st.draw_window || !st.root_gc) return 0;
  int left = static_cast<int>(std::lround(xW_p(rect[0]))), right = static_cast<int>(std::lround(xW_p(rect[1])));
  int top = static_cast<int>(std::lround(yW_p(rect[3]))), bottom = static_cast<int>(std::lround(yW_p(rect[2])));
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  XSetForeground(st.display, st.root_gc, background_pixel());
  XFillRectangle(st.display, st.draw_window, st.root_gc, left, top, static_cast<unsigned>(right - left + 1),
                 static_cast<unsigned>(bottom - top + 1));
  XSetForeground(st.display, st.root_gc, st.fore_colr);
  return 0;
}

// The attribute contexts clip to the viewport in pixels (gget_xviewport).
int x11_clip(const float *) {
  GksState &st = gks_state();
  if (!st.display) return 0;
  short vp[4];
  gget_xviewport(vp);
  XRectangle rect{vp[0], vp[1], static_cast<unsigned short>(vp[2]), static_cast<unsigned short>(vp[3])};
  for (GC gc : {st.line_gc, st.mark_gc, st.fill_gc, st.text_gc})
    if (gc) XSetClipRectangles(st.display, gc, 0, 0, &rect, 1, Unsorted);
  return 0;
}

// The two X kinds draw alike; they differ in how they open and close.
GksDriver x11_row(int type, const char *name, int (*open)(const char *), int (*close)()) {
  GksDriver row;
  row.type = type;
  row.name = name;
  row.open = open;
  row.close = close;
  row.clear_region = x11_clear_region;
  row.clip = x11_clip;
  row.image = gimg_put_x11;
  row.attribute = gattr_x11;
  row.polyline = gline_x11;
  row.fill_area = gfill_x11;
  row.polymarker = gmark_x11;
  row.text = gtext_x11;
  return row;
}

}  // namespace

const GksDriver gks_window_driver = x11_row(GKS_WIN, "X11 window", open_window_ws, close_window_ws);
const GksDriver gks_pixmap_driver = x11_row(GKS_PIX, "X11 pixmap of another program", open_pixmap_ws, close_pixmap_ws);

namespace {

// The title shown in the window's name: the title alone, or with an extra.
std::string title_with_extra(const char *extra) {
  const std::string &title = gks_state().win_title;
  if (!extra || !*extra) return title;
  std::string full = title + " " + extra;
  return copy_limited(full.c_str(), GKS_TITLE_EXTRA_MAX);
}

}  // namespace

// ---------------------------------------------------------------- open/close

int gopen_gks(const char *name, int size) {
  GksState &st = gks_state();
  if (!name) {
    st.err_file = stderr;
    return 0;
  }
  FILE *file = FILE_open(name, "w");
  if (!file) return 1;
  st.err_file = file;
  return 0;
}

int gclose_gks() {
  GksState &st = gks_state();
  if (st.err_file && st.err_file != stderr) FILE_close(st.err_file);
  st.err_file = nullptr;
  return 0;
}

int gemergency_close_gks() { return 0; }
int gactivate_ws(int ws) { return 0; }
int gdeactivate_ws(int ws) { return 0; }

int gopen_ws(int ws, const char *device, int type) {
  if (gks_state().open_graphics) {
    gerr_printf("gopen_ws", "workstation already open\n");
    return -1;
  }
  if (type == GKS_PS) {
    const char *print = std::getenv("zybprint");
    if (print && stricmp(print, "hpgl") == 0) type = GKS_HPGL;
  }
  const GksDriver *row = gks_driver_or_report(type, "gopen_ws");
  if (!row || row->open(device) != 0) return -1;
  if (!is_x_kind(type)) start_file_ws(type);
  return 0;
}

int gclose_ws(int ws) {
  GksState &st = gks_state();
  if (!st.open_graphics) return -1;
  if (const GksDriver *row = gks_driver(st.win_type)) row->close();
  st.win_width = st.win_height = 0;
  st.open_graphics = 0;
  return 0;
}

int ginit_plot(int mode) {
  if (mode == -1) return -1;
  GksState &st = gks_state();
  ++extras().plot_count;
  greset_text();
  greset_line();
  greset_marker();
  greset_fill();
  ginit_loop();
  ginit_tran(mode);
  ginit_text(mode);
  ginit_line(mode);
  ginit_marker(mode);
  ginit_fill(mode);
  if (mode == 0) {
    st.Xerror = 0;
    st.Xerror_print = 1;
    if (st.win_type == GKS_PIX) gset_rw_colors(0);
  }
  if (mode == 0 || mode == 1) {
    ginit_event(mode);
    if (st.display) {
      XGCValues values{};
      values.line_width = 0;
      values.line_style = LineSolid;
      values.join_style = JoinBevel;
      for (GC gc : {st.line_gc, st.mark_gc, st.text_gc, st.fill_gc})
        if (gc) XChangeGC(st.display, gc, GCLineWidth | GCLineStyle | GCJoinStyle, &values);
      XSync(st.display, False);
    }
  }
  return 0;
}

int gget_plot_count() { return extras().plot_count; }

// ---------------------------------------------------------------- types

int gtype_is_WIN() { return gks_state().win_type == GKS_WIN; }
int gtype_is_META() { return gks_state().win_type == GKS_META; }
int gtype_is_PS() { return gks_state().win_type == GKS_PS; }
int gtype_is_HPGL() { return gks_state().win_type == GKS_HPGL; }
int gtype_is_PIX() { return gks_state().win_type == GKS_PIX; }
int gtype_is_WIN_PIX() { return is_x_type() ? 1 : 0; }
int gget_ws_id() { return 1; }

// ---------------------------------------------------------------- accessors

Display *gget_display() { return gks_state().display; }
int gget_screen() { return gks_state().screen; }
int gget_win_depth() { return gks_state().depth; }
unsigned long gget_root_window() { return gks_state().root_window; }
unsigned long gget_base_window() { return gks_state().base_window; }

int gset_base_window(unsigned long pixmap) {
  gks_state().base_window = pixmap;
  return 0;
}

unsigned long gget_draw_window() { return gks_state().draw_window; }

int gset_draw_window(unsigned long drawable) {
  GksState &st = gks_state();
  st.draw_window = drawable ? drawable : st.base_window;
  return 0;
}

GC gget_root_gc() { return gks_state().root_gc; }
unsigned long gget_red_mask() { return gks_state().red_mask; }
unsigned long gget_grn_mask() { return gks_state().grn_mask; }
unsigned long gget_blu_mask() { return gks_state().blu_mask; }
unsigned long gget_fore_color() { return gks_state().fore_colr; }

int gget_win_size(int *w, int *h) {
  if (w) *w = gks_state().win_width;
  if (h) *h = gks_state().win_height;
  return 0;
}

int gget_window_width() { return gks_state().win_width; }
int gget_window_height() { return gks_state().win_height; }

int gget_win_offset(int *x, int *y) {
  if (x) *x = gks_state().win_x;
  if (y) *y = gks_state().win_y;
  return 0;
}

int gset_win_offset(int x, int y) {
  gks_state().win_x = x;
  gks_state().win_y = y;
  return 0;
}

int gget_root_size(int *w, int *h) {
  if (w) *w = gks_state().root_width;
  if (h) *h = gks_state().root_height;
  return 0;
}

int gset_win_size(int w, int h) {
  gks_state().win_width = w;
  gks_state().win_height = h;
  ginit_tran(GKS_TRAN_SIZE_ONLY);
  return 0;
}

int gset_win_type(int type) {
  gks_state().win_type = type;
  return 0;
}

int gget_win_type() { return gks_state().win_type; }

int gset_pix_mode(int mode) {
  gks_state().pix_mode = mode;
  return 0;
}

int gget_pix_mode() { return gks_state().pix_mode; }
int gchk_graphics() { return gks_state().open_graphics; }

int gset_prog_name(const char *name) {
  if (!name) return -1;
  gks_state().prog_name = copy_limited(name, GKS_PROG_NAME_MAX);
  return 0;
}

const char *gget_prog_name() { return gks_state().prog_name.c_str(); }
const char *gget_win_title() { return gks_state().win_title.c_str(); }

int gset_icon_bitmap(const unsigned char *bits) {
  if (!bits) return -1;
  GksState &st = gks_state();
  std::memcpy(st.icon_bits.data(), bits, GKS_ICON_BYTES);
  st.icon_bits_set = true;
  return 0;
}

int gget_cursor_type() { return gks_state().cursor; }

// ---------------------------------------------------------------- window

int gset_xsize(int w, int h) {
  GksState &st = gks_state();
  // Before the window exists 0 x 0 asks for the default size.
  bool default_size = w == 0 && h == 0 && !st.root_window;
  if (!default_size && (!valid_side(w) || !valid_side(h))) {
    gerr_printf("gset_xsize", "invalid window size: %dx%d\n", w, h);
    return -1;
  }
  st.win_width = w;
  st.win_height = h;
  if (!st.root_window || !st.display) return 0;
  // The base window follows when the configure event arrives
  // (gresize_window), which compares with the base window's size.
  XResizeWindow(st.display, st.root_window, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XSync(st.display, False);
  return 0;
}

int gset_win_title(const char *title) {
  GksState &st = gks_state();
  st.win_title = copy_limited(title, GKS_TITLE_MAX);
  if (!st.display || !st.root_window) return -1;
  XStoreName(st.display, st.root_window, st.win_title.c_str());
  XSetIconName(st.display, st.root_window, st.win_title.c_str());
  XSync(st.display, False);
  return 0;
}

int gset_win_title_extra(const char *extra) {
  GksState &st = gks_state();
  if (!st.display || !st.root_window) return -1;
  std::string name = title_with_extra(extra);
  XStoreName(st.display, st.root_window, name.c_str());
  XSync(st.display, False);
  return 0;
}

int gget_win_title_extra(char *dst) {
  if (!dst) return -1;
  dst[0] = '\0';
  GksState &st = gks_state();
  if (!st.display || !st.root_window) return -1;
  char *name = nullptr;
  if (!XFetchName(st.display, st.root_window, &name) || !name) return -1;
  size_t skip = st.win_title.size() + 1;
  if (std::strlen(name) > skip) copy_limited_to(dst, name + skip, GKS_TITLE_EXTRA_MAX);
  XFree(name);
  return 0;
}

int gupdate_window() {
  GksState &st = gks_state();
  if (!st.display || !st.root_window || !st.base_window) return -1;
  XCopyArea(st.display, st.base_window, st.root_window, st.root_gc, 0, 0, static_cast<unsigned>(st.root_width),
            static_cast<unsigned>(st.root_height), 0, 0);
  gsync();
  return 0;
}

int gsync() {
  GksState &st = gks_state();
  if (st.display && is_x_type()) XSync(st.display, False);
  return 0;
}

int gbell(int percent) {
  GksState &st = gks_state();
  if (!st.display || !is_x_type()) return 0;
  int volume = percent ? std::clamp(percent, -100, 100) : 50;
  XBell(st.display, volume);
  XSync(st.display, False);
  return 0;
}

int gclear_ws(int ws, int flag) {
  GksState &st = gks_state();
  if (!is_window_type()) return 0;
  fill_drawable(st.base_window, st.root_width, st.root_height);
  gclear_objs();
  return 0;
}

int gset_cursor(int type) {
  GksState &st = gks_state();
  if (!is_x_type()) return st.cursor;
  int previous = gset_cursor_type(type);
  if (st.display) XSync(st.display, False);
  return previous;
}

int gset_cursor_type(int type) {
  GksState &st = gks_state();
  int previous = st.cursor;
  if (type >= 0 && type < GKS_NUM_CURSORS && st.cursors[type] && st.display && st.root_window)
    XDefineCursor(st.display, st.root_window, st.cursors[type]);
  st.cursor = type;
  return previous;
}

int gresize_window(int w, int h) {
  GksState &st = gks_state();
  if (!st.display || !st.root_window) return 0;
  int new_w = 0, new_h = 0;
  if (w > 0) {
    if (!valid_side(w) || !valid_side(h)) return 0;
    XResizeWindow(st.display, st.root_window, static_cast<unsigned>(w), static_cast<unsigned>(h));
    new_w = w;
    new_h = h;
  } else {
    XWindowAttributes attr{};
    if (!XGetWindowAttributes(st.display, st.root_window, &attr)) return 0;
    new_w = attr.width;
    new_h = attr.height;
  }
  // gset_xsize has already recorded the size it asked for, so the base
  // window's size tells whether the picture still has to follow.
  if (new_w == st.root_width && new_h == st.root_height) return 0;
  if (!valid_side(new_w) || !valid_side(new_h)) return 0;

  XClearWindow(st.display, st.root_window);
  Pixmap old_base = st.base_window;
  Pixmap new_base = XCreatePixmap(st.display, st.root_window, static_cast<unsigned>(new_w),
                                  static_cast<unsigned>(new_h), static_cast<unsigned>(st.depth));
  // Fill first so that a grown window shows no random server memory.
  fill_drawable(new_base, new_w, new_h);
  if (old_base && st.root_width > 0 && st.root_height > 0)
    XCopyArea(st.display, old_base, new_base, st.root_gc, 0, 0, static_cast<unsigned>(st.root_width),
              static_cast<unsigned>(st.root_height), 0, 0);
  if (old_base) XFreePixmap(st.display, old_base);
  st.base_window = new_base;
  st.draw_window = new_base;
  st.win_width = st.root_width = new_w;
  st.win_height = st.root_height = new_h;

  greset_zoom();
  gdelete_all_frames();
  return 1;
}

int gclear_region(const float *rect) {
  if (!rect) return -1;
  if (!gtype_is_META()) gnew_obj(GOBJ_CLEAR_REGION, 1, 4 * static_cast<int>(sizeof(float)), rect);
  return gdrv_clear_region(rect);
}

int gmessage(int ws, const char *text) {
  if (!text) return -1;
  if (!gtype_is_META()) gnew_obj(GOBJ_MESSAGE, ws, static_cast<int>(std::strlen(text)) + 1, text);
  return gdrv_message(ws, text);
}

// ---------------------------------------------------------------- errors

int gerr_printf(const char *name, const char *format, ...) {
  if (!gks_state().err_file) return 0;
  char text[kErrorTextMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  size_t len = std::strlen(text);
  const char *newline = (len > 0 && text[len - 1] == '\n') ? "" : "\n";
  MESS_print(MESS_WARN, "%s: %s%s", name ? name : "", text, newline);
  return 0;
}

int gset_xerror_print(int on) {
  gks_state().Xerror_print = on;
  return 0;
}

int gget_xerror() { return gks_state().Xerror; }

int gclr_xerror() {
  gks_state().Xerror = 0;
  return 0;
}
