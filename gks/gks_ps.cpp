// The PostScript workstation: the file with its prolog and trailer, the
// grey table, colours, widths and dashes as written operators, and the
// driver row that draws the kernel's primitives as paths.
#include "gks/gks_ps.h"

#include <array>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <iterator>

#include "gks/gks_colr.h"
#include "gks/gks_driver.h"
#include "gks/gks_fill.h"
#include "gks/gks_line.h"
#include "gks/gks_mark.h"
#include "gks/gks_plotfile.h"
#include "gks/gks_ps_raster.h"
#include "gks/gks_text.h"
#include "gks/gks_tran.h"
#include "gks/gks_x11.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

constexpr float kPointsPerInch = 72.0f;
constexpr float kMarginInches = 0.5f;
constexpr float kMarkerScale = 0.72f;  // marker sizes are in window pixels
constexpr float kHundredthToPoints = 0.72f;
constexpr int kGrayEntries = GKS_NUM_COLR;  // 0 .. 255 and the background

// Grey levels of the pens: 500 .. 502 black, 503 .. 505 white, 506 .. 508
// light grey, each trio in normal, double and quadruple weight.
constexpr float kPenGrays[] = {0.0f, 1.0f, 0.7f};
constexpr const char *kPenGrayOps[] = {"0 setgray\n", "1 setgray\n", ".7 setgray\n"};
constexpr float kPenWeights[] = {1.0f, 2.0f, 4.0f};

bool is_pen(int ci) { return ci >= GKS_PEN_FIRST && ci <= GKS_PEN_LAST; }
int pen_shade(int ci) { return (ci - GKS_PEN_FIRST) / 3; }
int pen_weight(int ci) { return (ci - GKS_PEN_FIRST) % 3; }

struct DashRow {
  int type;
  const char *op;
};

const DashRow kDashes[] = {
    {GKS_LINE_SOLID, "[] 0 setdash\n"},       {GKS_LINE_DASH, "[6] 0 setdash\n"},
    {GKS_LINE_DOT, "[3 6] 0 setdash\n"},      {GKS_LINE_DASH_DOT, "[6 6 3 6] 0 setdash\n"},
    {GKS_LINE_SHORT_DASH, "[2] 0 setdash\n"},
};

struct PsState {
  PlotStream out;
  int pr_eps = 0;
  int pr_port = 0;
  float pr_scale = 1.0f;
  int pr_color = 0;
  int pr_rev = 0;
  PlotPaper paper;  // sy is its height
  float base_width = 1.0f;
  std::array<float, kGrayEntries> gray{};
  float gray_level = 0.0f;  // -1 while an RGB colour is in force
  int ps_col_ind = -1;
  float line_width = 1.0f;
  int line_type = GKS_LINE_SOLID;
  int saved_offset[2] = {0, 0};  // the kernel's device offset before the open
  int saved_color = 0;           // the colour switch before the open's options
};

PsState &ps() {
  static PsState s;
  return s;
}

FILE *out() { return ps().out.get(); }

void put(const char *text) {
  if (FILE *f = out()) std::fputs(text, f);
}

int gray_slot(int ci) { return ci == -1 ? GKS_BACK_COLR : ci; }

float gray_of(float r, float g, float b) {
  const double level = (0.9 * r + g + 0.8 * b) / 2.7;
  return static_cast<float>(ps().pr_rev ? 1.0 - level : level);
}

// The grey table starts from the kernel's colours, so that colours defined
// while another workstation was open (the window a replay comes from) count.
void load_grays() {
  PsState &s = ps();
  for (int i = 0; i < kGrayEntries; ++i) {
    float r = 0, g = 0, b = 0;
    gget_color_rgb(i == GKS_BACK_COLR ? -1 : i, &r, &g, &b);
    s.gray[static_cast<size_t>(i)] = gray_of(r, g, b);
  }
}

void set_gray(float level, const char *op) {
  PsState &s = ps();
  if (s.gray_level == level) return;
  put(op);
  s.gray_level = level;
}

