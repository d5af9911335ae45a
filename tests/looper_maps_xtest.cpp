// The looper's maps end to end: stations and latitude/longitude lines drawn
// where PROJ's proj puts them, pixels read back with "qu ll", bad domain
// texts, the Alt-c readout in the title, and the data files of native images.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "image_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace zyb_test;

WindowRange depth_windows() { return depth_slice(610, 10, test_depth()); }

struct Pair {
  double a, b;
};

// A domain shown at 20 pixels a grid step, in a window of exactly its grid.
struct Map {
  std::string text, proj;  // the domain, and the same projection for proj
  Pair centre;             // latitude, longitude
  double dx;               // 100 km units
  int nx, ny;
  std::string size() const { return std::to_string(20 * nx - 19) + "x" + std::to_string(20 * ny - 19); }
  // proj's x, y in metres of a longitude and latitude, or (inverse) the other way.
  Pair run_proj(Pair in, bool inverse) const {
    TempDir dir;
    std::ofstream(dir / "in") << std::setprecision(12) << in.a << " " << in.b << "\n";
    std::vector<std::string> argv{"/usr/bin/proj", "-f", "%.7f"};
    if (inverse) argv.push_back("-I");
    std::istringstream words(proj + " +R=6371220");
    for (std::string w; words >> w;) argv.push_back(w);
    argv.push_back(dir / "in");
    std::string out;
    Pair p{1e9, 1e9};
    EXPECT_EQ(run(argv, &out), 0);
    std::istringstream(out) >> p.a >> p.b;
    return p;
  }
  Pair pixel(Pair latlon) const {
    const Pair c = run_proj({centre.b, centre.a}, false), p = run_proj({latlon.b, latlon.a}, false);
    return {10.0 * (nx - 1) + (p.a - c.a) * 20 / (dx * 1e5), 10.0 * (ny - 1) - (p.b - c.b) * 20 / (dx * 1e5)};
  }
  Pair latlon(Pair pixel) const {
    const Pair c = run_proj({centre.b, centre.a}, false);
    const double x = c.a + (pixel.a - 10.0 * (nx - 1)) * dx * 1e5 / 20,
                 y = c.b - (pixel.b - 10.0 * (ny - 1)) * dx * 1e5 / 20;
    const Pair ll = run_proj({x, y}, true);
    return {ll.b, ll.a};
  }
};

const Map kDenver{
    "ps,id:KDEN,25,17,0.5,0.5", "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-104.6667", {39.8667, -104.6667}, 0.5, 25, 17};
const Map kConus{"conus", "+proj=lcc +lat_0=90 +lat_1=33 +lat_2=45 +lon_0=-97", {39, -97}, 1.2, 41, 27};

bool near(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b) < 90; }

Picture frame0(const Looper &looper) {
  looper.ctl({"se out png;sa 0 " + looper.dir() / "f.png"});
  return magick_decode(looper.dir() / "f.png");
}

std::vector<Pair> pixels_of(const Picture &p, Rgb colour) {
  std::vector<Pair> found;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (near(p.at(x, y), colour)) found.push_back({double(x), double(y)});
  return found;
}

double distance(Pair p, Pair a, Pair b) {  // from p to the segment a-b
  const double dx = b.a - a.a, dy = b.b - a.b, len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((p.a - a.a) * dx + (p.b - a.b) * dy) / len2, 0.0, 1.0) : 0;
  return std::hypot(p.a - a.a - t * dx, p.b - a.b - t * dy);
}

bool any_within(const std::vector<Pair> &pixels, Pair want) {
  return std::any_of(pixels.begin(), pixels.end(), [&](Pair p) { return distance(p, want, want) <= 1.0; });
}

