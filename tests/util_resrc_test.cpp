// The resource database: command line, defaults files, environment,
// conversions, help text and the resource server.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "mqueue/mqueue.h"
#include "proc_util.h"
#include "util/date.h"
#include "util/def_read.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

extern char **environ;

namespace {

using zyb_test::read_file;
using zyb_test::TempDir;

const int kLooperKeyed[] = {57, 3, 73, 48, 63, 107, 84, 110, 96, 98, 27, 34, 83, 46, 102, 59, 2, 53, 0};
const int kLooperPositional[] = {50, 0};

void write_file(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

void clear_zyb_environment() {
  std::vector<std::string> names;
  for (char **e = environ; *e != nullptr; e++)
    if (std::strncmp(*e, "zyb", 3) == 0) names.emplace_back(*e, std::strchr(*e, '=') - *e);
  for (const auto &n : names) unsetenv(n.c_str());
}

std::string get(const char *name) {
  const char *v = RES_get(name);
  return v ? v : "<unset>";
}

std::vector<std::string> values(const char *name) {
  int count = 0;
  char **list = nullptr;
  RES_getvals(name, &count, &list);
  std::vector<std::string> out(list, list + count);
  free_parsed_array(count, list);
  return out;
}

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_zyb_environment();
    RES_clear();
    DEF_reset();
    MESS_reset();
    // Only the test's own directory is searched for defaults.
    setenv("zybdefault", dir_.path().c_str(), 1);
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
    words.insert(words.begin(), "/usr/local/bin/zorazez");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    EXPECT_EQ(RES_init(static_cast<int>(words.size()), argv.data(), keyed, positional), 1);
  }
  TempDir dir_;
};

TEST_F(Resources, AbbreviationFullNameAndLeadingPart) {
  for (auto words : {std::vector<std::string>{"-wn", "3"}, std::vector<std::string>{"-window_num=3"},
                     std::vector<std::string>{"-win", "3"}, std::vector<std::string>{"--WIN", "3"},
                     std::vector<std::string>{"-WN=3"}}) {
    RES_clear();
    init(words);
    EXPECT_EQ(get("window_num"), "3") << words[0];
    EXPECT_TRUE(values("filename").empty());
  }
}

TEST_F(Resources, LeadingPartsTakeTheFirstDeclaredOption) {
  init({"-g", "x", "-i", "y", "-t", "z"});
  EXPECT_EQ(get("grid_domain"), "x");  // declared before geometry
  EXPECT_EQ(get("image_path"), "y");   // declared before icon
  EXPECT_EQ(get("title"), "z");
  EXPECT_EQ(get("geometry"), "<unset>");
}

TEST_F(Resources, FlagsLeaveTheNextWordPositional) {
  init({"-ba", "foo"});
  EXPECT_TRUE(FLAG_batch());
  EXPECT_EQ(values("filename"), (std::vector<std::string>{"foo"}));
  EXPECT_EQ(MESS_get(), 0xFFu);  // batch quiets everything above warnings
}

TEST_F(Resources, BatchKeepsAnExplicitMessageLevel) {
  init({"-me", "mess", "-ba"});
  EXPECT_EQ(MESS_get(), 0xFFFu);
}

TEST_F(Resources, NegativeNumbersAreValues) {
  init({"-pd", "-5", "-wn", "-2"});
  EXPECT_EQ(get("plot_domain"), "-5");
  EXPECT_EQ(get("window_num"), "-2");
  int window = 0;
  EXPECT_EQ(RES_getval("window_num", &window, RES_INTEGER), 1);
  EXPECT_EQ(window, -2);
}

TEST_F(Resources, AnOptionBeforeAnotherOptionHasNoValue) {
  init({"-ti", "-ic", "-ge", "--", "last"});
  EXPECT_EQ(get("title"), "");
  EXPECT_EQ(get("icon"), "");
  EXPECT_EQ(get("geometry"), "");
  EXPECT_EQ(values("filename"), (std::vector<std::string>{"last"}));
}