void set_rgb(int ci) {
  PsState &s = ps();
  if (s.gray_level == -1.0f && s.ps_col_ind == ci) return;
  float r = 1, g = 1, b = 1;  // the background of paper is white
  if (ci != -1) gget_color_rgb(ci, &r, &g, &b);
  gps_printf("%4.2f %4.2f %4.2f setrgbcolor\n", r, g, b);
  s.ps_col_ind = ci;
  s.gray_level = -1.0f;
}

void set_pen_gray(int ci) { set_gray(kPenGrays[pen_shade(ci)], kPenGrayOps[pen_shade(ci)]); }

// ---- The prolog -------------------------------------------------------------------

void write_state_lines() { put(ps().pr_color ? "0 0 0 setrgbcolor\n" : "0 setgray\n"); }

void write_header() {
  const PsState &s = ps();
  if (s.pr_eps) {
    put("%!PS-Adobe-3.0 EPSF-3.0\n");
    put(s.pr_port ? "%%BoundingBox: 0 0 756 576\n" : "%%BoundingBox: 0 0 576 756\n");
  } else {
    put("%!PS-Adobe-1.0\n");
  }
  gps_printf("%%%%Title: ZYB Graphics Display: %s\n", gplot_comment_text(gget_win_title()).c_str());
  put("%%Creator: ZYB Postscript Processor-2.0\n");
  const std::time_t now = std::time(nullptr);
  char when[32] = "\n";
  ctime_r(&now, when);
  gps_printf("%%%%CreationDate: %s", when);
  put("%%EndComments\n%%Postscript initialization\n");
}

void write_prolog() {
  const PsState &s = ps();
  write_header();
  if (!s.pr_eps) put("30 dict begin\n/saveobj save def\n");
  put("/inch {72 mul} def\n/dot {.33 mul} def\n/mv {moveto} def\n/ln {lineto} def\n"
      "/lw {setlinewidth} def\n/np {newpath} def\n/cp {closepath} def\n");
  if (!s.pr_port) {
    put("90 rotate\n");
    if (s.pr_eps)
      gps_printf("0. inch -%.2f inch translate\n", s.paper.height);
    else
      gps_printf(".25 inch -%.2f inch translate\n", s.paper.height - 0.25f);
  } else if (!s.pr_eps) {
    put(".25 inch .25 inch translate\n");
  }
  write_state_lines();
  put("2 setlinejoin\n1 dot lw\n[] 0 setdash\n");
  if (s.pr_scale != 1.0f) gps_printf("%.2f %.2f scale\n", s.pr_scale, s.pr_scale);
  put("%%Begin plot\n");
}

// ---- The workstation's options ---------------------------------------------------

const PlotOption kOptions[] = {
    {"port", false, [](const char *) { gps_set_orient(1); }},
    {"land", false, [](const char *) { gps_set_orient(0); }},
    {"eps", false, [](const char *) { gps_set_EPS(1); }},
    {"noeps", false, [](const char *) { gps_set_EPS(0); }},
    {"color", false,
     [](const char *) {
       gps_set_colorPS(1);
       gset_inverse(1);
     }},
    {"gray", false, [](const char *) { gps_set_colorPS(0); }},
    {"scale=", true,
     [](const char *v) {
       const float f = std::strtof(v, nullptr);
       if (f > 0.0f && f < 100.0f) gps_set_scale(f);
     }},
    {"lwidth=", true,
     [](const char *v) {
       const float n = std::strtof(v, nullptr);
       if (n > 0.0f && n < 100.0f) gps_set_base_width(n);
     }},
};

int drawing_side(float inches) { return static_cast<int>((inches - kMarginInches) * kPointsPerInch); }

// ---- The driver row -----------------------------------------------------------------

