// Queue channels from the tests' side: whether a window's channel exists,
// and a small server in a child process that answers like the looper.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mqueue/mqueue.h"
#include "util/string.h"

namespace zyb_test {

// The programs' default offset: window w has System V key and TCP port 6496 + w.
constexpr int kQueueOffset = 6496;

inline bool queue_exists(int window) { return msgget(kQueueOffset + window, 0) >= 0; }

inline void remove_queue(int window) {
  const int id = msgget(kQueueOffset + window, 0);
  if (id >= 0) msgctl(id, IPC_RMID, nullptr);
}

// A stream socket connected to window's port on the loopback address, or -1.
inline int connect_to_window(int window) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(kQueueOffset + window));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

inline bool port_open(int window) {
  const int fd = connect_to_window(window);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

inline std::string transport_name(const ::testing::TestParamInfo<int> &info) {
  return info.param == MQ_TCP ? "Tcp" : "SystemV";
}

// A server on one window, in a child process killed by PID; its System V
// queue is removed when the object goes. Each ";"-separated command of a
// record is answered the way the looper does: "quit" and "kill" release the
// client, "silent" gets no answer, "lines N" answers N lines, anything else
// is echoed (with a newline when it fits).
class StandInServer {
 public:
  StandInServer(int type, int win, const std::string &err_file = "/dev/null") : type_(type), win_(win) {
    int ready[2];
    if (pipe(ready) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      MQ_settype(type);
      MQ_offset(kQueueOffset);
      const int q = MQ_create(win);
      if (write(ready[1], q >= 0 ? "1" : "0", 1) != 1 || q < 0) _exit(3);
      serve(q);
    }
    close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char status = '0';
    ok_ = poll(&p, 1, 5000) == 1 && read(ready[0], &status, 1) == 1 && status == '1';
    close(ready[0]);
  }
  ~StandInServer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (type_ == MQ_SYSV) remove_queue(win_);
  }
  StandInServer(const StandInServer &) = delete;
  StandInServer &operator=(const StandInServer &) = delete;
  bool ok() const { return ok_; }

 private:
  static void answer(int q, int sender, const char *piece) {
    int lines = 0;
    if (std::strcmp(piece, "quit") == 0 || std::strcmp(piece, "kill") == 0) {
      MQ_sput(q, sender, piece[0] == 'q' ? MQ_RELEASED : MQ_SERVER_ENDS, "%s\n", piece);
    } else if (std::sscanf(piece, "lines %d", &lines) == 1) {
      for (int i = 1; i <= lines; ++i) MQ_sput(q, sender, i < lines ? MQ_MORE_LINES : MQ_LAST_LINE, "line %d\n", i);
    } else if (std::strcmp(piece, "silent") != 0) {
      MQ_sput(q, sender, MQ_LAST_LINE, std::strlen(piece) < static_cast<size_t>(MQ_TEXT_MAX) ? "%s\n" : "%s", piece);
    }
  }
  [[noreturn]] static void serve(int q) {
    for (char text[MQ_TEXT_MAX + 3];;) {
      int sender = -1, count = 0;
      char **pieces = nullptr;
      if (MQ_sget(q, &sender, text) != MQ_GOT_COMMAND) {
        usleep(2000);
        continue;
      }
      parse_string(text, ';', &count, &pieces);
      for (int i = 0; i < count; ++i) answer(q, sender, pieces[i]);
      free_parsed_array(count, pieces);
    }
  }

  int type_;
  int win_;
  pid_t pid_ = -1;
  bool ok_ = false;
};

}  // namespace zyb_test
