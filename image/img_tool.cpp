#include "image/img_tool.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "image/gif.h"
#include "image/png.h"
#include "image/xdump.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/string.h"
#include "util/system.h"
#include "util/tools.h"

namespace {

struct ImgToolState {
  int read_depth = 0;  // the window's depth once there is one
  // A full window grab of a large screen is a few tens of MiB; anything
  // near this limit is a damaged or hostile header.
  size_t max_bytes = size_t{256} << 20;
  int untrusted = 0;
  float native_wait = 1.0f;
};

ImgToolState &state() {
  static ImgToolState s;
  return s;
}

constexpr size_t kMagicBytes = 6;

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
    {0, "ZYB", IMG_read_zyb},
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

// ---- Native files --------------------------------------------------------------

namespace {

constexpr size_t kNativeChunk = 10000;  // bytes read from the file at a time
constexpr int kNativeTries = 10;        // waits for a file still being written
constexpr size_t kVBlock = 1024;

struct NativeOptions {
  bool domain_form = false;  // "4": the size line is a domain text
  bool deflated = false;     // "Z"
  bool data_file = false;    // "*"
  bool v_block = false;      // "V"
  bool c_block = false;      // "C"
};

NativeOptions options_of(const char *magic_line) {
  NativeOptions o;
  for (const char *c = magic_line + 6; *c; c++) {
    switch (*c) {
      case '4': o.domain_form = true; break;
      case 'Z': o.deflated = true; break;
      case '*': o.data_file = true; break;
      case 'V': o.v_block = true; break;
      case 'C': o.c_block = true; break;
      default: break;  // letters of other versions of the format
    }
  }
  return o;
}

// Numbers separated by blanks, read in turn from *text.
bool next_float(const char **text, float *out) {
  char *end = nullptr;
  errno = 0;
  double v = std::strtod(*text, &end);
  if (end == *text || errno == ERANGE || !std::isfinite(v) || std::fabs(v) > 1e30) return false;
  *out = static_cast<float>(v);
  *text = end;
  return true;
}

bool next_int(const char **text, int *out) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(*text, &end, 10);
  if (end == *text || errno == ERANGE || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return false;
  *out = static_cast<int>(v);
  *text = end;
  return true;
}

bool only_blanks(const char *text) { return text[std::strspn(text, " \t\r")] == '\0'; }

// "%d %d": the image size.
bool read_plain_size(const char *line, ImageRecord *img) {
  const char *p = line;
  int w = 0, h = 0;
  if (!next_int(&p, &w) || !next_int(&p, &h) || !only_blanks(p)) return false;
  img->width = img->domain.nx = w;
  img->height = img->domain.ny = h;
  return true;
}

struct NativeProj {
  const char *name;
  int proj;
  // Parameters after the name for each count that the name may carry.
  std::vector<std::vector<float DomainRecord::*>> forms;
};

const NativeProj kNativeProjs[] = {
    {"LL", 2, {{}}},
    {"ME", 3, {{}}},
    {"PS", 1, {{}, {&DomainRecord::plon}}},
    {"LC",
     4,
     {{&DomainRecord::plon},
      {&DomainRecord::plat, &DomainRecord::plon, &DomainRecord::p1, &DomainRecord::p2, &DomainRecord::p3}}},
    {"SAT", 9, {{&DomainRecord::plat, &DomainRecord::plon, &DomainRecord::p1}}},
};

// "PS:-100" and the like: projection and parameters into the domain.
bool read_proj_token(const std::string &token, DomainRecord *d) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t colon = token.find(':', start);
    parts.push_back(token.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const NativeProj &np : kNativeProjs) {
    if (parts[0] != np.name) continue;
    for (const auto &form : np.forms) {
      if (form.size() != parts.size() - 1) continue;
      d->proj = np.proj;
      for (size_t i = 0; i < form.size(); i++) {
        const char *p = parts[i + 1].c_str();
        if (!next_float(&p, &(d->*form[i])) || !only_blanks(p)) return false;
      }
      return true;
    }
  }
  return false;
}

// A projection token, then clat clon dx dy nx ny on the same line or the next.
bool read_proj_size(FILE *f, const char *line, ImageRecord *img) {
  size_t token_end = std::strcspn(line, " \t");
  if (!read_proj_token(std::string(line, token_end), &img->domain)) return false;
  char next[TOOLS_LINE_MAX + 1];
  const char *p = line + token_end;
  if (only_blanks(p)) {
    if (fgetline(f, next) == EOF) return false;
    p = next;
  }
  DomainRecord &d = img->domain;
  if (!next_float(&p, &d.clat) || !next_float(&p, &d.clon) || !next_float(&p, &d.dx) || !next_float(&p, &d.dy) ||
      !next_int(&p, &d.nx) || !next_int(&p, &d.ny) || !only_blanks(p))
    return false;
  img->width = d.nx;
  img->height = d.ny;
  return true;
}

bool read_size_or_domain(FILE *f, const NativeOptions &o, ImageRecord *img) {
  char line[TOOLS_LINE_MAX + 1];
  if (fgetline(f, line) == EOF) return false;
  bool ok;
  if (o.domain_form) {
    ok = DOM_decode(line, &img->domain) > 0;
    img->width = img->domain.nx;
    img->height = img->domain.ny;
  } else {
    ok = read_plain_size(line, img) || read_proj_size(f, line, img);
  }
  (void)std::getc(f);  // the line feed before the pixels
  return ok && img->width > 0 && img->height > 0;
}

bool skip_bytes(FILE *f, size_t count) {
  unsigned char buf[kVBlock];
  while (count > 0) {
    size_t want = count < sizeof buf ? count : sizeof buf;
    if (std::fread(buf, 1, want, f) != want) return false;
    count -= want;
  }
  return true;
}

// Two bytes, then two whose second, as a signed number n, gives 2 n bytes more.
bool skip_c_block(FILE *f) {
  unsigned char head[4];
  if (std::fread(head, 1, sizeof head, f) != sizeof head) return false;
  int n = static_cast<signed char>(head[3]);
  return n <= 0 || skip_bytes(f, 2 * static_cast<size_t>(n));
}

// Owns an inflate stream while it is open.
struct Inflater {
  z_stream z{};
  bool open = false;
  bool start() {
    z.zalloc = Z_NULL;
    z.zfree = Z_NULL;
    z.opaque = Z_NULL;
    open = inflateInit(&z) == Z_OK;
    return open;
  }
  void end() {
    if (open) inflateEnd(&z);
    open = false;
  }
  ~Inflater() { end(); }
};

// Inflates one or more concatenated streams into the pixels. Output past
// the image is cut; a damaged stream keeps what was inflated before it; a
// file that ends early is read again after a wait, ten times, since the
// suite's writers may still be writing it.
void inflate_pixels(FILE *f, unsigned char *pixels, size_t expected, float wait) {
  std::vector<unsigned char> in(kNativeChunk);
  Inflater inf;
  z_stream &z = inf.z;
  size_t produced = 0;
  int waits = 0;
  while (produced < expected) {
    size_t got = std::fread(in.data(), 1, in.size(), f);
    if (got == 0) {
      if (waits++ >= kNativeTries) return;
      ZYB_sleep(wait);
      std::clearerr(f);
      continue;
    }
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(got);
    while (z.avail_in > 0 && produced < expected) {
      if (!inf.open && !inf.start()) return;
      z.next_out = pixels + produced;
      z.avail_out = static_cast<uInt>(std::min<size_t>(expected - produced, std::numeric_limits<uInt>::max()));
      int rc = inflate(&z, Z_PARTIAL_FLUSH);
      produced = static_cast<size_t>(z.next_out - pixels);
      MESS_print(MESS_DEBUG, "Inflate+ %d = %d %d = %d %d - %d %d\n", rc, static_cast<int>(z.avail_in),
                 static_cast<int>(z.total_in), static_cast<int>(z.avail_out), static_cast<int>(z.total_out),
                 static_cast<int>(produced), static_cast<int>(expected));
      if (rc == Z_STREAM_END)
        inf.end();
      else if (rc < 0)
        return;
    }
  }
}

// The "*" form: the raw pixels are in a file named after the header.
int read_data_file(FILE *header, ImageRecord *img, size_t size) {
  char name[FILE_NAME_SIZE];
  if (std::fscanf(header, "%160s", name) != 1) {
    MESS_print(MESS_WARN, "IMG_read_zyb: No image data file named\n");
    return -1;
  }
  if (state().untrusted && !FILE_is_safe_input(name)) {
    MESS_print(MESS_WARN, "IMG_read_zyb: Image data file refused, not a plain file: %s\n", name);
    return -1;
  }
  ImgStream data(FILE_open(name, "r"));
  if (!data) {
    MESS_print(MESS_WARN, "Unable to open: %s\n", name);
    return -1;
  }
  (void)std::fread(img->data, 1, size, data.get());
  return 1;
}

}  // namespace

