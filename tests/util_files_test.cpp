// Paths, opening files, file-name conventions and dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "proc_util.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace {

using zyb_test::read_file;
using zyb_test::TempDir;

void write_file(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

std::string add_path(const char *dir, const char *name) {
  char out[FILE_NAME_SIZE];
  return FILE_add_path(dir, name, out);
}

std::string home_of_current_user() { return getpwuid(getuid())->pw_dir; }

TEST(Paths, JoiningDirectoryAndName) {
  EXPECT_EQ(add_path("/data", "x.gif"), "/data/x.gif");
  EXPECT_EQ(add_path("/data/", "x.gif"), "/data/x.gif");
  EXPECT_EQ(add_path("/data/", "./x.gif"), "./x.gif");
  EXPECT_EQ(add_path("/data", "/abs/x.gif"), "/abs/x.gif");
  EXPECT_EQ(add_path("/data", "~/x.gif"), "~/x.gif");
  EXPECT_EQ(add_path(nullptr, "x.gif"), "x.gif");
  EXPECT_EQ(add_path("", "x.gif"), "x.gif");
  EXPECT_EQ(add_path("/data", "-"), "-");
  EXPECT_EQ(add_path("/data", "STD"), "STD");
}

TEST(Paths, LongPathsAreCutAtTheNameLimit) {
  std::string dir(150, 'd');
  std::string joined = add_path(dir.c_str(), "0123456789abcdef.gif");
  EXPECT_EQ(joined.size(), static_cast<size_t>(FILE_NAME_MAX));
  EXPECT_EQ(joined.substr(0, 151), dir + "/");
}

TEST(Paths, DelimiterIsAddedOnce) {
  char a[8] = "dir";
  EXPECT_STREQ(FILE_add_path_delim(a), "dir/");
  EXPECT_STREQ(FILE_add_path_delim(a), "dir/");
  char b[2] = "";
  EXPECT_STREQ(FILE_add_path_delim(b), "");
}

TEST(Paths, HomeDirectoriesExpand) {
  char out[FILE_NAME_SIZE];
  const std::string home = home_of_current_user();
  EXPECT_EQ(std::string(FILE_add_user_path("~/out/a.gif", out)), home + "/out/a.gif");
  EXPECT_EQ(std::string(FILE_add_user_path("~", out)), home);
  EXPECT_EQ(std::string(FILE_add_user_path("~root/x", out)), std::string(getpwnam("root")->pw_dir) + "/x");
  EXPECT_STREQ(FILE_add_user_path("~nosuchuser_zyb/x", out), "~nosuchuser_zyb/x");
  EXPECT_STREQ(FILE_add_user_path("plain/x", out), "plain/x");
}

TEST(Paths, StandardStreamNamesAndFullPaths) {
  for (const char *name : {"", "-", "std", "STD", "stdn", "StdN"}) EXPECT_TRUE(FILE_is_stdio(name)) << name;
  for (const char *name : {"--", "stdout", "x"}) EXPECT_FALSE(FILE_is_stdio(name)) << name;
  EXPECT_TRUE(FILE_fullpath("./a"));
  EXPECT_TRUE(FILE_fullpath("/a"));
  EXPECT_TRUE(FILE_fullpath("~/a"));
  EXPECT_FALSE(FILE_fullpath("a/b"));
}

TEST(Files, StandardStreamsPipesAndPlainFiles) {
  TempDir dir;
  EXPECT_EQ(FILE_open("-", "r"), stdin);
  EXPECT_EQ(FILE_open("-", "w"), stdout);
  EXPECT_EQ(FILE_open("stdn", "rb"), stdin);
  EXPECT_EQ(FILE_close(stdout), 0);  // a standard stream stays open
  EXPECT_NE(std::fputs("", stdout), EOF);

  std::string piped = dir / "piped.txt";
  FILE *pipe = FILE_open(("|cat > " + piped).c_str(), "wb");
  ASSERT_NE(pipe, nullptr);
  std::fputs("through the pipe\n", pipe);
  EXPECT_EQ(FILE_close(pipe), 0);  // pclose waits for the command
  EXPECT_EQ(read_file(piped), "through the pipe\n");

  FILE *reader = FILE_open("|echo from a command", "r");
  ASSERT_NE(reader, nullptr);
  char line[64] = "";
  std::fgets(line, sizeof line, reader);
  FILE_close(reader);
  EXPECT_STREQ(line, "from a command\n");
}

TEST(Files, WritingCreatesMissingDirectories) {
  TempDir dir;
  std::string name = dir / "out/a/b.gif";
  FILE *f = FILE_open(name.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("x", f);
  FILE_close(f);
  EXPECT_TRUE(FILE_is_dir((dir / "out/a").c_str()));
  EXPECT_EQ(FILE_size(name.c_str()), 1);
  EXPECT_TRUE(FILE_exist(name.c_str()));
  EXPECT_FALSE(FILE_is_dir(name.c_str()));
  EXPECT_EQ(FILE_size((dir / "none").c_str()), -1);
  EXPECT_FALSE(FILE_exist((dir / "none").c_str()));
  EXPECT_TRUE(FILE_exist("-"));
  // Reading never creates anything.
  EXPECT_EQ(FILE_open((dir / "r/x").c_str(), "r"), nullptr);
  EXPECT_FALSE(FILE_exist((dir / "r").c_str()));
  // Appending creates too.
  f = FILE_open((dir / "app/end.txt").c_str(), "a");
  ASSERT_NE(f, nullptr);
  FILE_close(f);
}

TEST(Files, MakeDirectoryReportsExistingAndSkipsComponents) {
  TempDir dir;
  std::string existing = dir / "file.txt";
  EXPECT_EQ(FILE_make_dir(&existing[0], 1), 1);
  std::string deep = dir.path() + "\\one\\two\\three";
  EXPECT_EQ(FILE_make_dir(&deep[0], 1), 0);
  EXPECT_EQ(deep, dir.path() + "/one/two/three");
  EXPECT_TRUE(FILE_is_dir((dir / "one/two").c_str()));
  EXPECT_FALSE(FILE_exist((dir / "one/two/three").c_str()));
  std::string skip2 = dir / "p/q/r/s";
  EXPECT_EQ(FILE_make_dir(&skip2[0], 2), 0);
  EXPECT_TRUE(FILE_is_dir((dir / "p/q").c_str()));
  EXPECT_FALSE(FILE_exist((dir / "p/q/r").c_str()));
}

// ---- File-name conventions ----------------------------------------------

class Convention : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_clear();
    MESS_reset();
    MESS_set_str("none");  // keep the "no convention file" warnings quiet
    RES_put("file_path", dir_.path().c_str());
    DateRecord unset;
    DATE_init(&unset);
    FILE_set_time(&unset);
    FILE_set_header_mode(0);
  }
  void TearDown() override {
    RES_clear();
    MESS_reset();
  }
  static DateRecord date(int y, int mo, int d, int h = 0, int mi = 0) {
    DateRecord r;
    DATE_init(&r);
    r.year = y;
    r.month = mo;
    r.day = d;
    r.hour = h;
    r.minute = mi;
    return r;
  }
  std::string expand(const DateRecord *d) {
    char out[FILE_NAME_SIZE];
    FILE_set_date(d, out);
    return out;
  }
  TempDir dir_;
};

