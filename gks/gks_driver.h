// The kernel's output kinds. Every workstation type the kernel can open has
// one row in the driver table: the X window and another program's pixmap
// (both drawn through X), and the metafile, PostScript and HPGL files. The
// kernel's entry points do the work common to all kinds (checks, attribute
// state, the object cache) and then hand the call to the row of the open
// workstation through one dispatch function per entry (gdrv_*).
//
// A row leaves an entry empty when its kind has nothing to do for that call
// (an X window keeps no transformation records, a PostScript page has no
// clip for text metafiles, ...). A type without a row cannot be opened:
// gopen_ws says so.
#pragma once

struct ImageRecord;

struct GksDriver {
  int type = 0;           // GKS_WIN, GKS_META, GKS_PS, GKS_HPGL or GKS_PIX
  const char *name = "";  // for messages

  // Opens the output (device as gopen_ws got it); 0, or -1 with a message.
  int (*open)(const char *device) = nullptr;
  int (*close)() = nullptr;

  // Colour index ci now has this colour (ws: the caller's workstation id).
  int (*color_rep)(int ws, int ci, const float rgb[3]) = nullptr;
  // Fills a world rectangle (xmin, xmax, ymin, ymax) with the background.
  int (*clear_region)(const float rect[4]) = nullptr;
  // The clip rectangle follows the current viewport (NDC xmin, xmax, ymin, ymax).
  int (*clip)(const float ndc[4]) = nullptr;
  int (*message)(int ws, const char *text) = nullptr;
  // An image at x, y of the viewport (negative: from its right or bottom edge).
  int (*image)(ImageRecord *img, int x, int y) = nullptr;

  // A transformation call that a file keeps as a record: object codes 10
  // (workstation window), 11 (workstation viewport), 15 (select), 16
  // (viewport), 17 (window); n the workstation or transformation number,
  // rect nullptr for 15.
  int (*transform)(int code, int n, const float rect[4]) = nullptr;
  // An attribute changed: the object code of the setter (33-36 lines, 43-46
  // markers, 53-61 text, 73-76 fill areas), its value and its data as the
  // object cache keeps them. Called only when the value changed (fill
  // colours: always), after the kernel stored it, so the getters
  // (gget_line_width, gget_text_attributes, ...) already give the new value;
  // on a metafile the style index (74) and the up vector (58) are not stored.
  int (*attribute)(int code, int value, const void *data) = nullptr;

  // Primitives in world coordinates of the current transformation (x, y
  // pairs); convert with xW_ps / yW_ps (files) or xW_p / yW_p (X). The
  // kernel has made its checks and the cache entry; the attributes come
  // from the getters of gks_line.h, gks_mark.h, gks_fill.h and gks_text.h.
  // polyline: at least two points, known to touch the window.
  int (*polyline)(int count, const float *pts) = nullptr;
  // fill_area: any count the window test let through; fill, then outline.
  int (*fill_area)(int count, const float *pts) = nullptr;
  // polymarker: gmark_points (gks_mark.h) does the shapes and the drop
  // shadow; the row gives the device size and a MarkerSink.
  int (*polymarker)(int count, const float *pts) = nullptr;
  // text: a non-empty string at a world position; gtext_strokes
  // (gks_text.h) lays a stroke font out, with the drop shadow, into a TextSink.
  int (*text)(const float pos[2], const char *string) = nullptr;
};

// The row of a workstation type; nullptr when that kind is not built.
const GksDriver *gks_driver(int type);
// The row, or nullptr after "<routine>: workstation type %d is not available".
const GksDriver *gks_driver_or_report(int type, const char *routine);
// The types that have a row, in table order; returns how many (at most max).
int gks_driver_types(int *types, int max);

// Dispatch to the row of the open workstation; 0 when nothing is open or
// the row has nothing to do for the call.
int gdrv_color_rep(int ws, int ci, const float rgb[3]);
int gdrv_clear_region(const float rect[4]);
int gdrv_clip(const float ndc[4]);
int gdrv_message(int ws, const char *text);
int gdrv_image(ImageRecord *img, int x, int y);
int gdrv_transform(int code, int n, const float rect[4]);
int gdrv_attribute(int code, int value, const void *data);
int gdrv_polyline(int count, const float *pts);
int gdrv_fill_area(int count, const float *pts);
int gdrv_polymarker(int count, const float *pts);
int gdrv_text(const float pos[2], const char *string);

// The rows, one exported table per driver source.
extern const GksDriver gks_window_driver;  // gks_x11.cpp
extern const GksDriver gks_pixmap_driver;  // gks_x11.cpp
extern const GksDriver gks_meta_driver;    // gks_meta.cpp
extern const GksDriver gks_ps_driver;      // gks_ps.cpp
extern const GksDriver gks_hpgl_driver;    // gks_hpgl.cpp
