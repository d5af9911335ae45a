#include "app/plt_tool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "domain/cty_read.h"
#include "domain/maptran.h"
#include "domain/region.h"
#include "gks/gks.h"
#include "gks/gks_ps.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr int kMaxOverlayBase = 5;
constexpr int kDefaultMaxBad = 5;

PltSettings &settings() {
  static PltSettings s;
  return s;
}

// The value of a prefix keyword starts after the prefix and one separator.
const char *value_after(const char *word, size_t skip) { return std::strlen(word) > skip ? word + skip : ""; }

void decode_overlay(const char *word) {
  int base = 0, count = 0;
  int n = std::sscanf(value_after(word, 5), "%d:%d", &base, &count);
  if (n >= 1) PLT_set_overlay_base(std::min(base, kMaxOverlayBase));
  if (n >= 2) PLT_set_num_overlay(count);
}

void decode_latlon(const char *word) {
  float lat = 0.0f, lon = 0.0f;
  int style = 0, width = 0;
  int n = std::sscanf(value_after(word, 5), "%f:%f:%d:%d", &lat, &lon, &style, &width);
  if (n < 1) return;
  if (n < 2) lon = lat;
  MAP_latlon(lat, lon, style, width);
}

void decode_pair_int(const char *text, int *x, int *y) {
  int n = std::sscanf(text, "%d:%d", x, y);
  if (n == 1) *y = *x;
}

void decode_pair_float(const char *text, float *x, float *y) {
  int n = std::sscanf(text, "%f:%f", x, y);
  if (n == 1) *y = *x;
}

void decode_bar(const char *word) {
  PltSettings &s = settings();
  s.color_bar = 1;
  float low = 0.0f, high = 0.0f;
  if (std::sscanf(value_after(word, 4), "%f:%f", &low, &high) == 2) {
    s.bar_min = low;
    s.bar_max = high;
  }
}

// The writers of the dump types; the suite's own image type has none here
// and is written as a window dump, like its default name says.
int dump_image_type(int dump_type) {
  switch (dump_type) {
    case 2: return IMG_OUT_GIF;
    case 4: return IMG_OUT_PNG;
    default: return IMG_OUT_XWD;
  }
}

void decode_dump(int type, const char *word) { PLT_set_dump(type, std::strlen(word) > 4 ? word + 4 : nullptr); }

enum class Match { whole, prefix };

struct KeywordRow {
  const char *keyword;
  Match match;
  size_t prefix;
  void (*apply)(const char *word);
};

// Checked in this order; the first row that matches handles the word.
const KeywordRow kKeywords[] = {
    {"full", Match::whole, 0, [](const char *) { PLT_set_view_offset(0.0f); }},
    {"fullab", Match::whole, 0,
     [](const char *) {
       PLT_set_view_offset(0.0f);
       settings().full_labels = 1;
     }},
    {"nopage", Match::whole, 0, [](const char *) { MESS_set_page(0); }},
    {"page", Match::whole, 0, [](const char *) { MESS_set_page(1); }},
    {"noredraw", Match::whole, 0, [](const char *) { gset_redraw(0); }},
    {"id", Match::whole, 0, [](const char *) { CTY_set_id_type(0); }},
    {"wmo", Match::whole, 0, [](const char *) { CTY_set_id_type(1); }},
    {"cod_wmo", Match::whole, 0, [](const char *) { CTY_set_id_type(2); }},
    {"tz", Match::prefix, 2, [](const char *w) { DATE_set_TZ(value_after(w, 3)); }},
    {"over", Match::prefix, 4, decode_overlay},
    {"lalo", Match::prefix, 4, decode_latlon},
    {"gridx", Match::prefix, 5, [](const char *w) { settings().grid_factor = std::atoi(value_after(w, 5)); }},
    {"plt_skip", Match::prefix, 8,
     [](const char *w) { decode_pair_int(value_after(w, 9), &settings().skip_x, &settings().skip_y); }},
    // The keyword is seven letters; its value follows the usual separator.
    {"plt_off", Match::prefix, 7,
     [](const char *w) { decode_pair_float(value_after(w, 8), &settings().offset_x, &settings().offset_y); }},
    {"plt_grid", Match::prefix, 8,
     [](const char *w) { settings().plot_limit = std::strlen(w) > 8 ? std::atoi(value_after(w, 9)) : 1; }},
    {"loc_pr", Match::prefix, 6, [](const char *w) { DOM_set_loc_prior(std::atoi(value_after(w, 7))); }},
    {"vp_size", Match::prefix, 7, [](const char *w) { PLT_panel_decode(value_after(w, 8)); }},
    {"font", Match::prefix, 4, [](const char *w) { GPH_set_def_font(value_after(w, 5)); }},
    {"gif_inter", Match::whole, 0, [](const char *) { GIF_interlace(1); }},
    {"gif_norm", Match::whole, 0, [](const char *) { GIF_interlace(0); }},
    {"gif_trans", Match::whole, 0, [](const char *) { GIF_transparent(1); }},
    {"inv", Match::whole, 0, [](const char *) { gset_inverse(1); }},
    {"lcmap", Match::whole, 0, [](const char *) { gset_local_colormap(1); }},
    {"nolcmap", Match::whole, 0, [](const char *) { gset_local_colormap(0); }},
    {"rwclr", Match::whole, 0, [](const char *) { gset_rw_colors(1); }},
    {"norwclr", Match::whole, 0, [](const char *) { gset_rw_colors(0); }},
    {"nolooptitle", Match::whole, 0, [](const char *) { gset_loop_title(0); }},
    {"pscolor", Match::whole, 0,
     [](const char *) {
       gps_set_colorPS(1);
       gset_inverse(1);
     }},
    {"psrev", Match::whole, 0, [](const char *) { gps_set_reverse(1); }},
    {"clear", Match::whole, 0, [](const char *) { gset_pix_mode(GKS_PIX_MODE_CLEAR); }},
    {"new", Match::whole, 0, [](const char *) { gset_pix_mode(GKS_PIX_MODE_NEW); }},
    {"kill", Match::whole, 0, [](const char *) { gset_pix_mode(GKS_PIX_MODE_KILL); }},
    {"bar", Match::prefix, 3, decode_bar},
    {"nobar", Match::whole, 0, [](const char *) { settings().color_bar = 0; }},
    {"nohdr", Match::whole, 0, [](const char *) { settings().grid_headers = 0; }},
    {"shadow", Match::prefix, 6,
     [](const char *w) {
       int drop = std::atoi(value_after(w, 7));
       gset_font_drop(drop < 1 ? 4 : drop);
     }},
    {"max_bad", Match::prefix, 7,
     [](const char *w) {
       int limit = std::atoi(value_after(w, 8));
       settings().max_bad = limit < 1 ? kDefaultMaxBad : limit;
     }},
    {"min_size", Match::prefix, 8, [](const char *w) { FILE_set_min_size(std::max(0, std::atoi(value_after(w, 9)))); }},
    {"grdfmt", Match::prefix, 6,
     [](const char *w) {
       copy_limited_to(settings().grid_format, value_after(w, 7), sizeof settings().grid_format - 1);
     }},
    {"gif", Match::prefix, 3, [](const char *w) { decode_dump(2, w); }},
    {"png", Match::prefix, 3, [](const char *w) { decode_dump(4, w); }},
    {"img", Match::prefix, 3, [](const char *w) { decode_dump(3, w); }},
    {"xwd", Match::prefix, 3, [](const char *w) { decode_dump(1, w); }},
};

