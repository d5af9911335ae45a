#include "gks/gks_img.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gks/colors.h"
#include "gks/gks.h"
#include "gks/gks_driver.h"
#include "gks/gks_img_conv.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "image/png.h"
#include "image/xdump.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

struct ImgState {
  int output_type = IMG_OUT_GIF;
};

ImgState &state() {
  static ImgState s;
  return s;
}

bool has_target() { return gget_display() != nullptr && gget_draw_window() != 0; }

// A native image's bytes index the colour table in force; indices beyond
// it (or every index, without a table) show as grey levels.
void give_table_colors(ImageRecord *img) {
  if (img->source != IMG_SOURCE_NATIVE || img->num_colors > 0 || IMG_alloc_colors(img, 256) == nullptr) return;
  for (int i = 0; i < 256; i++) {
    ImageColor &c = img->colors[i];
    if (i < CLR_get_num())
      CLR_get_rgb(i, &c.red, &c.green, &c.blue);
    else
      c.red = c.green = c.blue = i / 255.0f;
  }
}

// ---- Placement ---------------------------------------------------------------

struct Placement {
  int x, y;
  unsigned width, height;
};

// A negative offset counts back from the viewport's right or bottom edge.
Placement place_in_viewport(const ImageRecord *img, int x, int y) {
  short vp[4] = {0, 0, 0, 0};
  gget_xviewport(vp);
  int vx = vp[0], vy = vp[1];
  unsigned vw = static_cast<unsigned short>(vp[2]), vh = static_cast<unsigned short>(vp[3]);
  Placement p;
  p.x = x >= 0 ? x + vx : x + vx + static_cast<int>(vw) - img->width;
  p.y = y >= 0 ? y + vy : y + vy + static_cast<int>(vh) - img->height;
  p.width = std::min(vw, static_cast<unsigned>(img->width));
  p.height = std::min(vh, static_cast<unsigned>(img->height));
  return p;
}

// ---- Overlay mask ------------------------------------------------------------

// Bit (x mod 8) of byte x / 8, least significant first, is set for every
// pixel that is not the transparent one.
std::vector<unsigned char> opaque_mask(const XImage &xi, uint32_t transparent) {
  int row_bytes = (xi.width + 7) / 8;
  std::vector<unsigned char> mask(static_cast<size_t>(row_bytes) * xi.height, 0);
  for (int y = 0; y < xi.height; y++) {
    const unsigned char *row =
        reinterpret_cast<const unsigned char *>(xi.data) + static_cast<size_t>(y) * xi.bytes_per_line;
    unsigned char *bits = &mask[static_cast<size_t>(y) * row_bytes];
    for (int x = 0; x < xi.width; x++) {
      if (gimg_converted_value(xi, row, x) != transparent) bits[x / 8] |= static_cast<unsigned char>(1u << (x % 8));
    }
  }
  return mask;
}

int transparent_pixel_for(const char *colour) {
  if (colour == nullptr || colour[0] == '\0') return gget_color_ind(-1);
  int index = CLR_get_ind(colour);
  if (index != -1) return gget_color_ind(index);
  XColor c{};
  Display *display = gget_display();
  if (XParseColor(display, gget_colormap(), colour, &c) && XAllocColor(display, gget_colormap(), &c)) {
    return static_cast<int>(c.pixel);
  }
  MESS_print(MESS_WARN, "goverlay_image: Unknown color: %s\n", colour);
  return gget_color_ind(-1);
}

// ---- Colour set-up -------------------------------------------------------------

// Maps every byte through map, which is asked about each value once, in
// order of first appearance (the order colour cells get allocated in).
// One pass: the table entry is ready by the time a value is first stored.
template <typename Map>
void map_bytes(unsigned char *p, size_t n, Map &map) {
  bool seen[256] = {};
  unsigned char table[256];
  for (size_t i = 0; i < n; i++) {
    unsigned char v = p[i];
    if (__builtin_expect(!seen[v], 0)) {
      seen[v] = true;
      table[v] = static_cast<unsigned char>(map(v));
    }
    p[i] = table[v];
  }
}

// ---- Grabbing ----------------------------------------------------------------

struct XImageDeleter {
  void operator()(XImage *xi) const { XDestroyImage(xi); }
};

void log_grab(const XImage *xi, int num_colors) {
  gimg_log_ximage(xi);
  MESS_print(MESS_DEBUG, "red_mask: %lX\n", xi->red_mask);
  MESS_print(MESS_DEBUG, "green_mask: %lX\n", xi->green_mask);
  MESS_print(MESS_DEBUG, "blue_mask: %lX\n", xi->blue_mask);
  MESS_print(MESS_DEBUG, "num colors: %d\n", num_colors);
}

float unit_channel(unsigned short v) {
  float f = v / 65535.0f;
  return f > 0.99f ? 1.0f : f;
}

