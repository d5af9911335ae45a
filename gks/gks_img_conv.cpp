#include "gks/gks_img_conv.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_shm.h"
#include "gks/gks_state.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "util/mess.h"

// From Xlib's internal header, which defines min and max as macros and so
// stays out of C++ sources.
extern "C" int (*XESetCloseDisplay(Display *display, int extension, int (*proc)(Display *, XExtCodes *)))(Display *,
                                                                                                          XExtCodes *);

namespace {

// One shared-memory segment, reused from load to load, lets the server
// read converted pixels without pushing megabytes through the socket.
struct ShmBuffer {
  Display *display = nullptr;
  ShmExtension ext;
  ShmSegment segment;
  bool attached = false;
  bool busy = false;             // a put from it may still be in the server's queue
  unsigned long put_serial = 0;  // the request number of that put
};

struct ConvState {
  Display *refused_by = nullptr;  // the connection that refused a segment: never again on it
  ShmBuffer shm;
  Display *watched = nullptr;  // the connection whose closing we hear of
};

ConvState &state() {
  static ConvState s;
  return s;
}

// ---- Pixel layouts -----------------------------------------------------------

struct Layout {
  int bits_per_pixel;
  int bytes_per_line;
  int byte_order;  // LSBFirst or MSBFirst
};

struct Channel {
  uint32_t mask = 0;
  int shift = 0;  // lowest set bit
  int max = 0;    // 2^(set bits) - 1
  int bits = 0;
};

Channel channel_of(uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) return c;
  c.shift = __builtin_ctz(mask);
  c.bits = __builtin_popcount(mask);
  c.max = static_cast<int>((1u << c.bits) - 1);
  return c;
}

struct VisualMasks {
  uint32_t red, green, blue;
};

// The masks of the screen's true-colour visual of this depth, else the
// kernel's visual's.
VisualMasks visual_masks(int depth) {
  XVisualInfo info{};
  if (XMatchVisualInfo(gget_display(), gget_screen(), depth, TrueColor, &info)) {
    return {static_cast<uint32_t>(info.red_mask), static_cast<uint32_t>(info.green_mask),
            static_cast<uint32_t>(info.blue_mask)};
  }
  return {static_cast<uint32_t>(gget_red_mask()), static_cast<uint32_t>(gget_grn_mask()),
          static_cast<uint32_t>(gget_blu_mask())};
}

