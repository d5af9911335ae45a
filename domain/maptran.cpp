#include "domain/maptran.h"

#include <algorithm>
#include <cmath>

#include "gks/gks_tran.h"
#include "util/mess.h"

namespace {

constexpr double R = MAP_EARTH_RADIUS;
constexpr double kDegToRad = 0.017453292519943334;
constexpr double kRadToDeg = 57.295779513082195;
constexpr double kMissing = DOM_MISSING;
constexpr double kPolarRadius = 63.56752;
constexpr double kEarthRatio2 = 0.9933056;  // (polar / equatorial radius) squared
// pi R exactly, so that a wrapped longitude lands where its equivalent does.
constexpr double kHalfMercator = 3.141592653589793 * R;
constexpr double kMollweidePi = 3.1415926535898;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kPolarClamp = 75.0;
constexpr double kMercatorClamp = 89.9;
constexpr double kLambertClamp = 89.0;

struct Satellite {
  double rad = 421.61, rad2 = 177754.98, rad4 = 31596834816.0, rad2_earth2 = 173686.92;
  double sat_ratio = kMissing, earth_ratio = kMissing;
};

struct MapState {
  DomainRecord domain{DOM_MISSING, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, DOM_MISSING, DOM_MISSING, 0};
  double limits[4] = {0, 1, 0, 1};
  double tlat1 = 60, tlat2 = 60;
  // Computed on their next use when missing: the polar scale, the Lambert
  // cone constant, the chart scales.
  double xfactor = kMissing, yfactor = kMissing;
  double mult = 1;
  double hemisphere = 1;
  double y0 = 0;  // skew-T base
  Satellite sat;
  double earth_ratio2 = kEarthRatio2;
  double view[4] = {0, 1, 0, 1};
  MapLatLon latlon{0, 0, 0, 0};
};

MapState &st() {
  static MapState s;
  return s;
}

bool is_map(int proj) { return proj >= 1 && proj <= 9; }

// Into -180..180; the caller has checked that v is finite.
double wrap180(double v) { return (v > 180.0 || v < -180.0) ? std::remainder(v, 360.0) : v; }

double dsin(double deg) { return std::sin(deg * kDegToRad); }
double dcos(double deg) { return std::cos(deg * kDegToRad); }
double dtan(double deg) { return std::tan(deg * kDegToRad); }

// The map conversions take their trigonometry in the precision T: float
// for the float interface, whose results are floats anyway (a few metres
// at most away from the double ones), double for everything else.
template <typename T>
double tsin(double rad) {
  return std::sin(static_cast<T>(rad));
}
template <typename T>
double tcos(double rad) {
  return std::cos(static_cast<T>(rad));
}
template <typename T>
double dsin_t(double deg) {
  return tsin<T>(deg * kDegToRad);
}
template <typename T>
double dcos_t(double deg) {
  return tcos<T>(deg * kDegToRad);
}
template <typename T>
double dtan_t(double deg) {
  return std::tan(static_cast<T>(deg * kDegToRad));
}
template <typename T>
double tlog(double v) {
  return std::log(static_cast<T>(v));
}
template <typename T>
double tpow(double v, double e) {
  return std::pow(static_cast<T>(v), static_cast<T>(e));
}

// ---- Forward, one function per projection -------------------------------
// Each returns 1, or 0 when the point cannot be shown.

template <typename T>
int polar(MapState &s, double lat, double lon, double *x, double *y) {
  if (s.xfactor == kMissing) {
    s.hemisphere = s.domain.plat >= 0 ? -1.0 : 1.0;
    s.xfactor = (1.0 - s.hemisphere * dsin(s.tlat1)) * R;
  }
  const T sign = static_cast<T>(s.hemisphere);
  if (sign * lat > kPolarClamp) lat = kPolarClamp * sign;
  // tan((sign lat + 90) / 2) by the half-angle form: one sincos is cheaper than a tan.
  const T phi = static_cast<T>(lat * kDegToRad), dl = static_cast<T>((lon - s.domain.plon) * kDegToRad);
  const T r = static_cast<T>(s.xfactor) * std::cos(phi) / (1 - sign * std::sin(phi));
  *x = r * std::sin(dl);
  *y = sign * r * std::cos(dl);
  return 1;
}

template <typename T>
int latlon(MapState &s, double lat, double lon, double *x, double *y) {
  double dl = lon - s.domain.plon;
  if (dl > 180.0) dl -= 360.0;
  if (dl < -180.0) dl += 360.0;
  *x = dl;
  *y = lat;
  return 1;
}

template <typename T>
int mercator(MapState &s, double lat, double lon, double *x, double *y) {
  *x = R * (lon - s.domain.plon) * kDegToRad;
  if (*x > kHalfMercator) *x -= 2 * kHalfMercator;
  if (*x < -kHalfMercator) *x += 2 * kHalfMercator;
  lat = std::clamp(lat, -kMercatorClamp, kMercatorClamp);
  *y = -R * tlog<T>(dtan_t<T>(45.0 - lat / 2.0));
  return 1;
}

void lambert_factors(MapState &s) {
  s.hemisphere = s.domain.plat >= 0 ? 1.0 : -1.0;
  const double t1 = s.tlat1, t2 = s.tlat2;
  double n;
  if (t1 == t2) {
    n = dcos(90.0 - s.hemisphere * t1);
  } else {
    n = (std::log(dcos(t1)) - std::log(dcos(t2))) / (std::log(dtan(45.0 - t1 / 2.0)) - std::log(dtan(45.0 - t2 / 2.0)));
  }
  s.xfactor = n;
  s.mult = dcos(t1) / (n * std::pow(dtan(45.0 - t1 / 2.0), n));
}

template <typename T>
int lambert(MapState &s, double lat, double lon, double *x, double *y) {
  if (s.xfactor == kMissing) lambert_factors(s);
  const T n = static_cast<T>(s.xfactor), sign = static_cast<T>(s.hemisphere);
  lat = sign > 0 ? std::max(lat, -kLambertClamp) : std::min(lat, kLambertClamp);
  const T phi = static_cast<T>(lat * kDegToRad), dl = static_cast<T>(wrap180(lon - s.domain.plon) * kDegToRad);
  // R mult tan(45 - sign lat / 2)^n, the tangent by the half-angle form.
  const T r = static_cast<T>(R * s.mult) * std::pow(std::cos(phi) / (1 + sign * std::sin(phi)), n);
  *x = r * std::sin(n * dl);
  *y = -sign * r * std::cos(n * dl);
  return 1;
}

template <typename T>
int orthographic(MapState &s, double lat, double lon, double *x, double *y) {
  double lat0 = s.domain.plat == DOM_MISSING ? 0.0 : s.domain.plat;
  double dl = lon - s.domain.plon;
  double cosc = dsin_t<T>(lat0) * dsin_t<T>(lat) + dcos_t<T>(lat0) * dcos_t<T>(lat) * dcos_t<T>(dl);
  if (cosc < 0) return 0;  // the far side
  *x = R * dcos_t<T>(lat) * dsin_t<T>(dl);
  *y = R * (dcos_t<T>(lat0) * dsin_t<T>(lat) - dsin_t<T>(lat0) * dcos_t<T>(lat) * dcos_t<T>(dl));
  return 1;
}

template <typename T>
int mollweide(MapState &s, double lat, double lon, double *x, double *y) {
  const double target = kMollweidePi * dsin_t<T>(lat);
  double theta = lat * kDegToRad;
  for (int i = 0; i < 15; i++) {
    double delta = -(theta + tsin<T>(theta) - target) / (1.0 + tcos<T>(theta));
    if (!std::isfinite(delta)) break;  // at a pole the first guess is exact
    theta += delta;
    if (std::fabs(delta) < 1e-10) break;
  }
  *x = std::fabs(lat) > 89.99 ? 0.0 : wrap180(lon - s.domain.plon) * R / 90.0 * tcos<T>(theta / 2.0);
  *y = R * tsin<T>(theta / 2.0);
  return 1;
}

template <typename T>
int azimuthal(MapState &s, double lat, double lon, double *x, double *y) {
  const double lat0 = s.domain.plat, dl = lon - s.domain.plon;
  double c = dsin_t<T>(lat0) * dsin_t<T>(lat) + dcos_t<T>(lat0) * dcos_t<T>(lat) * dcos_t<T>(dl);
  if (c <= -1.0) return 0;  // the antipode
  double k = R * std::sqrt(2.0 / (1.0 + c));
  *x = k * dcos_t<T>(lat) * dsin_t<T>(dl);
  *y = k * (dcos_t<T>(lat0) * dsin_t<T>(lat) - dsin_t<T>(lat0) * dcos_t<T>(lat) * dcos_t<T>(dl));
  return 1;
}

// Geocentric latitude (radians) and radius of a point.
void earth_point(const MapState &s, double lat, double *latc, double *radius) {
  if (!s.domain.ellipsoid) {
    *latc = lat * kDegToRad;
    *radius = R;
    return;
  }
  *latc = std::atan(s.earth_ratio2 * dtan(lat));
  double c = std::cos(*latc);
  *radius = kPolarRadius / std::sqrt(1.0 - (1.0 - s.earth_ratio2) * c * c);
}

template <typename T>
int satellite(MapState &s, double lat, double lon, double *x, double *y) {
  Satellite &sat = s.sat;
  if (sat.sat_ratio == kMissing) {
    sat.sat_ratio = sat.rad / R;
    sat.earth_ratio = R / sat.rad;
  }
  double latc, radius;
  earth_point(s, lat, &latc, &radius);
  double dl = (lon - s.domain.plon) * kDegToRad;
  double cl = tcos<T>(latc), cd = tcos<T>(dl), sd = tsin<T>(dl);
  if (cd * cl < sat.earth_ratio) return 0;  // beyond the satellite's horizon
  double h = sat.rad - radius * cd * cl;
  double u = radius * cl * sd / h;
  double v = radius * tsin<T>(latc) / std::sqrt(radius * radius * sd * sd * cl * cl + h * h);
  if (s.domain.p2 == 1.0f) {
    u = std::atan(u);
    v = std::atan(v);
  }
  *x = u * sat.rad;
  *y = v * sat.rad;
  return 1;
}

// ---- Charts ---------------------------------------------------------------

double potential_temperature(double t, double p) {
  if (t <= 0 || p <= 0) return kMissing;
  return t * std::pow(1000.0 / p, 0.286);
}

int chart(MapState &s, int proj, double a, double b, double *x, double *y) {
  const double xmin = s.limits[0], ymin = s.limits[2];
  switch (proj) {
    case 20:
    case 24:
      *x = (a - xmin) * s.xfactor + xmin;
      *y = (b - ymin) * s.yfactor + ymin;
      return 1;
    case 22:
    case 42:
      *x = a;
      *y = -std::log(b);
      return 1;
    case 23:
      *x = b * dsin(a);
      *y = b * dcos(a);
      return 1;
    case 25:
      *x = (a - xmin) * s.xfactor + xmin;
      *y = (ymin - b) * s.yfactor + ymin;
      return 1;
    case 40: {
      *y = -std::log(b);
      if (s.xfactor == kMissing) {
        const double *v = s.view;
        s.y0 = ymin;
        s.xfactor = ((v[3] - v[2]) / (v[1] - v[0])) * ((s.limits[1] - xmin) / (s.limits[3] - ymin));
      }
      *x = (*y - s.y0) * s.xfactor + a;
      return 1;
    }
    case 41:
      *x = a;
      *y = -std::pow(b, 0.285714);
      return 1;
    case 43: {
      if (s.xfactor == 0) {
        *x = a;
        *y = std::log(b);
        return 0;
      }
      const double *v = s.view;
      if (s.xfactor == kMissing) {
        s.xfactor = (v[1] - v[0]) / (s.limits[1] - xmin);
        s.yfactor = (v[3] - v[2]) / (s.limits[3] - ymin);
      }
      double theta = potential_temperature(a == kMissing ? a : a + 273.15, b);
      if (theta <= 0) return 0;
      const double left = v[0], bottom = v[2];
      double px = (a - xmin) * s.xfactor + left, py = (std::log(theta) - ymin) * s.yfactor + bottom;
      double xr = (py - bottom) / 2.0 + (left + px) / 2.0;
      double yr = py - (xr - left);
      *x = (xr - left) / s.xfactor + xmin;
      *y = (yr - bottom) / s.yfactor + ymin;
      return 1;
    }
    case 44: {
      double theta = potential_temperature(a == kMissing ? a : a + 273.15, b);
      if (theta <= 0) return 0;
      *x = a;
      *y = std::log(theta);
      return 1;
    }
    case 99:
      *x = a;
      *y = -b;
      return 1;
    default: return -1;  // no conversion: the outputs stay as they were
  }
}

template <typename T>
int forward(MapState &s, double a, double b, double *x, double *y) {
  const int proj = s.domain.proj;
  if (proj == DOM_MISSING) {
    *x = a;
    *y = b;
    return 1;
  }
  double px = *x, py = *y;
  int shown;
  if (is_map(proj)) {
    if (!std::isfinite(a) || !std::isfinite(b)) {
      *x = *y = kMissing;
      return 0;
    }
    b = wrap180(b);
    // A switch rather than a table of pointers: the compiler can then
    // inline the conversion, which is most of the cost of a point.
    switch (proj) {
      case 1: shown = polar<T>(s, a, b, &px, &py); break;
      case 2: shown = latlon<T>(s, a, b, &px, &py); break;
      case 3: shown = mercator<T>(s, a, b, &px, &py); break;
      case 4: shown = lambert<T>(s, a, b, &px, &py); break;
      case 5: shown = orthographic<T>(s, a, b, &px, &py); break;
      case 7: shown = mollweide<T>(s, a, b, &px, &py); break;
      case 8: shown = azimuthal<T>(s, a, b, &px, &py); break;
      case 9: shown = satellite<T>(s, a, b, &px, &py); break;
      default: return 1;  // gnomonic has no conversion
    }
  } else {
    shown = chart(s, proj, a, b, &px, &py);
    if (shown < 0) return 1;
  }
  if (shown == 1 && (!std::isfinite(px) || !std::isfinite(py))) shown = 0;
  bool keep = shown == 1 || (proj == 43 && s.xfactor == 0);
  *x = keep ? px : kMissing;
  *y = keep ? py : kMissing;
  return shown;
}

// ---- Limits ---------------------------------------------------------------

void ordered(double *limits) {
  if (limits[0] > limits[1]) std::swap(limits[0], limits[1]);
  if (limits[2] > limits[3]) std::swap(limits[2], limits[3]);
}

// false when the domain's centre cannot be shown.
bool set_limits(MapState &s) {
  const DomainRecord &d = s.domain;
  double *L = s.limits;
  const double hx = (d.nx - 1) * 0.5 * d.dx, hy = (d.ny - 1) * 0.5 * d.dy;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  switch (d.proj) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
      // A gnomonic domain has no conversion: it stays centred on the origin.
      if (forward<double>(s, d.clat, d.clon, &x0, &y0) != 1) return false;
      L[0] = x0 - hx, L[1] = x0 + hx, L[2] = y0 - hy, L[3] = y0 + hy;
      return true;
    case 20:
    case 24:
      L[0] = d.clat, L[1] = d.clat + d.nx, L[2] = d.clon, L[3] = d.clon + d.ny;
      s.xfactor = d.nx / d.dx;
      s.yfactor = d.ny / d.dy;
      break;
    case 23: L[0] = d.clat, L[1] = d.clat + d.dx, L[2] = d.clon, L[3] = d.clon + d.dy; break;
    case 25:
      L[0] = d.clat, L[1] = d.clat + d.nx, L[2] = -d.clon, L[3] = d.ny - d.clon;
      s.xfactor = d.nx / d.dx;
      s.yfactor = d.ny / d.dy;
      break;
    case 40:
    case 43:
    case 44: {
      s.xfactor = s.yfactor = 0;
      double unused;
      forward<double>(s, d.clat, d.clon, &x0, &y0);
      forward<double>(s, d.clat + d.dx, d.clon, &x1, &unused);
      forward<double>(s, d.clat, d.clon + d.dy, &unused, &y1);
      L[0] = x0, L[1] = x1, L[2] = y0, L[3] = y1;
      s.xfactor = kMissing;
      break;
    }
    case DOM_PROJ_ZOOM:  // a plain window about the centre
      L[0] = d.clat - hx, L[1] = d.clat + hx, L[2] = d.clon - hy, L[3] = d.clon + hy;
      break;
    case DOM_PROJ_SIZE:  // the window's pixels, rows downwards as the pixel code has them
      L[0] = 0, L[1] = d.nx, L[2] = -d.ny, L[3] = 0;
      break;
    default:
      forward<double>(s, d.clat, d.clon, &x0, &y0);
      forward<double>(s, d.clat + d.dx, d.clon + d.dy, &x1, &y1);
      L[0] = x0, L[1] = x1, L[2] = y0, L[3] = y1;
      break;
  }
  ordered(L);
  return true;
}

