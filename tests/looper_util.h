// The real looper started by a test and driven through animctl.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/ipc.h>
#include <sys/msg.h>

#include "mq_test_util.h"
#include "proc_util.h"

namespace zyb_test {

// Polls pred until it holds or the time is up; the result of the last try.
template <typename Pred>
bool eventually(Pred pred, double seconds = 10.0) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
    if (pred()) return true;
  return pred();
}

// The window numbers one test binary (or one depth of it) may use. Other
// runs of the same binary (other build trees) may be using some of them at
// the same time, so each looper takes the first one that is free.
//
// Ranges in use, one owner each (test binaries run in parallel):
//   610-639 looper_maps_xtest     640-669 looper_live_xtest   700-729 plot_param_xtest
//   750-759 install_test          760-789 meta_looper_xtest   801-812 mqueue_test
//   820-824 animctl_test          840-869 looper_test         870-899 looper_xtest
//   900-929 draw_commands_xtest   930-938 gks_draw_xtest      940-948 looper_stress_xtest
//   960-979 looper_clients_test   980-994 looper_pace_xtest
struct WindowRange {
  int first;
  int last;
};

// Busy: a channel exists. A queue whose last reader has gone was left
// behind by a run that crashed, and is removed.
inline bool window_busy(int window) {
  const int id = msgget(kQueueOffset + window, 0);
  msqid_ds info{};
  if (id >= 0 && msgctl(id, IPC_STAT, &info) == 0 && info.msg_lrpid != 0 && kill(info.msg_lrpid, 0) != 0 &&
      errno == ESRCH)
    msgctl(id, IPC_RMID, nullptr);
  return queue_exists(window) || port_open(window);
}

// The per_depth windows from first that one depth of an *_xtest binary
// uses: each depth runs as its own ctest entry, maybe beside the others.
inline WindowRange depth_slice(int first, int per_depth, int depth) {
  const int start = first + (24 - depth) / 8 * per_depth;
  return {start, start + per_depth - 1};
}

inline int free_window(WindowRange windows) {
  for (int w = windows.first; w <= windows.last; w++)
    if (!window_busy(w)) return w;
  return -1;
}

// Replaces "%W" by the window number and "%K" by its queue key.
inline std::string with_window(std::string word, int window) {
  for (size_t at; (at = word.find("%W")) != std::string::npos;) word.replace(at, 2, std::to_string(window));
  for (size_t at; (at = word.find("%K")) != std::string::npos;)
    word.replace(at, 2, std::to_string(kQueueOffset + window));
  return word;
}

// A zorazez on a free window of the range, run in a temporary directory of
// its own (where images saved under plain names land). options are its
// command-line words, with "%W" and "%K" as in with_window; sock puts the
// looper and every ctl() call on TCP. Killed by PID, its queue removed, when
// the object goes.
class Looper {
 public:
  explicit Looper(WindowRange windows, const std::vector<std::string> &options = {"-wn", "%W"}, bool sock = false)
      : sock_(sock) {
    for (int w = windows.first; w <= windows.last && !up_; w++) {
      if (window_busy(w)) continue;
      window_ = w;
      std::vector<std::string> argv = {bin("zorazez")};
      if (sock_) argv.insert(argv.end(), {"-pa", "qtype=sock"});
      for (const std::string &o : options) argv.push_back(with_window(o, w));
      process_ = std::make_unique<Process>(argv, dir_ / "looper.out", dir_ / "looper.err", std::vector<std::string>{},
                                           dir_.path());
      // Another run may have taken the window meanwhile: ours then ends (14).
      up_ = eventually([this] { return sock_ ? port_open(window_) : queue_exists(window_); }) &&
            !eventually([this] { return !process_->running(); }, 0.1);
      if (!up_) process_->kill_now();
    }
  }
  ~Looper() {
    if (process_) process_->kill_now();
    if (up_) remove_queue(window_);
  }
  Looper(const Looper &) = delete;
  Looper &operator=(const Looper &) = delete;

  bool ready() const { return up_; }
  int window() const { return window_; }
  // The reply texts of one animctl call.
  std::string ctl(const std::vector<std::string> &words) const {
    std::vector<std::string> argv = {bin("animctl"), "-wn", std::to_string(window_)};
    if (sock_) argv.insert(argv.end(), {"-pa", "qtype=sock"});
    argv.insert(argv.end(), words.begin(), words.end());
    std::string out;
    run(argv, &out, nullptr, 30);
    return out;
  }
  const TempDir &dir() const { return dir_; }
  Process &process() { return *process_; }
  std::string errors() const { return read_file(dir_ / "looper.err"); }

 private:
  int window_ = -1;
  bool sock_;
  bool up_ = false;
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

}  // namespace zyb_test
