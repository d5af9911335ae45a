// Zoom by pixel replication: one XGetImage of the part to be shown,
// replication on the raw bytes, one XPutImage into the base window.
#include "gks/gks_zoom.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_state.h"
#include "util/mess.h"

// ---------------------------------------------------------------------------
// Arithmetic

ZoomFactor gzoom_factor(int factor, int zoom, bool source_is_frame) {
  if (factor == -1) return {zoom, zoom};
  if (factor < -1) {
    int grown = zoom * -factor;
    return {grown, source_is_frame ? grown : -factor};
  }
  // A factor of 0 would divide by zero below; it means "no magnification".
  int set = std::max(factor, 1);
  return {set, set};
}

ZoomPoint gzoom_centre(int x, int y, int width, int height, int zoom, ZoomPoint stored, bool frames_exist) {
  if (x == -1) return stored;
  if (frames_exist && zoom != 1) {
    // The window shows a frame magnified about the stored centre; go back to
    // the frame's own pixels (C division truncates towards zero, as intended).
    return {(x - width / 2) / zoom + stored.x, (y - height / 2) / zoom + stored.y};
  }
  return {x, y};
}

namespace {

// Left (top) edge of the shown part along one axis.
int view_edge(int centre, int shown, int size, int factor) {
  int edge = centre - shown / 2;
  if (edge < 0) edge = 0;
  if (edge + shown > size) edge = size - (size + 1) / factor;
  // Factor 1 would put the edge at -1; never start outside the picture.
  return std::max(edge, 0);
}

}  // namespace

ZoomView gzoom_view(ZoomPoint centre, int width, int height, int factor) {
  factor = std::max(factor, 1);
  ZoomView view{};
  view.width = width / factor;
  view.height = height / factor;
  view.x0 = view_edge(centre.x, view.width, width, factor);
  view.y0 = view_edge(centre.y, view.height, height, factor);
  view.centre = {view.x0 + view.width / 2, view.y0 + view.height / 2};
  return view;
}

// ---------------------------------------------------------------------------
// Replication on raw bytes

namespace {

// Source index for each destination index along one axis, kept inside the
// source: at the clamped right edge x0 + (size - 1) / factor can reach the
// picture's width.
std::vector<int> source_indices(int size, int source_size, int origin, int factor) {
  std::vector<int> index(static_cast<size_t>(size));
  int last = source_size - 1;
  origin = std::clamp(origin, 0, last);
  for (int i = 0; i < size; i++) index[static_cast<size_t>(i)] = std::min(origin + i / factor, last);
  return index;
}

template <int Bytes>
void replicate_bytes(const unsigned char *source_row, unsigned char *dest_row, const std::vector<int> &columns) {
  unsigned char *out = dest_row;
  for (int column : columns) {
    std::memcpy(out, source_row + static_cast<size_t>(column) * Bytes, Bytes);
    out += Bytes;
  }
}

void replicate_nibbles(const unsigned char *source_row, unsigned char *dest_row, const std::vector<int> &columns,
                       bool lsb_first) {
  for (size_t c = 0; c < columns.size(); c++) {
    int column = columns[c];
    bool source_high = ((column & 1) == 0) != lsb_first;
    unsigned value = source_row[column >> 1];
    value = source_high ? value >> 4 : value & 0x0Fu;
    bool dest_high = ((c & 1) == 0) != lsb_first;
    unsigned char &out = dest_row[c >> 1];
    out = dest_high ? static_cast<unsigned char>((out & 0x0Fu) | (value << 4))
                    : static_cast<unsigned char>((out & 0xF0u) | value);
  }
}

void replicate_bits(const unsigned char *source_row, unsigned char *dest_row, const std::vector<int> &columns,
                    bool lsb_first) {
  auto mask_of = [lsb_first](size_t index) {
    unsigned shift = static_cast<unsigned>(index & 7);
    return static_cast<unsigned char>(lsb_first ? 1u << shift : 0x80u >> shift);
  };
  for (size_t c = 0; c < columns.size(); c++) {
    size_t column = static_cast<size_t>(columns[c]);
    bool set = (source_row[column >> 3] & mask_of(column)) != 0;
    unsigned char &out = dest_row[c >> 3];
    out = set ? static_cast<unsigned char>(out | mask_of(c)) : static_cast<unsigned char>(out & ~mask_of(c));
  }
}

using RowReplicator = void (*)(const unsigned char *, unsigned char *, const std::vector<int> &, bool);

struct PixelSize {
  int bits;
  RowReplicator replicate;
};

const PixelSize pixel_sizes[] = {
    {32,
     [](const unsigned char *s, unsigned char *d, const std::vector<int> &c, bool) { replicate_bytes<4>(s, d, c); }},
    {24,
     [](const unsigned char *s, unsigned char *d, const std::vector<int> &c, bool) { replicate_bytes<3>(s, d, c); }},
    {16,
     [](const unsigned char *s, unsigned char *d, const std::vector<int> &c, bool) { replicate_bytes<2>(s, d, c); }},
    {8, [](const unsigned char *s, unsigned char *d, const std::vector<int> &c, bool) { replicate_bytes<1>(s, d, c); }},
    {4, replicate_nibbles},
    {1, replicate_bits},
};

RowReplicator replicator_for(int bits_per_pixel) {
  for (const auto &row : pixel_sizes)
    if (row.bits == bits_per_pixel) return row.replicate;
  return nullptr;
}

bool raster_is_sound(const ZoomRaster &raster) {
  if (!raster.data || raster.width <= 0 || raster.height <= 0) return false;
  long long row_bits = static_cast<long long>(raster.width) * raster.bits_per_pixel;
  return row_bits <= static_cast<long long>(raster.bytes_per_line) * 8;
}

}  // namespace