bool load_domain(MapState &s, const DomainRecord &record) {
  s.domain = record;
  DomainRecord &d = s.domain;
  if (d.plat == DOM_MISSING) d.plat = d.clat;
  if (d.plon == DOM_MISSING) d.plon = d.clon;
  if (d.proj == DOM_PROJ_POLAR) {
    s.tlat1 = d.plat < 0 ? -60.0 : 60.0;
    if (d.p1 != DOM_MISSING) s.tlat1 = d.p1;
  }
  if (d.proj == 4) {
    s.tlat1 = 30.0;
    s.tlat2 = 60.0;
    if (d.p1 != DOM_MISSING) {
      s.tlat1 = d.p1;
      // One true latitude given: a tangent cone on it.
      s.tlat2 = d.p2 != DOM_MISSING ? d.p2 : d.p1;
    }
  }
  if (d.proj == DOM_PROJ_SATELLITE) {
    s.sat = Satellite{};
    if (d.p1 != DOM_MISSING) {
      double p1 = d.p1;
      s.sat.rad = p1;
      s.sat.rad2 = p1 * p1;
      s.sat.rad4 = p1 * p1 * p1 * p1;
      s.sat.rad2_earth2 = p1 * p1 - 4068.063;
    }
  }
  s.xfactor = kMissing;
  s.sat.sat_ratio = kMissing;
  s.earth_ratio2 = kEarthRatio2;
  return set_limits(s);
}