TEST_F(Resources, PositionalWordsBecomeOneNewlineList) {
  init({"a", "-ti", "T", "b"});
  EXPECT_EQ(get("filename"), "a\nb");
  EXPECT_EQ(values("filename"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(Resources, PositionalOptionsByPosition) {
  const int keyed[] = {57, 0};
  const int positional[] = {111, 112, 50, 0};
  init({"in.grb", "out.gif", "x", "y"}, keyed, positional);
  EXPECT_EQ(get("infile"), "in.grb");
  EXPECT_EQ(get("outfile"), "out.gif");
  EXPECT_EQ(values("filename"), (std::vector<std::string>{"x", "y"}));
}

TEST_F(Resources, FlagWithoutValueIsEmptyNotMissing) {
  init({"-ic"});
  ASSERT_NE(RES_get("icon"), nullptr);
  EXPECT_STREQ(RES_get("icon"), "");
  int icon = 0;
  EXPECT_EQ(RES_getval("icon", &icon, RES_BOOLEAN), 1);
  EXPECT_EQ(icon, 1);
  EXPECT_EQ(RES_get("title"), nullptr);
  EXPECT_EQ(RES_getval("title", &icon, RES_TEXT), 0);
  EXPECT_EQ(RES_getval("icon", nullptr, RES_BOOLEAN), 0);
}

TEST_F(Resources, UndeclaredNamesAreKept) {
  init({"-plot_param=full,inv", "-unknown", "value"});
  EXPECT_EQ(values("plot_param"), (std::vector<std::string>{"full", "inv"}));
  EXPECT_EQ(get("unknown"), "value");
  EXPECT_TRUE(values("filename").empty());
}

TEST_F(Resources, HelpFlag) {
  init({"-h"});
  EXPECT_TRUE(FLAG_help());
  EXPECT_FALSE(FLAG_batch());
  RES_clear();
  init({"-help"});
  EXPECT_TRUE(FLAG_help());
}

TEST_F(Resources, MessageLevelIsAppliedAtOnce) {
  init({"-me", "+debug"});
  EXPECT_TRUE(MESS_check(0x80000000u));
  EXPECT_EQ(MESS_check_set(), 1);
}

TEST_F(Resources, CommandLineOverridesEnvironmentOverridesDefaults) {
  write_file(dir_ / "zyb.cfg", "zorazez.title FromFile\n*.geometry 100x100\nzorazez.icon on\n");
  init({});
  EXPECT_EQ(get("title"), "FromFile");
  EXPECT_EQ(get("geometry"), "100x100");
  RES_clear();
  setenv("zybtitle", "FromEnv", 1);
  init({});
  EXPECT_EQ(get("title"), "FromEnv");
  RES_clear();
  init({"-ti", "FromLine"});
  EXPECT_EQ(get("title"), "FromLine");
  EXPECT_EQ(get("geometry"), "100x100");
  int icon = 0;
  RES_getval("icon", &icon, RES_BOOLEAN);
  EXPECT_EQ(icon, 1);
}

TEST_F(Resources, EnvironmentNamesByProgramOptionAndPrefix) {
  setenv("zybwindow_num", "9", 1);
  init({});
  EXPECT_EQ(get("window_num"), "9");
  RES_clear();
  setenv("zybwindownum", "8", 1);
  init({});
  EXPECT_EQ(get("window_num"), "8");
  RES_clear();
  setenv("zybzorazez.window_num", "7", 1);
  init({});
  EXPECT_EQ(get("window_num"), "7");
}

TEST_F(Resources, TimeZoneFromTheEnvironment) {
  setenv("zybtz", "MST:7", 1);
  init({});
  EXPECT_STREQ(DATE_get_TZ_name(), "MST");
  EXPECT_EQ(DATE_get_TZ_offset(), 7 * 3600);
}

TEST_F(Resources, NameSelectsTitledKeys) {
  write_file(dir_ / "zyb.cfg", "zorazez.radar.title Radar\nradar.command open\nzorazez.title Plain\n");
  init({"-n", "+radar"});
  EXPECT_EQ(get("name"), "+radar");
  EXPECT_EQ(get("title"), "Radar");
  RES_clear();
  DEF_reset();
  init({"-name=radar"});
  EXPECT_EQ(get("command"), "open");
  EXPECT_EQ(get("title"), "<unset>");
  EXPECT_TRUE(values("filename").empty());
}

TEST_F(Resources, DefaultsPathWithTagsAndSeveralFiles) {
  std::string etc = dir_ / "etc";
  mkdir(etc.c_str(), 0755);
  write_file(etc + "/.zybdef", "IF big\n*.geometry 1000x800\nELSE\n*.geometry 320x200\nEND\n");
  std::string second = dir_ / "second.def";
  write_file(second, "zorazez.title Second\nzorazez.plot_param full\nanimctl.stray 1\n");
  std::string path = dir_.path() + "/missing:+big:" + etc + ":" + second;
  init({("-df=" + path)});
  EXPECT_EQ(get("default"), path);
  EXPECT_EQ(get("geometry"), "1000x800");
  EXPECT_EQ(get("title"), "Second");
  EXPECT_EQ(get("plot_param"), "full");  // addressed to this program, though not declared
  EXPECT_EQ(get("stray"), "<unset>");
  RES_clear();
  setenv("zybdefault", etc.c_str(), 1);
  init({});
  EXPECT_EQ(get("geometry"), "320x200");
}

TEST_F(Resources, EmptyDefaultsPathReadsTheCurrentDirectory) {
  char cwd[512];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  write_file(dir_ / ".zybdef", "zorazez.title Here\n");
  setenv("zybdefault", "", 1);
  init({});
  EXPECT_EQ(chdir(cwd), 0);
  EXPECT_EQ(get("title"), "Here");
}

TEST_F(Resources, Conversions) {
  RES_put("hex", "0x1F");
  RES_put("dec", "+12");
  RES_put("word", "abc");
  RES_put("path", "/data");
  RES_put("nopath", "none");
  RES_put("yes", "YES");
  RES_put("off", "off");
  RES_put("maybe", "maybe");
  int n = 5;
  EXPECT_EQ(RES_getval("hex", &n, RES_INTEGER), 1);
  EXPECT_EQ(n, 31);
  RES_getval("dec", &n, RES_INTEGER);
  EXPECT_EQ(n, 12);
  EXPECT_EQ(RES_getval("word", &n, RES_INTEGER), 0);
  EXPECT_EQ(n, 12);
  char path[FILE_NAME_SIZE] = "";
  RES_getval("path", path, RES_PATH);
  EXPECT_STREQ(path, "/data/");
  RES_getval("nopath", path, RES_PATH);
  EXPECT_STREQ(path, "");
  int flag = 0;
  RES_getval("yes", &flag, RES_BOOLEAN);
  EXPECT_EQ(flag, 1);
  RES_getval("off", &flag, RES_BOOLEAN);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(RES_getval("maybe", &flag, RES_BOOLEAN), 0);
  EXPECT_EQ(flag, 0);
  const char *text = nullptr;
  RES_getval("word", &text, RES_TEXT);
  EXPECT_STREQ(text, "abc");
  RES_getval("word", &text, RES_DOMAIN);
  EXPECT_STREQ(text, "abc");
}

TEST_F(Resources, DeviceClassAndDisplayName) {
  const struct {
    const char *value;
    int device;
    const char *display;
  } cases[] = {
      {"w,:1", 6, ":1"}, {"W", 6, nullptr},   {"p,lp", 4, "lp"}, {"hp", 5, nullptr}, {"q,a,b", 5, "a,b"},
      {"m", 3, nullptr}, {"d,:0", 1, ":0"},   {"w,", 6, nullptr}, {",:2", 1, ":2"},
  };
  for (const auto &c : cases) {
    RES_put("device", c.value);
    const char *display = "untouched";
    EXPECT_EQ(RES_getval("device", &display, RES_DEVICE), c.device) << c.value;
    EXPECT_EQ(FLAG_get(FLAG_DEVICE), c.device) << c.value;
    if (c.display)
      EXPECT_STREQ(display, c.display) << c.value;
    else
      EXPECT_EQ(display, nullptr) << c.value;
  }
}

TEST_F(Resources, NameListsAndAppending) {
  RES_new(50, "filename", "a", RES_NAME_LIST);
  RES_append(50, "filename", "b,c", RES_NAME_LIST);
  EXPECT_EQ(values("filename"), (std::vector<std::string>{"a", "b,c"}));
  char **list = nullptr;
  EXPECT_EQ(RES_getval("filename", &list, RES_NAME_LIST), 2);
  free_parsed_array(2, list);
  RES_put("csv", "x,y,,");
  EXPECT_EQ(values("csv"), (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(values("absent").empty());
}

TEST_F(Resources, ValuesStayPutWhileTheListGrows) {
  RES_put("first", "v");
  const char *first = RES_get("first");
  for (int i = 0; i < 200; i++) RES_put(("r" + std::to_string(i)).c_str(), "x");
  EXPECT_EQ(first, RES_get("first"));
  EXPECT_STREQ(first, "v");
}

TEST_F(Resources, ListingEveryResource) {
  RES_put("alpha", "1");
  RES_new(RES_UNDECLARED, "beta", nullptr, RES_TEXT);
  MESS_set_str("print");
  testing::internal::CaptureStdout();
  RES_list();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "alpha: 1\nbeta:\n");
}

TEST_F(Resources, ProgramNames) {
  char buffer[80];
  EXPECT_STREQ(RES_get_progname(buffer), "ZYB");
  init({});
  EXPECT_STREQ(RES_get_prog(), "/usr/local/bin/zorazez");
  EXPECT_STREQ(RES_get_progname(buffer), "zorazez");
  char *fresh = RES_get_progname(nullptr);
  EXPECT_STREQ(fresh, "zorazez");
  std::free(fresh);
}

TEST_F(Resources, HelpTextOfTheLooper) {
  MESS_set_str("print");
  testing::internal::CaptureStdout();
  RES_help_print("zorazez", kLooperKeyed, kLooperPositional);
  const std::string domain_lines =
      "               region=predefined region:\n"
      "                  us,ne,at,se,mw,sp,nw,sw,etc\n"
      "               proj=projection, clat=central latitude, clon=central longitude,\n"
      "               nx,ny=number of gridpoints and dx,dy=grid spacing\n";
  const std::string expected =
      "zorazez syntax (version:5.60.4-LINUX-X11)\n"
      "   zorazez [options...]\n"
      "Keyed options...\n"
      " -df file    Resource/defaults file name\n"
      " -na name    Program name\n"
      " -h          Print this help\n"
      " -ba         Run program in batch mode\n"
      " -me level   Message level to be displayed:\n"
      "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"
      " -fp path    File path\n"
      " -ip path    Image file path\n"
      " -wn         ZORAzez window number\n"
      " -pd region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
      "             Output plot domain\n" +
      domain_lines +
      " -gd region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
      "             Grid domain\n" +
      domain_lines +
      " -re region or [proj],clat,clon[,nx,ny][,dx,dy]\n"
      "             Region to be used for plotting and gridding\n" +
      domain_lines +
      "               us,ne,at,se,mw,sp,nw,sw,var\n"
      " -pr prior   Priority of stations used in the plot\n"
      " -ct file    Color table file name\n"
      " -cd cmd[;cmd]  Commands to be run\n"
      " -pa param[,...]  Program parameters\n"
      " -de dev[,name]  Output device: d,p,q,w,m\n"
      " -ti title   Window title\n"
      " -ic         Open window iconified\n"
      " -bg clr     Background color\n"
      " -ge wxh+x+y  Window geometry\n"
      "Positional options...\n"
      " file [file...]  Input file names\n";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST_F(Resources, SetCommandsChangeResources) {
  EXPECT_EQ(ZYB_set_command("set title = Big Loop"), 1);
  EXPECT_EQ(get("title"), "Big Loop");
  EXPECT_EQ(ZYB_set_command("SET geometry 10x10"), 1);
  EXPECT_EQ(get("geometry"), "10x10");
  EXPECT_EQ(ZYB_set_command("set icon"), 1);
  EXPECT_EQ(get("icon"), "");
  EXPECT_EQ(ZYB_set_command("open"), 0);
  MESS_set_str("mess");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZYB_set_command("set"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Set resources\ntitle: Big Loop\ngeometry: 10x10\nicon: \n\n");
}

TEST_F(Resources, PromptRepeatsUntilANumberAndObeysSetLines) {
  std::string input = dir_ / "answers";
  write_file(input, "set title Asked\nnot a number\n  42.5  \n");
  int saved = dup(0);
  int in = open(input.c_str(), O_RDONLY);
  dup2(in, 0);
  close(in);
  MESS_set_str("print");
  testing::internal::CaptureStdout();
  float value = ZYB_promptf("Enter the central latitude: ");
  std::string prompts = testing::internal::GetCapturedStdout();
  std::clearerr(stdin);
  dup2(saved, 0);
  close(saved);
  EXPECT_FLOAT_EQ(value, 42.5f);
  EXPECT_EQ(get("title"), "Asked");
  EXPECT_EQ(prompts, "Enter the central latitude: Enter the central latitude: Enter the central latitude: ");
}

TEST_F(Resources, ExitLineEndsTheProgram) {
  pid_t pid = fork();
  if (pid == 0) {
    ZYB_set_command("EXIT now");
    _exit(5);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Resources, ResourceServerThatIsNotRunning) {
  // Window 1017 is not in use by any test (keys 7513).
  MQ_remove(1017);
  setenv("zybdefault", "#1017", 1);
  testing::internal::CaptureStderr();
  init({});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ZORazez window: 1017 not running or no message queue exists\n");
}

// A resource server on window 1016: answers "query res title" with a value,
// every other query with nothing, and writes down what it was told.
class ServerProcess {
 public:
  ServerProcess(int window, const std::string &log) {
    MQ_offset(6496);
    MQ_remove(window);
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      serve(window, log, ready[1]);
      _exit(0);
    }
    close(ready[1]);
    char c = 0;
    EXPECT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
  }
  ~ServerProcess() {
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; i++) usleep(20000);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  static void serve(int window, const std::string &log, int ready) {
    alarm(10);  // never outlive the test
    int q = MQ_create(window);
    FILE *out = std::fopen(log.c_str(), "w");
    (void)!write(ready, "x", 1);
    char text[MQ_TEXT_MAX + 3];
    for (;;) {
      int sender = 0;
      int got = MQ_sget(q, &sender, text);
      if (got != 1) {
        usleep(5000);
        continue;
      }
      std::fprintf(out, "%s\n", text);
      std::fflush(out);
      if (std::strcmp(text, "query res title") == 0) {
        MQ_sput(q, sender, 0, "Served Title\n");
        MQ_sput(q, sender, 0, "!ignored\n");
      }
      if (std::strcmp(text, "quit") == 0) {
        MQ_sput(q, sender, -1, "bye\n");
        break;
      }
      MQ_sput(q, sender, 1, "done\n");
    }
    std::fclose(out);
    MQ_del(q);
  }
  pid_t pid_ = -1;
};

TEST_F(Resources, ResourceServerGivesAndTakesValues) {
  std::string log = dir_ / "server.log";
  {
    ServerProcess server(1016, log);
    write_file(dir_ / "zyb.cfg", "zorazez.geometry 10x10\n");
    setenv("zybdefault", (dir_.path() + ":#1016").c_str(), 1);
    const int keyed[] = {102, 53, 59, 0};
    const int positional[] = {0};
    init({"-ic", "-ti", "Mine"}, keyed, positional);
    EXPECT_EQ(get("geometry"), "10x10");
    EXPECT_EQ(get("title"), "Mine");  // the command line still wins
  }
  EXPECT_EQ(read_file(log),
            "query res title\n"
            "query res geometry\n"
            "query res icon\n"
            "set res geometry 10x10\n"
            "set res icon \n"
            "set res title Mine\n"
            "quit\n");
}

TEST_F(Resources, ResourceServerValueIsUsedWithoutLocalSetting) {
  std::string log = dir_ / "server.log";
  {
    ServerProcess server(1016, log);
    setenv("zybdefault", "#1016", 1);
    const int keyed[] = {102, 0};
    const int positional[] = {0};
    init({}, keyed, positional);
    EXPECT_EQ(get("title"), "Served Title");
  }
  EXPECT_EQ(read_file(log), "query res title\nquit\n");
}

}  // namespace
