// The HPGL workstation: the file with its PCL wrapper, pen screening,
// widths and line types, and the driver row that draws the kernel's
// primitives as pen moves and polygons.
#include "gks/gks_hpgl.h"

#include <cstdarg>
#include <cstdlib>
#include <iterator>

#include "gks/gks_colr.h"
#include "gks/gks_driver.h"
#include "gks/gks_fill.h"
#include "gks/gks_line.h"
#include "gks/gks_mark.h"
#include "gks/gks_plotfile.h"
#include "gks/gks_ps.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/mess.h"

namespace {

constexpr float kUnitsPerInch = 1015.0f;
constexpr float kMarginInches = 0.5f;
constexpr float kHundredthToUnits = 10.15f;
constexpr int kPageOffset = 10;  // plotter units, as the page's hard clip needs
constexpr float kRollLength = 23.5f;
constexpr int kPointsPerLine = 10;

constexpr int kPclNone = 0, kPclOn = 1, kPclTurned = 2;

// Screening of the pens (500 .. 502 black, 503 .. 505 white, 506 .. 508
// light grey) and their weights (normal, double, quadruple).
constexpr float kPenLevels[] = {0.0f, 1.0f, 0.7f};
constexpr const char *kPenScreens[] = {"SV;\n", "SV1,0;\n", "SV1,30;\n"};
constexpr float kPenWeights[] = {1.0f, 2.0f, 4.0f};

bool is_pen(int ci) { return ci >= GKS_PEN_FIRST && ci <= GKS_PEN_LAST; }

struct LineTypeRow {
  int type;
  const char *op;
};

const LineTypeRow kLineTypes[] = {
    {GKS_LINE_SOLID, "LT;\n"},          {GKS_LINE_DASH, "LT2,5,1;\n"},       {GKS_LINE_DOT, "LT5,8,1;\n"},
    {GKS_LINE_DASH_DOT, "LT6,10,1;\n"}, {GKS_LINE_SHORT_DASH, "LT2,1,1;\n"},
};

struct HpglState {
  PlotStream out;
  int pcl = kPclOn;
  int pr_rot = 0;
  int pr_color = 0;
  int pr_rev = 0;
  float base_width = 0.2f;
  float gray_level = 0.0f;
  float fill_level = 0.0f;
  float line_width = 1.0f;
  int line_type = GKS_LINE_SOLID;
  PlotPaper paper;               // of the open being set up
  int saved_offset[2] = {0, 0};  // the kernel's device offset before the open
};

HpglState &hp() {
  static HpglState s;
  return s;
}

FILE *out() { return hp().out.get(); }

void put(const char *text) {
  if (FILE *f = out()) std::fputs(text, f);
}

// ---- The workstation's options ---------------------------------------------------

const PlotOption kOptions[] = {
    {"pcl", false, [](const char *) { ghpgl_set_pcl(kPclOn); }},
    {"nopcl", false, [](const char *) { ghpgl_set_pcl(kPclNone); }},
    {"lj", false, [](const char *) { ghpgl_set_pcl(kPclTurned); }},
    {"port", false, [](const char *) { ghpgl_set_rotate(90); }},
    {"land", false, [](const char *) { ghpgl_set_rotate(0); }},
    {"rot=", true, [](const char *v) { ghpgl_set_rotate(std::atoi(v)); }},
    {"scale=", true, [](const char *v) { ghpgl_set_scale(std::strtof(v, nullptr)); }},
    {"lwidth=", true,
     [](const char *v) {
       const float mm = std::strtof(v, nullptr);
       if (mm > 0.0f && mm < 100.0f) ghpgl_set_base_width(mm);
     }},
    {"roll=", true,
     [](const char *v) {
       const float w = std::strtof(v, nullptr);
       if (w > 0.5f && w < kRollLength) hp().paper = {kRollLength, w};
     }},
};

int drawing_side(float inches) { return static_cast<int>((inches - kMarginInches) * kUnitsPerInch); }

// ---- The driver row -----------------------------------------------------------------

int open_hpgl_ws(const char *device) {
  static const char *const kNameEnvs[] = {"zybhp_out", nullptr};
  static const char *const kGeometryEnvs[] = {"zybhp_geometry", nullptr};
  const std::string name = gplot_output_name(device, kNameEnvs, "zyb.hpgl");
  if (!ghpgl_open_file(name.c_str())) {
    gerr_printf("gopen_ws", "unable to open HPGL file\n");
    return -1;
  }
  ghpgl_init();
  HpglState &s = hp();
  s.paper = {10.5f, 8.0f};
  const int count = static_cast<int>(std::size(kOptions));
  gplot_apply_options(std::getenv("zybhp_param"), kOptions, count, &hp().paper);
  gplot_apply_device_options(device, kOptions, count, &hp().paper);
  if (ghpgl_init_file() != 0 || std::ferror(out())) {
    gerr_printf("gopen_ws", "unable to write HPGL file\n");
    s.out.close();
    return -1;
  }
  gget_win_offset(&s.saved_offset[0], &s.saved_offset[1]);
  int g[4] = {0, 0, 0, 0};
  const int fields = gplot_geometry(kGeometryEnvs, g);
  int w = drawing_side(hp().paper.width), h = drawing_side(hp().paper.height);
  if (fields >= 2) {
    w = static_cast<int>(g[0] * kHundredthToUnits);
    h = static_cast<int>(g[1] * kHundredthToUnits);
  }
  gset_win_size(w, h);
  gset_win_offset(static_cast<int>(g[2] * kHundredthToUnits) + kPageOffset,
                  static_cast<int>(g[3] * kHundredthToUnits) + kPageOffset);
  return 0;
}

int close_hpgl_ws() {
  const int *saved = hp().saved_offset;
  gset_win_offset(saved[0], saved[1]);
  return ghpgl_close_file();
}

// The fills take their shading from the PostScript driver's grey table.
int hpgl_color_rep(int, int ci, const float rgb[3]) { return gps_set_color_rep(ci, rgb[0], rgb[1], rgb[2]); }

// A newline after every tenth point keeps the lines of long paths short.
void path(int count, const float *pts) {
  ghpgl_move(pts[0], pts[1]);
  for (int i = 1; i < count; ++i) {
    ghpgl_line(pts[2 * i], pts[2 * i + 1]);
    if ((i + 1) % kPointsPerLine == 0) put("\n");
  }
}

int hpgl_polyline(int count, const float *pts) {
  if (!out()) return 0;
  const int ci = gget_line_colr();
  ghpgl_set_width(ci, gget_line_width());
  ghpgl_set_color(ci);
  ghpgl_set_type(gget_line_type());
  path(count, pts);
  put("\n");
  return 0;
}

// Polygon mode: define from the first point, close, fill.
void polygon(int count, const float *pts) {
  ghpgl_move(pts[0], pts[1]);
  put("PM0;");
  for (int i = 1; i < count; ++i) ghpgl_line(pts[2 * i], pts[2 * i + 1]);
  put("PM1;PM2;FP;\n");
}

int hpgl_fill_area(int count, const float *pts) {
  if (!out() || count < 1) return 0;
  ghpgl_set_fill_color(gget_fill_colr());
  polygon(count, pts);
  return 0;
}

class HpglMarkerSink : public MarkerSink {
 public:
  void centre(float x, float y, float *cx, float *cy) override {
    *cx = xW_ps(x);
    *cy = yW_ps(y);
  }
  void draw(const GksMarkPoint *points, int count) override {
    ghpgl_move_abs(points[0].x, points[0].y);
    for (int i = 1; i < count; ++i) ghpgl_line_abs(points[i].x, points[i].y);
    put("\n");
  }
};

int hpgl_polymarker(int count, const float *pts) {
  if (!out()) return 0;
  const int ci = gget_marker_colr();
  ghpgl_set_width(ci, gget_marker_width());
  ghpgl_set_color(ci);
  ghpgl_set_type(GKS_LINE_SOLID);
  HpglMarkerSink sink;
  return gmark_points(count, pts, GKS_MARK_UNIT * gget_marker_size() * kHundredthToUnits, &sink);
}

// The pen goes on from a full piece; a move starts a piece anew.
class HpglTextSink : public TextSink {
 public:
  void move_to(float x, float y) override { ghpgl_move(x, y); }
  void line_to(float x, float y) override { ghpgl_line(x, y); }
  void piece_split(float, float) override { put("\n"); }
  void piece_end(bool) override { put("\n"); }
};

int hpgl_text(const float pos[2], const char *string) {
  if (!out() || gget_font_type() != GKS_FONT_STROKE) return 0;
  const int ci = gget_text_colr();
  ghpgl_set_width(ci, gget_text_width());
  ghpgl_set_color(ci);
  ghpgl_set_type(GKS_LINE_SOLID);
  HpglTextSink sink;
  return gtext_strokes(pos, string, &sink);
}

int hpgl_clip(const float ndc[4]) {
  return ghpgl_printf("IW %.0f,%.0f,%.0f,%.0f;\n", xNDC_ps(ndc[0]) - 0.1f, yNDC_ps(ndc[2]) - 0.1f,
                      xNDC_ps(ndc[1]) + 0.1f, yNDC_ps(ndc[3]) + 0.1f);
}

// The background of paper: a white polygon over what lies there.
int hpgl_clear_region(const float rect[4]) {
  if (!out()) return 0;
  const float corners[8] = {rect[0], rect[2], rect[0], rect[3], rect[1], rect[3], rect[1], rect[2]};
  ghpgl_set_fill_color(-1);
  polygon(4, corners);
  return 0;
}

GksDriver hpgl_row() {
  GksDriver row;
  row.type = GKS_HPGL;
  row.name = "HPGL file";
  row.open = open_hpgl_ws;
  row.close = close_hpgl_ws;
  row.color_rep = hpgl_color_rep;
  row.clear_region = hpgl_clear_region;
  row.clip = hpgl_clip;
  row.polyline = hpgl_polyline;
  row.fill_area = hpgl_fill_area;
  row.polymarker = hpgl_polymarker;
  row.text = hpgl_text;
  return row;
}

}  // namespace