bool usable(const double *L) {
  for (int i = 0; i < 4; i++) {
    if (!std::isfinite(L[i]) || std::fabs(L[i]) > 1e30) return false;
  }
  return static_cast<float>(L[0]) < static_cast<float>(L[1]) && static_cast<float>(L[2]) < static_cast<float>(L[3]);
}

// ---- Inverse ------------------------------------------------------------------

int inverse_polar(const MapState &s, double x, double y, double *lat, double *lon) {
  const double sign = s.hemisphere;
  double r = std::hypot(x, y);
  *lat = sign * (2.0 * std::atan(r / s.xfactor) * kRadToDeg - 90.0);
  *lon = s.domain.plon + std::atan2(x, sign * y) * kRadToDeg;
  return sign * *lat <= kPolarClamp;
}

int inverse_latlon(const MapState &s, double x, double y, double *lat, double *lon) {
  *lat = y;
  *lon = s.domain.plon + x;
  return std::fabs(x) <= 180.0 && std::fabs(y) <= 90.0;
}

int inverse_mercator(const MapState &s, double x, double y, double *lat, double *lon) {
  *lon = s.domain.plon + x / R * kRadToDeg;
  *lat = 90.0 - 2.0 * std::atan(std::exp(-y / R)) * kRadToDeg;
  return std::fabs(x) <= kHalfMercator && std::fabs(*lat) <= kMercatorClamp;
}