uint32_t load_value(const unsigned char *p, int bpp, bool msb) {
  switch (bpp) {
    case 32:
      return msb ? (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
                 : (uint32_t{p[3]} << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
    case 24: return msb ? (p[0] << 16) | (p[1] << 8) | p[2] : (p[2] << 16) | (p[1] << 8) | p[0];
    case 16: return msb ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
    default: return p[0];
  }
}

void store_value(unsigned char *p, int bpp, bool msb, uint32_t v) {
  int bytes = bpp / 8;
  for (int i = 0; i < bytes; i++) {
    int shift = msb ? 8 * (bytes - 1 - i) : 8 * i;
    p[i] = static_cast<unsigned char>(v >> shift);
  }
}

bool host_is_lsb() {
  const uint16_t probe = 1;
  return *reinterpret_cast<const unsigned char *>(&probe) == 1;
}

// Writes one row of pixel values in the layout. Values in the host's byte
// order go as whole words: the hot case of every true-colour screen.
template <typename ValueOf>
void store_row(unsigned char *dst, int width, const Layout &out, ValueOf value_of) {
  bool msb = out.byte_order == MSBFirst;
  bool host_order = msb != host_is_lsb();
  if (out.bits_per_pixel == 32 && host_order) {
    for (int x = 0; x < width; x++) {
      uint32_t v = value_of(x);
      std::memcpy(dst + 4 * x, &v, 4);
    }
    return;
  }
  if (out.bits_per_pixel == 16 && host_order) {
    for (int x = 0; x < width; x++) {
      uint16_t v = static_cast<uint16_t>(value_of(x));
      std::memcpy(dst + 2 * x, &v, 2);
    }
    return;
  }
  int step = out.bits_per_pixel / 8;
  for (int x = 0; x < width; x++) store_value(dst + x * step, out.bits_per_pixel, msb, value_of(x));
}

// ---- Conversions -------------------------------------------------------------

enum class Plan {
  kOwnArray,     // the record's pixels are already in the window's format
  kIndexToTrue,  // 8-bit indices through the colour map to true-colour pixels
  kTrueToTrue,   // true-colour pixels repacked for the window's masks or layout
  kTrueToIndex,  // true colour on a colour-mapped window: allocated cells
  kUnsupported,
};

bool is_true_color_record(const ImageRecord *img) {
  return img->color_type == 0 && img->depth > 8 &&
         (img->bits_per_pixel == 16 || img->bits_per_pixel == 24 || img->bits_per_pixel == 32);
}

// native: the layout the server keeps pixmaps in (for shared memory),
// rather than the plain layout that Xlib converts on the way.
Plan plan_for(const ImageRecord *img, int win_depth, bool native, const Layout &server) {
  if (win_depth <= 8) {
    if (img->depth == win_depth && img->bits_per_pixel == win_depth) return Plan::kOwnArray;
    if (win_depth == 8 && is_true_color_record(img)) return Plan::kTrueToIndex;
    return Plan::kUnsupported;
  }
  if (img->depth == 8 && img->bits_per_pixel == 8) return Plan::kIndexToTrue;
  if (img->depth == win_depth) {
    bool same_layout =
        img->bits_per_pixel == server.bits_per_pixel && (img->byte_order != 0) == (server.byte_order == MSBFirst);
    if (!native || same_layout || !is_true_color_record(img)) return Plan::kOwnArray;
    return Plan::kTrueToTrue;
  }
  return is_true_color_record(img) ? Plan::kTrueToTrue : Plan::kUnsupported;
}

// The pixel value of every colour-map index on a true-colour window.
std::vector<uint32_t> index_table(const ImageRecord *img, int win_depth, const VisualMasks &m) {
  Channel r = channel_of(m.red), g = channel_of(m.green), b = channel_of(m.blue);
  if (win_depth == 15 || win_depth == 16) {
    MESS_print(MESS_DEBUG, "mask: %d-%d-%d %d-%d-%d %d-%d-%d\n", static_cast<int>(r.mask), r.shift, r.max,
               static_cast<int>(g.mask), g.shift, g.max, static_cast<int>(b.mask), b.shift, b.max);
  }
  std::vector<uint32_t> table(256);
  bool has_map = img->colors != nullptr && img->num_colors > 0;
  for (uint32_t i = 0; i < 256; i++) {
    if (!has_map) {
      // Without a colour map the index is its own grey level.
      table[i] = win_depth == 24 ? (i << 16) | (i << 8) | i : (i << 8) | i;
      continue;
    }
    const ImageColor &c = img->colors[i < static_cast<uint32_t>(img->num_colors) ? i : 0];
    table[i] = (static_cast<uint32_t>(r.max * c.red) << r.shift) + (static_cast<uint32_t>(g.max * c.green) << g.shift) +
               (static_cast<uint32_t>(b.max * c.blue) << b.shift);
  }
  return table;
}

#ifdef __SSE2__
// The converted rows are read by the server, not by us: streaming stores
// skip reading every cache line before it is overwritten.
bool stream_rows(const ImageRecord *img, const uint32_t *lut, const Layout &out, unsigned char *dst) {
  bool aligned = reinterpret_cast<uintptr_t>(dst) % 16 == 0 && out.bytes_per_line % 16 == 0;
  bool wide = out.bits_per_pixel == 32;
  if ((!wide && out.bits_per_pixel != 16) || (out.byte_order == MSBFirst) == host_is_lsb() || !aligned) return false;
  const int width = img->width;
  for (int y = 0; y < img->height; y++) {
    const unsigned char *src = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    unsigned char *row = dst + static_cast<size_t>(y) * out.bytes_per_line;
    auto *block = reinterpret_cast<__m128i *>(row);
    int x = 0;
    if (wide) {
      for (; x + 4 <= width; x += 4, block++) {
        _mm_stream_si128(block, _mm_set_epi32(static_cast<int>(lut[src[x + 3]]), static_cast<int>(lut[src[x + 2]]),
                                              static_cast<int>(lut[src[x + 1]]), static_cast<int>(lut[src[x]])));
      }
      for (; x < width; x++) reinterpret_cast<uint32_t *>(row)[x] = lut[src[x]];
    } else {
      auto half = [&](int k) { return static_cast<short>(lut[src[x + k]]); };
      for (; x + 8 <= width; x += 8, block++) {
        _mm_stream_si128(block, _mm_set_epi16(half(7), half(6), half(5), half(4), half(3), half(2), half(1), half(0)));
      }
      for (; x < width; x++) reinterpret_cast<uint16_t *>(row)[x] = static_cast<uint16_t>(lut[src[x]]);
    }
  }
  _mm_sfence();
  return true;
}
#else
bool stream_rows(const ImageRecord *, const uint32_t *, const Layout &, unsigned char *) { return false; }
#endif

void convert_index_to_true(const ImageRecord *img, int win_depth, const VisualMasks &m, const Layout &out,
                           unsigned char *dst) {
  std::vector<uint32_t> table = index_table(img, win_depth, m);
  const uint32_t *lut = table.data();
  if (stream_rows(img, lut, out, dst)) return;
  for (int y = 0; y < img->height; y++) {
    const unsigned char *src = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    store_row(dst + static_cast<size_t>(y) * out.bytes_per_line, img->width, out,
              [src, lut](int x) { return lut[src[x]]; });
  }
}

// Channel scaling tables from the record's channel widths to the window's.
struct ChannelMap {
  Channel from, to;
  std::vector<uint32_t> table;
};

ChannelMap channel_map(uint32_t from_mask, uint32_t to_mask) {
  ChannelMap cm{channel_of(from_mask), channel_of(to_mask), {}};
  int bits = std::min(cm.from.bits, 16);
  cm.table.resize(size_t{1} << bits);
  for (uint32_t v = 0; v < cm.table.size(); v++) {
    uint32_t scaled = cm.from.max > 0 ? v * cm.to.max / cm.from.max : 0;
    cm.table[v] = scaled << cm.to.shift;
  }
  return cm;
}

void convert_true_to_true(const ImageRecord *img, const VisualMasks &m, const Layout &out, unsigned char *dst) {
  ChannelMap r = channel_map(img->red_mask, m.red), g = channel_map(img->green_mask, m.green),
             b = channel_map(img->blue_mask, m.blue);
  size_t limit = r.table.size() - 1, glimit = g.table.size() - 1, blimit = b.table.size() - 1;
  bool same = img->red_mask == m.red && img->green_mask == m.green && img->blue_mask == m.blue;
  uint32_t keep = m.red | m.green | m.blue;
  bool msb = img->byte_order != 0;
  int bpp = img->bits_per_pixel, step = bpp / 8;
  for (int y = 0; y < img->height; y++) {
    const unsigned char *src = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    store_row(dst + static_cast<size_t>(y) * out.bytes_per_line, img->width, out, [&](int x) {
      uint32_t v = load_value(src + x * step, bpp, msb);
      if (same) return v & keep;
      return r.table[std::min<size_t>((v & r.from.mask) >> r.from.shift, limit)] |
             g.table[std::min<size_t>((v & g.from.mask) >> g.from.shift, glimit)] |
             b.table[std::min<size_t>((v & b.from.mask) >> b.from.shift, blimit)];
    });
  }
}

// True colour on an 8-bit window: the colours are reduced to at most 256
// and each is given a colour cell.
void convert_true_to_index(ImageRecord *img, const Layout &out, unsigned char *dst) {
  GifPalette pal;
  std::vector<unsigned char> entries(static_cast<size_t>(img->width) * img->height);
  GIF_reduce_palette(img, entries.data(), &pal);
  unsigned char pixel[256] = {};
  for (int e = 0; e < pal.num_color; e++) {
    int p = galloc_colr(-1, pal.red[e] / 255.0f, pal.grn[e] / 255.0f, pal.blu[e] / 255.0f);
    pixel[e] = static_cast<unsigned char>(p < 0 ? 0 : p);
  }
  for (int y = 0; y < img->height; y++) {
    const unsigned char *src = &entries[static_cast<size_t>(y) * img->width];
    unsigned char *row = dst + static_cast<size_t>(y) * out.bytes_per_line;
    for (int x = 0; x < img->width; x++) row[x] = pixel[src[x]];
  }
}

// In place: the first and third byte of every pixel change places, for a
// 24-bit record whose red lies where the window keeps blue.
void exchange_red_blue(ImageRecord *img) {
  int step = img->bits_per_pixel / 8;
  for (int y = 0; y < img->height; y++) {
    unsigned char *p = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    for (int x = 0; x < img->width; x++, p += step) std::swap(p[0], p[2]);
  }
}

// The layout of a converted image as the plain X image description has it.
Layout plain_layout(const ImageRecord *img, int win_depth) {
  Layout l{win_depth, 0, img->byte_order != 0 ? MSBFirst : LSBFirst};
  if (img->depth == 24) l.bits_per_pixel = img->bits_per_pixel;
  if (win_depth == 15) {
    l.bits_per_pixel = 16;
    l.bytes_per_line = img->depth == 24 ? img->bytes_per_line : 2 * img->width;
    return l;
  }
  if (img->depth == 24) {
    l.bytes_per_line = img->bytes_per_line;
    return l;
  }
  switch (win_depth) {
    case 1: l.bytes_per_line = (img->width + 7) / 8; break;
    case 4: l.bytes_per_line = (img->width + 1) / 2; break;
    case 8: l.bytes_per_line = img->width; break;
    case 16: l.bytes_per_line = 2 * img->width; break;
    default:
      l.bytes_per_line = 3 * img->width;
      l.bits_per_pixel = 24;
      break;
  }
  return l;
}

// The layout the server keeps pixmaps of the window's depth in.
Layout server_layout(int width) {
  int bpp = gks_state().bits_per_pixel > 0 ? gks_state().bits_per_pixel : gget_win_depth();
  int pad_bits = BitmapPad(gget_display());
  int bytes = ((width * bpp + pad_bits - 1) / pad_bits) * (pad_bits / 8);
  return {bpp, bytes, ImageByteOrder(gget_display())};
}

void log_ximage(const XImage *xi) {
  MESS_print(MESS_DEBUG, "width: %d\n", xi->width);
  MESS_print(MESS_DEBUG, "height: %d\n", xi->height);
  MESS_print(MESS_DEBUG, "xoffset: %d\n", xi->xoffset);
  MESS_print(MESS_DEBUG, "format: %d\n", xi->format);
  MESS_print(MESS_DEBUG, "byte_order: %d\n", xi->byte_order);
  MESS_print(MESS_DEBUG, "bitmap_unit: %d\n", xi->bitmap_unit);
  MESS_print(MESS_DEBUG, "bitmap_bit_order: %d\n", xi->bitmap_bit_order);
  MESS_print(MESS_DEBUG, "bitmap_pad: %d\n", xi->bitmap_pad);
  MESS_print(MESS_DEBUG, "depth: %d\n", xi->depth);
  MESS_print(MESS_DEBUG, "bits_per_pixel: %d\n", xi->bits_per_pixel);
  MESS_print(MESS_DEBUG, "bytes_per_line: %d\n", xi->bytes_per_line);
}

// Where converted pixels go: shared memory when asked for and the server
// takes it, else a buffer from malloc that the caller frees.
struct ConversionBuffer {
  bool try_shared = false;
  bool shared = false;
  unsigned char *get(size_t size);
  unsigned char *get_shared(size_t size);  // nullptr when memory cannot be shared
};

// A copy into shared memory costs far less than the same rows written
// down the socket, so even pixels in the window's format take that way.
void share_rows(const ImageRecord *img, const Layout &out, XImage *xi, ConversionBuffer *buffer) {
  unsigned char *dst = buffer->get_shared(static_cast<size_t>(out.bytes_per_line) * img->height);
  if (dst == nullptr) return;
  size_t n = std::min(img->bytes_per_line, out.bytes_per_line);
  for (int y = 0; y < img->height; y++) {
    std::memcpy(dst + static_cast<size_t>(y) * out.bytes_per_line,
                img->data + static_cast<size_t>(y) * img->bytes_per_line, n);
  }
  xi->data = reinterpret_cast<char *>(dst);
  xi->bytes_per_line = out.bytes_per_line;
}

// Describes img for XPutImage in the given layout, converting into a
// buffer when the record's own pixels will not do. Returns 0 when there is
// nothing that can be drawn.
int describe_image(ImageRecord *img, XImage *xi, bool native, ConversionBuffer *buffer) {
  if (!IMG_check_layout(img)) {
    MESS_print(MESS_WARN, "gset_ximage_params: No pixels to show (%d x %d, %d bits per pixel)\n", img->width,
               img->height, img->bits_per_pixel);
    return 0;
  }
  int win_depth = gget_win_depth();
  Layout out = native ? server_layout(img->width) : plain_layout(img, win_depth);
  Plan plan = plan_for(img, win_depth, native, out);
  if (plan == Plan::kUnsupported) {
    MESS_print(MESS_WARN, "gset_ximage_params: Cannot show an image of depth %d (%d bits per pixel) at depth %d\n",
               img->depth, img->bits_per_pixel, win_depth);
    return 0;
  }
  VisualMasks m = win_depth > 8 ? visual_masks(win_depth) : VisualMasks{0xFFFF, 0xFFFF, 0xFFFF};

  std::memset(xi, 0, sizeof(*xi));
  xi->width = img->width;
  xi->height = img->height;
  xi->format = ZPixmap;
  xi->bitmap_unit = 32;
  xi->bitmap_pad = 32;
  xi->depth = win_depth;
  xi->red_mask = xi->green_mask = xi->blue_mask = 0xFFFF;
  if (win_depth == 24) {
    bool own_masks = img->depth != 8;
    xi->red_mask = own_masks ? img->red_mask : m.red;
    xi->green_mask = own_masks ? img->green_mask : m.green;
    xi->blue_mask = own_masks ? img->blue_mask : m.blue;
  } else if (win_depth == 15 || win_depth == 16) {
    xi->red_mask = m.red;
    xi->green_mask = m.green;
    xi->blue_mask = m.blue;
  }

  if (plan == Plan::kOwnArray) {
    if (win_depth == 24 && img->depth == 24 && img->bits_per_pixel >= 24 && img->red_mask != m.red) {
      exchange_red_blue(img);
    }
    xi->data = reinterpret_cast<char *>(img->data);
    xi->bits_per_pixel = img->bits_per_pixel;
    xi->bytes_per_line = img->bytes_per_line;
    xi->byte_order = xi->bitmap_bit_order = img->byte_order != 0 ? MSBFirst : LSBFirst;
    if (native && img->bits_per_pixel == out.bits_per_pixel) share_rows(img, out, xi, buffer);
  } else {
    if (win_depth > 8 && plan == Plan::kTrueToTrue) {
      xi->red_mask = m.red;
      xi->green_mask = m.green;
      xi->blue_mask = m.blue;
    }
    if (plan == Plan::kTrueToIndex) out.bits_per_pixel = 8;
    unsigned char *dst = buffer->get(static_cast<size_t>(out.bytes_per_line) * img->height);
    if (dst == nullptr) return 0;
    switch (plan) {
      case Plan::kIndexToTrue: convert_index_to_true(img, win_depth, m, out, dst); break;
      case Plan::kTrueToTrue: convert_true_to_true(img, m, out, dst); break;
      default: convert_true_to_index(img, out, dst); break;
    }
    xi->data = reinterpret_cast<char *>(dst);
    xi->bits_per_pixel = out.bits_per_pixel;
    xi->bytes_per_line = out.bytes_per_line;
    xi->byte_order = xi->bitmap_bit_order = out.byte_order;
  }
  XInitImage(xi);
  log_ximage(xi);
  MESS_print(MESS_DEBUG, "red_mask: %X\n", static_cast<unsigned>(xi->red_mask));
  MESS_print(MESS_DEBUG, "green_mask: %X\n", static_cast<unsigned>(xi->green_mask));
  MESS_print(MESS_DEBUG, "blue_mask: %X\n", static_cast<unsigned>(xi->blue_mask));
  return 1;
}

// ---- Shared memory -----------------------------------------------------------

void release_shm() {
  ShmBuffer &shm = state().shm;
  if (shm.attached && shm.display == gget_display()) gshm_detach(shm.ext, &shm.segment);
  if (shm.segment.address != nullptr) shmdt(shm.segment.address);
  shm = ShmBuffer{};
}

// Called by Xlib as the connection closes. The server lets go of the
// segment by itself then; what must not survive is our belief that a later
// connection (which may well get the same Display address) has it attached.
int forget_shm(Display *display, XExtCodes *) {
  ConvState &s = state();
  if (s.shm.display == display) {
    if (s.shm.segment.address != nullptr) shmdt(s.shm.segment.address);
    s.shm = ShmBuffer{};
  }
  if (s.refused_by == display) s.refused_by = nullptr;
  if (s.watched == display) s.watched = nullptr;
  return 0;
}

void watch_close(Display *display) {
  ConvState &s = state();
  if (s.watched == display) return;
  XExtCodes *codes = XAddExtension(display);
  if (codes == nullptr) return;
  XESetCloseDisplay(display, codes->extension, forget_shm);
  s.watched = display;
}

// Only this connection is given up on: a later one may reach a server
// that shares memory.
void refuse_shm(Display *display) {
  state().refused_by = display;
  watch_close(display);
}

// A segment of at least size bytes that the server has attached, or
// nullptr when the server cannot share memory with us.
unsigned char *shm_buffer(size_t size) {
  ConvState &s = state();
  Display *display = gget_display();
  if (display == nullptr || s.refused_by == display) return nullptr;
  if (s.shm.attached && s.shm.display == display && s.shm.busy) {
    // The server must be done reading before the segment is written again;
    // a reply to any later request already says it is.
    if (LastKnownRequestProcessed(display) < s.shm.put_serial) XSync(display, False);
    s.shm.busy = false;
  }
  if (s.shm.attached && s.shm.display == display && s.shm.segment.size >= size) {
    return reinterpret_cast<unsigned char *>(s.shm.segment.address);
  }
  release_shm();
  ShmBuffer &shm = s.shm;
  if (!gshm_query(display, &shm.ext)) {
    MESS_print(MESS_DEBUG, "shared memory: the server has none, pixels go through the socket\n");
    refuse_shm(display);
    return nullptr;
  }
  // A segment the system will not give (too large, limits reached) just
  // means this picture takes the socket.
  shm.segment.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shm.segment.shmid < 0) {
    shm = ShmBuffer{};
    return nullptr;
  }
  void *addr = shmat(shm.segment.shmid, nullptr, 0);
  if (addr == reinterpret_cast<void *>(-1)) {
    shmctl(shm.segment.shmid, IPC_RMID, nullptr);
    shm = ShmBuffer{};
    return nullptr;
  }
  shm.segment.address = static_cast<char *>(addr);
  shm.segment.size = size;
  shm.segment.read_only = true;
  shm.display = display;
  // A server on another host, or in another IPC namespace, refuses the
  // segment with an X error; that is expected, so it is not reported.
  gset_xerror_print(0);
  gclr_xerror();
  gshm_attach(shm.ext, &shm.segment);
  XSync(display, False);
  bool refused = gget_xerror() != 0;
  gclr_xerror();
  gset_xerror_print(1);
  // Marked for removal now: it goes away by itself when we and the server let go.
  shmctl(shm.segment.shmid, IPC_RMID, nullptr);
  if (refused) {
    MESS_print(MESS_DEBUG, "shared memory: the server refused the segment, pixels go through the socket\n");
    release_shm();
    refuse_shm(display);
    return nullptr;
  }
  shm.attached = true;
  watch_close(display);
  MESS_print(MESS_DEBUG, "shared memory: segment of %zu bytes attached (protocol %d.%d)\n", size, shm.ext.major_version,
             shm.ext.minor_version);
  return reinterpret_cast<unsigned char *>(shm.segment.address);
}

unsigned char *ConversionBuffer::get_shared(size_t size) {
  if (!try_shared) return nullptr;
  unsigned char *p = shm_buffer(size);
  shared = p != nullptr;
  return p;
}

unsigned char *ConversionBuffer::get(size_t size) {
  unsigned char *p = get_shared(size);
  return p != nullptr ? p : static_cast<unsigned char *>(std::malloc(size));
}

}  // namespace