const GksDriver gks_hpgl_driver = hpgl_row();

// ---------------------------------------------------------------- the file

FILE *ghpgl_open_file(const char *name) {
  HpglState &s = hp();
  if (!s.out.open(name, "HPGL")) return nullptr;
  if (std::getenv("PSCOLOR")) s.pr_color = 1;
  return s.out.get();
}

int ghpgl_init() {
  HpglState &s = hp();
  s.pcl = kPclOn;
  s.pr_rot = 0;
  s.gray_level = 0.0f;
  s.fill_level = 0.0f;
  s.line_width = 1.0f;
  s.line_type = GKS_LINE_SOLID;
  // The fills' shading comes from the PostScript grey table.
  gps_init();
  return 0;
}

int ghpgl_set_pcl(int mode) {
  hp().pcl = mode;
  return 1;
}

int ghpgl_set_rotate(int degrees) {
  hp().pr_rot = degrees;
  return 1;
}

int ghpgl_set_base_width(float mm) {
  hp().base_width = mm;
  return 1;
}

int ghpgl_set_colorPS(int flag) {
  hp().pr_color = flag;
  return 1;
}

int ghpgl_get_colorPS() { return hp().pr_color; }

int ghpgl_set_reverse(int flag) {
  hp().pr_rev = flag;
  return 1;
}

