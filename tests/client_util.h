// Clients of the real looper that tests run as child processes or drive by
// hand: registering with any text, talking in raw records, flooding.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "mq_test_util.h"

namespace zyb_test {

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs body in a child process; the caller reaps it with reap().
template <typename Body>
pid_t spawn(Body body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// A flooding child runs at the lowest priority: what a test measures is how
// the looper serves the others, not how the system shares the CPU.
inline void lowest_priority() { (void)!nice(19); }

// The child's exit status (128 + signal when killed), or -1 when it did not
// end within the time (it is killed then).
inline int reap(pid_t pid, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (int status = 0; std::chrono::steady_clock::now() < end; usleep(5000))
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Runs a program (looked up along PATH) to its end with its output in a
// pipe: the exit status and what it printed on standard output. Standard
// error goes to *err when given, else nowhere; env entries are added.
inline std::pair<int, std::string> call(const std::vector<std::string> &argv, std::string *err = nullptr,
                                        const std::vector<std::string> &env = {}) {
  int out[2];
  if (pipe(out) != 0) return {-1, ""};
  char err_name[] = "/tmp/zybcall.XXXXXX";
  const int err_fd = err ? mkstemp(err_name) : open("/dev/null", O_WRONLY);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err_fd, 2);
    dup2(open("/dev/null", O_RDONLY), 0);
    close(out[0]);
    for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (err) {
    err->clear();
    lseek(err_fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(err_fd, buffer, sizeof buffer)) > 0;) err->append(buffer, static_cast<size_t>(n));
    unlink(err_name);
  }
  close(err_fd);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

// A process id that no process has any more.
inline int dead_pid() {
  const pid_t pid = spawn([] { return 0; });
  reap(pid, 5);
  return pid;
}

// One client of window's looper that speaks in raw records: a connection
// of its own over TCP, the shared queue on System V.
class RawClient {
 public:
  RawClient(bool tcp, int window) : tcp_(tcp) {
    if (tcp_)
      fd_ = connect_to_window(window);
    else
      q_ = msgget(kQueueOffset + window, 0);
  }
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  RawClient(const RawClient &) = delete;
  RawClient &operator=(const RawClient &) = delete;

  // Bytes as they stand on the connection (TCP only).
  bool send_raw(const std::string &bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  bool send(char code, const std::string &text) {
    if (tcp_) {
      const std::string record = std::string(1, static_cast<char>(1 + text.size())) + code + text;
      return ::send(fd_, record.data(), record.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(record.size());
    }
    Message m{1, {}};
    m.payload[0] = code;
    std::memcpy(m.payload + 1, text.data(), std::min(text.size(), sizeof m.payload - 2));
    return msgsnd(q_, &m, MQ_PAYLOAD_SIZE, 0) == 0;
  }
  // The next record for the message type (System V) or on the connection,
  // within the time: its code and text, or code -99.
  std::pair<int, std::string> receive(long type, double seconds = 5) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; std::chrono::steady_clock::now() < end; usleep(1000)) {
      if (tcp_) {
        pollfd p{fd_, POLLIN, 0};
        unsigned char length = 0;
        if (poll(&p, 1, 1) == 1 && recv(fd_, &length, 1, 0) == 1) {
          std::string body(length, '\0');
          if (length > 0 && recv(fd_, &body[0], length, MSG_WAITALL) != length) break;
          return {body.empty() ? -98 : body[0] - '0', body.empty() ? "" : body.substr(1)};
        }
        continue;
      }
      Message m{};
      if (msgrcv(q_, &m, MQ_PAYLOAD_SIZE, type, IPC_NOWAIT) > 0) return {m.payload[0] - '0', m.payload + 1};
    }
    return {-99, ""};
  }
  // Registers with the text; the id answered at the System V address, or -1.
  int register_as(const std::string &text, long address) {
    if (!send('/', text)) return -1;
    const auto answer = receive(address);
    return answer.first == MQ_REGISTERED ? std::atoi(answer.second.c_str()) : -1;
  }
  // The last line of the answer to one command of a registered id.
  std::string ask(int id, const std::string &command) {
    if (!send(static_cast<char>('0' + id), command)) return "send failed";
    for (auto answer = receive(id);; answer = receive(id))
      if (answer.first != MQ_MORE_LINES) return answer.second;
  }

 private:
  struct Message {
    long mtype;
    char payload[MQ_PAYLOAD_SIZE];
  };
  bool tcp_;
  int fd_ = -1;
  int q_ = -1;
};

}  // namespace zyb_test