int inverse_lambert(const MapState &s, double x, double y, double *lat, double *lon) {
  const double n = s.xfactor, sign = s.hemisphere, sigma = s.mult < 0 ? -1.0 : 1.0;
  double r = std::hypot(x, y);
  double theta = std::atan2(sigma * x, -sign * sigma * y);
  double t = std::pow(r / (R * std::fabs(s.mult)), 1.0 / n);
  *lat = sign * (90.0 - 2.0 * std::atan(t) * kRadToDeg);
  double dl = theta / n * kRadToDeg;
  *lon = s.domain.plon + dl;
  return std::fabs(dl) <= 180.0 && sign * *lat >= -kLambertClamp;
}

int inverse_orthographic(const MapState &s, double x, double y, double *lat, double *lon) {
  const double lat0 = s.domain.plat * kDegToRad;
  x /= R;
  y /= R;
  double rho = std::hypot(x, y);
  if (rho > 1.0) return 0;
  if (rho == 0.0) {
    *lat = s.domain.plat;
    *lon = s.domain.plon;
    return 1;
  }
  double c = std::asin(rho);
  *lat = std::asin(std::cos(c) * std::sin(lat0) + y * std::sin(c) * std::cos(lat0) / rho) * kRadToDeg;
  *lon = s.domain.plon +
         std::atan2(x * std::sin(c), rho * std::cos(c) * std::cos(lat0) - y * std::sin(c) * std::sin(lat0)) * kRadToDeg;
  return 1;
}

