// Domain texts: every field pattern, regions from files and built in,
// stations from city files (the shipped one included), priorities, and
// the texts that must be refused without touching the domain in force.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "domain/cty_read.h"
#include "domain/region.h"
#include "proc_util.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"

using namespace zyb_test;

namespace {

constexpr float M = DOM_MISSING;

class DomainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_set(0, 0);
    RES_put("file_path", dir_.path().c_str());
    RES_put("city_file", "");
    RES_put("stat_prior", "");
    FILE_set_name("none");  // its first call clears the keys
    write("zyb.reg",
          "# test regions\nreg1 First_one 1 lc:e:38:-98:33:45,38,-98,31,21,1.5,1.5\n"
          "loop1 Loop 0 loop2\nloop2 Loop 0 loop1\n");
    write("other.reg", "a Alpha 0 40,-100\nb Beta 2 me,10,20,0.5\nc Gamma 3 ps,50,0\n");
    write("my.cty",
          "# test stations\nTestville XX ZZ KXYZ 1 12.5 -45.25 9999 123 0\n"
          "Otherplace YY ZZ KABC 2 -33.0 151.0 20 -9999 0\n");
  }
  void write(const std::string &name, const std::string &text) {
    FILE *f = std::fopen((dir_ / name).c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
  }
  TempDir dir_;
};

std::string key_r() {
  char out[FILE_NAME_SIZE];
  FILE_set_name("@%29r");
  FILE_set_date(nullptr, out);
  return out;
}

TEST_F(DomainTest, EveryPatternRegionAndStationForm) {
  struct Row {
    const char *text;
    int result, proj;
    float clat, clon;
    int nx, ny;
    float dx, dy, plat, plon, p1, p2;
    int ellipsoid;
  };
  const Row rows[] = {
      {"size,640,480", 1, 51, M, M, 640, 480, M, M, M, M, M, M, 0},
      {"ps:-105,-104,40,-100,25,17,1.2,1.3", 1, 1, 40, -100, 25, 17, 1.2f, 1.3f, M, -104, M, M, 0},
      {"ps,40,-100,25,17,1.2,1.2", 1, 1, 40, -100, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},
      {"lc,-95,40,-100,1.5,1.6", 1, 4, 40, -100, 25, 17, 1.5f, 1.6f, M, -95, M, M, 0},
      {"me,10,20,30,20,0.5", 1, 3, 20, 30, 25, 17, 20, 0.5f, M, 10, M, M, 0},
      {"me,id:my.cty:KXYZ,30,20,0.5", 1, 3, 12.5f, -45.25f, 30, 20, 0.5f, 0.5f, M, M, M, M, 0},
      {"40,-100,30,20,1.1,1.3", 1, 1, 40, -100, 30, 20, 1.1f, 1.3f, M, M, M, M, 0},
      {"or,40,-100,2,3", 1, 5, 40, -100, 25, 17, 2, 3, M, M, M, M, 0},
      {"40,-100,30,20,0.8", 1, 1, 40, -100, 30, 20, 0.8f, 0.8f, M, M, M, M, 0},
      {"lc:e:40:-100:30:60,40,-100,2", 1, 4, 40, -100, 25, 17, 2, 2, 40, -100, 30, 60, 1},
      {"40,-100,30,20", 1, 1, 40, -100, 30, 20, 1.2f, 1.2f, M, M, M, M, 0},
      {"40,-100,0.7", 1, 1, 40, -100, 25, 17, 0.7f, 0.7f, M, M, M, M, 0},
      {"la,50,10", 1, 8, 50, 10, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},
      {"zoom,1,2", 1, 50, 1, 2, 25, 17, 1, 1, M, M, M, M, 0},
      {"size:0,640.5,480", 1, 51, M, M, 640, 480, M, M, M, 0, M, M, 0},
      {"40,-100", 1, 1, 40, -100, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},
      {"ps,id:my.cty:KXYZ,25,17,1,1", 1, 1, 12.5f, -45.25f, 25, 17, 1, 1, M, M, M, M, 0},
      {"ID:kden", 1, 1, 39.8667f, -104.6667f, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},  // the shipped city file
      {"ne", 2, 1, 42, -76, 25, 17, 0.9f, 0.9f, M, -76, M, M, 0},
      {"REG1", 2, 4, 38, -98, 31, 21, 1.5f, 1.5f, 38, -98, 33, 45, 1},
      {"fi:other.reg", 2, 1, 40, -100, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},
      {"other.reg:c", 2, 1, 50, 0, 25, 17, 1.2f, 1.2f, M, M, M, M, 0},
  };
  for (const Row &r : rows) {
    DomainRecord d;
    DOM_init(&d);
    ASSERT_EQ(DOM_decode(r.text, &d), r.result) << r.text;
    const float got[] = {d.clat, d.clon, d.dx, d.dy, d.plat, d.plon, d.p1, d.p2};
    const float want[] = {r.clat, r.clon, r.dx, r.dy, r.plat, r.plon, r.p1, r.p2};
    for (int i = 0; i < 8; i++) EXPECT_NEAR(got[i], want[i], 1e-3) << r.text << " field " << i;
    EXPECT_EQ((std::vector<int>{d.proj, d.nx, d.ny, d.ellipsoid, static_cast<int>(FLAG_get(FLAG_DOMAIN))}),
              (std::vector<int>{r.proj, r.nx, r.ny, r.ellipsoid, r.result}))
        << r.text;
    EXPECT_EQ(key_r(), std::string(r.text).substr(0, 29)) << r.text;
  }
}

