#include "util/system.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr const char *kVersion = "5.60.4-LINUX-X11";
constexpr int kPromptLineMax = 80;

struct Timing {
  struct timeval start {};
  struct timeval current {};
  // Total of the sleeps asked for since the last ZYB_init_time.
  float elapse = 0.0f;
};

Timing &timing() {
  static Timing t;
  return t;
}

}  // namespace

void ZYB_exit(int status) { std::exit(status); }

int ZYB_get_pid() { return static_cast<int>(getpid()); }

int ZYB_back_proc() {
  if (fork() != 0) ZYB_exit(0);

  // The shell that started us may still deliver its interrupt to the
  // process group; go back to the default so the new group decides.
  std::signal(SIGINT, SIG_DFL);
  close(0);
  close(1);
  close(2);
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0) return 0;
  if (dup(null_fd) < 0 || dup(null_fd) < 0) return 0;
  setpgid(0, 0);
  return 1;
}

int ZYB_sleep(float seconds) {
  if (!(seconds > 0.0f)) return -1;
  timing().elapse += seconds;
  usleep(static_cast<useconds_t>(seconds * 1000000.0f));
  return 0;
}

int ZYB_init_time() {
  Timing &t = timing();
  gettimeofday(&t.start, nullptr);
  t.elapse = 0.0f;
  return 0;
}

float ZYB_elapse_time() {
  Timing &t = timing();
  gettimeofday(&t.current, nullptr);
  // A clock that reports whole seconds only cannot measure a frame delay;
  // the sum of the sleeps is the better estimate then.
  if (t.current.tv_usec == 0) return t.elapse;
  long seconds = t.current.tv_sec - t.start.tv_sec;
  long micros = t.current.tv_usec - t.start.tv_usec;
  if (micros < 0) {
    seconds -= 1;
    micros += 1000000;
  }
  return static_cast<float>(seconds) + static_cast<float>(micros) / 1000000.0f;
}

const char *ZYB_version() { return kVersion; }

int ZYB_set_command(const char *line) {
  if (line == nullptr) return 0;
  if (strnicmp(line, "set", 3) == 0) {
    // "set name value", "set name=value", "set name = value"; a bare "set"
    // lists what is set.
    const char *p = line;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n') p++;
    while (*p == ' ' || *p == '\t' || *p == '\n') p++;
    const char *name_start = p;
    while (*p != '\0' && *p != '=' && *p != ' ') p++;
    std::string name(name_start, p);
    if (name.empty()) {
      MESS_print(MESS_MESS_D, "Set resources\n");
      RES_list();
      MESS_print(MESS_MESS_D, "\n");
      return 1;
    }
    while (*p == '=' || *p == ' ') p++;
    RES_put(name.c_str(), p);
    return 1;
  }
  if (strnicmp(line, "exit", 4) == 0) ZYB_exit(0);
  return 0;
}

float ZYB_promptf(const char *prompt) {
  for (;;) {
    MESS_print(MESS_PRINT, "%s", prompt);
    char line[kPromptLineMax + 1];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
      // Nobody can answer: a missing value is the only sound result.
      MESS_print(MESS_WARN, "ZYB_promptf: No input for: %s\n", prompt);
      return -9999.0f;
    }
    if (std::strchr(line, '\n') == nullptr) {
      int c;
      while ((c = std::getchar()) != EOF && c != '\n') {
      }
    }
    wstrim_string(line);
    float value = 0.0f;
    int scanned = std::sscanf(line, "%f", &value);
    if (ZYB_set_command(line)) continue;
    if (scanned == 1) return value;
  }
}
