// Playing text metafiles back: from a file (gread_metafile) and record by
// record as a client streams them (GmetaStream). Fields are read the way
// scanf reads "%9s", "%d" and "%f,%f": blanks and line ends between fields
// are skipped, a field that does not convert stops the record there, and
// reading goes on with the next word.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gks/gks_line.h"
#include "gks/gks_meta.h"
#include "gks/gks_meta_records.h"
#include "gks/gks_obj.h"
#include "gks/gks_text.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

constexpr size_t kBlock = 64 * 1024;
constexpr size_t kLookahead = 256;    // the longest number a field may hold
constexpr int kReportMax = 10;        // bad records reported one by one per file
constexpr size_t kMinPointBytes = 4;  // "0,0 "
// Room taken at once for a point list; more only as points arrive.
constexpr size_t kReserveMax = 4096;

// What "%f" writes, [-]digits[.digits], read fast: with at most 15 digits
// in all and 8 after the point, the digits and the power of ten are exact
// doubles, their quotient is rounded once, and it lies too far from any
// halfway point between floats for the second rounding to err. So the
// float is the nearest one, as from_chars would give. nullptr for any
// other form (exponents, more digits), which from_chars reads instead.
const char *plain_decimal(const char *p, const char *end, float *value) {
  constexpr double kPow10[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  uint64_t digits = 0;
  int count = 0, fraction = -1;
  for (; p < end; ++p) {
    if (*p >= '0' && *p <= '9') {
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
      ++count;
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      break;
    }
  }
  const int places = fraction < 0 ? 0 : fraction;
  if (count == 0 || count > 15 || places > 8 || (p < end && (*p == 'e' || *p == 'E'))) return nullptr;
  const double v = static_cast<double>(digits) / kPow10[places];
  *value = static_cast<float>(negative ? -v : v);
  return p;
}

}  // namespace

// Bytes of a metafile, read from a file in blocks or taken from one record.
class GmetaScanner {
 public:
  explicit GmetaScanner(FILE *file) : file_(file), buf_(kBlock + kLookahead) {
    struct stat st {};
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
  }
  explicit GmetaScanner(const char *text) : buf_(text, text + std::strlen(text)), end_(buf_.size()), eof_(true) {
    size_ = static_cast<long>(end_);
  }