// The pixel values whose colours the grab records: 0, 1, 2, ... for a
// colour-mapped visual; for a direct-colour visual each channel counts on
// its own, by its mask's lowest bit, wrapping past the mask.
std::vector<unsigned long> query_pixels(const Visual *v, int count) {
  std::vector<unsigned long> pixels(count);
  if (v->c_class != DirectColor) {
    for (int i = 0; i < count; i++) pixels[i] = static_cast<unsigned long>(i);
    return pixels;
  }
  unsigned long r = 0, g = 0, b = 0;
  unsigned long rstep = v->red_mask & (~v->red_mask + 1), gstep = v->green_mask & (~v->green_mask + 1),
                bstep = v->blue_mask & (~v->blue_mask + 1);
  for (int i = 0; i < count; i++) {
    pixels[i] = r | g | b;
    r += rstep;
    if (r > v->red_mask) r = 0;
    g += gstep;
    if (g > v->green_mask) g = 0;
    b += bstep;
    if (b > v->blue_mask) b = 0;
  }
  return pixels;
}

void grab_colors(const XWindowAttributes &attr, ImageRecord *img) {
  if (attr.colormap == None) return;
  const Visual *v = attr.visual;
  if (v->c_class == TrueColor) {
    img->color_type = 0;
    if (img->red_mask == 0) img->red_mask = static_cast<uint32_t>(v->red_mask);
    if (img->green_mask == 0) img->green_mask = static_cast<uint32_t>(v->green_mask);
    if (img->blue_mask == 0) img->blue_mask = static_cast<uint32_t>(v->blue_mask);
    return;
  }
  img->color_type = 1;
  int count = std::min(v->map_entries, IMG_MAX_COLORS);
  if (count <= 0) return;
  std::vector<unsigned long> pixels = query_pixels(v, count);
  std::vector<XColor> colors(count);
  for (int i = 0; i < count; i++) colors[i].pixel = pixels[i];
  XQueryColors(gget_display(), attr.colormap, colors.data(), count);
  if (IMG_alloc_colors(img, count) == nullptr) {
    MESS_print(MESS_WARN, "gget_image: Unable to allocate memory for colors\n");
    return;
  }
  for (int i = 0; i < count; i++) {
    img->colors[i] = {unit_channel(colors[i].red), unit_channel(colors[i].green), unit_channel(colors[i].blue)};
  }
}

}  // namespace

// ---- Interface -----------------------------------------------------------------

int gread_image_file(const char *name, ImageRecord *img) {
  if (IMG_read(name, img, 0) != 1) return 0;
  give_table_colors(img);
  return 1;
}

void gquery_image_file(const char *name, ImageRecord *img) { IMG_read(name, img, 1); }

int gsetup_image_colors(ImageRecord *img, int transparent_pixel) {
  if (img->num_colors <= 0 || img->colors == nullptr || img->data == nullptr) return 0;
  int win_depth = gget_win_depth();
  if (win_depth <= 0 || win_depth > 8) return 0;
  int cache[256];
  std::fill(std::begin(cache), std::end(cache), -1);
  auto map = [&](int index) {
    if (cache[index] >= 0) return cache[index];
    const ImageColor &c = img->colors[index < img->num_colors ? index : 0];
    int pixel;
    if (transparent_pixel != -1 && gis_color_near(transparent_pixel, 1, c.red, c.green, c.blue)) {
      pixel = transparent_pixel;
    } else {
      pixel = galloc_colr(-1, c.red, c.green, c.blue);
      if (pixel < 0) pixel = 0;
    }
    cache[index] = pixel;
    return pixel;
  };
  size_t bytes = static_cast<size_t>(img->bytes_per_line) * img->height;
  unsigned char *p = img->data;
  switch (win_depth) {
    case 8: map_bytes(p, bytes, map); break;
    case 4:  // the high nibble is the first pixel
      for (size_t i = 0; i < bytes; i++) {
        p[i] = static_cast<unsigned char>(((map(p[i] >> 4) & 0x0F) << 4) | (map(p[i] & 0x0F) & 0x0F));
      }
      break;
    case 1:  // bit i is the i-th pixel
      for (size_t i = 0; i < bytes; i++) {
        unsigned char out = 0;
        for (int bit = 0; bit < 8; bit++) out |= static_cast<unsigned char>((map((p[i] >> bit) & 1) & 1) << bit);
        p[i] = out;
      }
      break;
    default: break;
  }
  return 0;
}

int gset_ximage_params(ImageRecord *img, XImage *ximage) { return gimg_describe_plain(img, ximage); }

int gimg_put_x11(ImageRecord *img, int x, int y) {
  if (!has_target()) return 0;
  Placement p = place_in_viewport(img, x, y);
  GimgPrepared prepared;
  if (!prepared.prepare(img)) return 0;
  prepared.put(gget_draw_window(), gget_root_gc(), p.x, p.y, p.width, p.height);
  return 0;
}