ZoomArea gzoom_source_area(const ZoomView &view, int width, int height, int factor) {
  factor = std::max(factor, 1);
  ZoomArea area{std::clamp(view.x0, 0, width - 1), std::clamp(view.y0, 0, height - 1), 0, 0};
  area.width = std::min(area.x + (width - 1) / factor, width - 1) - area.x + 1;
  area.height = std::min(area.y + (height - 1) / factor, height - 1) - area.y + 1;
  return area;
}

int gzoom_replicate(const ZoomRaster &source, const ZoomRaster &dest, int x0, int y0, int factor) {
  RowReplicator replicate = replicator_for(dest.bits_per_pixel);
  if (!replicate || factor < 1 || !raster_is_sound(source) || !raster_is_sound(dest)) return 0;
  if (source.bits_per_pixel != dest.bits_per_pixel || source.lsb_first != dest.lsb_first) return 0;

  std::vector<int> columns = source_indices(dest.width, source.width, x0, factor);
  std::vector<int> rows = source_indices(dest.height, source.height, y0, factor);
  size_t source_line = static_cast<size_t>(source.bytes_per_line);
  size_t line = static_cast<size_t>(dest.bytes_per_line);
  for (int r = 0; r < dest.height; r++) {
    unsigned char *dest_row = dest.data + static_cast<size_t>(r) * line;
    size_t source_row = static_cast<size_t>(rows[static_cast<size_t>(r)]);
    if (r > 0 && source_row == static_cast<size_t>(rows[static_cast<size_t>(r) - 1])) {
      // A repeated source row: the previous destination row is already right.
      std::memcpy(dest_row, dest_row - line, line);
      continue;
    }
    replicate(source.data + source_row * source_line, dest_row, columns, dest.lsb_first);
  }
  return 1;
}

// ---------------------------------------------------------------------------
// The zoom on the window

namespace {

struct ImageDeleter {
  void operator()(XImage *image) const { XDestroyImage(image); }
};
using ImageHolder = std::unique_ptr<XImage, ImageDeleter>;

struct ZoomModule {
  int zoom = 1;
  ZoomPoint centre{0, 0};
  // The unzoomed base window, kept when a zoom starts without frames (there
  // is then no frame to redraw from at the unzoom).
  Pixmap base_image = 0;
  Display *base_image_display = nullptr;
};

ZoomModule module;

void release_base_image() {
  ZoomModule &s = module;
  // A pixmap of a connection that has been closed meanwhile is gone already.
  if (s.base_image && s.base_image_display && s.base_image_display == gget_display())
    XFreePixmap(s.base_image_display, s.base_image);
  s.base_image = 0;
  s.base_image_display = nullptr;
}

void save_base_window(Display *display, int width, int height) {
  release_base_image();
  ZoomModule &s = module;
  s.base_image = XCreatePixmap(display, gget_root_window(), static_cast<unsigned>(width), static_cast<unsigned>(height),
                               static_cast<unsigned>(gget_win_depth()));
  s.base_image_display = display;
  XCopyArea(display, gget_base_window(), s.base_image, gget_root_gc(), 0, 0, static_cast<unsigned>(width),
            static_cast<unsigned>(height), 0, 0);
}

// Xlib's own rule for the order of pixels packed into one byte.
bool packs_low_bits_first(const XImage &image) {
  if (image.bits_per_pixel == 1) return image.bitmap_bit_order == LSBFirst;
  return image.byte_order == LSBFirst;
}

ZoomRaster raster_of(const XImage &image) {
  return {reinterpret_cast<unsigned char *>(image.data),
          image.width,
          image.height,
          image.bytes_per_line,
          image.bits_per_pixel,
          packs_low_bits_first(image)};
}

// The window-sized picture built from the part of the source the view
// shows; nullptr when this pixel size cannot be replicated.
ImageHolder magnify(Display *display, const XImage &part, int width, int height, int factor) {
  ImageHolder picture(XCreateImage(display, gget_visual(), static_cast<unsigned>(part.depth), ZPixmap, 0, nullptr,
                                   static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0));
  if (!picture) return nullptr;
  size_t size = static_cast<size_t>(picture->bytes_per_line) * static_cast<size_t>(height);
  picture->data = static_cast<char *>(std::calloc(size, 1));
  if (!picture->data) return nullptr;
  if (!gzoom_replicate(raster_of(part), raster_of(*picture), 0, 0, factor)) return nullptr;
  return picture;
}

bool refuses_user_zoom(int next_zoom) {
  int zoom = module.zoom;
  if (zoom < ZOOM_MAX_FACTOR && next_zoom <= ZOOM_MAX_FACTOR) return false;
  MESS_print(MESS_WARN, "gzoom: Cannot zoom past 1024x\n");
  return true;
}

}  // namespace