int ghpgl_set_scale(float) { return 1; }
int ghpgl_set_color_rep(int, float, float, float) { return 0; }

int ghpgl_init_file() {
  HpglState &s = hp();
  if (!out()) return -1;
  if (!s.out.appending()) {
    // Printer reset, HP-GL/2 mode, landscape page.
    if (s.pcl != kPclNone) put("\033E\033%1B\033&l1O\n");
    put("IN;SP1;PA;\n");
    if (s.pcl == kPclTurned) put("RO90;\n");
    if (s.pr_rot == 90 || s.pr_rot == 180 || s.pr_rot == 270) ghpgl_printf("RO%d;\n", s.pr_rot);
  }
  ghpgl_printf("PW%.1f;SV;LT;\n", s.base_width);
  return 0;
}

int ghpgl_close_file() {
  HpglState &s = hp();
  if (!out()) return -1;
  if (!s.out.appending()) {
    put("SP;PG;\n");
    // Back to PCL, and reset.
    if (s.pcl != kPclNone) put("\033%0A\033E");
  }
  const int closed = s.out.close();
  if (closed == 0) MESS_print(MESS_MESS, "Created HPGL file\n");
  return closed;
}

int ghpgl_printf(const char *format, ...) {
  FILE *f = out();
  if (!f) return 0;
  va_list args;
  va_start(args, format);
  const int n = std::vfprintf(f, format, args);
  va_end(args);
  return n;
}

int ghpgl_move(float x, float y) { return ghpgl_move_abs(xW_ps(x), yW_ps(y)); }
int ghpgl_line(float x, float y) { return ghpgl_line_abs(xW_ps(x), yW_ps(y)); }

int ghpgl_move_abs(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "PU%.0f,%.0f;", x, y);
  return 0;
}

int ghpgl_line_abs(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "PD%.0f,%.0f;", x, y);
  return 0;
}

// ---------------------------------------------------------------- pens

int ghpgl_set_color(int ci) {
  HpglState &s = hp();
  const int shade = is_pen(ci) ? (ci - GKS_PEN_FIRST) / 3 : 0;
  if (s.gray_level == kPenLevels[shade]) return 0;
  put(kPenScreens[shade]);
  s.gray_level = kPenLevels[shade];
  return 0;
}

int ghpgl_set_fill_color(int ci) {
  HpglState &s = hp();
  if (gget_fill_print_solid()) {
    put("FT1;\n");
    s.fill_level = 0.0f;
    return 0;
  }
  const float level = ci == -1 ? 1.0f : gps_get_gray(ci);
  if (s.fill_level == level) return 0;
  ghpgl_printf("FT10,%.0f;\n", 100.0f - 100.0f * level);
  s.fill_level = level;
  return 0;
}

int ghpgl_set_width(int ci, float w) {
  HpglState &s = hp();
  if (w == 0.0f) w = 1.0f;
  const float weight = is_pen(ci) ? kPenWeights[(ci - GKS_PEN_FIRST) % 3] : static_cast<float>(gget_line_print_bold());
  const float factor = weight * w;
  if (factor == s.line_width) return 0;
  ghpgl_printf("PW%.1f;\n", factor * s.base_width);
  s.line_width = factor;
  return 0;
}

int ghpgl_set_type(int t) {
  HpglState &s = hp();
  if (t == s.line_type) return 0;
  for (const LineTypeRow &row : kLineTypes)
    if (row.type == t) put(row.op);
  s.line_type = t;
  return 0;
}
