// Starting and stopping the real programs from tests.
//
// Every process a test starts is tracked by PID and killed by PID; output
// goes to files in a per-test temporary directory so tests can read it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zyb_test {

inline std::string bin(const std::string &name) { return std::string(ZYB_BIN_DIR) + "/" + name; }

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_bytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh temporary directory, removed when the object goes.
class TempDir {
 public:
  TempDir() : path_(mkdtemp(std::string("/tmp/zybtest.XXXXXX").data())) {}
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A child process with stdout and stderr redirected to files, run in the
// directory cwd when one is given.
class Process {
 public:
  Process(const std::vector<std::string> &argv, const std::string &out_file, const std::string &err_file,
          const std::vector<std::string> &env = {}, const std::string &cwd = "") {
    pid_ = fork();
    if (pid_ == 0) {
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
      for (const auto &e : env) putenv(const_cast<char *>(e.c_str()));
      std::vector<char *> args;
      for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Process() { kill_now(); }
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  pid_t pid() const { return pid_; }

  // Exit status, or -1 when the process did not end within the time.
  int wait_exit(double seconds) {
    if (pid_ <= 0) return status_;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (!running()) return status_;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  bool running() {
    if (pid_ <= 0) return false;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return false;
    }
    return true;
  }
  void signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  void kill_now() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs a program to completion; returns its exit status and fills out/err.
inline int run(const std::vector<std::string> &argv, std::string *out, std::string *err = nullptr, double timeout = 30,
               const std::vector<std::string> &env = {}) {
  TempDir dir;
  Process p(argv, dir / "out", dir / "err", env);
  int status = p.wait_exit(timeout);
  if (out) *out = read_file(dir / "out");
  if (err) *err = read_file(dir / "err");
  return status;
}

}  // namespace zyb_test
