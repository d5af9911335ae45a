// The metafile workstation: the output file, its header, the text records
// of every kernel call, the binary CGM elements, and the row of the driver
// table that the kernel's calls reach while a metafile is the workstation.
#include "gks/gks_meta.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "gks/gks_colr.h"
#include "gks/gks_driver.h"
#include "gks/gks_meta_records.h"
#include "gks/gks_obj.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

// A metafile workstation's page, in device units.
constexpr int kPageWidth = 1000, kPageHeight = 800;
constexpr const char *kTextDefault = "zyb.meta";
constexpr const char *kCgmDefault = "zyb.cgm";

// CGM element classes and ids.
struct CgmElement {
  int cls, id;
};
constexpr CgmElement kBeginMetafile{0, 1}, kBeginPicture{0, 3}, kBeginPictureBody{0, 4}, kEndPicture{0, 5};
constexpr CgmElement kMetafileVersion{1, 1}, kMetafileDescription{1, 2}, kMaxColourIndex{1, 9};
constexpr CgmElement kElementList{1, 11}, kVdcExtent{2, 6}, kClipRectangle{3, 5}, kPolyline{4, 1};
constexpr int kLongForm = 31;
constexpr char kDescription[] = "ZYBCGM-1.0";
constexpr int kVdcWidth = 10000, kVdcHeight = 8000;

struct MetaState {
  int type = GMETA_TEXT;
  FILE *out = nullptr;
  bool append = false;
  // Opened by gopen_ws rather than for a replay of the object cache: its
  // colours then also enter the kernel's table, so that setters accept them.
  bool workstation = false;
};

MetaState &meta() {
  static MetaState s;
  return s;
}

bool text_kind() { return meta().out && meta().type == GMETA_TEXT; }
bool cgm_kind() { return meta().out && meta().type == GMETA_CGM; }

// One text record, built in a buffer and written at once. Floats come out
// as "%f" gives them (the value as a double, six decimals).
class Record {
 public:
  ~Record() { flush(); }
  Record &text(const char *s) {
    const size_t n = std::strlen(s);
    if (n > sizeof buf_ / 2) {
      flush();
      std::fwrite(s, 1, n, meta().out);
      return *this;
    }
    room(n);
    std::memcpy(buf_ + len_, s, n);
    len_ += n;
    return *this;
  }
  Record &ch(char c) {
    room(1);
    buf_[len_++] = c;
    return *this;
  }
  Record &num(int v) {
    room(kNumberMax);
    len_ = static_cast<size_t>(std::to_chars(buf_ + len_, buf_ + sizeof buf_, v).ptr - buf_);
    return *this;
  }
  Record &num(float v) {
    room(kNumberMax);
    const auto r = std::to_chars(buf_ + len_, buf_ + sizeof buf_, static_cast<double>(v), std::chars_format::fixed, 6);
    len_ = static_cast<size_t>(r.ptr - buf_);
    return *this;
  }
  // x, y as a point list has them: "%f,%f ".
  Record &point(const float *p) { return num(p[0]).ch(',').num(p[1]).ch(' '); }

 private:
  // The largest float is 39 digits before the point.
  static constexpr size_t kNumberMax = 64;
  void room(size_t n) {
    if (len_ + n > sizeof buf_) flush();
  }
  void flush() {
    if (len_ > 0 && meta().out) std::fwrite(buf_, 1, len_, meta().out);
    len_ = 0;
  }
  char buf_[2048];
  size_t len_ = 0;
};

// ---------------------------------------------------------------- CGM

void put_word(int word) {
  FILE *out = meta().out;
  const auto w = static_cast<uint16_t>(word);
  std::putc(w >> 8, out);
  std::putc(w & 0xFF, out);
}

short cgm_coordinate(float v) {
  if (!(v > -32768.0f)) return -32768;  // not-a-number too
  if (v > 32767.0f) return 32767;
  return static_cast<short>(v);
}

void cgm_element(CgmElement e, int length, int word) { gcgm_control(e.cls, e.id, length, word); }

void write_cgm_header() {
  cgm_element(kBeginMetafile, 0, 0);
  cgm_element(kMetafileVersion, 2, 1);
  cgm_element(kMetafileDescription, 11, 0);
  std::putc(static_cast<int>(std::strlen(kDescription)), meta().out);
  std::fputs(kDescription, meta().out);
  std::putc(0, meta().out);  // parameters end on a word boundary
  cgm_element(kElementList, 6, 1);
  put_word(-1);  // the drawing set
  put_word(1);
  cgm_element(kMaxColourIndex, 1, 0xFF00);  // 255 and the pad byte
  cgm_element(kVdcExtent, 8, 0);
  for (int v : {0, 0, kVdcWidth, kVdcHeight}) put_word(v);
  cgm_element(kBeginPicture, 0, 0);
  cgm_element(kBeginPictureBody, 0, 0);
}

