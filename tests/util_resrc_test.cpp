// The resource database: command line, defaults files, environment,
// conversions, help text and the resource server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "client_util.h"
#include "looper_util.h"
#include "util/date.h"
#include "util/def_read.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"

extern char **environ;

namespace {

using zyb_test::read_file;
using zyb_test::write_bytes;

const int kLooperKeyed[] = {57, 3, 73, 48, 63, 107, 84, 110, 96, 98, 27, 34, 83, 46, 102, 59, 2, 53, 0};
const int kLooperPositional[] = {50, 0};

void clear_zyb_environment() {
  std::vector<std::string> names;
  for (char **e = environ; *e != nullptr; e++)
    if (std::strncmp(*e, "zyb", 3) == 0) names.emplace_back(*e, std::strchr(*e, '=') - *e);
  for (const auto &n : names) unsetenv(n.c_str());
}

// The values of the names in expect ("name=value|name=value"), in the same form.
std::string lookup(const std::string &expect) {
  std::string got;
  for (size_t at = 0, eq, bar; at < expect.size(); at = bar + 1) {
    eq = expect.find('=', at);
    bar = std::min(expect.find('|', eq), expect.size());
    const std::string name = expect.substr(at, eq - at);
    const char *value = RES_get(name.c_str());
    got += (got.empty() ? "" : "|") + name + "=" + (value ? value : "<unset>");
  }
  return got;
}

std::string values(const char *name) {
  int count = 0;
  char **list = nullptr;
  RES_getvals(name, &count, &list);
  std::string out;
  for (int i = 0; i < count; i++) out += std::string(i ? "|" : "") + list[i];
  free_parsed_array(count, list);
  return out;
}

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    TearDown();
    setenv("zybdefault", dir_.path().c_str(), 1);  // only the test's own defaults
  }
  void TearDown() override {
    clear_zyb_environment();
    RES_clear();
    DEF_reset();
    MESS_reset();
    FLAG_reset(-9999);
  }
  void init(std::vector<std::string> words, const int *keyed = kLooperKeyed,
            const int *positional = kLooperPositional) {
    RES_clear();
    words.insert(words.begin(), "/usr/local/bin/zorazez");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    EXPECT_EQ(RES_init(static_cast<int>(words.size()), argv.data(), keyed, positional), 1);
  }
  zyb_test::TempDir dir_;
};

#define EXPECT_RESOURCES(expect) EXPECT_EQ(lookup(expect), expect)

TEST_F(Resources, CommandLineWords) {
  const struct {
    std::vector<std::string> words;
    const char *expect;
  } cases[] = {
      {{"-wn", "3"}, "window_num=3|filename=<unset>"},
      {{"-window_num=3"}, "window_num=3"},
      {{"-win", "3"}, "window_num=3"},
      {{"--WIN", "3"}, "window_num=3"},
      {{"-WN=3"}, "window_num=3"},
      {{"-g", "x", "-i", "y", "-t", "z"}, "grid_domain=x|image_path=y|title=z|geometry=<unset>"},  // first declared
      {{"-pd", "-5", "-wn", "-2"}, "plot_domain=-5|window_num=-2"},
      {{"-ti", "-ic", "-ge", "--", "last"}, "title=|icon=|geometry=|filename=last"},
      {{"a", "-ti", "T", "b"}, "filename=a\nb|title=T"},
      {{"-ba", "foo"}, "batch=|filename=foo"},
      {{"-n", "foo"}, "name=foo"},
      {{"-plot_param=full,inv", "-unknown", "value"}, "plot_param=full,inv|unknown=value|filename=<unset>"},
  };
  for (const auto &c : cases) {
    init(c.words);
    EXPECT_RESOURCES(c.expect) << c.words[0];
  }
  init({"a", "b"});
  EXPECT_EQ(values("filename"), "a|b");
  std::unique_ptr<char, decltype(&std::free)> name(RES_get_progname(nullptr), &std::free);
  EXPECT_STREQ(name.get(), "zorazez") << "the path's last part";
}

