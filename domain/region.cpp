#include "domain/region.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "domain/cty_read.h"
#include "domain/dom_file.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"
#include "util/tools.h"

namespace {

constexpr unsigned int kTraceMask = 0x40000000u;
constexpr unsigned int kInvalidMask = MESS_WARN;
constexpr unsigned int kRegionFileMask = 0x80000000u;
constexpr const char *kDefaultRegionFile = "zyb.reg";
constexpr int kDefaultNx = 25;
constexpr int kDefaultNy = 17;
constexpr float kDefaultSpacing = 1.2f;
constexpr float kZoomSpacing = 1.0f;
// A region's text may name another region; a loop of names ends here.
constexpr int kMaxRegionDepth = 4;

struct RegionState {
  int prompt_allowed = 0;
  int base_prior = 6;
  int loc_prior = 0;
  std::vector<DomainMenuItem> menu;
};

RegionState &state() {
  static RegionState s;
  return s;
}

// ---- Projection names ------------------------------------------------------

struct ProjName {
  const char *prefix;
  int code;
};

// Tried in this order over the prefix's length, so "lamb" and "lc" are
// Lambert conformal and any other "la" name Lambert azimuthal.
const ProjName kProjNames[] = {
    {"ll", 2},     {"lat", 2},    {"polar", 1}, {"ps", 1},     {"sat", 9},   {"lamb", 4},  {"lc", 4},
    {"la", 8},     {"gn", 6},     {"or", 5},    {"mo", 7},     {"me", 3},    {"pix", 99},  {"xy", 20},
    {"xlogy", 22}, {"xlogp", 22}, {"cat", 24},  {"skewt", 40}, {"ema", 42},  {"teph", 43}, {"rteph", 44},
    {"therm", 40}, {"stuve", 41}, {"hodo", 23}, {"vert", 22},  {"zoom", 50}, {"size", 51},
};

// ---- Numbers ---------------------------------------------------------------

// The whole field must be the number (blanks around it allowed): "40abc"
// is a typo, not 40.
bool read_float(const char *text, float *out) {
  char *end = nullptr;
  errno = 0;
  double v = std::strtod(text, &end);
  if (end == text || errno == ERANGE) return false;
  while (*end == ' ') end++;
  if (*end != '\0' || !std::isfinite(v) || std::fabs(v) > DOM_MAX_VALUE) return false;
  *out = static_cast<float>(v);
  return true;
}

bool read_int(const char *text, int *out) {
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  while (*end == ' ') end++;
  if (*end != '\0' || v < -DOM_MAX_POINTS || v > DOM_MAX_POINTS) return false;
  *out = static_cast<int>(v);
  return true;
}

std::vector<std::string> split(const std::string &text, char delim) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(delim, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// ---- Fields ----------------------------------------------------------------

// "name[:plon]" or "name[:e]:plat:plon:p1:p2:p3:p4"; empty parts keep
// their value.
bool read_proj(const std::string &text, DomainRecord *d) {
  std::vector<std::string> parts = split(text, ':');
  int code = DOM_proj_str(parts[0].c_str());
  if (code == DOM_PROJ_NONE) return false;
  d->proj = code;
  if (parts.size() == 2) return parts[1].empty() || read_float(parts[1].c_str(), &d->plon);
  size_t next = 1;
  if (parts.size() > 1 && stricmp(parts[1].c_str(), "e") == 0) {
    d->ellipsoid = 1;
    next = 2;
  }
  float *targets[] = {&d->plat, &d->plon, &d->p1, &d->p2, &d->p3, &d->p4};
  if (parts.size() - next > std::size(targets)) return false;
  for (size_t i = next; i < parts.size(); i++) {
    if (!parts[i].empty() && !read_float(parts[i].c_str(), targets[i - next])) return false;
  }
  return true;
}

// "id:identifier" or "id:file:identifier": the station's position.
bool read_station(const std::string &text, DomainRecord *d) {
  std::string rest = text.substr(3);
  size_t colon = rest.rfind(':');
  std::string file = colon == std::string::npos ? "" : rest.substr(0, colon);
  std::string id = colon == std::string::npos ? rest : rest.substr(colon + 1);
  return CTY_get_loc(file.c_str(), id.c_str(), &d->clat, &d->clon) == 1;
}

bool is_station(const std::string &text) { return strnicmp(text.c_str(), "id:", 3) == 0 && text.size() > 3; }

enum class Field { proj, size, plon, clat, clon, nx, ny, dx, dy, station };

bool read_field(Field kind, const std::string &text, DomainRecord *d) {
  const char *t = text.c_str();
  switch (kind) {
    case Field::proj: return read_proj(text, d);
    case Field::size:
      if (DOM_proj_str(t) != DOM_PROJ_SIZE) return false;
      d->proj = DOM_PROJ_SIZE;
      return true;
    case Field::plon: return read_float(t, &d->plon);
    case Field::clat: return read_float(t, &d->clat);
    case Field::clon: return read_float(t, &d->clon);
    case Field::nx: return read_int(t, &d->nx);
    case Field::ny: return read_int(t, &d->ny);
    case Field::dx: return read_float(t, &d->dx);
    case Field::dy: return read_float(t, &d->dy);
    case Field::station: return is_station(text) && read_station(text, d);
  }
  return false;
}

// ---- Patterns --------------------------------------------------------------

enum Default : unsigned {
  kProj1 = 1,          // projection 1
  kGrid = 2,           // nx 25, ny 17
  kDyIsDx = 4,         // dy = dx
  kSpacing = 8,        // dx = dy = 1.2
  kProjDefaults = 16,  // the three-field rules of a named projection
};

struct Pattern {
  std::vector<Field> fields;
  unsigned defaults;
  const char *message;
};

using F = Field;
// Tried in order; a pattern fits only with exactly as many fields as the
// text (a station in place of clat also stands for clon).
const Pattern kPatterns[] = {
    {{F::size, F::nx, F::ny}, 0, "%2d proj,nx,ny\n"},
    {{F::proj, F::plon, F::clat, F::clon, F::nx, F::ny, F::dx, F::dy}, 0, "%2d proj,plon,clat,clon,nx,ny,dx,dy\n"},
    {{F::proj, F::clat, F::clon, F::nx, F::ny, F::dx, F::dy}, 0, "%2d proj,clat,clon,nx,ny,dx,dy\n"},
    {{F::proj, F::plon, F::clat, F::clon, F::dx, F::dy}, kGrid, "%2d proj,plon,clat,clon,dx,dy\n"},
    {{F::proj, F::clat, F::clon, F::nx, F::ny, F::dx}, kDyIsDx, "%2d proj,clat,clon,nx,ny,dx\n"},
    {{F::clat, F::clon, F::nx, F::ny, F::dx, F::dy}, kProj1, "%2d clat,clon,nx,ny,dx,dy\n"},
    {{F::proj, F::clat, F::clon, F::dx, F::dy}, kGrid, "%2d proj,clat,clon,dx,dy\n"},
    {{F::clat, F::clon, F::nx, F::ny, F::dx}, kProj1 | kDyIsDx, "%2d clat,clon,nx,ny,dx\n"},
    {{F::proj, F::clat, F::clon, F::dx}, kGrid | kDyIsDx, "%2d proj,clat,clon,dx\n"},
    {{F::clat, F::clon, F::nx, F::ny}, kProj1 | kSpacing, "%2d clat,clon,nx,ny\n"},
    {{F::clat, F::clon, F::dx}, kProj1 | kGrid | kDyIsDx, "%2d clat,clon,dx\n"},
    {{F::proj, F::clat, F::clon}, kProjDefaults, "%2d proj,clat,clon\n"},
    {{F::clat, F::clon}, kProj1 | kGrid | kSpacing, "%2d clat,clon\n"},
    {{F::station}, kProj1 | kGrid | kSpacing, "%2d id:###\n"},
};

void apply_defaults(unsigned defaults, DomainRecord *d) {
  if (defaults & kProj1) d->proj = DOM_PROJ_POLAR;
  if (defaults & kGrid) d->nx = kDefaultNx, d->ny = kDefaultNy;
  if (defaults & kDyIsDx) d->dy = d->dx;
  if (defaults & kSpacing) d->dx = d->dy = kDefaultSpacing;
  if (!(defaults & kProjDefaults)) return;
  if (d->proj == DOM_PROJ_SIZE) {
    // "size,w,h" read as proj,clat,clon: the numbers are the window size.
    d->nx = static_cast<int>(d->clat);
    d->ny = static_cast<int>(d->clon);
    d->clat = d->clon = DOM_MISSING;
    return;
  }
  d->nx = kDefaultNx;
  d->ny = kDefaultNy;
  d->dx = d->dy = d->proj == DOM_PROJ_ZOOM ? kZoomSpacing : kDefaultSpacing;
}

bool fits(const Pattern &p, const std::vector<std::string> &fields, DomainRecord *d) {
  size_t k = 0;
  for (size_t i = 0; i < p.fields.size(); i++, k++) {
    if (k >= fields.size()) return false;
    Field kind = p.fields[i];
    if (kind == Field::clat && is_station(fields[k])) {
      if (i + 1 >= p.fields.size() || p.fields[i + 1] != Field::clon) return false;
      kind = Field::station;
      i++;
    }
    if (!read_field(kind, fields[k], d)) return false;
  }
  return k == fields.size();
}

// Values no picture can be drawn from, whatever pattern produced them.
bool sane(const DomainRecord &d) {
  int least = d.proj == DOM_PROJ_SIZE ? 1 : 2;
  if (d.nx < least || d.ny < least || d.nx > DOM_MAX_POINTS || d.ny > DOM_MAX_POINTS) return false;
  if (d.proj == DOM_PROJ_SIZE) return true;
  if (d.dx == 0.0f || d.dy == 0.0f || !std::isfinite(d.dx * d.nx) || !std::isfinite(d.dy * d.ny)) return false;
  bool map = d.proj >= 1 && d.proj <= 9;
  if (!map) return true;
  bool lat_ok = std::fabs(d.clat) <= 90.0f && (d.plat == DOM_MISSING || std::fabs(d.plat) <= 90.0f);
  return lat_ok && d.dx > 0.0f && d.dy > 0.0f;
}

// Values out of range do not fit either: a later pattern may read them
// otherwise ("lc:...,38,-98,31,21,1.5" is not plon 38 and clat -98).
bool reads(const Pattern &p, const std::vector<std::string> &fields, DomainRecord *d) {
  if (!fits(p, fields, d)) return false;
  apply_defaults(p.defaults, d);
  return sane(*d);
}

// ---- Regions ---------------------------------------------------------------

struct BuiltIn {
  const char *name;
  float clat, clon, spacing;
};

const BuiltIn kBuiltIns[] = {
    {"us", 39.0f, -97.0f, 2.3f},  {"ne", 42.0f, -76.0f, 0.9f},  {"at", 37.0f, -82.0f, 0.9f},
    {"se", 31.0f, -88.0f, 1.1f},  {"mw", 43.0f, -93.0f, 1.1f},  {"sp", 32.5f, -100.0f, 1.2f},
    {"nw", 44.0f, -112.0f, 1.0f}, {"sw", 37.0f, -112.0f, 1.0f}, {"var", DOM_MISSING, DOM_MISSING, 1.2f},
};

// "abbr description menu text" with the description's "_" as blanks.
bool parse_region_line(const char *line, DomainMenuItem *out) {
  if (line[0] == '#') return false;
  if (std::sscanf(line, "%31s %63s %d %160s", out->abbr, out->description, &out->number, out->text) != 4) return false;
  fill_string(out->description, '_', ' ');
  return true;
}

// Calls use for each region line until it returns true. false when the
// file cannot be opened.
template <typename Use>
bool each_region(const char *name, Use use) {
  const char *file = name != nullptr && *name != '\0' ? name : kDefaultRegionFile;
  FILE *f = DOM_open_data(file, nullptr);
  if (f == nullptr) {
    MESS_print(kRegionFileMask, "Unable to open region file: %s\n", file);
    return false;
  }
  char line[TOOLS_LINE_MAX + 1];
  DomainMenuItem item{};
  while (fgetline(f, line) != EOF) {
    if (parse_region_line(line, &item) && use(item)) break;
  }
  FILE_close(f);
  return true;
}

bool prompt_centre(DomainRecord *d) {
  if (!state().prompt_allowed) return false;
  d->clat = ZYB_promptf("Enter the central latitude: ");
  if (d->clat == DOM_MISSING) return false;
  d->clon = ZYB_promptf("Enter the central longitude: ");
  return d->clon != DOM_MISSING;
}

int decode(const char *text, DomainRecord *domain, int depth);

// The region text a name stands for: "fi:file" (its first region),
// "file:abbr", "file:" (loads its menu, then its first region), or a name
// in the default region file.
bool region_text(const std::string &name, char *out) {
  if (strnicmp(name.c_str(), "fi:", 3) == 0) return DOM_search_file(name.substr(3).c_str(), nullptr, out) == 1;
  size_t colon = name.find(':');
  if (colon == std::string::npos) return DOM_search_file(nullptr, name.c_str(), out) == 1;
  std::string file = name.substr(0, colon), abbr = name.substr(colon + 1);
  if (abbr.empty()) DOM_read_menu(file.c_str());
  return DOM_search_file(file.c_str(), abbr.c_str(), out) == 1;
}

int decode_region(const std::string &name, DomainRecord *d, int depth) {
  char text[DOM_TEXT_MAX + 1];
  if (depth < kMaxRegionDepth && region_text(name, text)) {
    return decode(text, d, depth + 1) == DOM_NOT_RECOGNISED ? DOM_NOT_RECOGNISED : DOM_REGION;
  }
  if (name.find(':') != std::string::npos || !DOM_get_def_region(name.c_str(), d)) return DOM_NOT_RECOGNISED;
  if (stricmp(name.c_str(), "var") == 0 && !prompt_centre(d)) return DOM_NOT_RECOGNISED;
  d->plon = d->clon;
  return DOM_REGION;
}

// The result of a text, without the side effects of DOM_decode.
int decode(const char *text, DomainRecord *domain, int depth) {
  if (text == nullptr || *text == '\0' || stricmp(text, "miss") == 0) return DOM_NONE;
  std::vector<std::string> fields = split(copy_limited(text, DOM_TEXT_MAX), ',');
  MESS_print(kTraceMask, "******** PARSING DOMAIN: %d %s\n", static_cast<int>(fields.size()), text);
  int number = 1;
  for (const Pattern &p : kPatterns) {
    DomainRecord d;
    DOM_init(&d);
    if (reads(p, fields, &d)) {
      MESS_print(kTraceMask, p.message, number);
      *domain = d;
      return DOM_EXPLICIT;
    }
    number++;
  }
  if (fields.size() != 1) return DOM_NOT_RECOGNISED;
  DomainRecord d;
  DOM_init(&d);
  int result = decode_region(fields[0], &d, depth);
  if (result != DOM_REGION || !sane(d)) return DOM_NOT_RECOGNISED;
  MESS_print(kTraceMask, "%2d reg:REG\n", number);
  *domain = d;
  return result;
}

}  // namespace

int DOM_init(DomainRecord *domain) {
  const float missing = DOM_MISSING;
  *domain = {DOM_MISSING, missing, missing, missing, missing,     missing,     missing, missing,
             missing,     missing, missing, missing, DOM_MISSING, DOM_MISSING, 0};
  return 0;
}

int DOM_proj_str(const char *name) {
  if (name == nullptr) return DOM_PROJ_NONE;
  if (stricmp(name, "miss") == 0) return DOM_MISSING;
  if (stricmp(name, "xp") == 0) return 25;
  for (const ProjName &p : kProjNames) {
    if (strnicmp(name, p.prefix, static_cast<int>(std::strlen(p.prefix))) == 0) return p.code;
  }
  return DOM_PROJ_NONE;
}

int DOM_decode(const char *text, DomainRecord *domain) {
  DomainRecord d;
  int result = decode(text, &d, 0);
  if (result == DOM_NONE) {
    DOM_init(domain);
    return result;
  }
  FLAG_set(FLAG_DOMAIN, result);
  if (result == DOM_NOT_RECOGNISED) {
    MESS_print(kInvalidMask, "DOM_decode: Invalid plot domain\n");
    return result;
  }
  *domain = d;
  FILE_set_key('r', text);
  DOM_set_base_prior((d.ny - 1) * d.dy);
  return result;
}

int DOM_set_prompt(int allowed) {
  int old = state().prompt_allowed;
  state().prompt_allowed = allowed != 0;
  return old;
}

int DOM_get_def_region(const char *name, DomainRecord *domain) {
  for (const BuiltIn &r : kBuiltIns) {
    if (stricmp(name, r.name) != 0) continue;
    DOM_init(domain);
    domain->proj = DOM_PROJ_POLAR;
    domain->nx = kDefaultNx;
    domain->ny = kDefaultNy;
    domain->clat = r.clat;
    domain->clon = domain->plon = r.clon;
    domain->dx = domain->dy = r.spacing;
    return 1;
  }
  return 0;
}

int DOM_search_file(const char *name, const char *abbr, char *out) {
  bool found = false;
  each_region(name, [&](const DomainMenuItem &item) {
    if (abbr != nullptr && *abbr != '\0' && stricmp(abbr, item.abbr) != 0) return false;
    copy_limited_to(out, item.text, DOM_TEXT_MAX);
    return found = true;
  });
  return found ? 1 : 0;
}

int DOM_read_menu(const char *name) {
  std::vector<DomainMenuItem> menu;
  bool opened = each_region(name, [&](const DomainMenuItem &item) {
    if (item.number != 0) menu.push_back(item);
    return menu.size() >= DOM_MENU_MAX;
  });
  if (!opened) return 0;
  state().menu = std::move(menu);
  return 1;
}

int DOM_menu_size() { return static_cast<int>(state().menu.size()); }

int DOM_menu_item(int index, DomainMenuItem *out) {
  if (index < 0 || index >= DOM_menu_size() || out == nullptr) return 0;
  *out = state().menu[static_cast<size_t>(index)];
  return 1;
}

int DOM_set_base_prior(float size) {
  struct Step {
    float above;
    int prior;
  };
  static const Step kSteps[] = {{50.0f, 1}, {25.0f, 2}, {12.5f, 3}, {6.25f, 4}, {3.0f, 5}};
  int prior = 6;
  for (const Step &s : kSteps) {
    if (size > s.above) {
      prior = s.prior;
      break;
    }
  }
  const char *adjust = RES_get("stat_prior");
  if (adjust != nullptr && adjust[0] != '\0') {
    bool digit_follows = std::isdigit(static_cast<unsigned char>(adjust[1])) != 0;
    if (adjust[0] == '+' && digit_follows)
      prior += adjust[1] - '0';
    else if (adjust[0] == '-' && digit_follows)
      prior -= adjust[1] - '0';
    else if (std::isdigit(static_cast<unsigned char>(adjust[0])))
      prior = adjust[0] - '0';
  }
  state().base_prior = prior < 1 ? 1 : prior;
  return state().base_prior;
}

int DOM_get_base_prior() { return state().base_prior; }

int DOM_set_loc_prior(int prior) {
  state().loc_prior = prior;
  return 0;
}

int DOM_get_loc_prior() { return state().loc_prior; }