uint32_t gimg_converted_value(const XImage &xi, const unsigned char *row, int x) {
  bool msb = xi.byte_order == MSBFirst;
  switch (xi.bits_per_pixel) {
    case 32: {
      const unsigned char *p = row + 4 * x;
      return msb ? (p[1] << 16) | (p[2] << 8) | p[3] : (p[2] << 16) | (p[1] << 8) | p[0];
    }
    case 24: return load_value(row + 3 * x, 24, msb);
    case 16: return load_value(row + 2 * x, 16, msb);
    default: return row[x];
  }
}

void gimg_log_ximage(const XImage *xi) { log_ximage(xi); }

int gimg_describe_plain(ImageRecord *img, XImage *xi) {
  ConversionBuffer buffer;
  return describe_image(img, xi, false, &buffer);
}

GimgPrepared::~GimgPrepared() {
  if (!shared_ && img_ != nullptr && xi_.data != nullptr && xi_.data != reinterpret_cast<char *>(img_->data)) {
    std::free(xi_.data);
  }
}

bool GimgPrepared::prepare(ImageRecord *img) {
  img_ = img;
  ConversionBuffer buffer;
  buffer.try_shared = true;
  if (!describe_image(img, &xi_, true, &buffer)) return false;
  shared_ = buffer.shared;
  return true;
}

void GimgPrepared::put(Drawable target, GC gc, int dx, int dy, unsigned w, unsigned h) {
  Display *display = gget_display();
  ShmBuffer &shm = state().shm;
  unsigned long serial = NextRequest(display);
  if (shared_ && gshm_put_image(shm.ext, shm.segment, target, gc, xi_, 0, 0, dx, dy, w, h)) {
    XFlush(display);
    shm.busy = true;
    shm.put_serial = serial;
  } else {
    XPutImage(display, target, gc, &xi_, 0, 0, dx, dy, w, h);
  }
}
