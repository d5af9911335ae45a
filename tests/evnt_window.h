// The kernel's window on the private Xvfb, and a second connection that
// plays the user (keys, buttons, client messages) and reads the screen back.
// Shared by the kernel's window, frame, colour, event and zoom tests.
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
#include <vector>

#include "gks/gks.h"

namespace zyb_test {

using PixelAt = std::function<unsigned long(int x, int y)>;
using Ints = std::vector<long>;  // several results checked at once

// Opens the workstation in SetUp; a test that must prepare the opening
// overrides SetUp and calls open_window itself.
class KernelWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(open_window()); }
  void TearDown() override {
    greset_zoom();  // the zoom and the loop's switches outlive a workstation
    gset_looping(0);
    gclose_ws(0);
    gclose_gks();
    gset_xsize(0, 0);
  }
  void open_window(int w = 0, int h = 0) {
    user_ = user_display();
    ASSERT_NE(user_, nullptr);
    ASSERT_EQ(w ? gset_xsize(w, h) : 0, 0);
    ASSERT_EQ(gopen_gks(nullptr, 10000), 0);
    ASSERT_EQ(gopen_ws(0, "", GKS_WIN), 0);
    gset_input_mode(1);
    window_ = gget_root_window();
    gget_win_size(&width_, &height_);
    depth_ = gget_win_depth();
    XSync(gget_display(), False);
    gcheck_event();  // what the opening left queued
  }

  // Serves the kernel's events until done(user events so far) holds or two
  // seconds pass; returns the number of user events served.
  int serve_until(const std::function<bool(int)> &done) {
    XSync(user_, False);
    int served = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done(served += gcheck_event()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return served;
  }
  int serve_user_events(int count) {
    return serve_until([count](int served) { return served >= count; });
  }
  void send(XEvent event, long mask) {
    event.xany.window = window_;
    XSendEvent(user_, window_, False, mask, &event);
    XFlush(user_);
  }
  // A key or button press and its release as the window gets them (the two
  // events share their layout); a press is a key the user event of which is
  // served, a click a button likewise (the release is the user event).
  void send_pair(int type, unsigned int detail, unsigned int state, long press_mask) {
    XEvent event{};
    event.xkey.type = type;
    event.xkey.root = DefaultRootWindow(user_);
    event.xkey.x = event.xkey.y = 10;
    event.xkey.same_screen = True;
    event.xkey.state = state;
    event.xkey.keycode = detail;
    send(event, press_mask);
    event.xkey.type = type + 1;
    send(event, press_mask << 1);
  }
  void send_key(KeySym key, unsigned state = 0) {
    send_pair(KeyPress, XKeysymToKeycode(user_, key), state, KeyPressMask);
  }
  void press(KeySym key, unsigned int state = 0) {
    send_key(key, state);
    ASSERT_EQ(serve_user_events(1), 1);
  }
  void click(unsigned int button, unsigned int state = 0) {
    send_pair(ButtonPress, button, state, ButtonPressMask);
    ASSERT_EQ(serve_user_events(1), 1);
  }
  // Real key strokes through XTest, with the pointer on a window pixel.
  void type_with_alt(KeySym key, int x, int y) {
    XWarpPointer(user_, None, window_, 0, 0, 0, 0, x, y);
    KeyCode alt = XKeysymToKeycode(user_, XK_Alt_L), code = XKeysymToKeycode(user_, key);
    for (auto [keycode, down] : {std::pair{alt, True}, {code, True}, {code, False}, {alt, False}})
      XTestFakeKeyEvent(user_, keycode, down, 0);
  }

  // What a window-sized drawable shows now, readable after later changes.
  PixelAt grab(Drawable drawable) {
    XSync(gget_display(), False);
    std::shared_ptr<XImage> image(XGetImage(user_, drawable, 0, 0, width_, height_, AllPlanes, ZPixmap),
                                  [](XImage *i) { i ? XDestroyImage(i) : 0; });
    if (!image) return [](int, int) { return ~0ul; };
    return [image](int x, int y) { return XGetPixel(image.get(), x, y); };
  }
  unsigned long pixel_at(Drawable drawable, int x, int y) { return grab(drawable)(x, y); }
  // Pixels of the drawable that differ from expected(x, y); the first is
  // described in first_miss_.
  int mismatches(Drawable drawable, const PixelAt &expected) {
    PixelAt got = grab(drawable);
    int wrong = 0;
    for (int y = 0; y < height_; y++)
      for (int x = 0; x < width_; x++)
        if (got(x, y) != expected(x, y) && wrong++ == 0)
          first_miss_ = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " + std::to_string(got(x, y)) +
                        " instead of " + std::to_string(expected(x, y));
    return wrong;
  }
  // Differs from its neighbours in x and y at every depth, so that a
  // picture shifted by one pixel is caught.
  PixelAt pattern(unsigned long seed) const {
    unsigned long mask = depth_ >= 32 ? 0xFFFFFFFFul : (1ul << depth_) - 1;
    return [mask, seed](int x, int y) { return (static_cast<unsigned long>(x + 131 * y) + seed * 977ul) & mask; };
  }
  static PixelAt solid(unsigned long pixel) {
    return [pixel](int, int) { return pixel; };
  }
  void paint(Drawable drawable, const PixelAt &pixel) {
    XImage *image =
        XCreateImage(user_, DefaultVisual(user_, DefaultScreen(user_)), static_cast<unsigned>(depth_), ZPixmap, 0,
                     nullptr, static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, 0);
    image->data =
        static_cast<char *>(std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(height_)));
    for (int y = 0; y < height_; y++)
      for (int x = 0; x < width_; x++) XPutPixel(image, x, y, pixel(x, y));
    GC gc = XCreateGC(user_, drawable, 0, nullptr);
    XPutImage(user_, drawable, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_));
    XFreeGC(user_, gc);
    XDestroyImage(image);
    XSync(user_, False);
  }
  // Appends count frames; frame k shows the pattern of seed k + 1.
  void make_patterned_frames(int count) {
    for (int k = 0; k < count; k++) paint(gget_frame_id(gcreate_frame(-1)), pattern(k + 1));
  }
  // Whether the server still knows the pixmap.
  bool exists(Drawable pixmap) {
    gset_xerror_print(0);
    gclr_xerror();
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    XGetGeometry(gget_display(), pixmap, &root, &x, &y, &w, &h, &border, &depth);
    XSync(gget_display(), False);
    gset_xerror_print(1);
    return !gget_xerror();
  }
  std::string title_extra() {
    char extra[GKS_TITLE_EXTRA_MAX + 1] = "";
    gget_win_title_extra(extra);
    return extra;
  }

  Display *user_ = nullptr;
  Window window_ = 0;
  int width_ = 0, height_ = 0, depth_ = 0;
  std::string first_miss_;
};

}  // namespace zyb_test
