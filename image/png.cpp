#include "image/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "image/gif.h"
#include "util/files.h"
#include "util/mess.h"

namespace {

constexpr png_uint_32 kMaxSide = 65535;
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{8} << 20;
constexpr const char *kSoftware = "ZYB - Ombrolux v5.0";

// libpng reports an error and expects us not to come back: the long jump
// lands in the function that set up the structures.
[[noreturn]] void on_error(png_structp png, png_const_charp text) {
  MESS_print(MESS_WARN, "PNG: %s\n", text);
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp text) { MESS_print(MESS_DEBUG, "PNG warning: %s\n", text); }

// Every block libpng asks for, whatever a chunk header claims: rows and
// inflate state need far less, so a larger request comes from a damaged or
// hostile file and is refused (libpng then reports it and gives up).
constexpr png_alloc_size_t kMaxLibpngBlock = png_alloc_size_t{16} << 20;

png_voidp bounded_malloc(png_structp, png_alloc_size_t size) {
  return size > kMaxLibpngBlock ? nullptr : std::malloc(size);
}

void plain_free(png_structp, png_voidp p) { std::free(p); }

class PngReader {
 public:
  PngReader() {
    png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, nullptr, bounded_malloc,
                                   plain_free);
    if (png == nullptr) return;
    info = png_create_info_struct(png);
    end = png_create_info_struct(png);
  }
  ~PngReader() { png_destroy_read_struct(&png, &info, &end); }
  PngReader(const PngReader &) = delete;
  PngReader &operator=(const PngReader &) = delete;
  bool ok() const { return png != nullptr && info != nullptr && end != nullptr; }

  png_structp png = nullptr;
  png_infop info = nullptr;
  png_infop end = nullptr;
};

class PngWriter {
 public:
  PngWriter() {
    png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning, nullptr, bounded_malloc,
                                    plain_free);
    if (png != nullptr) info = png_create_info_struct(png);
  }
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
  PngWriter(const PngWriter &) = delete;
  PngWriter &operator=(const PngWriter &) = delete;
  bool ok() const { return png != nullptr && info != nullptr; }

  png_structp png = nullptr;
  png_infop info = nullptr;
};

void log_record(const ImageRecord *img) {
  MESS_print(MESS_DEBUG, "type: %s\n", img->info);
  IMG_log_fields(img);
}

bool take_palette(png_structp png, png_infop info, ImageRecord *img) {
  png_colorp palette = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &palette, &count) == 0 || count <= 0) return true;
  MESS_print(MESS_DEBUG, "color table size: %d\n", count);
  if (IMG_alloc_colors(img, count) == nullptr) return false;
  for (int i = 0; i < count; i++) {
    img->colors[i] = {palette[i].red / 255.0f, palette[i].green / 255.0f, palette[i].blue / 255.0f};
  }
  return true;
}

// (R, G, B, A) becomes (R, R, G, B): read most significant byte first, the
// pixel then carries red, green and blue under the masks of an RGB record.
void drop_alpha(ImageRecord *img) {
  for (int y = 0; y < img->height; y++) {
    unsigned char *p = img->data + static_cast<size_t>(y) * img->bytes_per_line;
    for (int x = 0; x < img->width; x++, p += 4) {
      p[3] = p[2];
      p[2] = p[1];
      p[1] = p[0];
    }
  }
}