TEST_F(Convention, DateCodesAndKeys) {
  write_file(dir_ / "name_conv", "# name template header size\nsat %Y%m%d_%i.gif - 5000\n");
  EXPECT_EQ(FILE_set_name("sat"), 1);
  FILE_set_key('i', "012");
  DateRecord d = date(2006, 3, 7, 13, 47);
  EXPECT_EQ(expand(&d), "20060307_012.gif");
  EXPECT_EQ(FILE_get_min_size(), 5000);
  FILE_set_min_size(10);
  EXPECT_EQ(FILE_get_min_size(), 10);
  FILE_set_min_size(0);
}

TEST_F(Convention, KeysWithBlanksCountsAndEmptyKeys) {
  FILE_set_name("@loop %p");
  FILE_set_key('p', "Radar Loop");
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(expand(&d), "loop_Radar_Loop");
  FILE_set_name("@%2i-%i-%q-%%-%9i");
  FILE_set_key('i', "win");
  FILE_set_key('q', "");
  EXPECT_EQ(expand(&d), "wi-win-0-%-win");
  FILE_set_key('k', "abcdefghijklmnopqrstuvwxyz0123456789");
  FILE_set_name("@%k");
  EXPECT_EQ(expand(&d), "abcdefghijklmnopqrstuvwxyz012");  // keys keep 29 characters
}

TEST_F(Convention, AllDateCodes) {
  FILE_set_name("@%Y %y %b %m %d %j %h %n");
  DateRecord d = date(2004, 3, 1, 5, 9);
  EXPECT_EQ(expand(&d), "2004_04_mar_03_01_061_05_09");
  d = date(2005, 12, 31, 23, 59);
  EXPECT_EQ(expand(&d), "2005_05_dec_12_31_365_23_59");
}

