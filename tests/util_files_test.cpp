// Paths, opening files, file-name conventions and dates.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "proc_util.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace {

using zyb_test::read_file;
using zyb_test::TempDir;

void write_file(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

TEST(Paths, JoiningDirectoryAndNameUpToTheNameLimit) {
  const struct {
    const char *dir, *name, *joined;
  } cases[] = {
      {"/data", "x.gif", "/data/x.gif"},
      {"/data/", "x.gif", "/data/x.gif"},
      {"/data/", "./x.gif", "./x.gif"},
      {"/data", "/abs/x", "/abs/x"},
      {"/data", "~/x.gif", "~/x.gif"},
      {nullptr, "x.gif", "x.gif"},
      {"", "x.gif", "x.gif"},
      {"/data", "-", "-"},
      {"/data", "STD", "STD"},
  };
  char out[FILE_NAME_SIZE];
  for (const auto &c : cases) EXPECT_STREQ(FILE_add_path(c.dir, c.name, out), c.joined) << c.name;
  const std::string dir(150, 'd');
  EXPECT_EQ(std::string(FILE_add_path(dir.c_str(), "0123456789abcdef.gif", out)), dir + "/012345678");
}

TEST(Paths, HomeDirectoriesStandardStreamsAndFullPaths) {
  char out[FILE_NAME_SIZE];
  const std::string home = getpwuid(getuid())->pw_dir;
  EXPECT_EQ(std::string(FILE_add_user_path("~/out/a.gif", out)), home + "/out/a.gif");
  EXPECT_EQ(std::string(FILE_add_user_path("~", out)), home);
  EXPECT_EQ(std::string(FILE_add_user_path("~root/x", out)), std::string(getpwnam("root")->pw_dir) + "/x");
  EXPECT_STREQ(FILE_add_user_path("~nosuchuser_zyb/x", out), "~nosuchuser_zyb/x");
  EXPECT_STREQ(FILE_add_user_path("plain/x", out), "plain/x");
  for (const char *name : {"", "-", "std", "STD", "StdN"}) EXPECT_TRUE(FILE_is_stdio(name)) << name;
  for (const char *name : {"--", "stdout", "x"}) EXPECT_FALSE(FILE_is_stdio(name)) << name;
  for (const char *name : {"./a", "/a", "~/a"}) EXPECT_TRUE(FILE_fullpath(name)) << name;
  EXPECT_FALSE(FILE_fullpath("a/b"));
}

TEST(Files, StandardStreamsPipesAndMissingDirectories) {
  TempDir dir;
  EXPECT_EQ(FILE_open("-", "r"), stdin);
  EXPECT_EQ(FILE_open("stdn", "w"), stdout);
  EXPECT_EQ(FILE_close(stdout), 0);  // a standard stream stays open
  EXPECT_NE(std::fputs("", stdout), EOF);
  const std::string piped = dir / "piped.txt";
  FILE *pipe = FILE_open(("|cat > " + piped).c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  std::fputs("through the pipe\n", pipe);
  EXPECT_EQ(FILE_close(pipe), 0);  // waits for the command
  EXPECT_EQ(read_file(piped), "through the pipe\n");
  const std::string name = dir / "out/a/b.gif";
  FILE *f = FILE_open(name.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("x", f);
  FILE_close(f);
  EXPECT_TRUE(FILE_is_dir((dir / "out/a").c_str()) && !FILE_is_dir(name.c_str()));
  EXPECT_EQ(FILE_size(name.c_str()), 1);
  EXPECT_EQ(FILE_size((dir / "none").c_str()), -1);
  EXPECT_TRUE(FILE_exist("-") && !FILE_exist((dir / "none").c_str()));
  EXPECT_EQ(FILE_open((dir / "r/x").c_str(), "r"), nullptr);
  EXPECT_FALSE(FILE_exist((dir / "r").c_str()));
  f = FILE_open((dir / "app/end.txt").c_str(), "a");
  ASSERT_NE(f, nullptr);
  FILE_close(f);
}

class Convention : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_clear();
    MESS_reset();
    MESS_set_str("none");  // keep the "no convention file" warnings quiet
    RES_put("file_path", dir_.path().c_str());
  }
  void TearDown() override {
    RES_clear();
    MESS_reset();
  }
  static DateRecord date(int y, int mo, int d, int h = 0, int mi = 0) {
    DateRecord r;
    DATE_init(&r);
    r.year = y, r.month = mo, r.day = d, r.hour = h, r.minute = mi;
    return r;
  }
  static std::string expand(const DateRecord &d) {
    char out[FILE_NAME_SIZE];
    FILE_set_date(&d, out);
    return out;
  }
  TempDir dir_;
};

TEST(Files, OnlyPlainFilesAreSafeToReadForAnotherProgram) {
  TempDir dir;
  const std::string plain = dir / "plain.gif", fifo = dir / "fifo", link = dir / "link";
  write_file(plain, "GIF89a");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  EXPECT_EQ(FILE_is_safe_input(plain.c_str()), 1);
  EXPECT_EQ(FILE_is_safe_input((dir / "missing.gif").c_str()), 1) << "opening it fails by itself";
  for (const std::string &name : {std::string("|touch x"), std::string("-"), std::string("stdn"), fifo, link,
                                   dir.path(), std::string("/dev/zero"), std::string("/proc/self/status")})
    EXPECT_EQ(FILE_is_safe_input(name.c_str()), 0) << name;
}

TEST_F(Convention, TemplateCodes) {
  RES_put("image_path", "/img");
  RES_put("title", "Radar");
  DateRecord unset;
  DATE_init(&unset);
  const struct {
    const char *name;
    DateRecord date;
    char key;
    const char *key_text;
    const char *expected;
  } cases[] = {
      {"@%Y%m%d_%i.gif", date(2006, 3, 7, 13, 47), 'i', "012", "20060307_012.gif"},
      {"@loop %p", date(2006, 3, 7), 'p', "Radar Loop", "loop_Radar_Loop"},
      {"@%2i-%i-%q-%%-%9i", date(2006, 3, 7), 'i', "win", "wi-win-0-%-win"},
      {"@%k", date(2006, 3, 7), 'k', "abcdefghijklmnopqrstuvwxyz0123456789", "abcdefghijklmnopqrstuvwxyz012"},
      {"@%Y %y %b %m %d %j %h %n", date(2004, 3, 1, 5, 9), 0, "", "2004_04_mar_03_01_061_05_09"},
      {"@%Y %y %b %m %d %j %h %n", date(2005, 12, 31, 23, 59), 0, "", "2005_05_dec_12_31_365_23_59"},
      {"@%6h%15n-%2d", date(2006, 3, 7, 13, 47), 0, "", "1245-06"},
      {"@%Y%m%d%h%n%b%j", unset, 0, "", "000000000000xxx000"},
      {"@%b", date(2006, 0, 7), 0, "", "xxx"},
      {"@%I/%{title}%{missing}.%T", date(2006, 3, 7), 0, "", "/img/Radar.."},
      {"@%F", date(2006, 3, 7), 0, "", dir_.path().c_str()},
      {"@a{b}c", date(2006, 3, 7), 0, "", "abc"},
      {"@-", date(2006, 3, 7), 0, "", "-"},
  };
  for (const auto &c : cases) {
    FILE_set_name(c.name);
    FILE_set_key('q', "");
    if (c.key) FILE_set_key(c.key, c.key_text);
    EXPECT_EQ(expand(c.date), c.expected) << c.name;
  }
}

TEST_F(Convention, ExactAndPartialMatchesOfTheConventionFile) {
  write_file(dir_ / "name_conv", "#comment line\n\nsat_vis vis_%d.gif - 0\nsat %e_%d.gif %e.hdr 100\nradar %Y.gif\n");
  const std::tuple<const char *, int, const char *> cases[] = {
      {"SAT_VIS", 1, "vis_07.gif"},
      {"sat_ir", 1, "ir_07.gif"},
      {"radar", 1, "2006.gif"},
      {"other_%d", 0, "other_07"},
      {"plain:i=012:p=Big Loop", 0, "plain"},  // keys set from the name
      {"@%i-%p", 1, "012-Big_Loop"}};
  for (const auto &[name, status, expanded] : cases) {
    EXPECT_EQ(FILE_set_name(name), status) << name;
    EXPECT_EQ(expand(date(2006, 3, 7)), expanded);
    EXPECT_TRUE(std::string(name) != "sat_ir" || FILE_get_min_size() == 100);
  }
}

TEST_F(Convention, NamedOrMissingConventionFileNoneAndTheLastName) {
  write_file(dir_ / "my.conv", "x %m.gif\n");
  RES_put("name_conv", "my.conv");
  EXPECT_EQ(FILE_set_name("x"), 1);
  EXPECT_EQ(expand(date(2006, 11, 7)), "11.gif");
  RES_put("name_conv", "absent.conv");
  MESS_reset();
  testing::internal::CaptureStderr();
  EXPECT_EQ(FILE_set_name("x%d"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "FILE_set_name: No file name convention file: " + (dir_ / "absent.conv") + "\n");
  EXPECT_EQ(expand(date(2006, 11, 7)), "x07");
  FILE_set_name("@first%d");
  EXPECT_EQ(expand(date(2006, 3, 7)), "first07");
  EXPECT_STREQ(FILE_get_last_name(), "first07");
  DateRecord unset;
  DATE_init(&unset);
  EXPECT_EQ(expand(unset), "first07");  // an unset year repeats the last name
  EXPECT_EQ(FILE_set_name("NONE"), 0);
  EXPECT_EQ(expand(date(2006, 3, 7)), "filename");
}

TEST(Dates, LabelFormsAndMonthNamesInOneCase) {
  const struct {
    const char *label, *fields;  // year month day hour minute second
  } cases[] = {
      {"12Z 07 MAR 06", "2006 3 7 12 -9999 -9999"},
      {"RADAR 1830Z 07 MAR 99", "1999 3 7 18 30 -9999"},
      {"RADAR  930Z 07 MAR 06", "2006 3 7 9 30 -9999"},
      {"VIS 18:30:15Z 07 JUN 49", "2049 6 7 18 30 15"},
      {"06 03 07 12", "2006 3 7 12 -9999 -9999"},
      {"106 03 07 12", "2010 6 3 7 -9999 -9999"},  // "%2d"
      {"12Z 07 Mar 06", "2006 0 7 12 -9999 -9999"},
      {"12Z 07 aug 06", "2006 8 7 12 -9999 -9999"},
      {"no date here", "-9999 -9999 -9999 -9999 -9999 -9999"},
  };
  for (const auto &c : cases) {
    DateRecord d;
    DATE_decode_label(c.label, &d);
    char fields[80];
    std::snprintf(fields, sizeof fields, "%d %d %d %d %d %d", d.year, d.month, d.day, d.hour, d.minute, d.second);
    EXPECT_STREQ(fields, c.fields) << c.label;
  }
}

}  // namespace