int open_ps_ws(const char *device) {
  static const char *const kNameEnvs[] = {"zybps_print", "PSPRINT", nullptr};
  static const char *const kGeometryEnvs[] = {"zybps_geometry", "PSGEOMETRY", nullptr};
  const std::string name = gplot_output_name(device, kNameEnvs, "zyb.ps");
  PsState &s = ps();
  // Each open sets its own page; its colour options last while it is open,
  // and then the plot parameters' switch is in force again.
  s.saved_color = s.pr_color;
  if (!gps_open_file(name.c_str())) {
    gerr_printf("gopen_ws", "unable to open postscript file\n");
    return -1;
  }
  gps_init();
  gps_set_EPS(0);
  gps_set_orient(0);
  gps_set_scale(1.0f);
  gps_set_base_width(1.0f);
  PlotPaper paper;
  gplot_apply_options(std::getenv("zybps_param"), kOptions, static_cast<int>(std::size(kOptions)), &paper);
  gplot_apply_device_options(device, kOptions, static_cast<int>(std::size(kOptions)), &paper);
  gps_set_size(paper.width, paper.height);
  if (gps_init_file() != 0 || std::ferror(out())) {
    gerr_printf("gopen_ws", "unable to write postscript file\n");
    s.out.close();
    s.pr_color = s.saved_color;
    return -1;
  }
  gget_win_offset(&s.saved_offset[0], &s.saved_offset[1]);
  int g[4] = {0, 0, 0, 0};
  const int fields = gplot_geometry(kGeometryEnvs, g);
  int w = drawing_side(paper.width), h = drawing_side(paper.height);
  if (fields >= 2) {
    w = static_cast<int>(g[0] * kHundredthToPoints);
    h = static_cast<int>(g[1] * kHundredthToPoints);
  }
  gset_win_size(w, h);
  gset_win_offset(static_cast<int>(g[2] * kHundredthToPoints), static_cast<int>(g[3] * kHundredthToPoints));
  return 0;
}

int close_ps_ws() {
  PsState &s = ps();
  gset_win_offset(s.saved_offset[0], s.saved_offset[1]);
  const int closed = gps_close_file();
  s.pr_color = s.saved_color;
  return closed;
}

int ps_color_rep(int, int ci, const float rgb[3]) { return gps_set_color_rep(ci, rgb[0], rgb[1], rgb[2]); }

void path(int count, const float *pts) {
  gps_move(pts[0], pts[1]);
  for (int i = 1; i < count; ++i) gps_line(pts[2 * i], pts[2 * i + 1]);
}

int ps_polyline(int count, const float *pts) {
  if (!out()) return 0;
  const int ci = gget_line_colr();
  gps_printf("%%%%PL:%d\n", count);
  gps_set_width(ci, gget_line_width());
  gps_set_color(ci);
  gps_set_type(gget_line_type());
  put("np\n");
  path(count, pts);
  put("stroke\n");
  return 0;
}

int ps_fill_area(int count, const float *pts) {
  if (!out() || count < 1 || gget_fill_int_style() != GKS_FILL_SOLID) return 0;
  gps_printf("%%%%FA:%d\n", count);
  put("np\n");
  path(count, pts);
  put("cp\n");
  gps_set_fill_color(gget_fill_colr());
  put("fill\n");
  return 0;
}

class PsMarkerSink : public MarkerSink {
 public:
  void centre(float x, float y, float *cx, float *cy) override {
    *cx = xW_ps(x);
    *cy = yW_ps(y);
  }
  void draw(const GksMarkPoint *points, int count) override {
    put("np\n");
    gps_move_abs(points[0].x, points[0].y);
    for (int i = 1; i < count; ++i) gps_line_abs(points[i].x, points[i].y);
    put("stroke\n");
  }
};

int ps_polymarker(int count, const float *pts) {
  if (!out()) return 0;
  const int ci = gget_marker_colr();
  gps_printf("%%%%PM:%d\n", count);
  gps_set_width(ci, gget_marker_width());
  gps_set_color(ci);
  gps_set_type(GKS_LINE_SOLID);
  PsMarkerSink sink;
  return gmark_points(count, pts, GKS_MARK_UNIT * gget_marker_size() * kMarkerScale, &sink);
}

// A glyph is one path per piece: a pen move or a full piece strokes what
// was drawn and starts a new path.
class PsTextSink : public TextSink {
 public:
  void glyph_begin() override { put("np\n"); }
  void move_to(float x, float y) override { gps_move(x, y); }
  void line_to(float x, float y) override { gps_line(x, y); }
  void piece_split(float x, float y) override {
    put("stroke\nnp\n");
    gps_move(x, y);
  }
  void piece_end(bool glyph_end) override { put(glyph_end ? "stroke\n" : "stroke\nnp\n"); }
};

