// The kernel's image conversions: image records in the window's pixel
// format, and the way to the server through shared memory when it takes it.
// For gks_img only.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

struct ImageRecord;

// The plain X image description of gset_ximage_params (the record's own
// pixels, or a malloc'ed conversion the caller frees). 1 ok, 0 nothing to draw.
int gimg_describe_plain(ImageRecord *img, XImage *xi);

// The value of pixel x of a converted row, by the image's bits per pixel
// and byte order (24 bits of a 32-bit pixel).
uint32_t gimg_converted_value(const XImage &xi, const unsigned char *row, int x);

// Logs the fields of an X image at the debug class, one per line.
void gimg_log_ximage(const XImage *xi);

// An image converted into the server's own layout for the draw window, in
// shared memory when the server takes it; frees what it took.
class GimgPrepared {
 public:
  GimgPrepared() = default;
  ~GimgPrepared();
  GimgPrepared(const GimgPrepared &) = delete;
  GimgPrepared &operator=(const GimgPrepared &) = delete;

  bool prepare(ImageRecord *img);  // false: nothing can be drawn
  const XImage &image() const { return xi_; }
  void put(Drawable target, GC gc, int dx, int dy, unsigned w, unsigned h);

 private:
  ImageRecord *img_ = nullptr;
  XImage xi_{};
  bool shared_ = false;
};