TEST_F(DomainTest, RefusedTextsLeaveTheDomainAsItWas) {
  std::freopen("/dev/null", "r", stdin);  // a prompt would meet the end of input at once
  const char *texts[] = {
      // fields: too few, too many, not numbers, out of range
      "ps,40", "a,b,c", "1,2,3,4,5,6,7,8,9", "ps,40,-100,25,17,1.2,1.2,5", "ps,nan,-100", "ps,inf,0", "ps,1e39,0",
      "ps,40,-100,25,17,1e30", "40,-100,0,17", "40,-100,40000,17", "40,-100,99999999999,17", "40,-100,-5,17", "95,0",
      "40abc,-100", "40,-100,2.5,17", "ps,40,-100,25,17,0,1", ",,,", "ps:1:2:3:4:5:6:7,40,-100", "ps:x,40,-100",
      // stations, regions and files that are not there, loops, streams and pipes
      "ps,id:NOPE,25,17,1,1", "id:", "nosuchregion", "missing.reg:a", "fi:missing.reg", "other.reg:zz", "loop1", "var",
      "fi:-", "fi:|touch pwned", "|touch pwned:a"};
  DomainRecord before;
  ASSERT_EQ(DOM_decode("ne", &before), DOM_REGION);
  const std::string key = key_r();
  for (int allowed : {0, 1}) {
    DOM_set_prompt(allowed);
    for (const char *t : texts) {
      DomainRecord d = before;
      EXPECT_EQ(DOM_decode(t, &d), DOM_NOT_RECOGNISED) << t;
      EXPECT_EQ(std::memcmp(&d, &before, sizeof d), 0) << t;
      EXPECT_EQ(FLAG_get(FLAG_DOMAIN), DOM_NOT_RECOGNISED) << t;
      EXPECT_EQ(key_r(), key) << t;
    }
  }
  DOM_set_prompt(0);
  EXPECT_FALSE(FILE_exist("pwned"));
  for (const char *t : {"", "miss", "MISS"}) {
    DomainRecord d = before;
    EXPECT_EQ(DOM_decode(t, &d), DOM_NONE) << t;
    EXPECT_EQ(d.proj, DOM_MISSING) << t;
  }
}

