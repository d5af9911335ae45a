#include "app/loop_wait.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <vector>

#include "app/loop.h"
#include "gks/gks.h"
#include "mqueue/mqueue.h"
#include "util/mess.h"

namespace {

// The listening socket and every connection of a TCP server.
constexpr int kQueueFdsMax = 72;

struct Watch {
  int fd;
  LOOP_WatchHandler handler;
  void *data;
  short revents;  // found by the last wait, not yet handled
};

struct Waiting {
  std::vector<Watch> watches;
};

Waiting waiting;

Watch *find_watch(int fd) {
  for (Watch &w : waiting.watches)
    if (w.fd == fd) return &w;
  return nullptr;
}

bool watch_pending() {
  return std::any_of(waiting.watches.begin(), waiting.watches.end(), [](const Watch &w) { return w.revents != 0; });
}

// Events are served only for the window workstation with its object cache on.
bool serving_x_events() { return gget_display() != nullptr && gtype_is_WIN() && gget_cache() != 0; }

long shorter(long limit_us, long other_us) {
  if (limit_us < 0) return other_us;
  if (other_us < 0) return limit_us;
  return std::min(limit_us, other_us);
}

// The X connection, when its events are served. Drawing still in Xlib's
// buffer goes out before any sleep; events Xlib already holds make the wait
// end at once.
int add_x_connection(pollfd *fds, int *n, bool x_talked, bool *events_held) {
  *events_held = false;
  Display *display = gget_display();
  if (display == nullptr) return -1;
  if (!serving_x_events()) {
    XFlush(display);
    return -1;
  }
  if (x_talked) *events_held = XPending(display) > 0;
  fds[*n] = {ConnectionNumber(display), POLLIN, 0};
  return (*n)++;
}

}  // namespace

int LOOP_watch_fd(int fd, LOOP_WatchHandler handler, void *data) {
  if (fd < 0 || handler == nullptr) return -1;
  if (Watch *w = find_watch(fd)) {
    *w = {fd, handler, data, 0};
    return 0;
  }
  if (waiting.watches.size() >= static_cast<size_t>(LOOP_WATCH_MAX)) {
    MESS_print(MESS_WARN, "LOOP_watch_fd: %d descriptors are watched already; %d is not\n", LOOP_WATCH_MAX, fd);
    return -1;
  }
  waiting.watches.push_back({fd, handler, data, 0});
  return 0;
}

int LOOP_unwatch_fd(int fd) {
  auto it = std::find_if(waiting.watches.begin(), waiting.watches.end(), [fd](const Watch &w) { return w.fd == fd; });
  if (it == waiting.watches.end()) return -1;
  waiting.watches.erase(it);
  return 0;
}

bool LOOP_wait(double seconds, bool x_talked) {
  std::array<pollfd, kQueueFdsMax + 1 + LOOP_WATCH_MAX> fds{};
  long limit_us = -1;
  int n = LOOP_state().qid >= 0 ? MQ_wait_fds(fds.data(), kQueueFdsMax, &limit_us) : 0;
  if (seconds >= 0) limit_us = shorter(limit_us, std::lround(seconds * 1e6));
  bool x_held = false;
  const int x_index = add_x_connection(fds.data(), &n, x_talked, &x_held);
  if (x_held || watch_pending()) limit_us = 0;
  for (const Watch &w : waiting.watches) fds[static_cast<size_t>(n++)] = {w.fd, POLLIN, 0};

  timespec limit{limit_us / 1000000, (limit_us % 1000000) * 1000};
  if (ppoll(fds.data(), static_cast<nfds_t>(n), limit_us < 0 ? nullptr : &limit, nullptr) <= 0) return x_held;
  for (int i = 0; i < n; ++i)
    if (Watch *w = fds[static_cast<size_t>(i)].revents ? find_watch(fds[static_cast<size_t>(i)].fd) : nullptr)
      w->revents = static_cast<short>(w->revents | fds[static_cast<size_t>(i)].revents);
  return x_held || (x_index >= 0 && fds[static_cast<size_t>(x_index)].revents != 0);
}

bool LOOP_serve_watches() {
  // Handlers may change the table: each round looks the next one up afresh.
  std::vector<int> ready;
  for (const Watch &w : waiting.watches)
    if (w.revents != 0) ready.push_back(w.fd);
  for (int fd : ready) {
    Watch *w = find_watch(fd);
    if (w == nullptr) continue;
    const Watch call = *w;
    w->revents = 0;
    call.handler(call.fd, call.revents, call.data);
    // A descriptor closed without unwatching would be reported every pass.
    if (call.revents & POLLNVAL) LOOP_unwatch_fd(call.fd);
  }
  return !ready.empty();
}
