// The looper's maps: the plot-domain row of "set", latitude/longitude and
// station point words, and the latitude/longitude query.
#include <cmath>
#include <string>

#include "app/loop_cmd.h"
#include "domain/cty_read.h"
#include "domain/maptran.h"
#include "domain/region.h"
#include "gks/gks.h"

namespace loop_cmd {

namespace {

// "id:identifier" or "id:file:identifier", as domain texts name stations.
bool station_position(const std::string &word, float *lat, float *lon) {
  if (!begins_with(word, "id:") || word.size() <= 3) return false;
  const std::string rest = word.substr(3);
  const size_t colon = rest.rfind(':');
  const std::string file = colon == std::string::npos ? "" : rest.substr(0, colon);
  const std::string id = colon == std::string::npos ? rest : rest.substr(colon + 1);
  return CTY_get_loc(file.c_str(), id.c_str(), lat, lon) == 1;
}

int invalid_domain(const Command &c, const std::string &text) {
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Invalid plot domain: %s\n", text.c_str());
}

}  // namespace

bool map_point(const std::string &word, float *x, float *y) {
  if (MAP_get_proj() == DOM_MISSING) return false;
  float lat = 0, lon = 0;
  if (!station_position(word, &lat, &lon) && !point_word(word, &lat, &lon)) return false;
  // Projections without a conversion leave the values as they were given.
  float px = lat, py = lon;
  if (MAP_tran(&px, &py, lat, lon) != 1 || !std::isfinite(px) || !std::isfinite(py)) return false;
  *x = px;
  *y = py;
  return true;
}

// Unlike the other rows, a domain that is not recognised is answered: a
// client would otherwise wait for its time-out on a typing error.
int set_domain(const Command &c, const Words &v) {
  const std::string &text = v[1];
  DomainRecord domain;
  const int result = DOM_decode(text.c_str(), &domain);
  if (result == DOM_NONE) {
    gset_map_domain(nullptr);
  } else {
    if (result == DOM_NOT_RECOGNISED || gset_map_domain(&domain) != 0) return invalid_domain(c, text);
    LOOP_state().trans = LOOP_TRAN_MAP;
  }
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Plot domain set to %s\n", text.c_str());
}

// "qu ll x,y": x, y in pixels from the top-left corner of the picture,
// whatever the transformation in force.
int query_latlon(const Command &c) {
  float px = 0, py = 0;
  if (c.args.size() != 2 || !point_word(c.args[1], &px, &py)) return c.quote("Invalid query command: %s\n");
  if (MAP_get_proj() == DOM_MISSING) return c.reply(MQ_LAST_LINE, "No plot domain set\n");
  const char *word = c.args[1].c_str();
  double lat = 0, lon = 0;
  // Without a window no pixel lies on the map.
  if (!LOOP_state().open || gp_latlon(px, py, &lat, &lon) != 1)
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Lat/lon at %s: off the map\n", word);
  char station[CTY_LABEL_SIZE] = "";
  float km = 0;
  const bool nearest = CTY_nearest(static_cast<float>(lat), static_cast<float>(lon), station, &km) == 1;
  LOOP_reply(c.sender, nearest ? MQ_MORE_LINES : MQ_LAST_LINE, "Lat/lon at %s: %.3f,%.3f\n", word, lat, lon);
  if (!nearest) return 0;
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Nearest station: %s %.1f km\n", station, km);
}

}  // namespace loop_cmd