void write_text_header() {
  const std::time_t now = std::time(nullptr);
  char date[64] = "\n";
  ctime_r(&now, date);
  gmeta_printf("ZYBMETA\n");
  gmeta_printf("#Title: ZYB Graphics Display: %s\n", gget_win_title());
  gmeta_printf("#Creator: ZYB Metafile Processor-1.0\n");
  gmeta_printf("#CreationDate: %s", date);
}

// ---------------------------------------------------------------- text records

// A point list: a break of a newline and three blanks after every fourth
// point. A polyline never breaks after its last point and always ends its
// line; fill areas and markers break after the last one too, and end their
// line only when the count is not a multiple of four.
void point_list(const char *keyword, int count, const float *pts, bool polyline) {
  Record r;
  r.text(keyword).ch(' ').num(count).ch(' ');
  for (int i = 0; i < count; ++i) {
    r.point(pts + 2 * i);
    const bool fourth = (i + 1) % 4 == 0;
    if (fourth && (!polyline || i + 1 < count)) r.text("\n   ");
  }
  if (polyline || count % 4 != 0) r.ch('\n');
}

// Rectangles come as xmin, xmax, ymin, ymax and are written xmin ymin xmax ymax.
void rect_record(const char *keyword, int n, const float *rect) {
  Record r;
  r.text(keyword).ch(' ').num(n);
  for (int i : {0, 2, 1, 3}) r.ch(' ').num(rect[i]);
  r.ch('\n');
}

struct TransformRecord {
  int code;
  const char *keyword;
};
const TransformRecord kTransforms[] = {
    {GOBJ_WS_VP, "WS_VP"}, {GOBJ_WS_WIN, "WS_WIN"}, {GOBJ_VP, "VP"}, {GOBJ_WIN, "WIN"}, {GOBJ_SEL_TRAN, "TR"}};

// ---------------------------------------------------------------- the row

int meta_transform(int code, int n, const float rect[4]) {
  if (!text_kind()) return 0;
  for (const TransformRecord &t : kTransforms) {
    if (t.code != code) continue;
    if (rect)
      rect_record(t.keyword, n, rect);
    else
      Record().text(t.keyword).ch(' ').num(n).ch('\n');
    return 0;
  }
  return 0;
}

int meta_attribute(int code, int value, const void *data) {
  const GmetaAttribute *a = gmeta_attribute_of_code(code);
  if (!text_kind() || !a) return 0;  // print bold and print solid have no record
  const auto *f = static_cast<const float *>(data);
  const auto *i = static_cast<const int *>(data);
  Record r;
  r.text(a->keyword).ch(' ');
  switch (a->field) {
    case GmetaField::Int: r.num(value); break;
    case GmetaField::Float: r.num(f[0]); break;
    case GmetaField::FloatPair: r.num(f[0]).ch(',').num(f[1]); break;
    case GmetaField::IntPair: r.num(i[0]).ch(' ').num(i[1]); break;
  }
  r.ch('\n');
  return 0;
}

int meta_color_rep(int ws, int ci, const float rgb[3]) {
  if (text_kind())
    Record().text("CLR ").num(ws).ch(' ').num(ci).ch(' ').num(rgb[0]).ch(' ').num(rgb[1]).ch(' ').num(rgb[2]).ch('\n');
  if (meta().workstation && ci >= 0) galloc_colr(ci, rgb[0], rgb[1], rgb[2]);
  return 0;
}

int meta_clear_region(const float rect[4]) {
  if (!text_kind()) return 0;
  Record r;
  r.text("CLR_REG");
  for (int i : {0, 2, 1, 3}) r.ch(' ').num(rect[i]);
  r.ch('\n');
  return 0;
}

int meta_message(int, const char *text) {
  if (text_kind()) Record().text("ME ").text(text).ch('\n');
  return 0;
}

// The viewport in device units, lower-left then upper-right corner.
int meta_clip(const float ndc[4]) {
  if (!cgm_kind()) return 0;
  cgm_element(kClipRectangle, 8, 0);
  gcgm_ps_point(xNDC_ps(ndc[0]), yNDC_ps(ndc[2]));
  gcgm_ps_point(xNDC_ps(ndc[1]), yNDC_ps(ndc[3]));
  return 0;
}

void cgm_polyline(int count, const float *pts) {
  // Pieces of at most GCGM_POLYLINE_MAX points, each starting where the last ended.
  for (int first = 0; first < count - 1; first += GCGM_POLYLINE_MAX - 1) {
    const int n = std::min(GCGM_POLYLINE_MAX, count - first);
    cgm_element(kPolyline, kLongForm, n * 4);
    for (int i = first; i < first + n; ++i) gcgm_point(pts[2 * i], pts[2 * i + 1]);
  }
}

int meta_polyline(int count, const float *pts) {
  if (cgm_kind()) cgm_polyline(count, pts);
  if (text_kind()) point_list("PL", count, pts, true);
  return 0;
}