  // -1 at the end.
  int peek() {
    if (pos_ == end_ && !fill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  void skip_space() {
    for (int c; (c = peek()) >= 0 && std::isspace(c);) ++pos_;
  }
  // "%Ns": false at the end.
  bool word(char *out, size_t max) {
    skip_space();
    size_t n = 0;
    for (int c; n < max && (c = peek()) >= 0 && !std::isspace(c); ++pos_) out[n++] = static_cast<char>(c);
    out[n] = '\0';
    return n > 0;
  }
  bool integer(int *value) {
    skip_space();
    ahead();
    const char *p = buf_.data() + pos_, *end = buf_.data() + end_;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    unsigned long long v = 0;
    const auto r = std::from_chars(p, end, v);
    if (r.ec != std::errc() || v > 2147483647ULL + negative) return false;
    *value = static_cast<int>(negative ? -static_cast<long long>(v) : static_cast<long long>(v));
    pos_ = static_cast<size_t>(r.ptr - buf_.data());
    return true;
  }
  // Finite numbers only: "inf" and "nan" mean nothing on a plot.
  bool number(float *value) {
    skip_space();
    ahead();
    const char *p = buf_.data() + pos_, *end = buf_.data() + end_;
    if (p + 1 < end && *p == '+' && p[1] != '-') ++p;
    float v = 0;
    const char *after = plain_decimal(p, end, &v);
    if (!after) {
      const auto r = std::from_chars(p, end, v);
      if (r.ec != std::errc()) return false;
      after = r.ptr;
    }
    if (!std::isfinite(v)) return false;
    *value = v;
    pos_ = static_cast<size_t>(after - buf_.data());
    return true;
  }
  // A character of the format: matched where it stands.
  bool literal(char c) {
    if (peek() != static_cast<unsigned char>(c)) return false;
    ++pos_;
    return true;
  }
  bool pair(float *x, float *y) { return number(x) && literal(',') && number(y); }
  void skip_line() {
    while (peek() >= 0) {
      const char *newline = static_cast<const char *>(std::memchr(buf_.data() + pos_, '\n', end_ - pos_));
      if (newline) {
        pos_ = static_cast<size_t>(newline - buf_.data()) + 1;
        return;
      }
      pos_ = end_;
    }
  }
  // The rest of the line after blanks, at most max characters; the line is used up.
  std::string rest_of_line(size_t max) {
    for (int c; (c = peek()) == ' ' || c == '\t';) ++pos_;
    std::string text;
    for (int c; text.size() < max && (c = peek()) >= 0 && c != '\n'; ++pos_) text += static_cast<char>(c);
    skip_line();
    return text;
  }
  // Bytes not read yet; -1 when unknown.
  long remaining() const { return size_ < 0 ? -1 : std::max(0L, size_ - offset_ - static_cast<long>(pos_)); }

 private:
  // Keeps kLookahead bytes ahead of pos_ while the file has them.
  void ahead() {
    if (end_ - pos_ < kLookahead) fill();
  }
  // Moves what is left to the front and reads on; false when nothing is left.
  bool fill() {
    if (eof_ || !file_) return pos_ < end_;
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    offset_ += static_cast<long>(pos_);
    end_ -= pos_;
    pos_ = 0;
    while (end_ < buf_.size() && !eof_) {
      const size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, file_);
      end_ += n;
      if (n == 0) eof_ = true;
    }
    return pos_ < end_;
  }

  FILE *file_ = nullptr;
  std::vector<char> buf_;
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  long offset_ = 0;  // of buf_[0] in the file
  long size_ = -1;
};

namespace {

using Scanner = GmetaScanner;

const char *primitive_keyword(int code) {
  switch (code) {
    case GOBJ_POLYLINE: return "PL";
    case GOBJ_FILL_AREA: return "FA";
    default: return "PM";
  }
}

// A point count the primitive may have; else a message and false.
bool usable_count(const char *origin, int code, int count) {
  if (count >= 1 && count <= GKS_POINTS_MAX) return true;
  MESS_print(MESS_WARN, "%s: %s record with a count of %d points refused\n", origin, primitive_keyword(code), count);
  return false;
}

// ---------------------------------------------------------------- files

class FileReader {
 public:
  FileReader(Scanner &in, const char *path) : in_(in), path_(path) {}
  void run();
  int bad() const { return bad_; }

 private:
  void report(const char *format, ...) __attribute__((format(printf, 2, 3)));
  bool points(int code);
  bool rect(int code);
  bool select(int);
  bool text(int);
  bool colour(int);
  bool ws_window(int);
  bool attribute(const GmetaAttribute &a);

  struct Row {
    const char *keyword;
    bool (FileReader::*read)(int code);
    int code;
  };
  static const Row kRows[];