TEST(Maps, StationsAndLatLonLinesLandWhereTheProjectionPutsThem) {
  struct Case {
    Map map;
    std::string before_window;  // a domain set before the window exists is installed again on it
    std::vector<std::pair<std::string, Pair>> marks;
    std::vector<Pair> box;  // corners, latitude and longitude
  } cases[] = {
      {kDenver,
       ";se do " + kDenver.text,
       {{"id:KDEN", {39.8667, -104.6667}}, {"id:KGJT", {39.1333, -108.5333}}, {"37.5,-101.25", {37.5, -101.25}}},
       {{38, -107}, {38, -102}, {42, -102}, {42, -107}}},
      {kConus,
       "",
       {{"id:KORD", {41.9833, -87.9167}}, {"id:KMIA", {25.7833, -80.3167}}, {"id:KSEA", {47.45, -122.3167}}},
       {{30, -110}, {30, -90}, {45, -90}, {45, -110}}},
  };
  for (const Case &c : cases) {
    Looper looper(depth_windows(), {"-wn", "%W", "-cd", "se si " + c.map.size() + c.before_window});
    ASSERT_TRUE(looper.ready());
    looper.ctl({"cr;se dr 0;se ma st dot;se ma co yellow;se li co red" +
                (c.before_window.empty() ? ";se do " + c.map.text : "")});
    std::string marks, lines, replies;
    for (const auto &[word, at] : c.marks)
      marks += ";ma " + word + " x", replies += "Marker plotted at: " + word + "\n";
    EXPECT_EQ(looper.ctl({marks.substr(1)}), replies);
    std::vector<Pair> corners;
    for (size_t i = 0; i < c.box.size(); ++i) {
      const Pair a = c.box[i], b = c.box[(i + 1) % 4];
      corners.push_back(c.map.pixel(a));
      lines += (i ? ";li " : "li ") + (std::ostringstream() << a.a << "," << a.b << " " << b.a << "," << b.b).str();
    }
    looper.ctl({lines});
    const Picture p = frame0(looper);
    const std::vector<Pair> yellow = pixels_of(p, {255, 255, 0}), red = pixels_of(p, {255, 0, 0});
    EXPECT_EQ(yellow.size(), c.marks.size()) << c.map.text;
    for (const auto &[word, at] : c.marks) EXPECT_TRUE(any_within(yellow, c.map.pixel(at))) << word;
    for (Pair corner : corners) EXPECT_TRUE(any_within(red, corner)) << corner.a << "," << corner.b;
    for (Pair r : red) {
      double off = 1e9;
      for (size_t i = 0; i < 4; ++i) off = std::min(off, distance(r, corners[i], corners[(i + 1) % 4]));
      ASSERT_LE(off, 1.5) << c.map.text << " red at " << r.a << "," << r.b;
    }
  }
}

// "Lat/lon at 12,34: 40.000,-100.000" as numbers.
Pair answered(const std::string &reply) {
  Pair p{1e9, 1e9};
  std::sscanf(reply.c_str(), "Lat/lon at %*[^:]: %lf,%lf", &p.a, &p.b);
  return p;
}

TEST(Maps, QueryReadsPixelsBackAndBadDomainsChangeNothing) {
  Looper looper(depth_windows(), {"-wn", "%W", "-cd", "se si " + kDenver.size() + ";cr;se dr 0;se ma st dot"});
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"qu ll 240,160"}), "No plot domain set\n");
  EXPECT_EQ(looper.ctl({"se do " + kDenver.text + ";qu ll 240,160;ma id:KDEN x"}),
            "Plot domain set to " + kDenver.text +
                "\nLat/lon at 240,160: 39.867,-104.667\nNearest station: KDEN Denver_International 0.0 km\n"
                "Marker plotted at: id:KDEN\n");
  const Pair gjt = kDenver.pixel({39.1333, -108.5333});
  const std::string reply =
      looper.ctl({"se tr 0;qu ll " + std::to_string(int(gjt.a + 0.5)) + "," + std::to_string(int(gjt.b + 0.5))});
  EXPECT_NE(reply.find("\nNearest station: KGJT Grand_Junction_Walke "), std::string::npos) << reply;
  for (Pair px : std::vector<Pair>{{0, 0}, {480, 320}, {37, 290}, gjt}) {
    const Pair got = answered(looper.ctl({"qu ll " + std::to_string(px.a) + "," + std::to_string(px.b)})),
               want = kDenver.latlon(px);
    EXPECT_NEAR(got.a, want.a, 0.0015) << px.a << "," << px.b;
    EXPECT_NEAR(got.b, want.b, 0.0015) << px.a << "," << px.b;
  }
  const std::vector<std::string> bad = {
      "ps,40",       "nowhere", "id:NOSUCH",     "var",           "40,-100,0,17",
      "ps,nan,-100", "1e30,5",  "sat:0:0,0,180", "fi:nofile.reg", "ps,40,-100,99999,17,1,1"};
  std::string sent, expected;  // four to a record
  for (size_t i = 0; i < bad.size(); ++i) {
    sent += (i % 4 ? ";se do " : "se do ") + bad[i], expected += "Invalid plot domain: " + bad[i] + "\n";
    if (i % 4 < 3 && i + 1 < bad.size()) continue;
    EXPECT_EQ(looper.ctl({sent}), expected);
    sent.clear(), expected.clear();
  }
  EXPECT_EQ(looper.ctl({"se tr 3;ma id:KCOS x;ma id:NOSUCH x;te id:NOSUCH hi"}),
            "Transformation set to 3\nMarker plotted at: id:KCOS\nInvalid marker command: ma id:NOSUCH x\n"
            "Invalid text command: te id:NOSUCH hi\n");
  const std::vector<Pair> dots = pixels_of(frame0(looper), {255, 255, 255});
  EXPECT_EQ(dots.size(), 2u) << "the frame keeps the first marker";
  EXPECT_TRUE(any_within(dots, kDenver.pixel({38.8167, -104.7167}))) << "the domain is the one before";
  EXPECT_EQ(looper.ctl({"se do or,0,0,25,17,6,6;qu ll 0,0;ma 0,180 x;li 0,0 10,170"}),
            "Plot domain set to or,0,0,25,17,6,6\nLat/lon at 0,0: off the map\nInvalid marker command: ma 0,180 x\n"
            "Invalid line command: li 0,0 10,170\n");
  EXPECT_EQ(looper.ctl({"se do miss;ma 1,1 x;qu ll 1,1"}),
            "Plot domain set to miss\nInvalid marker command: ma 1,1 x\nNo plot domain set\n");
}