int ps_text(const float pos[2], const char *string) {
  if (!out() || gget_font_type() != GKS_FONT_STROKE) return 0;
  const int ci = gget_text_colr();
  gps_printf("%%%%TE:%f %f %s\n", pos[0], pos[1], gplot_comment_text(string).c_str());
  gps_set_width(ci, gget_text_width());
  gps_set_color(ci);
  gps_set_type(GKS_LINE_SOLID);
  PsTextSink sink;
  return gtext_strokes(pos, string, &sink);
}

// The clip path lies 0.1 unit outside the viewport, so that lines along
// its edges stay whole.
int ps_clip(const float ndc[4]) {
  if (!out()) return 0;
  const float x0 = xNDC_ps(ndc[0]) - 0.1f, x1 = xNDC_ps(ndc[1]) + 0.1f;
  const float y0 = yNDC_ps(ndc[2]) - 0.1f, y1 = yNDC_ps(ndc[3]) + 0.1f;
  put("initclip\nnp\n");
  gps_move_abs(x0, y0);
  gps_line_abs(x0, y1);
  gps_line_abs(x1, y1);
  gps_line_abs(x1, y0);
  put("cp\nclip\n");
  return 0;
}

int ps_clear_region(const float rect[4]) {
  if (!out()) return 0;
  put("%%CLR\nnp\n");
  gps_move(rect[0], rect[2]);
  gps_line(rect[0], rect[3]);
  gps_line(rect[1], rect[3]);
  gps_line(rect[1], rect[2]);
  put("cp\n");
  gps_set_fill_color(-1);
  put("fill\n");
  return 0;
}

int ps_message(int, const char *text) { return gps_printf("%%%%Message: %s\n", gplot_comment_text(text).c_str()); }

GksDriver ps_row() {
  GksDriver row;
  row.type = GKS_PS;
  row.name = "PostScript file";
  row.open = open_ps_ws;
  row.close = close_ps_ws;
  row.color_rep = ps_color_rep;
  row.clear_region = ps_clear_region;
  row.clip = ps_clip;
  row.message = ps_message;
  row.image = gps_image;
  row.polyline = ps_polyline;
  row.fill_area = ps_fill_area;
  row.polymarker = ps_polymarker;
  row.text = ps_text;
  return row;
}

}  // namespace

const GksDriver gks_ps_driver = ps_row();

// ---------------------------------------------------------------- the file

FILE *gps_open_file(const char *name) {
  PsState &s = ps();
  if (!s.out.open(name, "postscript")) return nullptr;
  if (std::getenv("PSCOLOR")) s.pr_color = 1;
  return s.out.get();
}

int gps_init() {
  PsState &s = ps();
  s.gray_level = 0.0f;
  s.ps_col_ind = -1;
  s.line_width = 1.0f;
  s.line_type = GKS_LINE_SOLID;
  load_grays();
  return 0;
}

int gps_set_size(float w, float h) {
  ps().paper = {w, h};
  return 0;
}

int gps_set_EPS(int flag) {
  ps().pr_eps = flag;
  return 1;
}

int gps_set_orient(int portrait) {
  ps().pr_port = portrait;
  return 1;
}

int gps_set_scale(float f) {
  ps().pr_scale = f;
  return 1;
}

int gps_set_colorPS(int flag) {
  ps().pr_color = flag;
  return 1;
}

int gps_get_colorPS() { return ps().pr_color; }

int gps_set_reverse(int flag) {
  PsState &s = ps();
  if ((flag != 0) != (s.pr_rev != 0))
    for (float &g : s.gray) g = 1.0f - g;
  s.pr_rev = flag;
  return 1;
}

int gps_set_base_width(float dots) {
  ps().base_width = dots;
  return 0;
}

int gps_init_file() {
  PsState &s = ps();
  if (!out()) return -1;
  if (s.out.appending()) {
    write_state_lines();
    put("1 dot lw\n[] 0 setdash\n");
  } else {
    write_prolog();
  }
  gps_printf("%%%%ZYB Plot: %s\n", gplot_comment_text(gget_win_title()).c_str());
  return 0;
}