TEST_F(DomainTest, RegionMenuStationsAndPriorities) {
  DomainRecord d;
  EXPECT_EQ(DOM_decode("other.reg:", &d), DOM_REGION);  // loads the menu, takes the first region
  EXPECT_EQ(d.clat, 40);
  ASSERT_EQ(DOM_menu_size(), 2);
  DomainMenuItem item;
  ASSERT_EQ(DOM_menu_item(1, &item), 1);
  EXPECT_STREQ(item.abbr, "c");
  EXPECT_STREQ(item.description, "Gamma");
  EXPECT_EQ(DOM_read_menu("missing.reg"), 0);
  EXPECT_EQ(DOM_menu_size(), 2);

  RES_put("city_file", "my.cty");
  float lat = 0, lon = 0, km = 0;
  EXPECT_EQ(CTY_get_loc(nullptr, "00123", &lat, &lon), 1);  // by station number
  EXPECT_EQ(lat, 12.5f);
  EXPECT_EQ(CTY_get_loc(nullptr, "otherplace", &lat, &lon), 1);  // by name
  EXPECT_EQ(lon, 151.0f);
  EXPECT_EQ(CTY_get_loc(nullptr, "-9999", &lat, &lon), 0);  // a station without a number
  char label[CTY_LABEL_SIZE];
  ASSERT_EQ(CTY_nearest(13.5f, -45.25f, label, &km), 1);
  EXPECT_STREQ(label, "KXYZ Testville");
  EXPECT_NEAR(km, 111.198, 0.01);
  RES_put("city_file", "none");
  EXPECT_EQ(CTY_nearest(13.5f, -45.25f, label, &km), 0);
  RES_put("city_file", "");
  ASSERT_EQ(CTY_nearest(39.9f, -104.6f, label, &km), 1);  // the shipped file
  EXPECT_EQ(std::string(label).substr(0, 5), "KDEN ");

  struct Prior {
    const char *text, *adjust;
    int prior;
  } priors[] = {// a station's 3, moved or replaced by the resource; a region's; a small grid's
                {"ps,40,-100,25,17,1.2,1.2", "", 3},
                {"ps,40,-100,25,17,1.2,1.2", "+2", 5},
                {"ps,40,-100,25,17,1.2,1.2", "-5", 1},
                {"ps,40,-100,25,17,1.2,1.2", "4", 4},
                {"us", "", 2},
                {"40,-100,25,3,1", "", 6},
                {"40,-100,25,5,1", "", 5}};
  for (const Prior &p : priors) {
    RES_put("stat_prior", p.adjust);
    ASSERT_GT(DOM_decode(p.text, &d), 0) << p.text;
    EXPECT_EQ(DOM_get_base_prior(), p.prior) << p.text << " " << p.adjust;
  }
}

TEST_F(DomainTest, ProjectionNamesInTableOrder) {
  const std::pair<const char *, int> names[] = {
      {"LL", 2},       {"latlon", 2},   {"polar", 1}, {"PS", 1},     {"sat", 9},    {"lambert", 4}, {"lc", 4},
      {"laea", 8},     {"gn", 6},       {"ortho", 5}, {"moll", 7},   {"merc", 3},   {"pix", 99},    {"xy", 20},
      {"xlogp", 22},   {"vert", 22},    {"cat", 24},  {"skewt", 40}, {"therm", 40}, {"ema", 42},    {"teph", 43},
      {"rteph", 44},   {"stuve", 41},   {"hodo", 23}, {"xp", 25},    {"xpx", -1},   {"zoom", 50},   {"size", 51},
      {"miss", -9999}, {"missing", -1}, {"l", -1},    {"", -1},
  };
  for (const auto &[name, code] : names) EXPECT_EQ(DOM_proj_str(name), code) << name;
  EXPECT_EQ(DOM_proj_str(nullptr), -1);
}

}  // namespace
