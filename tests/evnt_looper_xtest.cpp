// The user ends the real looper from its window: Return, and the queue goes too.
#include <gtest/gtest.h>

#include "looper_util.h"
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdio>

namespace zyb_test {
namespace {

TEST(LooperQuit, ReturnInTheWindowEndsTheLooperAndDeletesItsQueue) {
  const int win = 930 + test_depth() / 8;  // one per depth: the three runs may go side by side
  Looper looper({win, win});
  ASSERT_TRUE(looper.ready()) << "window " << win << " is in use";
  unsigned long window = 0;
  const std::string info = looper.ctl({"open;qu wi"});
  ASSERT_EQ(std::sscanf(info.c_str(), "Window opened\n+%lu:", &window), 1) << info;

  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XEvent event{};
  event.xkey.type = KeyPress;
  event.xkey.window = window;
  event.xkey.root = DefaultRootWindow(display);
  event.xkey.same_screen = True;
  event.xkey.keycode = XKeysymToKeycode(display, XK_Return);
  XSendEvent(display, window, False, KeyPressMask, &event);
  XSync(display, False);
  XCloseDisplay(display);

  EXPECT_EQ(looper.process().wait_exit(5), 0);
  EXPECT_FALSE(queue_exists(win)) << looper.errors();
}

}  // namespace
}  // namespace zyb_test