int gps_close_file() {
  PsState &s = ps();
  if (!out()) return -1;
  put("%%End of plot\n");
  if (!s.out.appending()) {
    if (!s.pr_eps) put("saveobj restore\n");
    put("showpage\n");
    if (!s.pr_eps) put("end\n");
    put("%%EOF\n");
  }
  const int closed = s.out.close();
  if (closed == 0) MESS_print(MESS_MESS, "Created Postscript file\n");
  return closed;
}

int gps_printf(const char *format, ...) {
  FILE *f = out();
  if (!f) return 0;
  va_list args;
  va_start(args, format);
  const int n = std::vfprintf(f, format, args);
  va_end(args);
  return n;
}

int gps_move(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "%3.2f %3.2f mv\n", xW_ps(x), yW_ps(y));
  return 0;
}

int gps_line(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "%3.2f %3.2f ln\n", xW_ps(x), yW_ps(y));
  return 0;
}

int gps_move_abs(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "%3.2f %3.2f mv\n", x, y);
  return 0;
}

int gps_line_abs(float x, float y) {
  if (FILE *f = out()) std::fprintf(f, "%3.2f %3.2f ln\n", x, y);
  return 0;
}

// ---------------------------------------------------------------- colours

int gps_set_color_rep(int ci, float r, float g, float b) {
  PsState &s = ps();
  const int slot = gray_slot(ci);
  if (slot < 0 || slot >= kGrayEntries) return 0;
  s.gray[static_cast<size_t>(slot)] = gray_of(r, g, b);
  // The index in force as RGB has another colour now.
  if (s.ps_col_ind == ci) s.ps_col_ind = -2;
  return 0;
}

float gps_get_gray(int ci) {
  if (is_pen(ci)) return kPenGrays[pen_shade(ci)];
  const int slot = gray_slot(ci);
  return slot >= 0 && slot < kGrayEntries ? ps().gray[static_cast<size_t>(slot)] : 0.0f;
}

int gps_set_color(int ci) {
  if (is_pen(ci))
    set_pen_gray(ci);
  else if (ps().pr_color)
    set_rgb(ci);
  else
    set_gray(0.0f, "0 setgray\n");
  return 0;
}

int gps_set_fill_color(int ci) {
  PsState &s = ps();
  if (is_pen(ci)) {
    set_pen_gray(ci);
  } else if (s.pr_color) {
    set_rgb(ci);
  } else if (gget_fill_print_solid()) {
    put("0 setgray\n");
    s.gray_level = 0.0f;
  } else if (ci == -1) {
    set_gray(1.0f, "1 setgray\n");
  } else {
    const float level = gps_get_gray(ci);
    if (s.gray_level != level) gps_printf("%3.3f setgray\n", level);
    s.gray_level = level;
  }
  return 0;
}

int gps_set_width(int ci, float w) {
  PsState &s = ps();
  if (is_pen(ci)) {
    const float factor = kPenWeights[pen_weight(ci)] * w;
    if (factor == s.line_width) return 0;
    gps_printf("%d dot lw\n", static_cast<int>(kPenWeights[pen_weight(ci)] * s.base_width * w));
    s.line_width = factor;
    return 0;
  }
  const float factor = static_cast<float>(gget_line_print_bold()) * w;
  if (factor == s.line_width) return 0;
  gps_printf("%2.1f dot lw\n", factor * s.base_width);
  s.line_width = factor;
  return 0;
}

int gps_set_type(int t) {
  PsState &s = ps();
  if (t == s.line_type) return 0;
  for (const DashRow &row : kDashes)
    if (row.type == t) put(row.op);
  s.line_type = t;
  return 0;
}

// ---------------------------------------------------------------- images

int gps_image(ImageRecord *img, int x, int y) {
  FILE *f = out();
  if (!f || !img) return -1;
  float ws_win[4];
  gget_ws_win(ws_win);
  const GpsRasterPlace place = gps_raster_place(*img, x, y, ws_win);
  const GpsRasterKind kind = ps().pr_color ? GpsRasterKind::colour : GpsRasterKind::grey;
  return gps_write_raster(f, *img, place, kind, ps().pr_rev != 0);
}