TEST_F(Convention, CountsRoundDatesDown) {
  FILE_set_name("@%6h%15n-%2d");
  DateRecord d = date(2006, 3, 7, 13, 47);
  EXPECT_EQ(expand(&d), "1245-06");
}

TEST_F(Convention, OverridesReplaceOrRoundTheDate) {
  DateRecord set;
  DATE_init(&set);
  set.hour = 7;     // used as given, rounded by the count
  set.day = -5;     // round the day down to a multiple of 5
  set.minute = -230;  // round to 30 minutes, then add 2
  FILE_set_time(&set);
  FILE_set_name("@%6h %d %n %m");
  DateRecord d = date(2006, 3, 7, 13, 47);
  EXPECT_EQ(expand(&d), "06_05_32_03");
  DateRecord used;
  FILE_get_date(&used);
  EXPECT_EQ(used.hour, 6);
  EXPECT_EQ(used.day, 5);
  EXPECT_EQ(used.minute, 32);
  EXPECT_EQ(used.year, DATE_UNSET);  // not in the template, reset by a given date
}

TEST_F(Convention, UnsetValuesPrintAsZeros) {
  FILE_set_name("@%Y%m%d%h%n%b%j");
  DateRecord d;
  DATE_init(&d);
  EXPECT_EQ(expand(&d), "000000000000xxx000");
  d = date(2006, 0, 7);
  FILE_set_name("@%b");
  EXPECT_EQ(expand(&d), "xxx");
}

TEST_F(Convention, PathCodesAndResources) {
  RES_put("image_path", "/img");
  RES_put("title", "Radar");
  FILE_set_name("@%I/%{title}%{missing}.%T");
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(expand(&d), "/img/Radar..");
  FILE_set_name("@%F");
  EXPECT_EQ(expand(&d), dir_.path());
}

TEST_F(Convention, BracesAreDroppedAndStandardStreamsKept) {
  FILE_set_name("@a{b}c");
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(expand(&d), "abc");
  FILE_set_name("@-");
  EXPECT_EQ(expand(&d), "-");
}

TEST_F(Convention, ExactAndPartialMatches) {
  write_file(dir_ / "name_conv",
             "#comment line\n\nsat_vis vis_%d.gif - 0\nsat %e_%d.gif %e.hdr 100\nradar %Y.gif\n");
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(FILE_set_name("SAT_VIS"), 1);
  EXPECT_EQ(expand(&d), "vis_07.gif");
  EXPECT_EQ(FILE_set_name("sat_ir"), 1);
  EXPECT_EQ(expand(&d), "ir_07.gif");
  EXPECT_EQ(FILE_get_min_size(), 100);
  FILE_set_header_mode(1);
  EXPECT_EQ(expand(&d), "ir.hdr");
  FILE_set_header_mode(0);
  EXPECT_EQ(FILE_set_name("radar"), 1);
  EXPECT_EQ(expand(&d), "2006.gif");
  EXPECT_EQ(FILE_set_name("other_%d"), 0);
  EXPECT_EQ(expand(&d), "other_07");
}

TEST_F(Convention, NamedConventionFileAndMissingFile) {
  write_file(dir_ / "my.conv", "x %m.gif\n");
  RES_put("name_conv", "my.conv");
  EXPECT_EQ(FILE_set_name("x"), 1);
  DateRecord d = date(2006, 11, 7);
  EXPECT_EQ(expand(&d), "11.gif");
  RES_put("name_conv", "absent.conv");
  MESS_reset();
  testing::internal::CaptureStderr();
  EXPECT_EQ(FILE_set_name("x%d"), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "FILE_set_name: No file name convention file: " + (dir_ / "absent.conv") + "\n");
  EXPECT_EQ(expand(&d), "x07");
}

TEST_F(Convention, KeySettingsInTheName) {
  FILE_set_name("@dummy");  // the key table is cleared on first use only
  EXPECT_EQ(FILE_set_name("plain:i=012:p=Big Loop"), 0);
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(expand(&d), "plain");
  FILE_set_name("@%i-%p");
  EXPECT_EQ(expand(&d), "012-Big_Loop");
}

TEST_F(Convention, NoneAndTheLastName) {
  FILE_set_name("@first%d");
  DateRecord d = date(2006, 3, 7);
  EXPECT_EQ(expand(&d), "first07");
  EXPECT_STREQ(FILE_get_last_name(), "first07");
  // An unset year repeats the last name.
  DateRecord unset;
  DATE_init(&unset);
  EXPECT_EQ(expand(&unset), "first07");
  EXPECT_EQ(FILE_set_name("NONE"), 0);
  EXPECT_EQ(expand(&d), "filename");  // a new template forgets the last name
}

