// Installing: the programs, every shipped data file, the manual pages and
// the shell completion under a prefix; the installed looper finds its data
// from any directory with the source tree's data out of sight; the Debian
// package holds the same files; the manual pages format without warnings
// and name every option, command, key and exit status.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "client_util.h"
#include "looper_util.h"

namespace {

using namespace zyb_test;

constexpr WindowRange kWindows{750, 759};
const std::string kBuildDir = std::string(ZYB_BIN_DIR) + "/..";
const std::string kSourceDir = ZYB_SOURCE_DIR;

std::vector<std::string> files_in(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

bool is_file(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string real(const std::string &path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? buffer : path;
}

// Runs argv with the source tree's data directory covered by an empty one,
// in a mount namespace of its own, when the system lets us make one.
std::vector<std::string> with_source_data_hidden(const std::vector<std::string> &argv, const std::string &empty) {
  const std::string flag = getuid() == 0 ? "-m" : "-Urm";
  if (call({"unshare", flag, "true"}).first != 0) {
    std::fprintf(stderr, "note: no mount namespace here; the source tree's data stays visible\n");
    return argv;
  }
  std::vector<std::string> hidden = {
      "/usr/bin/unshare",  flag, "sh", "-c", "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"", "sh", empty,
      kSourceDir + "/data"};
  hidden.insert(hidden.end(), argv.begin(), argv.end());
  return hidden;
}

// The text of a manual page as a reader sees it, without hyphenation.
std::string rendered(const std::string &page, std::string *warnings) {
  return call({"groff", "-ww", "-man", "-rHY=0", "-rLL=200n", "-Tascii", "-P-cbou", page}, warnings).second;
}

bool has_word(const std::string &text, const std::string &word) {
  return std::regex_search(
      text, std::regex("(^|[^A-Za-z0-9_-])" + std::regex_replace(word, std::regex(R"([\[\]])"), R"(\$&)") +
                       "($|[^A-Za-z0-9_])"));
}

// The options a program's help text lists ("-wn", "-pa", ...).
std::vector<std::string> help_options(const std::string &program) {
  std::vector<std::string> options;
  const std::string help = call({bin(program), "-h"}).second;
  const std::regex option(R"(\n (-[a-z]+))");
  for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) options.push_back((*it)[1]);
  return options;
}

TEST(Install, TheInstalledLooperFindsItsDataFromAnotherDirectoryAndAnswers) {
  unsetenv("DISPLAY");
  TempDir dir;
  const std::string prefix = dir / "prefix";
  ASSERT_EQ(call({"cmake", "--install", kBuildDir, "--prefix", prefix}).first, 0);
  for (const std::string &name : files_in(kSourceDir + "/data"))
    EXPECT_TRUE(is_file(prefix + "/share/zorazez/" + name)) << name;
  for (const char *name : {"bin/zorazez", "bin/animctl", "share/man/man1/zorazez.1", "share/man/man1/animctl.1",
                           "share/bash-completion/completions/animctl"})
    EXPECT_TRUE(is_file(prefix + "/" + name)) << name;

  const int window = free_window(kWindows);
  ASSERT_GE(window, 0);
  ASSERT_EQ(mkdir((dir / "empty").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "elsewhere").c_str(), 0755), 0);
  Process looper(with_source_data_hidden({prefix + "/bin/zorazez", "-wn", std::to_string(window), "-me", "+debuga"},
                                         dir / "empty"),
                 dir / "out", dir / "err", {}, dir / "elsewhere");
  EXPECT_TRUE(eventually([&] { return queue_exists(window); }));
  EXPECT_EQ(call({prefix + "/bin/animctl", "-wn", std::to_string(window), "qu", "num"}),
            std::make_pair(0, std::string("0\n")));
  looper.kill_now();
  remove_queue(window);
  EXPECT_NE(read_file(dir / "out").find("Opening data file: " + real(prefix) + "/share/zorazez/zyb.clr\n"),
            std::string::npos)
      << read_file(dir / "out") << read_file(dir / "err");
}

TEST(Install, TheDebianPackageHoldsTheProgramsTheDataAndTheManualPages) {
  TempDir dir;
  ASSERT_EQ(call({"cpack", "-G", "DEB", "-B", dir.path(), "--config", kBuildDir + "/CPackConfig.cmake"}).first, 0);
  std::string package;
  for (const std::string &name : files_in(dir.path()))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0) package = dir / name;
  ASSERT_FALSE(package.empty());
  const std::string contents = call({"dpkg-deb", "-c", package}).second;
  for (const char *path :
       {"./usr/bin/zorazez", "./usr/bin/animctl", "./usr/share/zorazez/zyb.clr", "./usr/share/zorazez/zyb.fnl",
        "./usr/share/man/man1/zorazez.1", "./usr/share/man/man1/animctl.1"})
    EXPECT_NE(contents.find(std::string(path) + "\n"), std::string::npos) << path << "\n" << contents;
}