int gload_image(ImageRecord *img, int x, int y) {
  gsetup_image_colors(img, -1);
  gdrv_image(img, x, y);
  return 0;
}

int gload_image_file(const char *name, int x, int y) {
  if (!has_target()) return 0;
  ImageRecord img;
  if (!gread_image_file(name, &img)) return 0;
  gload_image(&img, x, y);
  IMG_free(&img);
  return 1;
}

int goverlay_image(ImageRecord *img, const char *colour, int x, int y) {
  if (!has_target()) return 0;
  Display *display = gget_display();
  int transparent = transparent_pixel_for(colour);
  gsetup_image_colors(img, transparent);
  GimgPrepared prepared;
  if (!prepared.prepare(img)) return 0;
  const XImage &xi = prepared.image();
  std::vector<unsigned char> mask = opaque_mask(xi, static_cast<uint32_t>(transparent));
  Pixmap bitmap = XCreateBitmapFromData(display, gget_root_window(), reinterpret_cast<const char *>(mask.data()),
                                        xi.width, xi.height);
  if (gtype_is_WIN_PIX()) {
    Placement p = place_in_viewport(img, x, y);
    GC gc = gget_root_gc();
    XSetClipMask(display, gc, bitmap);
    XSetClipOrigin(display, gc, p.x, p.y);
    prepared.put(gget_draw_window(), gc, p.x, p.y, p.width, p.height);
    XSetClipMask(display, gc, None);
  }
  if (bitmap != None) XFreePixmap(display, bitmap);
  return 0;
}

int goverlay_image_file(const char *name, const char *colour, int x, int y) {
  if (!has_target()) return 0;
  ImageRecord img;
  if (!gread_image_file(name, &img)) return 0;
  goverlay_image(&img, colour, x, y);
  IMG_free(&img);
  return 0;
}

int gset_save_image_type(int type) {
  state().output_type = type;
  return 0;
}

int gget_save_image_type() { return state().output_type; }

int gget_image(ImageRecord *img) {
  IMG_init(img);
  if (!has_target()) return 0;
  Display *display = gget_display();
  XWindowAttributes attr{};
  if (!XGetWindowAttributes(display, gget_root_window(), &attr)) {
    MESS_print(MESS_WARN, "gget_image: Can't get target window attributes\n");
    return 0;
  }
  img->width = attr.width;
  img->height = attr.height;
  char *name = nullptr;
  if (XFetchName(display, gget_root_window(), &name) && name != nullptr) {
    IMG_set_info(img, name);
    XFree(name);
  } else {
    IMG_set_info(img, "xwdump");
  }
  copy_limited_to(img->title, gget_win_title(), IMG_TITLE_SIZE - 1);
  img->back_pixel = gget_color_ind(-1);

  std::unique_ptr<XImage, XImageDeleter> xi(
      XGetImage(display, gget_draw_window(), 0, 0, attr.width, attr.height, AllPlanes, ZPixmap));
  if (!xi) {
    MESS_print(MESS_WARN, "gget_image: Unable to get image at %dx%d+%d+%d\n", attr.width, attr.height, 0, 0);
    return 0;
  }
  img->bits_per_pixel = xi->bits_per_pixel;
  img->bytes_per_line = xi->bytes_per_line;
  img->byte_order = xi->byte_order == MSBFirst ? 1 : 0;
  img->depth = xi->depth;
  img->red_mask = static_cast<uint32_t>(xi->red_mask);
  img->green_mask = static_cast<uint32_t>(xi->green_mask);
  img->blue_mask = static_cast<uint32_t>(xi->blue_mask);
  if (IMG_alloc_pixels(img) == nullptr) {
    MESS_print(MESS_WARN, "gget_image: Unable to allocate data buffer.\n");
    return 0;
  }
  std::memcpy(img->data, xi->data, static_cast<size_t>(img->bytes_per_line) * img->height);
  grab_colors(attr, img);
  log_grab(xi.get(), img->num_colors);
  XFlush(display);
  return 1;
}

int gsave_image_as(const char *name, int type) {
  ImageRecord img;
  if (!gget_image(&img)) return 0;
  int result;
  switch (type) {
    case IMG_OUT_GIF:
    case IMG_OUT_AGIF: result = GIF_write(name, &img); break;
    case IMG_OUT_PNG: result = PNG_write(name, &img); break;
    default: result = XWD_write(name, &img); break;
  }
  IMG_free(&img);
  return result;
}

int gsave_image_file(const char *name) { return gsave_image_as(name, state().output_type); }

int GIF_dump(const char *name) { return gsave_image_as(name, IMG_OUT_GIF); }
int XWD_dump(const char *name) { return gsave_image_as(name, IMG_OUT_XWD); }
