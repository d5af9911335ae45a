// What the drawing areas (lines, markers, fill areas, text) share, for the
// kernel's own sources: the checks of their attribute setters, the hand-on
// of a changed attribute to the cache and the driver, and the conversion of
// world points to X points. The X window and pixmap rows of the driver table
// draw through the *_x11 entries declared here; each area defines its own.
#pragma once

#include <X11/Xlib.h>

#include <array>
#include <vector>

#include "gks/gks_line.h"  // the limits of widths and point counts

// The checks of a colour setter: the kernel is open, the index valid, the
// print-only pens become index 1 on the X kinds, and the index has a pixel
// (the pens need none on a file). Returns 0 with *ci the index to use, or
// -1 after a report under routine.
int gdraw_check_colr(const char *routine, int *ci);
// A float attribute from low to high (a number, then): else
// "invalid <what>: %f\n" under routine, and false.
bool gdraw_check_range(const char *routine, const char *what, float value, float low, float high);
// A changed attribute (object code, value and data as the cache keeps
// them): a metafile writes it through its driver; every other kind records
// it in the object cache and its driver applies it.
int gdraw_attribute(int code, int value, int size, const void *data);

// A device coordinate as an X coordinate: rounded to the nearest pixel
// (truncating x + 0.5); the conversions clamp to +-30000, and a
// not-a-number lands on the lower clamp rather than anywhere.
inline short gdraw_xcoord(float device) {
  constexpr float kClamp = 30000.0f;  // the conversions' pixel clamp (GKS_PIXEL_CLAMP)
  if (!(device > -kClamp && device < kClamp)) return static_cast<short>(device > 0 ? kClamp : -kClamp);
  // Truncation toward zero, as the conversion of a double to an int does.
  return static_cast<short>(static_cast<int>(static_cast<double>(device) + 0.5));
}
XPoint gdraw_xpoint(float world_x, float world_y);
// The X line width of a kernel width: its whole pixels, except that one
// pixel or less is X's thin line (width 0), as every context starts out;
// so a width draws the same pixels whether it was set or never changed.
inline int gdraw_xwidth(float width) {
  const int pixels = static_cast<int>(width);
  return pixels <= 1 ? 0 : pixels;
}
// The X pixel of a colour index; the screen's white one while the index
// has none yet (as the contexts start).
unsigned long gdraw_pixel(int ci);
unsigned long gdraw_black();
// Creates the context on a drawable (mode 0, once) and sets it up for
// modes 0 and 1: clipped to the viewport, in colour ci on black. Before
// the colours are loaded (at the open) that is white on black; after a
// resize, the reset colour's own pixel.
void gdraw_init_gc(GC *gc, Drawable on, int mode, int ci);

// Room for the X points of one primitive: ten on the stack, more on the
// heap. data() is nullptr when the heap refused the room.
class XPointBuffer {
 public:
  explicit XPointBuffer(int count);
  XPoint *data() { return failed_ ? nullptr : heap_.empty() ? stack_.data() : heap_.data(); }

 private:
  std::array<XPoint, 10> stack_;
  std::vector<XPoint> heap_;
  bool failed_ = false;
};

// The drawing entries of the X rows: world points of the current
// transformation into the draw window (frame pixmap or base window).
int gline_x11(int count, const float *pts);             // gks_line.cpp
int gmark_x11(int count, const float *pts);             // gks_mark.cpp
int gfill_x11(int count, const float *pts);             // gks_fill.cpp
int gtext_x11(const float pos[2], const char *string);  // gks_text.cpp
// A changed attribute on its context; routed by the object code to the area.
int gattr_x11(int code, int value, const void *data);
int gline_x11_attribute(int code, int value, const void *data);
int gmark_x11_attribute(int code, int value, const void *data);
int gfill_x11_attribute(int code, int value, const void *data);
int gtext_x11_attribute(int code, int value, const void *data);