TEST(Install, ManualPagesFormatCleanlyAndNameEveryOptionCommandKeyAndExitStatus) {
  unsetenv("DISPLAY");
  std::string warnings;
  const std::string looper_page = kSourceDir + "/man/zorazez.1", client_page = kSourceDir + "/man/animctl.1";
  const std::string looper_text = rendered(looper_page, &warnings);
  EXPECT_EQ(warnings, "");
  const std::string client_text = rendered(client_page, &warnings);
  EXPECT_EQ(warnings, "");
  for (const std::string &page : {looper_page, client_page}) {
    EXPECT_EQ(call({"man", "-l", page}, &warnings, {"MANROFFOPT=-ww", "MANPAGER=cat", "PAGER=cat"}).first, 0) << page;
    EXPECT_EQ(warnings, "") << page;
  }
  for (const std::string &option : help_options("zorazez")) EXPECT_TRUE(has_word(looper_text, option)) << option;
  for (const std::string &option : help_options("animctl")) EXPECT_TRUE(has_word(client_text, option)) << option;

  Looper looper(kWindows);
  ASSERT_TRUE(looper.ready());
  const std::string help = looper.ctl({"he"});
  const std::regex keyword(R"(\n  ([a-z]+) +- )");
  int keywords = 0;
  for (std::sregex_iterator it(help.begin(), help.end(), keyword), end; it != end; ++it, ++keywords)
    EXPECT_TRUE(has_word(looper_text, (*it)[1])) << (*it)[1];
  EXPECT_GE(keywords, 20) << help;
  for (const char *word : {"quit", "load", "Return", "Alt-q", "Alt-l", "Alt-]", "Alt-[", "Alt-d", "Alt-z", "Alt-u",
                           "Alt-g", "Alt-x", "Alt-m"})
    EXPECT_TRUE(has_word(looper_text, word)) << word;

  const auto statuses = [](const std::string &text) {
    std::string listed;
    const std::string section = text.substr(text.find("EXIT STATUS"));
    const std::regex status(R"(\n       ([0-9]+) )");
    for (std::sregex_iterator it(section.begin(), section.end(), status), end; it != end; ++it)
      listed += (*it)[1].str() + " ";
    return listed;
  };
  EXPECT_EQ(statuses(looper_text), "0 1 4 7 14 ");
  EXPECT_EQ(statuses(client_text), "0 1 2 7 ");
}

// The words as bash breaks them: at blanks, and around "=" and ";".
TEST(Install, BashCompletesTheCommandKeywordsAndTheirWords) {
  const std::pair<const char *, const char *> cases[] = {
      {"animctl -wn 3 sta", "start"},
      {"animctl -wn 3 st", "stop start step"},
      {"animctl se o", "out"},
      {"animctl -pa qtype = sock qu n", "num"},
      {"animctl -pa qtype = s", "sock"},
      {"animctl -wn 3 stop ; lo", "load loop"},
      {"animctl -w", "-wn -win -window_num"},
      {"animctl se di b", "back"},
  };
  for (const auto &[line, expected] : cases) {
    const std::string script = "source '" + kSourceDir + "/man/animctl.bash-completion'; read -ra COMP_WORDS <<< '" +
                               line + "'; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _animctl; echo \"${COMPREPLY[*]}\"";
    EXPECT_EQ(call({"bash", "-c", script}).second, std::string(expected) + "\n") << line;
  }
}

}  // namespace