int gget_zoom() { return module.zoom; }

int gzoom(int frame, int x, int y, int factor, int again) {
  ZoomModule &s = module;
  if (gtype_is_PIX()) return 0;
  if (s.zoom == 1 && again) return 0;

  Display *display = gget_display();
  unsigned long base = gget_base_window();
  int width = 0, height = 0;
  gget_win_size(&width, &height);
  if (!display || !base || width <= 0 || height <= 0) return 0;

  bool frames_exist = gget_num_images() > 0;
  // Any frame on show is zoomed from its own pixmap, looping or stepped, so
  // that the view is the same either way; only without a frame does the base
  // window (which may already be magnified) serve as the source.
  unsigned long frame_pixmap = frames_exist ? gget_frame_id(frame) : 0;
  bool source_is_frame = frame_pixmap != 0;

  ZoomFactor next = gzoom_factor(factor, s.zoom, source_is_frame);
  // Re-applying the zoom to a new frame is never refused, even at the limit.
  if (!again && refuses_user_zoom(next.zoom)) return 0;

  ZoomPoint centre = gzoom_centre(x, y, width, height, s.zoom, s.centre, frames_exist);
  ZoomView view = gzoom_view(centre, width, height, next.replicate);

  // Only the pixels the view shows are read: at x2 a quarter of the window.
  Drawable source = source_is_frame ? frame_pixmap : base;
  ZoomArea area = gzoom_source_area(view, width, height, next.replicate);
  ImageHolder part(XGetImage(display, source, area.x, area.y, static_cast<unsigned>(area.width),
                             static_cast<unsigned>(area.height), AllPlanes, ZPixmap));
  if (!part) return 0;

  if (!frames_exist && !again && s.zoom == 1) save_base_window(display, width, height);
  s.zoom = next.zoom;
  s.centre = view.centre;

  ImageHolder picture = magnify(display, *part, width, height, next.replicate);
  if (picture) {
    XPutImage(display, base, gget_root_gc(), picture.get(), 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
  } else {
    // A pixel size the replication does not know: the picture goes back as it was.
    XCopyArea(display, source, base, gget_root_gc(), 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
              0, 0);
  }
  XSync(display, False);
  gupdate_window();
  return 1;
}

int gunzoom() {
  ZoomModule &s = module;
  if (gtype_is_PIX() || s.zoom == 1) return 0;
  s.zoom = 1;
  s.centre = {0, 0};

  Display *display = gget_display();
  if (s.base_image && display && s.base_image_display == display) {
    int width = 0, height = 0;
    gget_win_size(&width, &height);
    XCopyArea(display, s.base_image, gget_base_window(), gget_root_gc(), 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height), 0, 0);
    release_base_image();
    gupdate_window();
  } else {
    gdisplay_frame(GKS_FRAME_CURRENT);
  }
  release_base_image();
  return 0;
}

int greset_zoom() {
  ZoomModule &s = module;
  if (s.zoom < 2) return 0;
  release_base_image();
  s.zoom = 1;
  s.centre = {0, 0};
  return 0;
}

namespace {

ZoomView current_view() {
  int width = 0, height = 0;
  gget_win_size(&width, &height);
  return gzoom_view(module.centre, width, height, module.zoom);
}

}  // namespace

int xZ_p(int x) {
  int zoom = module.zoom;
  return zoom < 2 ? x : current_view().x0 + x / zoom;
}

int yZ_p(int y) {
  int zoom = module.zoom;
  return zoom < 2 ? y : current_view().y0 + y / zoom;
}