TEST_F(Convention, CurrentDateIsTheClock) {
  FILE_set_current_date();
  FILE_set_name("@%Y");
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  EXPECT_EQ(expand(nullptr), std::to_string(utc.tm_year + 1900));
}

// ---- Dates -------------------------------------------------------------------

TEST(Dates, LeapYears) {
  EXPECT_TRUE(DATE_is_leap(2004));
  EXPECT_TRUE(DATE_is_leap(2000));
  EXPECT_FALSE(DATE_is_leap(1900));
  EXPECT_FALSE(DATE_is_leap(2006));
  EXPECT_EQ(DATE_day_of_year(2004, 12, 31), 366);
  EXPECT_EQ(DATE_day_of_year(2006, 13, 1), -1);
}

TEST(Dates, MonthNamesFollowTheFirstLetterCase) {
  EXPECT_EQ(DATE_decode_month("JAN"), 1);
  EXPECT_EQ(DATE_decode_month("jan"), 1);
  EXPECT_EQ(DATE_decode_month("Jan"), 0);
  EXPECT_EQ(DATE_decode_month("JUN"), 6);
  EXPECT_EQ(DATE_decode_month("jul"), 7);
  EXPECT_EQ(DATE_decode_month("APR"), 4);
  EXPECT_EQ(DATE_decode_month("aug"), 8);
  EXPECT_EQ(DATE_decode_month("MAR"), 3);
  EXPECT_EQ(DATE_decode_month("may"), 5);
  EXPECT_EQ(DATE_decode_month("Dec"), 12);
  EXPECT_EQ(DATE_decode_month("F"), 2);
  EXPECT_EQ(DATE_decode_month("xyz"), 0);
  EXPECT_EQ(DATE_decode_month("J"), 0);
  EXPECT_EQ(DATE_decode_month(""), 0);
}

TEST(Dates, LabelForms) {
  DateRecord d;
  DATE_decode_label("12Z 07 MAR 06", &d);
  EXPECT_EQ(d.year, 2006);
  EXPECT_EQ(d.month, 3);
  EXPECT_EQ(d.day, 7);
  EXPECT_EQ(d.hour, 12);
  EXPECT_EQ(d.minute, DATE_UNSET);

  DATE_decode_label("RADAR 1830Z 07 MAR 99", &d);
  EXPECT_EQ(d.year, 1999);
  EXPECT_EQ(d.hour, 18);
  EXPECT_EQ(d.minute, 30);

  DATE_decode_label("RADAR  930Z 07 MAR 06", &d);
  EXPECT_EQ(d.hour, 9);
  EXPECT_EQ(d.minute, 30);

  DATE_decode_label("VIS 18:30:15Z 07 JUN 49", &d);
  EXPECT_EQ(d.year, 2049);
  EXPECT_EQ(d.month, 6);
  EXPECT_EQ(d.second, 15);

  DATE_decode_label("06 03 07 12", &d);
  EXPECT_EQ(d.year, 2006);
  EXPECT_EQ(d.month, 3);
  EXPECT_EQ(d.day, 7);
  EXPECT_EQ(d.hour, 12);

  DATE_decode_label("106 03 07 12", &d);  // three digits do not fit "%2d"
  EXPECT_EQ(d.year, 2010);

  DATE_decode_label("no date here", &d);
  EXPECT_EQ(d.year, DATE_UNSET);
  EXPECT_EQ(d.month, DATE_UNSET);
}

TEST(Dates, CurrentDateText) {
  char text[32];
  DATE_get_current_str(text);
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char expected[8];
  std::snprintf(expected, sizeof expected, "%2.2d ", utc.tm_year % 100);
  EXPECT_EQ(std::string(text).substr(0, 3), expected);
  EXPECT_EQ(std::strlen(text), 20u);
  EXPECT_EQ(text[19], 'Z');
}

TEST(Dates, TimeZone) {
  EXPECT_EQ(DATE_set_TZ("CST:6"), 0);
  EXPECT_STREQ(DATE_get_TZ_name(), "CST");
  EXPECT_EQ(DATE_get_TZ_offset(), 6 * 3600);
  EXPECT_EQ(DATE_set_TZ("-EST:5.5"), 0);
  EXPECT_EQ(DATE_get_TZ_offset(), -19800);
  EXPECT_EQ(DATE_set_TZ("LONGNAME:1"), -1);
  EXPECT_EQ(DATE_set_TZ("garbage"), -1);
  EXPECT_STREQ(DATE_get_TZ_name(), "EST");
}

}  // namespace
