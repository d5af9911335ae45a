// A private Xvfb for a test or benchmark binary. Xvfb picks a free display
// number itself (-displayfd) and writes it to a pipe, so several binaries can
// each have their own server at once; it is stopped by its PID, never by name.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <string>
#include <vector>

namespace zyb_test {

struct XvfbOptions {
  std::string size = "1280x1024";     // of the one screen, without the depth
  std::vector<std::string> extra;     // further server arguments
  std::vector<std::string> launcher;  // words before "Xvfb"; the launcher must exec it (the PID stays the server's)
};

inline void stop_xvfb(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// Starts Xvfb with one screen of the given depth. On success *pid and
// *display (":N") name the server; on failure *pid is -1.
//
// -noreset: a server left without clients between two tests would otherwise
// reset itself and refuse the next connection for a moment.
inline bool start_xvfb(int depth, pid_t *pid, std::string *display, const XvfbOptions &options = {}) {
  *pid = -1;
  int fds[2];
  if (pipe(fds) != 0) return false;
  const std::string fd = std::to_string(fds[1]), screen = options.size + "x" + std::to_string(depth);
  std::vector<std::string> words = options.launcher;
  words.insert(words.end(), {"Xvfb", "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp", "-noreset", "-ac",
                             "+extension", "XTEST"});
  words.insert(words.end(), options.extra.begin(), options.extra.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 1), dup2(devnull, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (child > 0 && poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) return stop_xvfb(child), false;
  *pid = child;
  *display = ":" + number;
  return true;
}

// A server for the life of the object; display() is empty when it did not start.
class PrivateXvfb {
 public:
  explicit PrivateXvfb(int depth, const XvfbOptions &options = {}) { start_xvfb(depth, &pid_, &display_, options); }
  ~PrivateXvfb() { stop_xvfb(pid_); }
  PrivateXvfb(const PrivateXvfb &) = delete;
  PrivateXvfb &operator=(const PrivateXvfb &) = delete;

  const std::string &display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace zyb_test
