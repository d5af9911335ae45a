// The image record shared by every image codec, and the file-type dispatcher.
//
// A record is owned by whoever called IMG_init on it. Readers allocate its
// pixel array and colour map through IMG_alloc_pixels / IMG_alloc_colors
// (so that one size limit guards every reader); the owner releases both
// with IMG_free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "util/date.h"

#include "domain/region.h"

constexpr int IMG_DATE_LABEL_SIZE = 52;  // 51 characters and the terminator
constexpr int IMG_INFO_SIZE = 76;        // 75 characters and the terminator
constexpr int IMG_INFO_MAX = IMG_INFO_SIZE - 1;
constexpr int IMG_TITLE_SIZE = 60;  // 59 characters and the terminator

// Codes of the image output type used when a frame is saved.
constexpr int IMG_OUT_GIF = 56;
constexpr int IMG_OUT_XWD = 57;
constexpr int IMG_OUT_PNG = 58;
// GIF too, but saving every frame writes one animated GIF of the loop.
constexpr int IMG_OUT_AGIF = 59;

// Value of `source` for images read from the suite's native files.
constexpr int IMG_SOURCE_NATIVE = 50;

// Largest colour map a reader accepts.
constexpr int IMG_MAX_COLORS = 65536;

struct ImageColor {
  float red, green, blue;  // 0.0 .. 1.0
};

struct ImageRecord {
  int source;
  int type;
  int version;
  char date_label[IMG_DATE_LABEL_SIZE];
  DateRecord date;
  char info[IMG_INFO_SIZE];
  int width, height;
  int depth;  // before a read: the greatest depth the reader may deliver
  float res_x, res_y;
  float off_x, off_y;
  int bits_per_pixel;
  int bytes_per_line;
  int byte_order;  // 1 most significant byte first, 0 least significant first
  int color_type;  // 0 true colour (masks apply), 1 colour-mapped
  int num_colors;
  uint32_t red_mask, green_mask, blue_mask;
  ImageColor *colors;          // num_colors entries, owned
  int trans_index;             // -1 none
  long back_pixel;             // pixel value of the window's background in a grab; -1 unknown
  char title[IMG_TITLE_SIZE];  // title of the window a grab came from
  DomainRecord domain;
  unsigned char *data;  // height rows of bytes_per_line bytes, owned
};

int IMG_init(ImageRecord *img);
int IMG_free(ImageRecord *img);

// The greatest depth readers may deliver (the window's); before a window
// exists, 0: a query then accepts any depth. Returns the previous value.
int IMG_set_read_depth(int depth);

// Recognises the file type and reads it; query 1 asks for the header only.
// 1 success, 0 failure (the record is then freed).
int IMG_read(const char *name, ImageRecord *img, int query);

// Reads one of the suite's native files ("ZYBIMG" and option letters,
// a date label line, a description line, a size or domain, then one index
// byte per pixel: raw, zlib-deflated, or in a data file named after the
// header). 1 success; -1 when the file or its data file cannot be opened
// or the magic or header is wrong; 0 when the pixels cannot be allocated.
// The record has depth 8, one byte per pixel and no colour map.
int IMG_read_zyb(const char *name, ImageRecord *img, int query);

// While on, a native file's "*" data file must be a plain file (no pipe,
// standard stream or special file): set while a client's command runs.
// Returns the previous setting.
int IMG_set_untrusted(int on);
int IMG_get_untrusted();

// The wait between the ten tries for a deflated file that another process
// is still writing (1 second). Returns the previous wait.
float IMG_set_native_wait(float seconds);

// Allocates height x bytes_per_line zeroed bytes as the record's pixels,
// refusing sizes that overflow or exceed IMG_get_max_bytes (with a
// message). Returns the array, or nullptr.
unsigned char *IMG_alloc_pixels(ImageRecord *img);
// Allocates a zeroed colour map of count entries (1 .. IMG_MAX_COLORS) and
// sets num_colors. Returns the map, or nullptr.
ImageColor *IMG_alloc_colors(ImageRecord *img, int count);

// Limit of one pixel array in bytes (256 MiB unless changed); tests and
// fuzzers lower it. Returns the previous limit.
size_t IMG_set_max_bytes(size_t bytes);
size_t IMG_get_max_bytes();

// 1 when the record holds pixels whose rows are long enough for width
// pixels of bits_per_pixel bits, else 0.
int IMG_check_layout(const ImageRecord *img);

// The record's size and layout at the debug class.
void IMG_log_fields(const ImageRecord *img);

// Copies text into the record's info (at most 75 characters).
void IMG_set_info(ImageRecord *img, const char *text);

// Closes a stream from FILE_open or fopen when it goes out of scope.
class ImgStream {
 public:
  explicit ImgStream(FILE *stream) : f_(stream) {}
  ~ImgStream();
  ImgStream(const ImgStream &) = delete;
  ImgStream &operator=(const ImgStream &) = delete;
  FILE *get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }

 private:
  FILE *f_;
};

// Reads the rest of a stream into out, at most max bytes. Returns 1 when
// the stream ended within the limit, 0 when it holds more.
int IMG_slurp(FILE *stream, std::vector<unsigned char> *out, size_t max);