TEST_F(Resources, BatchHelpAndMessageFlags) {
  init({"-ba", "foo"});
  EXPECT_TRUE(FLAG_batch() && !FLAG_help());
  EXPECT_EQ(MESS_get(), 0xFFu);  // batch quiets everything above warnings
  MESS_reset();
  init({"-me", "mess", "-ba"});
  EXPECT_EQ(MESS_get(), 0xFFFu);  // unless a level was given
  init({"-me", "+debug"});
  EXPECT_TRUE(MESS_check(0x80000000u));
  FLAG_reset(-9999);
  init({"-help"});
  EXPECT_TRUE(FLAG_help());
}

TEST_F(Resources, CommandLineOverEnvironmentOverDefaultsAndEnvironmentNamesInOrder) {
  write_bytes(dir_ / "zyb.cfg", "zorazez.title FromFile\n*.geometry 100x100\n");
  init({});
  EXPECT_RESOURCES("title=FromFile");
  setenv("zybtitle", "FromEnv", 1);
  init({});
  EXPECT_RESOURCES("title=FromEnv");
  init({"-ti", "FromLine"});
  EXPECT_RESOURCES("title=FromLine|geometry=100x100");
  for (const char *name : {"zybwindow_num", "zybwindownum", "zybzorazez.window_num"}) {
    setenv(name, name, 1);  // each later name takes precedence
    init({});
    EXPECT_RESOURCES(std::string("window_num=") + name);
  }
  setenv("zybtz", "MST:7", 1);
  init({});
  EXPECT_STREQ(DATE_get_TZ_name(), "MST");
  EXPECT_EQ(DATE_get_TZ_offset(), 7 * 3600);
}

TEST_F(Resources, NameSelectsTitledKeys) {
  write_bytes(dir_ / "zyb.cfg", "zorazez.radar.title Radar\nradar.command open\nzorazez.title Plain\n");
  init({"-n", "+radar"});
  EXPECT_RESOURCES("title=Radar");
  DEF_reset();
  init({"-name=radar"});
  EXPECT_RESOURCES("command=open|title=<unset>|filename=<unset>");
}

TEST_F(Resources, DefaultsPathWithTagsSeveralFilesAndTheCurrentDirectory) {
  const std::string etc = dir_ / "etc", second = dir_ / "second.def";
  mkdir(etc.c_str(), 0755);
  write_bytes(etc + "/.zybdef", "IF big\n*.geometry 1000x800\nELSE\n*.geometry 320x200\nEND\n");
  write_bytes(second, "zorazez.title Second\nzorazez.plot_param full\nanimctl.stray 1\n");
  init({"-df=" + dir_.path() + "/missing:+big:" + etc + ":" + second});
  // plot_param is addressed to this program, though not declared.
  EXPECT_RESOURCES("geometry=1000x800|title=Second|plot_param=full|stray=<unset>");
  setenv("zybdefault", etc.c_str(), 1);
  init({});
  EXPECT_RESOURCES("geometry=320x200");
  char cwd[512];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  write_bytes(dir_ / ".zybdef", "zorazez.title Here\n");
  setenv("zybdefault", "", 1);
  init({});
  EXPECT_EQ(chdir(cwd), 0);
  EXPECT_RESOURCES("title=Here");
}

TEST_F(Resources, Conversions) {
  const struct {
    const char *value;
    int type, status, result;
  } numbers[] = {{"0x1F", RES_INTEGER, 1, 31}, {"+12", RES_INTEGER, 1, 12}, {"-2", RES_INTEGER, 1, -2},
                 {"abc", RES_INTEGER, 0, 5},   {"YES", RES_BOOLEAN, 1, 1},  {"off", RES_BOOLEAN, 1, 0},
                 {"maybe", RES_BOOLEAN, 0, 5}, {nullptr, RES_BOOLEAN, 1, 1}};
  for (const auto &n : numbers) {
    RES_new(RES_UNDECLARED, "number", n.value, RES_TEXT);
    int out = 5;
    EXPECT_EQ(RES_getval("number", &out, n.type), n.status) << (n.value ? n.value : "null");
    EXPECT_EQ(out, n.result) << (n.value ? n.value : "null");
  }
  EXPECT_EQ(RES_getval("absent", nullptr, RES_TEXT), 0);
  EXPECT_EQ(RES_getval("number", nullptr, RES_BOOLEAN), 0);
  char path[FILE_NAME_SIZE] = "", none[FILE_NAME_SIZE] = "x";
  RES_put("path", "/data");
  RES_put("nopath", "none");
  RES_getval("path", path, RES_PATH);
  RES_getval("nopath", none, RES_PATH);
  EXPECT_EQ(std::string(path) + "|" + none, "/data/|");
}