  Scanner &in_;
  const char *path_;
  int bad_ = 0;
  std::vector<float> pts_;  // kept from record to record: no allocation for each
};

const FileReader::Row FileReader::kRows[] = {
    {"PL", &FileReader::points, GOBJ_POLYLINE},
    {"PM", &FileReader::points, GOBJ_POLYMARKER},
    {"FA", &FileReader::points, GOBJ_FILL_AREA},
    {"TE", &FileReader::text, GOBJ_TEXT},
    {"WIN", &FileReader::rect, GOBJ_WIN},
    {"VP", &FileReader::rect, GOBJ_VP},
    {"TR", &FileReader::select, GOBJ_SEL_TRAN},
    {"CLR", &FileReader::colour, GOBJ_COLR_REP},
    {"WS_WIN", &FileReader::ws_window, GOBJ_WS_WIN},
};

void FileReader::report(const char *format, ...) {
  if (++bad_ > kReportMax) return;
  std::string line = std::string("gread_metafile: ") + path_ + ": " + format;
  va_list args;
  va_start(args, format);
  MESS_vprint(MESS_WARN, line.c_str(), args);
  va_end(args);
}

void FileReader::run() {
  in_.skip_line();  // the header's first line
  char keyword[GMETA_WORD_MAX + 1];
  while (in_.word(keyword, GMETA_WORD_MAX)) {
    const Row *row = std::find_if(std::begin(kRows), std::end(kRows),
                                  [&](const Row &r) { return std::strcmp(r.keyword, keyword) == 0; });
    bool ok = true;
    if (row != std::end(kRows))
      ok = (this->*row->read)(row->code);
    else if (const GmetaAttribute *a = gmeta_attribute_of_keyword(keyword))
      ok = attribute(*a);
    else
      in_.skip_line();  // comments, other headers, records read back as nothing
    if (!ok) report("bad %s record\n", keyword);
  }
}

// A count, then that many points. A list that ends early is drawn not at
// all, and the word that ended it is read as the next record.
bool FileReader::points(int code) {
  int count = 0;
  if (!in_.integer(&count)) return false;
  if (!usable_count("gread_metafile", code, count)) {
    in_.skip_line();
    return true;
  }
  // Every point takes at least "0,0 ": a count beyond that is refused
  // before any room is taken for it.
  const long room = in_.remaining();
  if (room >= 0 && static_cast<unsigned long>(count) > static_cast<unsigned long>(room) / kMinPointBytes + 1) {
    report("%s record of %d points is longer than the rest of the file\n", primitive_keyword(code), count);
    in_.skip_line();
    return true;
  }
  pts_.clear();
  pts_.reserve(2 * std::min<size_t>(static_cast<size_t>(count), kReserveMax));
  for (int i = 0; i < count; ++i) {
    float x = 0, y = 0;
    if (!in_.pair(&x, &y)) {
      report("%s record ends after %d of %d points\n", primitive_keyword(code), i, count);
      return true;
    }
    pts_.push_back(x);
    pts_.push_back(y);
  }
  gobj_redraw_funcs(code, count, pts_.data());
  return true;
}

// "n xmin ymin xmax ymax"; the kernel takes xmin, xmax, ymin, ymax.
bool FileReader::rect(int code) {
  int n = 0;
  float v[4];
  if (!in_.integer(&n) || !in_.number(&v[0]) || !in_.number(&v[1]) || !in_.number(&v[2]) || !in_.number(&v[3]))
    return false;
  const float r[4] = {v[0], v[2], v[1], v[3]};
  gobj_redraw_funcs(code, n, r);
  return true;
}

bool FileReader::select(int code) {
  int n = 0;
  if (!in_.integer(&n)) return false;
  gobj_redraw_funcs(code, n, nullptr);
  return true;
}

bool FileReader::text(int) {
  float pos[2];
  if (!in_.pair(&pos[0], &pos[1])) return false;
  const std::string text = in_.rest_of_line(GMETA_TEXT_MAX);
  gtext(pos, text.c_str());
  return true;
}

// "ws index r g b": the colour is set on workstation 1 whatever was written.
bool FileReader::colour(int code) {
  int ws = 0, index = 0;
  float rgb[3];
  if (!in_.integer(&ws) || !in_.integer(&index) || !in_.number(&rgb[0]) || !in_.number(&rgb[1]) || !in_.number(&rgb[2]))
    return false;
  gobj_redraw_funcs(code, index, rgb);
  return true;
}

// Read and ignored: the workstation window belongs to whoever plays the file.
bool FileReader::ws_window(int) {
  int ws = 0;
  if (!in_.integer(&ws)) return false;
  char skipped[GMETA_WORD_MAX + 1];
  for (int i = 0; i < 4; ++i) in_.word(skipped, GMETA_WORD_MAX);
  return true;
}

bool FileReader::attribute(const GmetaAttribute &a) {
  int i[2] = {0, 0};
  float f[2] = {0, 0};
  switch (a.field) {
    case GmetaField::Int:
      if (!in_.integer(&i[0])) return false;
      gobj_redraw_funcs(a.code, i[0], nullptr);
      return true;
    case GmetaField::Float:
      if (!in_.number(&f[0])) return false;
      break;
    case GmetaField::FloatPair:
      if (!in_.pair(&f[0], &f[1])) return false;
      break;
    case GmetaField::IntPair:
      if (!in_.integer(&i[0]) || !in_.integer(&i[1])) return false;
      gobj_redraw_funcs(a.code, 1, i);
      return true;
  }
  gobj_redraw_funcs(a.code, 1, f);
  return true;
}

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};

// ---------------------------------------------------------------- streams

struct StreamRect {
  const char *keyword;
  int code;
};
const StreamRect kStreamRects[] = {{"VP", GOBJ_VP}, {"WIN", GOBJ_WIN}};

}  // namespace

