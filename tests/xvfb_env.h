// A private Xvfb for one test binary: a global gtest environment starts it
// before the first test and kills it (by PID) after the last. The depth comes
// from ZYB_TEST_DEPTH (24 by default; ctest runs *_xtest binaries at 24, 16 and 8).
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>

#include "xvfb.h"

namespace zyb_test {

inline int test_depth() {
  const char *d = std::getenv("ZYB_TEST_DEPTH");
  const int depth = d ? std::atoi(d) : 24;
  return (depth == 8 || depth == 16 || depth == 24) ? depth : 24;
}

class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(start_xvfb(test_depth(), &pid_, &display_)) << "Xvfb did not start (is it installed?)";
    setenv("DISPLAY", display_.c_str(), 1);
  }
  void TearDown() override {
    stop_xvfb(pid_);
    pid_ = -1;
  }
  const std::string &display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// The user's side of the screen: one connection of the test's own, open for
// the whole binary.
inline Display *user_display() {
  static Display *display = XOpenDisplay(nullptr);
  return display;
}

// A window's name as the window manager reads it ("" when it has none), or
// its icon name with XGetIconName as fetch.
inline std::string window_title(unsigned long window, Display *display = user_display(),
                                Status (*fetch)(Display *, Window, char **) = XFetchName) {
  char *name = nullptr;
  const std::string title = fetch(display, window, &name) && name ? name : "";
  if (name) XFree(name);
  return title;
}

// The one environment of this binary.
inline XvfbEnvironment *xvfb() {
  static auto *env = static_cast<XvfbEnvironment *>(::testing::AddGlobalTestEnvironment(new XvfbEnvironment));
  return env;
}
namespace {
[[maybe_unused]] const XvfbEnvironment *const registered_xvfb = xvfb();
}

}  // namespace zyb_test