TEST(Maps, AltCShowsWhereThePointerIsInTheTitleUntilItIsPressedAgain) {
  Looper looper(depth_windows(),
                {"-wn", "%W", "-cd",
                 "se si " + kDenver.size() + ";se na Geo;se do " + kDenver.text + ";cr;cr;se de 0.1;se pa 0.1;start"});
  ASSERT_TRUE(looper.ready());
  Display *d = XOpenDisplay(nullptr);
  Window w = 0, root, parent, *children = nullptr;
  unsigned n = 0;
  ASSERT_TRUE(eventually([&] {
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n);
    for (unsigned i = 0; i < n; ++i) w = window_title(children[i], d).rfind("Geo", 0) == 0 ? children[i] : w;
    return children && XFree(children), w != 0;
  }));
  int left = 0, top = 0;
  XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &left, &top, &parent);
  auto move = [&](int x, int y) { XTestFakeMotionEvent(d, -1, left + x, top + y, 0), XFlush(d); };
  auto alt_c = [&] {
    const KeyCode alt = XKeysymToKeycode(d, XK_Alt_L), c = XKeysymToKeycode(d, XK_c);
    for (auto [key, down] : {std::pair{alt, True}, {c, True}, {c, False}, {alt, False}})
      XTestFakeKeyEvent(d, key, down, 0);
    XFlush(d);
  };
  auto shows = [&](const std::string &t) { return eventually([&] { return window_title(w, d) == t; }, 5); };
  auto looping = [&] { return eventually([&] { return window_title(w, d).rfind("Geo [", 0) == 0; }, 5); };
  EXPECT_TRUE(looping()) << "the loop shows its frame numbers";
  move(240, 160);
  alt_c();
  EXPECT_TRUE(shows("Geo 39.867,-104.667 KDEN 0.0 km Denver_International")) << window_title(w, d);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(window_title(w, d), "Geo 39.867,-104.667 KDEN 0.0 km Denver_International") << "the loop keeps off it";
  char latlon[40], id[16], name[40], km[16];  // the pixel as the query reads it
  ASSERT_EQ(std::sscanf(looper.ctl({"qu ll 0,0"}).c_str(), "Lat/lon at 0,0: %39s Nearest station: %15s %39s %15s",
                        latlon, id, name, km),
            4);
  const std::string at_corner = std::string("Geo ") + latlon + " " + id + " " + km + " km " + name;
  move(0, 0);
  EXPECT_TRUE(shows(at_corner)) << window_title(w, d);
  alt_c();
  EXPECT_TRUE(looping()) << "the loop's frame numbers come back";
  const std::string stopped = (looper.ctl({"stop"}), window_title(w, d));
  alt_c();
  EXPECT_TRUE(shows(at_corner));
  alt_c();
  EXPECT_TRUE(shows(stopped)) << "the title is given back";
  move(100, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(window_title(w, d), stopped) << "no readout once it is off";
  XCloseDisplay(d);
}

TEST(Maps, NativeImageDataFilesNamedByClientsMustBePlainFiles) {
  TempDir dir;
  std::ofstream(dir / "pix.sh") << "#!/bin/sh\nhead -c 32 /dev/zero | tr '\\000' '\\002'\n";  // red
  chmod((dir / "pix.sh").c_str(), 0755);
  write_bytes(dir / "green.raw", std::string(32, '\3'));
  auto native = [&](const std::string &name, const std::string &data) {
    write_bytes(dir / name, "ZYBIMG*\n\nnative\n16 2\n" + data + "\n");
    return dir / name;
  };
  const std::string pipe = native("pipe.zyb", "|" + dir / "pix.sh"), device = native("null.zyb", "/dev/null");
  Looper looper(depth_windows(), {"-wn", "%W", "-cd", "cr;se dr 0;ld 0 " + pipe});
  ASSERT_TRUE(looper.ready());
  for (const std::string &load :
       {"ld 0 " + device, "ld 0 " + pipe + " 0,10", "ld 0 " + native("plain.zyb", dir / "green.raw") + " 0,20"})
    looper.ctl({load});
  const Picture p = frame0(looper);
  ASSERT_EQ(p.width, 640);
  EXPECT_TRUE(near(p.at(15, 1), {255, 0, 0})) << "from the looper's own command line, not replaced by /dev/null";
  EXPECT_TRUE(near(p.at(15, 11), {0, 0, 0})) << "a client's pipe";
  EXPECT_TRUE(near(p.at(15, 21), {0, 255, 0})) << "a client's plain file";
  for (const std::string &refused : {std::string("/dev/null"), "|" + dir / "pix.sh"})
    EXPECT_NE(looper.errors().find("not a plain file: " + refused), std::string::npos) << refused;
}

}  // namespace
