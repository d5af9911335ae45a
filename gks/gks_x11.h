// The workstation: the X11 window with its backing pixmap, titles, cursors,
// the X error handlers, and the type that every primitive dispatches on.
//
// No X11 header is included here (Xlib's macros clash with other code);
// X ids are plain unsigned longs, as Xlib defines them.
#pragma once

typedef struct _XDisplay Display;
typedef struct _XGC *GC;

// Workstation types.
constexpr int GKS_WIN = 1;   // an X11 window of our own
constexpr int GKS_META = 3;  // metafile
constexpr int GKS_PS = 4;    // PostScript file
constexpr int GKS_HPGL = 5;  // HPGL file
constexpr int GKS_PIX = 6;   // a window and pixmap owned by another program

// Modes of ginit_plot: set-up of the X kinds, after a resize, and of the
// PostScript, HPGL and metafile kinds.
constexpr int GKS_PLOT_OPEN = 0;
constexpr int GKS_PLOT_RESIZE = 1;
constexpr int GKS_PLOT_PS = 2;
constexpr int GKS_PLOT_HPGL = 3;
constexpr int GKS_PLOT_META = 4;

// Pixmap modes (gset_pix_mode): what drawing into another program's window
// does; with KILL, closing asks that program to quit.
constexpr int GKS_PIX_MODE_CLEAR = 1;
constexpr int GKS_PIX_MODE_NEW = 2;
constexpr int GKS_PIX_MODE_KILL = 9;

constexpr int GKS_MAX_WINDOW_SIDE = 32767;  // X sizes are 16-bit

constexpr int GKS_DEFAULT_WIDTH = 640;
constexpr int GKS_DEFAULT_HEIGHT = 512;
constexpr int GKS_PROG_NAME_MAX = 19;
constexpr int GKS_TITLE_MAX = 59;
constexpr int GKS_TITLE_EXTRA_MAX = 79;  // title, blank and extra together
constexpr int GKS_ICON_BYTES = 288;      // 48 x 48 bits, rows of 6 bytes

// Cursor types of gset_cursor.
constexpr int GKS_CURSOR_X = 0;
constexpr int GKS_CURSOR_PTR = 1;
constexpr int GKS_CURSOR_MOVE = 2;
constexpr int GKS_CURSOR_LOOP = 3;
constexpr int GKS_CURSOR_STOP = 4;
constexpr int GKS_CURSOR_DRAW = 5;
constexpr int GKS_CURSOR_RECT = 6;
constexpr int GKS_CURSOR_TEXT = 7;
constexpr int GKS_CURSOR_WAIT = 8;

// Opening and closing.
int gopen_gks(const char *name, int size);  // name nullptr: errors to stderr
int gclose_gks();
int gemergency_close_gks();
int gactivate_ws(int ws);
int gdeactivate_ws(int ws);
// Opens the workstation through its driver row: type 1 the window (device:
// "display"), 6 another program's window ("display,+root:drawable[:WxH[:cmap]]",
// or the line in "zybwindow"/"WINDOW"), 3, 4, 5 the file kinds. 0, or -1.
int gopen_ws(int ws, const char *device, int type);
int gclose_ws(int ws);     // 0, or -1 when nothing is open
int ginit_plot(int mode);  // a GKS_PLOT_* mode
// How often ginit_plot has reset the plot state (transformations and
// attributes): a caller that set them up sees from a change that a resize
// or a new workstation has undone its set-up.
int gget_plot_count();

// Type predicates.
int gtype_is_WIN();
int gtype_is_META();
int gtype_is_PS();
int gtype_is_HPGL();
int gtype_is_PIX();
int gtype_is_WIN_PIX();
int gget_ws_id();  // always 1

// Accessors of the workstation record.
Display *gget_display();
int gget_screen();
int gget_win_depth();
unsigned long gget_root_window();  // our top-level window
unsigned long gget_base_window();  // the window-sized backing pixmap
int gset_base_window(unsigned long pixmap);
unsigned long gget_draw_window();
int gset_draw_window(unsigned long drawable);  // 0 selects the base window
GC gget_root_gc();
unsigned long gget_red_mask();
unsigned long gget_grn_mask();
unsigned long gget_blu_mask();
int gget_win_size(int *w, int *h);
int gget_window_width();
int gget_window_height();
int gget_win_offset(int *x, int *y);
int gset_win_offset(int x, int y);  // device offset of the plot (drawing into another program's window)
int gget_root_size(int *w, int *h);
int gset_win_size(int w, int h);
int gset_win_type(int type);
int gget_win_type();
int gset_pix_mode(int mode);
int gget_pix_mode();
int gchk_graphics();  // 1 while a workstation is open
int gset_prog_name(const char *name);
const char *gget_prog_name();
const char *gget_win_title();
int gset_icon_bitmap(const unsigned char *bits);  // GKS_ICON_BYTES bytes
int gget_cursor_type();
unsigned long gget_fore_color();

// The window.
int gset_xsize(int w, int h);
int gset_win_title(const char *title);
int gset_win_title_extra(const char *extra);
int gget_win_title_extra(char *dst);  // dst holds GKS_TITLE_EXTRA_MAX + 1 bytes
int gupdate_window();
int gsync();
int gbell(int percent);
int gclear_ws(int ws, int flag);
int gset_cursor(int type);       // returns the previous type
int gset_cursor_type(int type);  // returns the previous type
int gresize_window(int w, int h);
int gclear_region(const float *rect);  // xmin, xmax, ymin, ymax in world units
int gmessage(int ws, const char *text);

// Kernel error reports ("name: text"), at the warning class, while gopen_gks
// is in force.
int gerr_printf(const char *name, const char *format, ...) __attribute__((format(printf, 2, 3)));

// X error bookkeeping: with printing off an X error only raises the flag.
int gset_xerror_print(int on);
int gget_xerror();
int gclr_xerror();
