// The loop's pace with a window, on a private Xvfb: while clients flood the
// channel and stop reading their answers, the frames still change at their
// delay, and none is lost.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "client_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using namespace zyb_test;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 8;
constexpr double kDelay = 0.05;
constexpr double kFloodSeconds = 1.5;

WindowRange depth_windows() { return depth_slice(980, 5, test_depth()); }

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The server's times of the changes of the window's title ("Lp [n]", one
// change a frame shown) while the time runs.
std::vector<Time> watch_frames(Display *display, double seconds) {
  std::vector<Time> changes;
  for (const auto start = Clock::now(); seconds_since(start) < seconds;) {
    if (XPending(display) == 0) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, 10);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == PropertyNotify && event.xproperty.atom == XA_WM_NAME) changes.push_back(event.xproperty.time);
  }
  return changes;
}

class Pace : public ::testing::TestWithParam<bool> {};

TEST_P(Pace, FramesKeepTheirDelayWhileClientsFloodAndStopReading) {
  const bool tcp = GetParam();
  std::string commands = "se si 160x128;op;se na Lp";
  for (int i = 0; i < kFrames; ++i) commands += ";cr";
  commands += ";se de " + std::to_string(kDelay) + ";se pa " + std::to_string(kDelay);
  Looper looper(depth_windows(), {"-wn", "%W", "-cd", commands}, tcp);
  ASSERT_TRUE(looper.ready());
  unsigned long root = 0;
  ASSERT_EQ(std::sscanf(looper.ctl({"qu", "wi"}).c_str(), "+%lu", &root), 1);
  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XSelectInput(display, root, PropertyChangeMask);
  XSync(display, False);

  MQ_settype(tcp ? MQ_TCP : MQ_SYSV);
  MQ_offset(kQueueOffset);
  MQ_timeout(10);
  const int window = looper.window();
  const pid_t flooder = spawn([&] {
    lowest_priority();
    const int q = MQ_open(window), id = MQ_connect(q);
    for (const auto start = Clock::now(); id >= MQ_FIRST_CLIENT && seconds_since(start) < kFloodSeconds;)
      MQ_put(q, id, "qu num;qu la");
    return id >= MQ_FIRST_CLIENT ? 0 : 1;
  });
  const pid_t nobody = spawn([&] {
    lowest_priority();
    RawClient raw(tcp, window);
    for (const auto start = Clock::now(); seconds_since(start) < kFloodSeconds;) raw.send('Z', "from nobody");
    return 0;
  });
  const std::vector<Time> changes = watch_frames(display, kFloodSeconds);
  XCloseDisplay(display);
  EXPECT_EQ(reap(flooder, 20), 0);
  EXPECT_EQ(reap(nobody, 20), 0);
  MQ_settype(MQ_SYSV);

  ASSERT_GE(changes.size(), static_cast<size_t>(0.7 * kFloodSeconds / kDelay));
  const double mean = static_cast<double>(changes.back() - changes.front()) / 1000.0 / (changes.size() - 1);
  EXPECT_NEAR(mean, kDelay, 0.1 * kDelay);
  EXPECT_EQ(looper.ctl({"qu", "num"}), std::to_string(kFrames) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Transports, Pace, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Tcp" : "SystemV"; });

}  // namespace
