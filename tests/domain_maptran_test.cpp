// Map projections against PROJ's proj program on a sphere of radius
// 6371.22 km, the inverse against the forward conversion, and the charts
// and edge rules against hand-computed points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "domain/maptran.h"
#include "gks/gks.h"
#include "proc_util.h"
#include "util/mess.h"

using namespace zyb_test;

namespace {

DomainRecord domain(int proj, float clat, float clon, float plat = DOM_MISSING, float plon = DOM_MISSING,
                    float p1 = DOM_MISSING, float p2 = DOM_MISSING, int nx = 25, int ny = 17, float dx = 1.2f,
                    float dy = 1.2f) {
  DomainRecord d;
  DOM_init(&d);
  d.proj = proj, d.clat = clat, d.clon = clon, d.plat = plat, d.plon = plon, d.p1 = p1, d.p2 = p2;
  d.nx = nx, d.ny = ny, d.dx = dx, d.dy = dy;
  return d;
}

struct Point {
  double lat, lon;
};

std::vector<Point> grid(double lat0, double lat1, double lon0, double lon1) {
  std::vector<Point> points;
  for (int i = 0; i <= 12; i++) {
    for (int j = 0; j <= 12; j++) points.push_back({lat0 + (lat1 - lat0) * i / 12, lon0 + (lon1 - lon0) * j / 12});
  }
  return points;
}

// proj's x, y of every point in 100 km units, from one run of the program.
std::vector<Point> proj_reference(const std::string &definition, const std::vector<Point> &points) {
  TempDir dir;
  FILE *f = std::fopen((dir / "in").c_str(), "w");
  for (const Point &p : points) std::fprintf(f, "%.12f %.12f\n", p.lon, p.lat);
  std::fclose(f);
  std::vector<std::string> argv{"/usr/bin/proj", "-f", "%.6f"};
  std::istringstream words(definition + " +R=6371220");
  for (std::string w; words >> w;) argv.push_back(w);
  argv.push_back(dir / "in");
  std::string out;
  EXPECT_EQ(run(argv, &out), 0) << definition;
  std::vector<Point> xy;
  std::istringstream lines(out);
  for (double x, y; lines >> x >> y;) xy.push_back({x / 1e5, y / 1e5});
  return xy;
}

TEST(MapTran, ProjectionsAgreeWithProjWithinTenMetres) {
  struct Case {
    const char *name;
    DomainRecord d;
    const char *proj;
    double lat0, lat1, lon0, lon1;
  };
  const Case cases[] = {
      {"polar north, true 60", domain(1, 40, -100), "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-100", 15, 85, -160, -40},
      {"polar north, true 45", domain(1, 55, 10, DOM_MISSING, DOM_MISSING, 45),
       "+proj=stere +lat_0=90 +lat_ts=45 +lon_0=10", 20, 89, -40, 60},
      {"polar south, true -60", domain(1, -70, 140), "+proj=stere +lat_0=-90 +lat_ts=-60 +lon_0=140", -88, -20, 80,
       200},
      {"polar south, true -71", domain(1, -75, 0, DOM_MISSING, DOM_MISSING, -71),
       "+proj=stere +lat_0=-90 +lat_ts=-71 +lon_0=0", -89, -50, -180, 180},
      {"lambert 30/60", domain(4, 40, -100), "+proj=lcc +lat_0=90 +lat_1=30 +lat_2=60 +lon_0=-100", 15, 65, -140, -60},
      {"lambert 33/45", domain(4, 39, -97, 39, -97, 33, 45), "+proj=lcc +lat_0=90 +lat_1=33 +lat_2=45 +lon_0=-97", 20,
       55, -130, -65},
      {"lambert tangent 45", domain(4, 45, 10, 45, 10, 45), "+proj=lcc +lat_0=90 +lat_1=45 +lon_0=10", 25, 70, -20, 40},
      {"mercator", domain(3, 38, -40, DOM_MISSING, -40), "+proj=merc +lon_0=-40", -80, 80, -170, 89},
      {"orthographic", domain(5, 45, 10), "+proj=ortho +lat_0=45 +lon_0=10", 0, 89, -40, 60},
      {"azimuthal", domain(8, 50, 10), "+proj=laea +lat_0=50 +lon_0=10", -30, 89, -120, 140},
  };
  for (const Case &c : cases) {
    MAP_domain(&c.d);
    std::vector<Point> points = grid(c.lat0, c.lat1, c.lon0, c.lon1);
    std::vector<Point> ref = proj_reference(c.proj, points);
    ASSERT_EQ(ref.size(), points.size()) << c.name;
    double worst = 0;
    for (size_t i = 0; i < points.size(); i++) {
      double x = 0, y = 0;
      float fx = 0, fy = 0;  // the float interface takes its trigonometry in float
      ASSERT_EQ(MAP_tran_d(&x, &y, points[i].lat, points[i].lon), 1) << c.name << " " << points[i].lat;
      ASSERT_EQ(MAP_tran(&fx, &fy, points[i].lat, points[i].lon), 1) << c.name << " " << points[i].lat;
      worst = std::max({worst, std::fabs(x - ref[i].lat), std::fabs(y - ref[i].lon), std::fabs(fx - ref[i].lat),
                        std::fabs(fy - ref[i].lon)});
    }
    EXPECT_LT(worst, 1e-4) << c.name;
  }
}

TEST(MapTran, InverseRoundTripsWithinAMicroDegree) {
  DomainRecord ellipsoid = domain(9, 0, -75);
  ellipsoid.ellipsoid = 1;
  struct Case {
    DomainRecord d;
    double lat0, lat1, lon0, lon1;
  } cases[] = {
      {domain(1, 40, -100), -70, 89, -180, 179},
      {domain(1, -70, 140), -89, 70, -180, 179},
      {domain(2, 40, -100), -89, 89, -179, 179},
      {domain(3, 0, 20), -89, 89, -179, 179},
      {domain(4, 40, -100), -85, 89, -270, -100 + 179},
      {domain(4, 45, 10, 45, 10, 45), -80, 89, -160, 179},
      {domain(5, 45, 10), 0, 89, -40, 60},
      {domain(9, 0, -75), -70, 70, -140, -10},
      {ellipsoid, -70, 70, -140, -10},
      {domain(9, 0, 0, 0, 0, DOM_MISSING, 1), -60, 60, -60, 60},
  };
  for (const Case &c : cases) {
    MAP_domain(&c.d);
    for (const Point &p : grid(c.lat0, c.lat1, c.lon0, c.lon1)) {
      double x = 0, y = 0, lat = 0, lon = 0;
      if (MAP_tran_d(&x, &y, p.lat, p.lon) != 1) continue;  // the satellite's far side
      ASSERT_EQ(MAP_inverse_d(x, y, &lat, &lon), 1) << c.d.proj << " " << p.lat << "," << p.lon;
      EXPECT_NEAR(lat, p.lat, 1e-6) << c.d.proj << " " << p.lat << "," << p.lon;
      EXPECT_NEAR(std::remainder(lon - p.lon, 360.0), 0.0, 1e-6) << c.d.proj << " " << p.lat << "," << p.lon;
    }
  }
}

TEST(MapTran, InverseRefusesPointsNoLatitudeMapsTo) {
  struct Row {
    DomainRecord d;
    double x, y;
    int result;
  } rows[] = {
      {domain(5, 0, 0), 70, 0, 0},        // outside the orthographic disc
      {domain(3, 0, 0), 201, 0, 0},       // beyond the Mercator wrap
      {domain(3, 0, 0), 0, 500, 0},       // beyond latitude 89.9
      {domain(2, 0, 0), 0, 95, 0},        // beyond the pole
      {domain(1, 40, -100), 0, 1000, 0},  // beyond the polar clamp
      {domain(9, 0, 0), 100, 0, 0},       // off the disc the satellite sees
      {domain(7, 0, 0), 0, 0, -1},        // Mollweide has no inverse
  };
  for (const Row &r : rows) {
    MAP_domain(&r.d);
    double lat = 0, lon = 0;
    EXPECT_EQ(MAP_inverse_d(r.x, r.y, &lat, &lon), r.result) << r.d.proj << " " << r.x << "," << r.y;
  }
  MAP_domain(nullptr);
  float lat = 0, lon = 0;
  EXPECT_EQ(MAP_inverse(0, 0, &lat, &lon), -1);
}

TEST(MapTran, EdgeRulesAndHandComputedPoints) {
  const double sat30 = 36.65288806674382, sat30_scan = 36.560966314069155, sat_lat40 = 46.31491560660741;
  const double r = MAP_EARTH_RADIUS;
  struct Row {
    DomainRecord d;
    double a, b;
    int result;
    double x, y;
  } rows[] = {
      {domain(2, 40, -100, DOM_MISSING, -100), 40, 170, 1, -90, 40},
      {domain(3, 0, 0), 0, 190, 1, -170 * r * M_PI / 180, 0},
      {domain(3, 0, 0), 90, 0, 1, 0, -r * std::log(std::tan((45 - 89.9 / 2) * M_PI / 180))},
      {domain(1, 40, -100), 90, 33, 1, 0, 0},
      {domain(1, 40, -100), -80, -100, 1, 0, -(1 + std::sin(M_PI / 3)) * r * std::tan(165 * M_PI / 360)},
      {domain(5, 0, 0), 0, 180, 0, -9999, -9999},
      {domain(9, 0, 0), 0, 120, 0, -9999, -9999},
      {domain(9, 0, 0), 0, 30, 1, sat30, 0},
      {domain(9, 0, 0, 0, 0, DOM_MISSING, 1), 0, 30, 1, sat30_scan, 0},
      {domain(9, 0, 0), 40, 0, 1, 0, sat_lat40},
      {domain(8, 0, 0), 0, 180, 0, -9999, -9999},
      {domain(2, 0, 0), 10, 365, 1, 5, 10},  // longitudes wrap
      {domain(2, 0, 0), 10, NAN, 0, -9999, -9999},
      {domain(6, 40, -100), 10, 20, 1, 123, 456},  // gnomonic: untouched
      {domain(20, 0, 0, DOM_MISSING, DOM_MISSING, DOM_MISSING, DOM_MISSING, 10, 5, 100, 50), 50, 25, 1, 5, 2.5},
      {domain(25, 0, 0, DOM_MISSING, DOM_MISSING, DOM_MISSING, DOM_MISSING, 10, 5, 100, 50), 50, 25, 1, 5, -2.5},
      {domain(23, 0, 0), 90, 10, 1, 10, 0},
      {domain(22, 0, 0), 5, M_E, 1, 5, -1},
      {domain(22, 0, 0), 5, -1, 0, -9999, -9999},
      {domain(99, 0, 0), 3, 4, 1, 3, -4},
      {domain(40, -40, 1050, DOM_MISSING, DOM_MISSING, DOM_MISSING, DOM_MISSING, 25, 17, 80, -950), 0, 100, 1, 80,
       -std::log(100)},
  };
  for (const Row &row : rows) {
    MAP_set_view(0, 1, 0, 1);
    MAP_domain(&row.d);
    double x = 123, y = 456;
    EXPECT_EQ(MAP_tran_d(&x, &y, row.a, row.b), row.result) << row.d.proj << " " << row.a << "," << row.b;
    EXPECT_NEAR(x, row.x, 1e-5) << row.d.proj << " " << row.a << "," << row.b;
    EXPECT_NEAR(y, row.y, 1e-5) << row.d.proj << " " << row.a << "," << row.b;
  }
}

TEST(MapTran, SetupMakesTheDomainTheWindowOfTransformationTwo) {
  MESS_set(0, 0);
  DomainRecord d = domain(1, 40, -100, DOM_MISSING, DOM_MISSING, DOM_MISSING, DOM_MISSING, 25, 17, 1.2f, 1.2f);
  ASSERT_EQ(MAP_setup(&d), 0);
  float cx = 0, cy = 0, win[8];
  int err = 0, n = -1;
  ASSERT_EQ(MAP_tran_center(&cx, &cy), 1);
  ginq_norm_tran(MAP_TRAN, &err, win);
  ginq_cur_norm_tran_num(&err, &n);
  EXPECT_EQ(n, MAP_TRAN);
  EXPECT_NEAR(win[0], cx - 14.4f, 1e-4);
  EXPECT_NEAR(win[1], cx + 14.4f, 1e-4);
  EXPECT_NEAR(win[2], cy - 9.6f, 1e-4);
  EXPECT_NEAR(win[3], cy + 9.6f, 1e-4);
  // A domain without extent gives no window: the one in force stays.
  DomainRecord flat = domain(2, 0, 0, DOM_MISSING, DOM_MISSING, DOM_MISSING, DOM_MISSING, 1, 1);
  EXPECT_EQ(MAP_setup(&flat), -1);
  EXPECT_EQ(MAP_get_proj(), 1);
  ginq_norm_tran(MAP_TRAN, &err, win);
  EXPECT_NEAR(win[0], cx - 14.4f, 1e-4);

  // The shipped regions give windows that hold a city of each.
  struct Region {
    const char *abbr;
    float lat, lon;
  } regions[] = {{"conus", 39.9f, -104.7f}, {"usne", 40.6f, -73.8f},  {"usse", 33.6f, -84.4f},
                 {"usnw", 47.4f, -122.3f},  {"ussw", 33.4f, -112.0f}, {"ak", 61.2f, -149.8f},
                 {"eu", 51.5f, -0.4f},      {"natl", 40.6f, -73.8f},  {"nh", 35.5f, 139.8f}};
  for (const Region &r : regions) {
    DomainRecord reg;
    ASSERT_EQ(DOM_decode((std::string(ZYB_SOURCE_DIR) + "/data/zyb.reg:" + r.abbr).c_str(), &reg), DOM_REGION);
    ASSERT_EQ(MAP_setup(&reg), 0) << r.abbr;
    float x = 0, y = 0, lim[4];
    ASSERT_EQ(MAP_tran(&x, &y, r.lat, r.lon), 1) << r.abbr;
    MAP_get_limits(lim);
    EXPECT_TRUE(x > lim[0] && x < lim[1] && y > lim[2] && y < lim[3]) << r.abbr;
  }
}

}  // namespace