// Only plain data lives in this frame: libpng may jump out of it.
int read_body(PngReader &r, FILE *f, ImageRecord *img, int query) {
  if (setjmp(png_jmpbuf(r.png))) return 0;
  png_init_io(r.png, f);
  png_set_sig_bytes(r.png, 8);
  png_set_user_limits(r.png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(r.png, kMaxChunkBytes);
  png_read_info(r.png, r.info);

  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = 0, interlace = 0, compression = 0, filter = 0;
  png_get_IHDR(r.png, r.info, &width, &height, &bit_depth, &color_type, &interlace, &compression, &filter);
  MESS_print(MESS_DEBUG, "%d %d %d - %d %d - %d %d\n", static_cast<int>(width), static_cast<int>(height), bit_depth,
             color_type, interlace, compression, filter);

  int passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  size_t row_bytes = png_get_rowbytes(r.png, r.info);

  IMG_set_info(img, "PNG");
  img->width = static_cast<int>(width);
  img->height = static_cast<int>(height);
  img->bytes_per_line = static_cast<int>(row_bytes);
  img->byte_order = 1;
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_PALETTE) {
    img->depth = img->bits_per_pixel = bit_depth;
    // Grey levels are indices without a map.
    img->color_type = 1;
  } else {
    img->depth = 3 * bit_depth;
    img->bits_per_pixel = static_cast<int>(row_bytes / width * 8);
  }
  log_record(img);
  if (query == 1) return 1;

  if (color_type == PNG_COLOR_TYPE_RGB || color_type == PNG_COLOR_TYPE_RGB_ALPHA) {
    img->color_type = 0;
    img->red_mask = 0xFF0000;
    img->green_mask = 0x00FF00;
    img->blue_mask = 0x0000FF;
  } else if (color_type == PNG_COLOR_TYPE_PALETTE) {
    img->color_type = 1;
    if (!take_palette(r.png, r.info, img)) return 0;
  }
  if (IMG_alloc_pixels(img) == nullptr) {
    MESS_print(MESS_WARN, "Unable to allocate data buffer.\n");
    return 0;
  }
  // Every pass of an interlaced file adds its pixels to the rows in place.
  for (int pass = 0; pass < passes; pass++) {
    for (int y = 0; y < img->height; y++) {
      png_read_row(r.png, img->data + static_cast<size_t>(y) * img->bytes_per_line, nullptr);
    }
  }
  if (color_type == PNG_COLOR_TYPE_RGB_ALPHA && bit_depth == 8) drop_alpha(img);
  png_read_end(r.png, r.end);
  return 1;
}

std::string creation_time() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  std::strftime(text, sizeof(text), "%d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

int write_body(PngWriter &w, FILE *f, const ImageRecord *img, const GifPalette &pal, png_bytepp rows, png_textp texts,
               int num_texts) {
  if (setjmp(png_jmpbuf(w.png))) return 0;
  png_init_io(w.png, f);
  png_set_IHDR(w.png, w.info, img->width, img->height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256] = {};
  for (int e = 0; e < pal.num_color; e++) palette[e] = {pal.red[e], pal.grn[e], pal.blu[e]};
  png_set_PLTE(w.png, w.info, palette, 256);
  png_set_text(w.png, w.info, texts, num_texts);
  png_write_info(w.png, w.info);
  png_write_image(w.png, rows);
  png_write_end(w.png, w.info);
  return 1;
}

}  // namespace

int PNG_read(const char *name, ImageRecord *img, int query) {
  ImgStream f(std::fopen(name, "rb"));
  if (!f) return 0;
  unsigned char sig[8];
  if (std::fread(sig, 1, sizeof(sig), f.get()) != sizeof(sig) || png_sig_cmp(sig, 0, sizeof(sig)) != 0) return 0;
  PngReader reader;
  if (!reader.ok()) return 0;
  return read_body(reader, f.get(), img, query);
}

int PNG_write(const char *name, ImageRecord *img) {
  IMG_log_fields(img);
  if (!IMG_check_layout(img)) {
    MESS_print(MESS_WARN, "PNG_write: No pixels to write (%d x %d, %d bits per pixel)\n", img->width, img->height,
               img->bits_per_pixel);
    return 0;
  }
  ImgStream f(FILE_open(name, "wb"));
  if (!f) {
    MESS_print(MESS_WARN, "Unable to open PNG file\n");
    return 0;
  }

  GifPalette pal;
  std::vector<unsigned char> entries(static_cast<size_t>(img->width) * img->height);
  GIF_reduce_palette(img, entries.data(), &pal);
  std::vector<png_bytep> rows(img->height);
  for (int y = 0; y < img->height; y++) rows[y] = &entries[static_cast<size_t>(y) * img->width];

  std::string title_text = img->title;
  std::string software = kSoftware;
  std::string created = creation_time();
  png_text texts[3] = {};
  const std::string *values[3] = {&title_text, &software, &created};
  const char *keys[3] = {"Title", "Software", "Creation Time"};
  for (int i = 0; i < 3; i++) {
    texts[i].compression = PNG_TEXT_COMPRESSION_NONE;
    texts[i].key = const_cast<char *>(keys[i]);
    texts[i].text = const_cast<char *>(values[i]->c_str());
    texts[i].text_length = values[i]->size();
  }

  PngWriter writer;
  if (!writer.ok()) return 0;
  return write_body(writer, f.get(), img, pal, rows.data(), texts, 3);
}