TEST_F(Resources, DeviceClassAndDisplayName) {
  const struct {
    const char *value;
    int device;
    const char *display;
  } cases[] = {{"w,:1", 6, ":1"}, {"W", 6, nullptr}, {"p,lp", 4, "lp"},  {"hp", 5, nullptr}, {"q,a,b", 5, "a,b"},
               {"m", 3, nullptr}, {"d,:0", 1, ":0"}, {"w,", 6, nullptr}, {",:2", 1, ":2"}};
  for (const auto &c : cases) {
    RES_put("device", c.value);
    const char *display = "untouched";
    EXPECT_EQ(RES_getval("device", &display, RES_DEVICE), c.device) << c.value;
    EXPECT_EQ(FLAG_get(FLAG_DEVICE), c.device) << c.value;
    EXPECT_STREQ(display ? display : "none", c.display ? c.display : "none") << c.value;
  }
}

TEST_F(Resources, ListsAppendingAndStableValues) {
  RES_new(50, "filename", "a", RES_NAME_LIST);
  RES_append(50, "filename", "b,c", RES_NAME_LIST);
  RES_put("csv", "x,y,,");
  EXPECT_EQ(values("filename") + "/" + values("csv") + "/" + values("absent"), "a|b,c/x|y/");
  const char *first = RES_get("csv");
  for (int i = 0; i < 200; i++) RES_put(("r" + std::to_string(i)).c_str(), "x");
  EXPECT_EQ(first, RES_get("csv"));
}

// A resource server in a child process: serves title and background, ends
// each answer with a code-1 line (the shared stand-in server never does) and
// logs what it gets.
pid_t start_resource_server(int window, const std::string &log) {
  zyb_test::remove_queue(window);
  const pid_t pid = zyb_test::spawn([&] {
    alarm(10);
    MQ_offset(zyb_test::kQueueOffset);
    const int q = MQ_create(window);
    FILE *out = std::fopen(log.c_str(), "w");
    char text[MQ_TEXT_MAX + 3];
    for (int sender = 0;;) {
      if (MQ_sget(q, &sender, text) != MQ_GOT_COMMAND) {
        usleep(5000);
        continue;
      }
      std::fprintf(out, "%s\n", text);
      std::fflush(out);
      if (std::strcmp(text, "quit") == 0) return MQ_sput(q, sender, -1, "bye\n"), 0;
      if (std::strcmp(text, "query res title") == 0) MQ_sput(q, sender, 0, "Served Title\n");
      if (std::strcmp(text, "query res background") == 0) MQ_sput(q, sender, 0, "blue\n");
      MQ_sput(q, sender, 0, "!ignored\n");
      MQ_sput(q, sender, 1, "done\n");
    }
  });
  zyb_test::eventually([window] { return zyb_test::queue_exists(window); }, 5.0);
  return pid;
}

TEST_F(Resources, ResourceServerGivesAndTakesValuesOrIsReportedMissing) {
  const std::string log = dir_ / "server.log";
  const pid_t server = start_resource_server(1016, log);
  write_bytes(dir_ / "zyb.cfg", "zorazez.geometry 10x10\n");
  setenv("zybdefault", (dir_.path() + ":#1016").c_str(), 1);
  const int keyed[] = {102, 53, 59, 2, 0}, positional[] = {0};
  RES_set_server_client(MQ_resource_client());
  init({"-ic", "-bg", "red"}, keyed, positional);
  EXPECT_EQ(zyb_test::reap(server, 2.0), 0) << "the server got its quit";
  zyb_test::remove_queue(1016);
  EXPECT_RESOURCES("title=Served Title|geometry=10x10|background=red");  // the command line still wins
  EXPECT_EQ(read_file(log),
            "query res title\nquery res geometry\nquery res icon\nquery res background\n"
            "set res geometry 10x10\nset res icon \nset res background red\nquit\n");
  zyb_test::remove_queue(1017);
  setenv("zybdefault", "#1017", 1);
  testing::internal::CaptureStderr();
  init({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ZORazez window: 1017 not running or no message queue exists\n");
}

}  // namespace
