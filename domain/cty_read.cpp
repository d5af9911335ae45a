#include "domain/cty_read.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "domain/dom_file.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/tools.h"

namespace {

constexpr unsigned int kSearchMask = 3840;
constexpr unsigned int kErrorMask = MESS_WARN;
constexpr const char *kDefaultFile = "sao.cty";
constexpr float kUnknownElevation = 9000.0f;
// A city file is a few thousand lines; a file far beyond that is not one,
// and reading all of it would only cost memory.
constexpr size_t kMaxStations = 200000;
constexpr double kDegToRad = 0.017453292519943334;

struct Station {
  std::string name, state, country, id, flags;
  float lat, lon, elevation;
  int number;
};

// The stations of the last file read, kept until that file changes, so
// that a pointer readout does not read the file at every motion.
struct CityCache {
  std::string path;
  time_t mtime = 0;
  off_t size = -1;
  std::vector<Station> stations;
};

struct CityState {
  int id_type = 0;
  CityCache cache;
};

CityState &state() {
  static CityState s;
  return s;
}

bool parse_station(const char *line, Station *out) {
  char name[CTY_NAME_MAX + 1], st[3], country[3], id[CTY_ID_MAX + 1], flags[TOOLS_LINE_MAX + 1];
  int number = 0, extra = 0;
  if (std::sscanf(line, "%20s %2s %2s %9s %160s %f %f %f %d %d", name, st, country, id, flags, &out->lat, &out->lon,
                  &out->elevation, &number, &extra) < 8)
    return false;
  if (!std::isfinite(out->lat) || !std::isfinite(out->lon) || std::fabs(out->lat) > 90.0f) return false;
  if (out->elevation > kUnknownElevation) out->elevation = -9999.0f;
  *out = {name, st, country, id, flags, out->lat, out->lon, out->elevation, number};
  return true;
}

// The file a look-up reads: the one named, else the resource, else the
// shipped one; "none" switches look-ups off (empty result).
std::string city_file_name(const char *name) {
  if (name != nullptr && *name != '\0') return name;
  const char *res = RES_get("city_file");
  return res != nullptr && *res != '\0' ? res : kDefaultFile;
}

// Opens and caches the stations of a city file. nullptr when the file is
// switched off or cannot be opened.
const std::vector<Station> *load(const char *name) {
  std::string file = city_file_name(name);
  if (stricmp(file.c_str(), "none") == 0) return nullptr;
  char path[FILE_NAME_SIZE];
  FILE *f = DOM_open_data(file.c_str(), path);
  if (f == nullptr) {
    MESS_print(kErrorMask, "CTY_open_file: Database file not found: %s\n", file.c_str());
    return nullptr;
  }
  CityCache &cache = state().cache;
  struct stat st {};
  bool known = fstat(fileno(f), &st) == 0;
  if (known && cache.path == path && cache.mtime == st.st_mtime && cache.size == st.st_size) {
    FILE_close(f);
    return &cache.stations;
  }
  cache.path = known ? path : "";
  cache.mtime = st.st_mtime;
  cache.size = st.st_size;
  cache.stations.clear();
  char line[TOOLS_LINE_MAX + 1];
  Station s;
  while (fgetline(f, line) != EOF && cache.stations.size() < kMaxStations) {
    if (line[0] != '#' && parse_station(line, &s)) cache.stations.push_back(s);
  }
  FILE_close(f);
  return &cache.stations;
}

bool matches(const Station &s, const char *text) {
  if (stricmp(s.name.c_str(), text) == 0 || stricmp(s.id.c_str(), text) == 0) return true;
  if (s.number < 0) return false;  // a station without a number
  char number[16];
  std::snprintf(number, sizeof number, "%05d", s.number);
  return std::strcmp(number, text) == 0;
}

}  // namespace

int CTY_get_loc(const char *name, const char *id, float *lat, float *lon) {
  if (id == nullptr || *id == '\0') return 0;
  MESS_print(kSearchMask, "Searching the city database file for: %s ...\n", id);
  const std::vector<Station> *stations = load(name);
  if (stations == nullptr) return 0;
  for (const Station &s : *stations) {
    if (!matches(s, id)) continue;
    if (lat) *lat = s.lat;
    if (lon) *lon = s.lon;
    return 1;
  }
  return 0;
}

int CTY_set_id_type(int type) {
  int old = state().id_type;
  state().id_type = type;
  return old;
}

int CTY_get_id_type() { return state().id_type; }

double CTY_distance_km(double lat1, double lon1, double lat2, double lon2) {
  // The haversine form keeps its precision for the short distances a
  // readout mostly asks about.
  double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
  double dp = p2 - p1, dl = (lon2 - lon1) * kDegToRad;
  double a = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
  return 2.0 * CTY_EARTH_KM * std::asin(std::sqrt(std::fmin(1.0, a)));
}

int CTY_nearest(float lat, float lon, char *label_out, float *km_out) {
  if (!std::isfinite(lat) || !std::isfinite(lon)) return 0;
  const std::vector<Station> *stations = load(nullptr);
  if (stations == nullptr || stations->empty()) return 0;
  const Station *best = nullptr;
  double best_km = 0.0;
  for (const Station &s : *stations) {
    double km = CTY_distance_km(lat, lon, s.lat, s.lon);
    if (best == nullptr || km < best_km) best = &s, best_km = km;
  }
  if (label_out != nullptr) {
    std::string label = best->id + " " + best->name;
    copy_limited_to(label_out, label.c_str(), CTY_LABEL_SIZE - 1);
  }
  if (km_out != nullptr) *km_out = static_cast<float>(best_km);
  return 1;
}
