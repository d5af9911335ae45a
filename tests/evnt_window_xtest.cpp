// Window events other than keys: exposures, pointer motion, the
// client-message requests, and when events are not served.
#include "evnt_window.h"

namespace zyb_test {
namespace {

class WindowEvents : public KernelWindow {
 protected:
  void send_expose() {
    XEvent event{};
    event.xexpose.type = Expose;
    event.xexpose.width = width_;
    event.xexpose.height = height_;
    send(event, ExposureMask);
  }
  void send_request(Atom type, int code) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.message_type = type;
    event.xclient.format = 8;
    event.xclient.data.b[0] = static_cast<char>(code);
    send(event, 0);
  }
  bool shows(Drawable drawable, unsigned long seed) { return mismatches(drawable, pattern(seed)) == 0; }
};

TEST_F(WindowEvents, ARunOfExposuresCopiesTheBaseWindowOnce) {
  paint(gget_base_window(), pattern(1));
  send_key(XK_q);  // ends whatever run of exposures the opening left
  send_expose();
  serve_until([this](int) { return shows(window_, 1); });
  ASSERT_TRUE(shows(window_, 1));
  paint(gget_base_window(), pattern(2));
  for (int i = 0; i < 10; i++) send_expose();
  send_key(XK_q);
  serve_user_events(1);
  EXPECT_TRUE(shows(window_, 1)) << "an exposure of the same run copied again";
  send_expose();  // after the key: a new run
  send_key(XK_q);
  serve_user_events(1);
  EXPECT_TRUE(shows(window_, 2));
}

TEST_F(WindowEvents, QueuedMotionIsDrainedByTheFirstMotionEvent) {
  for (int i = 0; i < 30; i++) {
    XEvent event{};
    event.xmotion.type = MotionNotify;
    event.xmotion.x = event.xmotion.y = i;
    send(event, ButtonMotionMask);
  }
  send_key(XK_Return);
  XSync(user_, False);
  Display *kernel = gget_display();
  for (int i = 0; i < 1000 && XEventsQueued(kernel, QueuedAfterFlush) < 32; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  XEvent event;
  XNextEvent(kernel, &event);
  ASSERT_EQ(event.type, MotionNotify);
  gprocess_x11_event(&event);
  EXPECT_FALSE(XCheckTypedEvent(kernel, MotionNotify, &event)) << "a queued motion was left";
  EXPECT_EQ(gcheck_event(), 1) << "the key press stayed queued";
}

TEST_F(WindowEvents, NewFrameRequestKeepsThePictureDrawnAsAFrame) {
  paint(gget_base_window(), pattern(5));
  unsigned long drawn = gget_base_window();
  send_request(XA_NOTICE, GKS_REQUEST_NEW_FRAME);
  serve_until([](int) { return gget_num_images() == 1; });
  ASSERT_EQ(gget_num_images(), 1);
  EXPECT_EQ(gget_looping(), 1);
  EXPECT_EQ(gget_frame_id(0), drawn) << "without frames the window's picture becomes frame 0";
  EXPECT_TRUE(shows(drawn, 5));
  EXPECT_NE(gget_base_window(), drawn);
  EXPECT_EQ(title_extra(), "") << "the \"+\" is gone again";

  make_patterned_frames(1);
  gdisplay_frame(1);
  unsigned long second = gget_frame_id(1);
  send_request(XA_NOTICE, GKS_REQUEST_NEW_FRAME);
  serve_until([](int) { return gget_num_images() == 3; });
  ASSERT_EQ(gget_num_images(), 3);
  EXPECT_TRUE(shows(gget_frame_id(1), 1)) << "frame 1 keeps its picture";
  EXPECT_EQ(gget_frame_id(2), second) << "in a fresh pixmap";
  unsigned long back = static_cast<unsigned long>(gget_back_color());
  EXPECT_EQ(mismatches(gget_frame_id(2), [back](int, int) { return back; }), 0) << first_miss_;
  EXPECT_EQ(title_extra(), "");
}

TEST_F(WindowEvents, OnlyTheQuitRequestEndsInputAndNothingIsServedWhileTheTypeIsNotTheWindow) {
  // A window manager's message whose first byte happens to be a request code.
  send_request(XInternAtom(user_, "WM_PROTOCOLS", False), GKS_REQUEST_QUIT);
  send_request(XA_NOTICE, 7);
  send_key(XK_q);
  serve_user_events(1);
  EXPECT_EQ(gget_input_mode(), 1);
  EXPECT_EQ(gget_num_images(), 0);

  gset_win_type(GKS_META);
  send_request(XA_NOTICE, GKS_REQUEST_QUIT);
  XSync(user_, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(gcheck_event(), 0);
  EXPECT_EQ(gget_input_mode(), 1);
  gset_win_type(GKS_WIN);
  serve_until([](int) { return gget_input_mode() == 0; });
  EXPECT_EQ(gget_input_mode(), 0);
}

}  // namespace
}  // namespace zyb_test