int gread_metafile(const char *path) {
  std::unique_ptr<FILE, FileCloser> file(path ? std::fopen(path, "r") : nullptr);
  struct stat st {};
  if (file && fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode)) file.reset();  // opens, but reads nothing
  if (!file) {
    MESS_print(MESS_WARN, "gread_metafile: Unable to open image file: %s\n", path ? path : "");
    return 0;
  }
  Scanner in(file.get());
  FileReader reader(in, path);
  reader.run();
  if (reader.bad() > kReportMax) MESS_print(MESS_WARN, "gread_metafile: %s: %d bad records\n", path, reader.bad());
  return 0;
}

bool GmetaStream::continues(const char *record) const {
  Scanner in(record ? record : "");
  float x = 0, y = 0;
  return in.pair(&x, &y);
}

void GmetaStream::abandon() {
  if (!pending()) return;
  MESS_print(MESS_WARN, "gread_metafile: streamed %s record ends after %d of %d points\n", primitive_keyword(code_),
             static_cast<int>(points_.size() / 2), count_);
  code_ = 0;
  points_.clear();
}

GmetaStream::Result GmetaStream::feed(const char *record) {
  if (!record) record = "";
  if (!pending()) return start(record);
  if (continues(record)) {
    Scanner in(record);
    return take_points(in);
  }
  abandon();
  return start(record);
}

GmetaStream::Result GmetaStream::start(const char *record) {
  Scanner in(record);
  char keyword[GMETA_WORD_MAX + 1];
  if (!in.word(keyword, GMETA_WORD_MAX)) return kDone;
  int n = 0;
  if (stricmp(keyword, "end") == 0) return kEnd;
  if (std::strcmp(keyword, "TR") == 0) {
    if (in.integer(&n)) gobj_redraw_funcs(GOBJ_SEL_TRAN, n, nullptr);
    return kDone;
  }
  for (const StreamRect &r : kStreamRects) {
    if (std::strcmp(keyword, r.keyword) != 0) continue;
    float v[4];
    if (in.integer(&n) && in.number(&v[0]) && in.number(&v[1]) && in.number(&v[2]) && in.number(&v[3])) {
      const float rect[4] = {v[0], v[2], v[1], v[3]};
      gobj_redraw_funcs(r.code, n, rect);
    } else {
      MESS_print(MESS_WARN, "gread_metafile: bad streamed %s record\n", keyword);
    }
    return kDone;
  }
  const int code = std::strcmp(keyword, "PL") == 0   ? GOBJ_POLYLINE
                   : std::strcmp(keyword, "FA") == 0 ? GOBJ_FILL_AREA
                                                     : 0;
  if (!code || !in.integer(&n) || !usable_count("gread_metafile", code, n)) return kDone;
  code_ = code;
  count_ = n;
  points_.clear();
  points_.reserve(2 * std::min<size_t>(static_cast<size_t>(n), kReserveMax));
  return take_points(in);  // the points may begin in this record
}

GmetaStream::Result GmetaStream::take_points(Scanner &in) {
  float x = 0, y = 0;
  while (static_cast<int>(points_.size() / 2) < count_ && in.pair(&x, &y)) {
    points_.push_back(x);
    points_.push_back(y);
  }
  if (static_cast<int>(points_.size() / 2) < count_) return kMorePoints;
  gobj_redraw_funcs(code_, count_, points_.data());
  code_ = 0;
  points_.clear();
  return kDone;
}