int meta_fill_area(int count, const float *pts) {
  if (text_kind()) point_list("FA", count, pts, false);
  return 0;
}

int meta_polymarker(int count, const float *pts) {
  if (text_kind()) point_list("PM", count, pts, false);
  return 0;
}

int meta_text(const float pos[2], const char *string) {
  if (text_kind()) Record().text("TE ").num(pos[0]).ch(',').num(pos[1]).ch(' ').text(string).ch('\n');
  return 0;
}

// The device text names the file; the pieces "cgm" and "zyb" choose the kind.
int open_workstation(const char *device) {
  ParsedList pieces(device ? device : "", ',');
  int type = GMETA_TEXT;
  std::string name;
  for (int i = 0; i < pieces.count(); ++i) {
    const char *piece = pieces.at(i);
    if (stricmp(piece, "cgm") == 0)
      type = GMETA_CGM;
    else if (stricmp(piece, "zyb") == 0)
      type = GMETA_TEXT;
    else if (name.empty())
      name = piece;
  }
  if (name.empty()) {
    const char *env = std::getenv("zybmeta_out");
    name = env && *env ? env : type == GMETA_CGM ? kCgmDefault : kTextDefault;
  }
  name = copy_limited(name.c_str(), GMETA_NAME_MAX);
  gmeta_set_type(type);
  if (!gmeta_open_file(name.c_str())) {
    gerr_printf("gopen_ws", "unable to open metafile\n");
    return -1;
  }
  meta().workstation = true;
  gset_win_size(kPageWidth, kPageHeight);
  gmeta_init_file();
  return 0;
}

int close_workstation() {
  meta().workstation = false;
  return gmeta_close_file();
}

GksDriver meta_row() {
  GksDriver row;
  row.type = GKS_META;
  row.name = "metafile";
  row.open = open_workstation;
  row.close = close_workstation;
  row.color_rep = meta_color_rep;
  row.clear_region = meta_clear_region;
  row.clip = meta_clip;
  row.message = meta_message;
  row.transform = meta_transform;
  row.attribute = meta_attribute;
  row.polyline = meta_polyline;
  row.fill_area = meta_fill_area;
  row.polymarker = meta_polymarker;
  row.text = meta_text;
  return row;
}

}  // namespace

const GksDriver gks_meta_driver = meta_row();

int gmeta_set_type(int type) {
  meta().type = type == GMETA_CGM ? GMETA_CGM : GMETA_TEXT;
  return 0;
}

int gmeta_get_type() { return meta().type; }

FILE *gmeta_open_file(const char *name) {
  MetaState &s = meta();
  if (!name || !*name) return nullptr;
  if (s.out) {
    gerr_printf("gmeta_open_file", "a metafile is already open\n");
    return nullptr;
  }
  MESS_print(MESS_MESS, "Creating metafile: %s\n", name);
  const bool append = name[0] == '+';
  // FILE_open runs a "|command" itself.
  s.out = append ? FILE_open(name + 1, "a") : FILE_open(name, "w");
  s.append = s.out && append;
  return s.out;
}

int gmeta_init_file() {
  if (!meta().out) return -1;
  if (meta().type == GMETA_CGM)
    write_cgm_header();
  else
    write_text_header();
  return 0;
}

int gmeta_printf(const char *format, ...) {
  if (!text_kind()) return 0;
  va_list args;
  va_start(args, format);
  const int n = std::vfprintf(meta().out, format, args);
  va_end(args);
  return n;
}

int gmeta_close_file() {
  MetaState &s = meta();
  if (!s.out) return -1;
  if (s.type == GMETA_CGM && !s.append) cgm_element(kEndPicture, 0, 0);
  const bool write_error = std::ferror(s.out) != 0;
  const int closed = FILE_close(s.out);
  s.out = nullptr;
  s.append = false;
  if (write_error || closed != 0) {
    gerr_printf("gmeta_close_file", "the metafile could not be written completely\n");
    return -1;
  }
  MESS_print(MESS_MESS, "Created metafile\n");
  return 0;
}

int gcgm_control(int cls, int id, int length, int word) {
  if (!cgm_kind()) return -1;
  const int short_length = std::clamp(length, 0, kLongForm);
  put_word((cls & 0xF) << 12 | (id & 0x7F) << 5 | short_length);
  if (word >= 1 || short_length == kLongForm) put_word(word);
  return 0;
}

int gcgm_ps_point(float x, float y) {
  if (!cgm_kind()) return -1;
  put_word(cgm_coordinate(x));
  put_word(cgm_coordinate(y));
  return 0;
}

int gcgm_point(float x, float y) { return gcgm_ps_point(xW_ps(x), yW_ps(y)); }

int gcgm_set_type(int) { return 0; }
int gcgm_set_color(int) { return 0; }
int gcgm_set_fill_color(int) { return 0; }
int gcgm_set_width(int, float) { return 0; }
