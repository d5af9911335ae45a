// The user ends the real looper from its window: Return, and the queue goes too.
#include <gtest/gtest.h>

#include "looper_util.h"
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace zyb_test {
namespace {

// One window number per depth, so the three runs may go side by side.
int window_number() { return 930 + test_depth() / 8; }

// The looper's window: the only named top-level window on our server.
Window looper_window(Display *display) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned int count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  for (unsigned int i = 0; i < count && !found; i++) {
    char *name = nullptr;
    if (XFetchName(display, children[i], &name) && name) found = children[i];
    if (name) XFree(name);
  }
  if (children) XFree(children);
  return found;
}

TEST(LooperQuit, ReturnInTheWindowEndsTheLooperAndDeletesItsQueue) {
  const int win = window_number();
  Looper looper({win, win});
  ASSERT_TRUE(looper.ready()) << "window " << win << " is in use";
  EXPECT_EQ(looper.ctl({"open"}), "Window opened\n");

  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  Window window = 0;
  ASSERT_TRUE(eventually([&] { return (window = looper_window(display)) != 0; }, 5.0));
  XEvent event{};
  event.xkey.type = KeyPress;
  event.xkey.window = window;
  event.xkey.root = DefaultRootWindow(display);
  event.xkey.same_screen = True;
  event.xkey.keycode = XKeysymToKeycode(display, XK_Return);
  XSendEvent(display, window, False, KeyPressMask, &event);
  XSync(display, False);

  EXPECT_EQ(looper.process().wait_exit(5), 0);
  EXPECT_FALSE(queue_exists(win)) << looper.errors();
  XCloseDisplay(display);
}

}  // namespace
}  // namespace zyb_test