int IMG_set_untrusted(int on) {
  int old = state().untrusted;
  state().untrusted = on != 0;
  return old;
}

int IMG_get_untrusted() { return state().untrusted; }

float IMG_set_native_wait(float seconds) {
  float old = state().native_wait;
  state().native_wait = seconds;
  return old;
}

int IMG_read_zyb(const char *name, ImageRecord *img, int) {
  ImgStream f(FILE_open(name, "r"));
  if (!f) {
    MESS_print(MESS_WARN, "Unable to open: %s\n", name);
    return -1;
  }
  char line[TOOLS_LINE_MAX + 1];
  if (fgetline(f.get(), line) == EOF || std::strncmp(line, "ZYBIMG", 6) != 0) {
    MESS_print(MESS_WARN, "IMG_read_zyb: Invalid image type\n");
    return -1;
  }
  NativeOptions o = options_of(line);
  IMG_init(img);
  img->source = IMG_SOURCE_NATIVE;
  if (fgetline(f.get(), line) == EOF) line[0] = '\0';
  copy_limited_to(img->date_label, line, IMG_DATE_LABEL_SIZE - 1);
  DATE_decode_label(img->date_label, &img->date);
  if (fgetline(f.get(), line) == EOF) line[0] = '\0';
  IMG_set_info(img, line);
  if (!read_size_or_domain(f.get(), o, img)) {
    MESS_print(MESS_WARN, "IMG_read_zyb: Invalid image size or domain: %s\n", name);
    return -1;
  }
  img->depth = img->bits_per_pixel = 8;
  img->bytes_per_line = img->width;
  img->color_type = 1;  // the bytes index the colour table
  if ((o.v_block && !skip_bytes(f.get(), kVBlock)) || (o.c_block && !skip_c_block(f.get()))) {
    MESS_print(MESS_WARN, "IMG_read_zyb: Image header ends early: %s\n", name);
    return -1;
  }
  if (IMG_alloc_pixels(img) == nullptr) return 0;
  const size_t size = static_cast<size_t>(img->bytes_per_line) * static_cast<size_t>(img->height);
  if (o.data_file) return read_data_file(f.get(), img, size);
  if (o.deflated) {
    inflate_pixels(f.get(), img->data, size, state().native_wait);
  } else {
    (void)std::fread(img->data, 1, size, f.get());
  }
  return 1;
}
