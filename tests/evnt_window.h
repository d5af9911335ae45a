// The kernel's window on the private Xvfb, and a second connection that
// plays the user (keys, buttons, client messages) and reads the screen back.
// Shared by the window-event and zoom tests.
#pragma once

// gtest first: Xlib's macros (None, Bool, Status) would break its headers.
#include <gtest/gtest.h>

#include "xvfb_env.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "gks/gks.h"

namespace zyb_test {

struct XImageDeleter {
  void operator()(XImage *image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, XImageDeleter>;
using PixelAt = std::function<unsigned long(int x, int y)>;

// Differs from its neighbours in x and y at every depth, so that a picture
// shifted by one pixel is caught.
inline unsigned long pattern_pixel(int x, int y, int depth, unsigned long seed) {
  unsigned long mask = depth >= 32 ? 0xFFFFFFFFul : (1ul << depth) - 1;
  return (static_cast<unsigned long>(x) + 131ul * static_cast<unsigned long>(y) + seed * 977ul) & mask;
}

// Open for the whole binary: a server left without clients between two tests
// would reset itself and refuse the next connection for a moment.
inline Display *user_display() {
  static Display *display = XOpenDisplay(nullptr);
  return display;
}

class KernelWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    user_ = user_display();
    ASSERT_NE(user_, nullptr);
    ASSERT_EQ(gopen_gks(nullptr, 10000), 0);
    ASSERT_EQ(gopen_ws(0, "", GKS_WIN), 0) << "no window on " << xvfb()->display();
    gset_input_mode(1);
    gset_looping(0);  // the loop's switches outlive a workstation
    window_ = gget_root_window();
    gget_win_size(&width_, &height_);
    depth_ = gget_win_depth();
    XSync(gget_display(), False);
    gcheck_event();  // what the opening left queued
  }

  void TearDown() override {
    greset_zoom();  // the zoom outlives a workstation too
    gclose_ws(0);
    gclose_gks();
    XSync(user_, False);
  }

  // Serves the kernel's events until done(user events so far) holds or two
  // seconds pass; returns the number of user events served.
  int serve_until(const std::function<bool(int)> &done) {
    XSync(user_, False);
    int served = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (true) {
      served += gcheck_event();
      if (done(served) || std::chrono::steady_clock::now() > deadline) return served;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  int serve_user_events(int count) {
    return serve_until([count](int served) { return served >= count; });
  }

  void send(XEvent event, long mask) {
    event.xany.window = window_;
    XSendEvent(user_, window_, False, mask, &event);
    XFlush(user_);
  }

  // A key press and release as the window gets them.
  void send_key(KeySym key, unsigned int state = 0) {
    XEvent event{};
    event.xkey.type = KeyPress;
    event.xkey.root = DefaultRootWindow(user_);
    event.xkey.x = event.xkey.y = 10;
    event.xkey.same_screen = True;
    event.xkey.state = state;
    event.xkey.keycode = XKeysymToKeycode(user_, key);
    send(event, KeyPressMask);
    event.xkey.type = KeyRelease;
    send(event, KeyReleaseMask);
  }
  void press(KeySym key, unsigned int state = 0) {
    send_key(key, state);
    ASSERT_EQ(serve_user_events(1), 1);
  }

  // A button press and release; the release is the user event.
  void click(unsigned int button, unsigned int state = 0) {
    XEvent event{};
    event.xbutton.type = ButtonPress;
    event.xbutton.same_screen = True;
    event.xbutton.state = state;
    event.xbutton.button = button;
    send(event, ButtonPressMask);
    event.xbutton.type = ButtonRelease;
    send(event, ButtonReleaseMask);
    ASSERT_EQ(serve_user_events(1), 1);
  }

  // Real key strokes through XTest, with the pointer on a window pixel.
  void type_with_alt(KeySym key, int x, int y) {
    XWarpPointer(user_, None, window_, 0, 0, 0, 0, x, y);
    KeyCode alt = XKeysymToKeycode(user_, XK_Alt_L), code = XKeysymToKeycode(user_, key);
    XTestFakeKeyEvent(user_, alt, True, 0);
    XTestFakeKeyEvent(user_, code, True, 0);
    XTestFakeKeyEvent(user_, code, False, 0);
    XTestFakeKeyEvent(user_, alt, False, 0);
  }

  ImagePtr grab(Drawable drawable) {
    XSync(gget_display(), False);
    XSync(user_, False);
    return ImagePtr(XGetImage(user_, drawable, 0, 0, static_cast<unsigned>(width_),
                              static_cast<unsigned>(height_), AllPlanes, ZPixmap));
  }

  // Pixels of the drawable that differ from expected(x, y); the first is
  // described in first_miss_.
  int mismatches(Drawable drawable, const PixelAt &expected) {
    ImagePtr image = grab(drawable);
    if (!image) return -1;
    int wrong = 0;
    for (int y = 0; y < height_; y++)
      for (int x = 0; x < width_; x++) {
        unsigned long got = XGetPixel(image.get(), x, y), want = expected(x, y);
        if (got != want && wrong++ == 0)
          first_miss_ = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " +
                        std::to_string(got) + " instead of " + std::to_string(want);
      }
    return wrong;
  }

  PixelAt pattern(unsigned long seed) const {
    int depth = depth_;
    return [depth, seed](int x, int y) { return pattern_pixel(x, y, depth, seed); };
  }

  void paint(Drawable drawable, const PixelAt &pixel) {
    ImagePtr image(XCreateImage(user_, DefaultVisual(user_, DefaultScreen(user_)),
                                static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                                static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, 0));
    image->data = static_cast<char *>(
        std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(height_)));
    for (int y = 0; y < height_; y++)
      for (int x = 0; x < width_; x++) XPutPixel(image.get(), x, y, pixel(x, y));
    GC gc = XCreateGC(user_, drawable, 0, nullptr);
    XPutImage(user_, drawable, gc, image.get(), 0, 0, 0, 0, static_cast<unsigned>(width_),
              static_cast<unsigned>(height_));
    XFreeGC(user_, gc);
    XSync(user_, False);
  }

  // Appends count frames; frame k shows the pattern of seed k + 1.
  void make_patterned_frames(int count) {
    for (int k = 0; k < count; k++) paint(gget_frame_id(gcreate_frame(-1)), pattern(k + 1));
  }

  std::string window_name() {
    char *name = nullptr;
    std::string result = XFetchName(user_, window_, &name) && name ? name : "";
    if (name) XFree(name);
    return result;
  }

  Display *user_ = nullptr;
  Window window_ = 0;
  int width_ = 0, height_ = 0, depth_ = 0;
  std::string first_miss_;
};

}  // namespace zyb_test
