// Zooming the window, checked pixel by pixel on what the screen shows.
#include "evnt_window.h"
#include "proc_util.h"
#include "util/mess.h"

namespace zyb_test {
namespace {

class Zoom : public KernelWindow {
 protected:
  // The source magnified about a point: window pixel (x, y) shows source
  // (x0 + x / f, y0 + y / f) of the view.
  PixelAt magnified(PixelAt source, ZoomPoint centre, int factor) {
    ZoomView view = gzoom_view(centre, width_, height_, factor);
    return [source, view, factor](int x, int y) { return source(view.x0 + x / factor, view.y0 + y / factor); };
  }
  // A point given on a view at x2 about first, in frame pixels.
  ZoomPoint on_view(int x, int y, ZoomPoint first) {
    return gzoom_centre(x, y, width_, height_, 2, gzoom_view(first, width_, height_, 2).centre, true);
  }
};

TEST_F(Zoom, WithoutFramesAltZMagnifiesTheWindowStepByStepAndAltURestoresItExactly) {
  TempDir dir;
  ASSERT_EQ(MESS_file((dir / "log").c_str(), "w"), 0);
  paint(gget_base_window(), pattern(3));
  gupdate_window();
  type_with_alt(XK_z, 500, 100);  // about the real pointer
  ASSERT_EQ(serve_user_events(2), 2);
  ASSERT_EQ(gget_zoom(), 2);
  EXPECT_EQ(mismatches(window_, magnified(pattern(3), {500, 100}, 2)), 0) << first_miss_;
  ZoomView view = gzoom_view({500, 100}, width_, height_, 2);
  EXPECT_EQ(xZ_p(0), view.x0);  // window pixels back to picture pixels
  EXPECT_EQ(yZ_p(height_ - 1), view.y0 + (height_ - 1) / 2);
  // The next zoom magnifies what the window shows, about the new point.
  PixelAt once = grab(window_);
  ASSERT_EQ(gzoom(-2, 90, 470, -2, 0), 1);
  EXPECT_EQ(mismatches(window_, magnified(once, {90, 470}, 2)), 0) << first_miss_;
  for (int i = 2; i < 10; i++) ASSERT_EQ(gzoom(-2, 320, 256, -2, 0), 1) << "zoom " << i;
  EXPECT_EQ(gget_zoom(), 1024);
  PixelAt at_limit = grab(window_);
  EXPECT_EQ(gzoom(-2, 10, 10, -2, 0), 0);
  EXPECT_EQ(gget_zoom(), 1024);
  EXPECT_EQ(mismatches(window_, at_limit), 0) << "nothing changes";
  MESS_file_close();
  EXPECT_EQ(read_file(dir / "log"), "gzoom: Cannot zoom past 1024x\n");

  press(XK_u);
  EXPECT_EQ(gget_zoom(), 1024) << "u without Alt";
  press(XK_u, Mod1Mask);
  EXPECT_EQ(gget_zoom(), 1);
  EXPECT_EQ(mismatches(window_, pattern(3)), 0) << first_miss_;
  EXPECT_EQ(mismatches(gget_base_window(), pattern(3)), 0) << first_miss_;
  EXPECT_EQ(gzoom(-2, -1, -1, -1, 1), 0) << "re-applying factor 1";
  gset_win_type(GKS_PIX);
  EXPECT_EQ(gzoom(-2, 320, 256, -2, 0), 0) << "another program's window";
  gset_win_type(GKS_WIN);
}

TEST_F(Zoom, FramesShownWhileZoomedFollowTheZoomLoopingOrStepped) {
  make_patterned_frames(3);
  gset_looping(1);
  gdisplay_frame(0);
  ASSERT_EQ(gzoom(-2, 200, 150, -2, 0), 1);
  ASSERT_EQ(gzoom(-2, 500, 400, -2, 0), 1);
  ASSERT_EQ(gget_zoom(), 4);
  ZoomPoint centre = on_view(500, 400, {200, 150});
  EXPECT_EQ(mismatches(window_, magnified(pattern(1), centre, 4)), 0) << first_miss_;
  gdisplay_frame(ginc_frame(0));
  EXPECT_EQ(mismatches(window_, magnified(pattern(2), centre, 4)), 0) << first_miss_;
  EXPECT_EQ(mismatches(gget_frame_id(1), pattern(2)), 0) << "frame pixmaps never change";

  gset_looping(0);
  press(XK_bracketright, Mod1Mask);
  EXPECT_EQ(mismatches(window_, magnified(pattern(3), centre, 4)), 0) << first_miss_;
  EXPECT_EQ(gunzoom(), 0);
  EXPECT_EQ(mismatches(window_, pattern(3)), 0) << "the current frame unzoomed: " << first_miss_;
}

}  // namespace
}  // namespace zyb_test