// The ray from the satellite through the scan angles meets the earth (a
// sphere, or the ellipsoid whose polar radius the forward conversion uses).
int inverse_satellite(const MapState &s, double x, double y, double *lat, double *lon) {
  const double S = s.sat.rad;
  double u = x / S, v = y / S;
  if (s.domain.p2 == 1.0f) {
    if (std::fabs(u) >= kHalfPi || std::fabs(v) >= kHalfPi) return 0;
    u = std::tan(u);
    v = std::tan(v);
  }
  const double w = v * std::sqrt(1.0 + u * u);
  const double a = s.domain.ellipsoid ? kPolarRadius / std::sqrt(s.earth_ratio2) : R;
  const double q2 = s.domain.ellipsoid ? 1.0 / s.earth_ratio2 : 1.0;  // (a / b) squared
  const double A = 1.0 + u * u + w * w * q2;
  const double disc = S * S - A * (S * S - a * a);
  if (disc < 0) return 0;
  const double t = (S - std::sqrt(disc)) / A;
  const double px = S - t, py = t * u, pz = t * w;
  double latc = std::atan2(pz, std::hypot(px, py)), dl = std::atan2(py, px);
  if (std::cos(dl) * std::cos(latc) < s.sat.earth_ratio) return 0;
  double geo = s.domain.ellipsoid ? std::atan(std::tan(latc) / s.earth_ratio2) : latc;
  *lat = geo * kRadToDeg;
  *lon = s.domain.plon + dl * kRadToDeg;
  return 1;
}

}  // namespace