bool row_matches(const KeywordRow &row, const char *word) {
  if (row.match == Match::whole) return stricmp(word, row.keyword) == 0;
  return std::strlen(word) >= row.prefix && strnicmp(word, row.keyword, static_cast<int>(row.prefix)) == 0;
}

void apply_keyword(const char *word) {
  for (const KeywordRow &row : kKeywords)
    if (row_matches(row, word)) {
      row.apply(word);
      return;
    }
}

}  // namespace

int PLT_param_decode() {
  ParsedList params;
  RES_getvals("plot_param", params.count_out(), params.items_out());
  for (int i = 0; i < params.count(); i++) apply_keyword(params.at(i));

  ParsedList outputs;
  RES_getvals("out_file", outputs.count_out(), outputs.items_out());
  for (int i = 0; i < outputs.count(); i++) {
    const char *word = outputs.at(i);
    if (strnicmp(word, "gif", 3) == 0 || strnicmp(word, "png", 3) == 0) apply_keyword(word);
  }
  return 0;
}

int PLT_set_view_offset(float offset) {
  float *v = settings().view_offset;
  v[0] = 0.0f;
  v[1] = 0.0f;
  v[2] = offset;
  v[3] = offset;
  return 0;
}

int PLT_panel_decode(const char *text) {
  if (text == nullptr) return -1;
  float columns = 1.0f, rows = 1.0f, column = 0.0f, row = 0.0f;
  int n = std::sscanf(text, "%fx%f+%f+%f", &columns, &rows, &column, &row);
  float sx = columns, sy = rows, ox = column, oy = row;
  if (columns > 1.0f) {
    // A grid of panels: row 0 is the top row.
    columns = std::min(std::max(columns, 1.0f), 8.0f);
    rows = std::min(std::max(rows, 1.0f), 8.0f);
    sx = 1.0f / columns;
    sy = 1.0f / rows;
    ox = column / columns;
    oy = 1.0f - (1.0f + row) / rows;
  }
  if (n != 4) return -1;
  GPH_set_view_size(sx, sy, ox, oy);
  return 0;
}

int PLT_set_dump(int type, const char *name) {
  PltSettings &s = settings();
  s.dump_type = type;
  if (name == nullptr || *name == '\0') name = type == 2 ? "zyb.gif" : type == 4 ? "zyb.png" : "zyb.xwd";
  copy_limited_to(s.dump_name, name, FILE_NAME_MAX);
  return 0;
}

int PLT_set_num_overlay(int n) {
  settings().num_overlay = n;
  return 0;
}

int PLT_set_overlay_base(int n) {
  settings().overlay_base = n;
  return 0;
}

int PLT_dump_drawing() {
  const PltSettings &s = settings();
  if (s.dump_type == 0) return 0;
  if (gsave_image_as(s.dump_name, dump_image_type(s.dump_type)) != 0) return 1;
  MESS_print(MESS_WARN, "Unable to write dump file: %s\n", s.dump_name);
  return -1;
}

const PltSettings *PLT_get_settings() { return &settings(); }

void PLT_reset() { settings() = PltSettings(); }
