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

// Adds the X connection, or returns 0 when events wait already: Xlib may
// hold events it read during a command's round trip, which its descriptor
// would not show. Drawing still in Xlib's buffer goes out before any sleep.
long add_x_connection(pollfd *fds, int *n) {
  Display *display = gget_display();
  if (display == nullptr) return -1;
  if (!serving_x_events()) {
    XFlush(display);
    return -1;
  }
  if (XPending(display) > 0) return 0;
  fds[(*n)++] = {ConnectionNumber(display), POLLIN, 0};
  return -1;
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

void LOOP_wait(double seconds) {
  std::array<pollfd, kQueueFdsMax + 1 + LOOP_WATCH_MAX> fds{};
  long limit_us = -1;
  int n = LOOP_state().qid >= 0 ? MQ_wait_fds(fds.data(), kQueueFdsMax, &limit_us) : 0;
  if (seconds >= 0) limit_us = shorter(limit_us, std::lround(seconds * 1e6));
  limit_us = shorter(limit_us, add_x_connection(fds.data(), &n));
  if (watch_pending()) limit_us = 0;
  for (const Watch &w : waiting.watches) fds[static_cast<size_t>(n++)] = {w.fd, POLLIN, 0};

  timespec limit{limit_us / 1000000, (limit_us % 1000000) * 1000};
  if (ppoll(fds.data(), static_cast<nfds_t>(n), limit_us < 0 ? nullptr : &limit, nullptr) <= 0) return;
  for (int i = 0; i < n; ++i)
    if (Watch *w = fds[static_cast<size_t>(i)].revents ? find_watch(fds[static_cast<size_t>(i)].fd) : nullptr)
      w->revents = static_cast<short>(w->revents | fds[static_cast<size_t>(i)].revents);
}

void LOOP_serve_watches() {
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
}
