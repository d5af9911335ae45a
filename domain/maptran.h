// Map projections: a domain record turned into plot coordinates.
//
// Map coordinates are in units of 100 km on a sphere of radius 63.7122
// (the satellite view may use an ellipsoid); chart codes map their two
// data values onto the chart's own axes. MAP_setup installs a domain as
// the window of normalisation transformation 2.
#pragma once

#include "domain/region.h"

constexpr double MAP_EARTH_RADIUS = 63.7122;  // 100 km units
constexpr int MAP_TRAN = 2;                   // the transformation MAP_setup sets

// MAP_domain, then the domain's limits become the window of
// transformation 2, which is selected. 0, or -1 (with a message, and the
// domain in force unchanged) when the record is missing or gives no
// usable window.
int MAP_setup(const DomainRecord *domain);

// Makes domain the one in force and computes its limits. 0, or -1 for
// nullptr (the projection becomes -9999).
int MAP_domain(const DomainRecord *domain);
int MAP_get_limits(float limits[4]);  // xmin, xmax, ymin, ymax
int MAP_get_domain(DomainRecord *domain);
int MAP_get_proj();  // -9999 before any domain

// One point: latitude and longitude for the map codes, the chart's two
// values for the charts. 1 when converted; 0 when the point cannot be
// shown (then x = y = -9999). Codes without a conversion (gnomonic, zoom,
// size) leave x and y untouched and return 1.
int MAP_tran(float *x, float *y, float first, float second);
int MAP_tran_d(double *x, double *y, double first, double second);
int MAP_tran_center(float *x, float *y);

// Plot coordinates back to latitude and longitude for projection codes 1
// to 5 and 9: 1, 0 when no latitude maps to the point (off the map, the
// far side, beyond a clamp), -1 when no domain is set or its projection
// has no inverse.
int MAP_inverse(float x, float y, float *lat, float *lon);
int MAP_inverse_d(double x, double y, double *lat, double *lon);

// The viewport (xmin, xmax, ymin, ymax) that the skew-T and tephigram
// charts fit their axes to.
int MAP_set_view(float xmin, float xmax, float ymin, float ymax);

// Latitude/longitude line settings for the plotting modules.
struct MapLatLon {
  float lat_spacing, lon_spacing;
  int style, width;
};
int MAP_latlon(float lat_spacing, float lon_spacing, int style, int width);
int MAP_get_latlon(MapLatLon *out);