int MAP_domain(const DomainRecord *domain) {
  MapState &s = st();
  if (domain == nullptr) {
    s.domain.proj = DOM_MISSING;
    return -1;
  }
  load_domain(s, *domain);
  return 0;
}

int MAP_setup(const DomainRecord *domain) {
  if (domain == nullptr) return -1;
  MapState trial = st();
  if (!load_domain(trial, *domain) || !usable(trial.limits)) {
    MESS_print(MESS_WARN, "MAP_setup: The plot domain gives no usable window\n");
    return -1;
  }
  const float window[4] = {static_cast<float>(trial.limits[0]), static_cast<float>(trial.limits[1]),
                           static_cast<float>(trial.limits[2]), static_cast<float>(trial.limits[3])};
  if (gset_win(MAP_TRAN, window) != 0) return -1;
  st() = trial;
  gsel_norm_tran(MAP_TRAN);
  return 0;
}

int MAP_get_limits(float limits[4]) {
  for (int i = 0; i < 4; i++) limits[i] = static_cast<float>(st().limits[i]);
  return 0;
}

int MAP_get_domain(DomainRecord *domain) {
  *domain = st().domain;
  return 0;
}

int MAP_get_proj() { return st().domain.proj; }

int MAP_tran_d(double *x, double *y, double first, double second) { return forward<double>(st(), first, second, x, y); }

int MAP_tran(float *x, float *y, float first, float second) {
  double dx = *x, dy = *y;
  int result = forward<float>(st(), first, second, &dx, &dy);
  *x = static_cast<float>(dx);
  *y = static_cast<float>(dy);
  return result;
}

int MAP_tran_center(float *x, float *y) { return MAP_tran(x, y, st().domain.clat, st().domain.clon); }

int MAP_inverse_d(double x, double y, double *lat, double *lon) {
  MapState &s = st();
  using Inverse = int (*)(const MapState &, double, double, double *, double *);
  static const Inverse kInverses[10] = {nullptr,         inverse_polar,        inverse_latlon, inverse_mercator,
                                        inverse_lambert, inverse_orthographic, nullptr,        nullptr,
                                        nullptr,         inverse_satellite};
  int proj = s.domain.proj;
  if (!is_map(proj) || kInverses[proj] == nullptr) return -1;
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  // The cached factors are made by a forward conversion.
  double cx = 0, cy = 0;
  if (s.xfactor == kMissing || s.sat.sat_ratio == kMissing) forward<double>(s, s.domain.clat, s.domain.clon, &cx, &cy);
  double la = 0, lo = 0;
  if (kInverses[proj](s, x, y, &la, &lo) != 1 || !std::isfinite(la) || !std::isfinite(lo)) return 0;
  *lat = la;
  *lon = wrap180(lo);
  return 1;
}

int MAP_inverse(float x, float y, float *lat, float *lon) {
  double la = 0, lo = 0;
  int result = MAP_inverse_d(x, y, &la, &lo);
  if (result == 1) {
    *lat = static_cast<float>(la);
    *lon = static_cast<float>(lo);
  }
  return result;
}

int MAP_set_view(float xmin, float xmax, float ymin, float ymax) {
  double *v = st().view;
  v[0] = xmin, v[1] = xmax, v[2] = ymin, v[3] = ymax;
  return 0;
}

int MAP_latlon(float lat_spacing, float lon_spacing, int style, int width) {
  st().latlon = {lat_spacing, lon_spacing, style, width};
  return 0;
}

int MAP_get_latlon(MapLatLon *out) {
  *out = st().latlon;
  return 0;
}
