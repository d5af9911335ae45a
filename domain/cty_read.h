// The city file: stations with their identifiers and positions.
//
// One station a line, read as "%20s %2s %2s %9s %s %f %f %f %d %d": name
// ("_" for blanks), state, country, identifier, priority flags, latitude,
// longitude, elevation (above 9000 means unknown), station number (negative
// when it has none) and one more integer. The default file is the resource
// "city_file", else "sao.cty"; "none" switches station look-ups off.
#pragma once

constexpr int CTY_NAME_MAX = 20;
constexpr int CTY_ID_MAX = 9;
constexpr int CTY_LABEL_SIZE = 40;  // "IDENTIFIER name", terminated
constexpr double CTY_EARTH_KM = 6371.22;

// Position of a station given by identifier, name or station number
// ("%05d"), case-insensitive, first match in file order. name nullptr or
// "" means the default file. 1 when found, else 0.
int CTY_get_loc(const char *name, const char *id, float *lat, float *lon);

// Identifier the plotting modules label stations with: 0 identifier,
// 1 WMO number, 2 both. Returns the previous type.
int CTY_set_id_type(int type);
int CTY_get_id_type();

// The station of the default file nearest to a point on a sphere of
// radius CTY_EARTH_KM: its label ("KDEN Denver_International") into
// label_out (CTY_LABEL_SIZE bytes) and the great-circle distance in km.
// 1 when a station was found, 0 when no city file is available.
int CTY_nearest(float lat, float lon, char *label_out, float *km_out);

// Great-circle distance in km between two points given in degrees.
double CTY_distance_km(double lat1, double lon1, double lat2, double lon2);
