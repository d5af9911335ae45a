#include "image/img_tool.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/gif.h"
#include "image/png.h"
#include "image/xdump.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

struct ImgToolState {
  int read_depth = 0;  // the window's depth once there is one
  // A full window grab of a large screen is a few tens of MiB; anything
  // near this limit is a damaged or hostile header.
  size_t max_bytes = size_t{256} << 20;
};

ImgToolState &state() {
  static ImgToolState s;
  return s;
}

constexpr size_t kMagicBytes = 6;

// The suite's native files need their own reader, which is not part of
// this program yet.
int read_native_unavailable(const char *name, ImageRecord *, int) {
  MESS_print(MESS_WARN, "IMG_read: Native ZYB image files cannot be read: %s\n", name);
  return 0;
}

using Reader = int (*)(const char *name, ImageRecord *img, int query);

struct MagicRow {
  size_t offset;
  const char *magic;
  Reader reader;
};

// Recognised by the first bytes; anything else is taken for an X window dump.
const MagicRow kMagicTable[] = {
    {0, "GIF", GIF_read},
    {1, "PNG", PNG_read},
    {0, "ZYB", read_native_unavailable},
};

Reader reader_for(const unsigned char *magic) {
  for (const MagicRow &row : kMagicTable) {
    if (std::memcmp(magic + row.offset, row.magic, std::strlen(row.magic)) == 0) return row.reader;
  }
  return XWD_read;
}

// Reads the bytes that decide the file type; a leading "** " line is a
// comment some tools put before the image and is stepped over.
void read_magic(FILE *f, unsigned char magic[kMagicBytes]) {
  std::memset(magic, 0, kMagicBytes);
  size_t got = std::fread(magic, 1, kMagicBytes, f);
  if (got < 3 || std::memcmp(magic, "** ", 3) != 0) return;
  const void *newline = std::memchr(magic, '\n', got);
  if (newline == nullptr) {
    int c;
    while ((c = std::getc(f)) != EOF && c != '\n') {
    }
    std::memset(magic, 0, kMagicBytes);
    (void)std::fread(magic, 1, kMagicBytes, f);
    return;
  }
  // The comment line ended inside the bytes already read.
  size_t used = static_cast<const unsigned char *>(newline) - magic + 1;
  size_t kept = got - used;
  std::memmove(magic, magic + used, kept);
  std::memset(magic + kept, 0, kMagicBytes - kept);
  (void)std::fread(magic + kept, 1, kMagicBytes - kept, f);
}

}  // namespace

ImgStream::~ImgStream() {
  if (f_ != nullptr) FILE_close(f_);
}

int IMG_init(ImageRecord *img) {
  std::memset(img, 0, sizeof(*img));
  img->byte_order = 1;
  img->trans_index = -1;
  img->back_pixel = -1;
  DATE_init(&img->date);
  DOM_init(&img->domain);
  return 0;
}

int IMG_free(ImageRecord *img) {
  std::free(img->data);
  std::free(img->colors);
  img->data = nullptr;
  img->colors = nullptr;
  img->num_colors = 0;
  return 0;
}

size_t IMG_set_max_bytes(size_t bytes) {
  size_t old = state().max_bytes;
  state().max_bytes = bytes;
  return old;
}

size_t IMG_get_max_bytes() { return state().max_bytes; }

int IMG_set_read_depth(int depth) {
  int old = state().read_depth;
  state().read_depth = depth;
  return old;
}

unsigned char *IMG_alloc_pixels(ImageRecord *img) {
  if (img->width <= 0 || img->height <= 0 || img->bytes_per_line <= 0) {
    MESS_print(MESS_WARN, "Image has no pixels: %d x %d, %d bytes per line\n", img->width, img->height,
               img->bytes_per_line);
    return nullptr;
  }
  size_t size = static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(img->height);
  if (size > state().max_bytes) {
    MESS_print(MESS_WARN, "Image too large: %d x %d, %zu bytes\n", img->width, img->height, size);
    return nullptr;
  }
  std::free(img->data);
  img->data = static_cast<unsigned char *>(std::calloc(size, 1));
  return img->data;
}

ImageColor *IMG_alloc_colors(ImageRecord *img, int count) {
  if (count <= 0 || count > IMG_MAX_COLORS) {
    MESS_print(MESS_WARN, "Invalid number of colors: %d\n", count);
    return nullptr;
  }
  std::free(img->colors);
  img->colors = static_cast<ImageColor *>(std::calloc(static_cast<size_t>(count), sizeof(ImageColor)));
  img->num_colors = img->colors != nullptr ? count : 0;
  return img->colors;
}

int IMG_check_layout(const ImageRecord *img) {
  if (img->data == nullptr || img->width <= 0 || img->height <= 0) return 0;
  if (img->bits_per_pixel <= 0 || img->bits_per_pixel > 32) return 0;
  long long row_bits = static_cast<long long>(img->width) * img->bits_per_pixel;
  return static_cast<long long>(img->bytes_per_line) * 8 >= row_bits ? 1 : 0;
}

void IMG_log_fields(const ImageRecord *img) {
  MESS_print(MESS_DEBUG, "width: %d\n", img->width);
  MESS_print(MESS_DEBUG, "height: %d\n", img->height);
  MESS_print(MESS_DEBUG, "depth: %d\n", img->depth);
  MESS_print(MESS_DEBUG, "bits_pixel: %d\n", img->bits_per_pixel);
  MESS_print(MESS_DEBUG, "byte_order: %d\n", img->byte_order);
  MESS_print(MESS_DEBUG, "bytes_per_line: %d\n", img->bytes_per_line);
}

void IMG_set_info(ImageRecord *img, const char *text) { copy_limited_to(img->info, text, IMG_INFO_MAX); }

int IMG_slurp(FILE *stream, std::vector<unsigned char> *out, size_t max) {
  out->clear();
  unsigned char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), stream)) > 0) {
    if (out->size() + got > max) {
      out->insert(out->end(), chunk, chunk + (max - out->size()));
      return 0;
    }
    out->insert(out->end(), chunk, chunk + got);
  }
  return 1;
}

int IMG_read(const char *name, ImageRecord *img, int query) {
  unsigned char magic[kMagicBytes];
  {
    ImgStream f(FILE_open(name, "r"));
    if (!f) {
      MESS_print(MESS_WARN, "IMG_read: Unable to open image file: %s\n", name);
      return 0;
    }
    IMG_init(img);
    img->depth = state().read_depth;
    if (img->depth == 0 && query == 1) img->depth = 32;
    read_magic(f.get(), magic);
  }
  if (reader_for(magic)(name, img, query) <= 0) {
    IMG_free(img);
    return 0;
  }
  return 1;
}
