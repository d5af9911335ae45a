// Zooming the window, checked pixel by pixel on what the screen shows.
#include "evnt_window.h"
#include "proc_util.h"
#include "util/mess.h"

namespace zyb_test {
namespace {

class Zoom : public KernelWindow {
 protected:
  // The source magnified: window pixel (x, y) shows source (x0 + x / f, y0 + y / f).
  static PixelAt magnified(PixelAt source, const ZoomView &view, int factor) {
    return [source, view, factor](int x, int y) { return source(view.x0 + x / factor, view.y0 + y / factor); };
  }
  ZoomView view_about(int x, int y, int factor) { return gzoom_view({x, y}, width_, height_, factor); }
  // What the window shows now, kept for later comparisons.
  PixelAt snapshot() {
    std::shared_ptr<XImage> image(grab(window_).release(), XImageDeleter());
    return [image](int x, int y) { return XGetPixel(image.get(), x, y); };
  }
};

TEST_F(Zoom, WithoutFramesTheWindowIsMagnifiedStepByStepAndRestoredExactly) {
  paint(gget_base_window(), pattern(3));
  gupdate_window();
  ASSERT_EQ(gzoom(-2, width_ / 2, height_ / 2, -2, 0), 1);
  EXPECT_EQ(gget_zoom(), 2);
  ZoomView middle = view_about(width_ / 2, height_ / 2, 2);
  ASSERT_EQ(middle.x0, width_ / 4);
  EXPECT_EQ(mismatches(window_, magnified(pattern(3), middle, 2)), 0) << first_miss_;

  // The next zoom magnifies what the window shows, about the new point.
  PixelAt once = snapshot();
  ASSERT_EQ(gzoom(-2, 90, 470, -2, 0), 1);
  EXPECT_EQ(gget_zoom(), 4);
  EXPECT_EQ(mismatches(window_, magnified(once, view_about(90, 470, 2), 2)), 0) << first_miss_;

  EXPECT_EQ(gunzoom(), 0);
  EXPECT_EQ(gget_zoom(), 1);
  EXPECT_EQ(mismatches(window_, pattern(3)), 0) << first_miss_;
  EXPECT_EQ(mismatches(gget_base_window(), pattern(3)), 0) << first_miss_;
}

TEST_F(Zoom, TheEleventhDoublingIsRefused) {
  TempDir dir;
  ASSERT_EQ(MESS_file((dir / "log").c_str(), "w"), 0);
  paint(gget_base_window(), pattern(6));
  for (int i = 0; i < 10; i++) ASSERT_EQ(gzoom(-2, 320, 256, -2, 0), 1) << "zoom " << i;
  EXPECT_EQ(gget_zoom(), 1024);
  PixelAt at_limit = snapshot();
  EXPECT_EQ(gzoom(-2, 10, 10, -2, 0), 0);
  EXPECT_EQ(gget_zoom(), 1024);
  EXPECT_EQ(mismatches(window_, at_limit), 0) << "nothing changes";
  MESS_file_close();
  EXPECT_EQ(read_file(dir / "log"), "gzoom: Cannot zoom past 1024x\n");
}

TEST_F(Zoom, NothingToDoUnzoomedOrForAnotherProgramsWindow) {
  EXPECT_EQ(gzoom(-2, -1, -1, -1, 1), 0) << "re-applying factor 1";
  EXPECT_EQ(gunzoom(), 0);
  gset_win_type(GKS_PIX);
  EXPECT_EQ(gzoom(-2, 320, 256, -2, 0), 0);
  EXPECT_EQ(gget_zoom(), 1);
  gset_win_type(GKS_WIN);
}

TEST_F(Zoom, LoopingFramesFollowTheZoomAndUnzoomShowsTheCurrentOne) {
  make_patterned_frames(3);
  gset_looping(1);
  gdisplay_frame(0);
  ASSERT_EQ(gzoom(-2, 200, 150, -2, 0), 1);
  ASSERT_EQ(gzoom(-2, 500, 400, -2, 0), 1);
  ASSERT_EQ(gget_zoom(), 4);
  // The second point is on the x2 view: back in frame pixels it is the centre.
  ZoomPoint centre = gzoom_centre(500, 400, width_, height_, 2, view_about(200, 150, 2).centre, true);
  ZoomView view = gzoom_view(centre, width_, height_, 4);
  EXPECT_EQ(mismatches(window_, magnified(pattern(1), view, 4)), 0) << first_miss_;

  for (int step = 1; step <= 2; step++) {
    gdisplay_frame(ginc_frame(0));
    EXPECT_EQ(mismatches(window_, magnified(pattern(step + 1), view, 4)), 0) << step << first_miss_;
  }
  EXPECT_EQ(mismatches(gget_frame_id(2), pattern(3)), 0) << "frame pixmaps never change";
  EXPECT_EQ(gunzoom(), 0);
  EXPECT_EQ(mismatches(window_, pattern(3)), 0) << first_miss_;
}

TEST_F(Zoom, SteppingOrZoomingWhileStoppedWorksOnTheFramesOwnPixels) {
  make_patterned_frames(3);
  gdisplay_frame(0);
  ASSERT_EQ(gzoom(-2, 600, 20, -2, 0), 1);
  ZoomView view = view_about(600, 20, 2);
  press(XK_bracketright, Mod1Mask);
  ASSERT_EQ(gget_cur_frame(), 1);
  EXPECT_EQ(mismatches(window_, magnified(pattern(2), view, 2)), 0) << first_miss_;

  ASSERT_EQ(gzoom(-2, 320, 256, -2, 0), 1);
  ZoomView closer = gzoom_view(gzoom_centre(320, 256, width_, height_, 2, view.centre, true), width_, height_, 4);
  EXPECT_EQ(mismatches(window_, magnified(pattern(2), closer, 4)), 0) << first_miss_;
}

TEST_F(Zoom, AltZZoomsAboutTheRealPointerAndAltUUndoes) {
  paint(gget_base_window(), pattern(8));
  gupdate_window();
  type_with_alt(XK_z, 500, 100);
  ASSERT_EQ(serve_user_events(2), 2);
  ASSERT_EQ(gget_zoom(), 2);
  ZoomView view = view_about(500, 100, 2);
  EXPECT_EQ(mismatches(window_, magnified(pattern(8), view, 2)), 0) << first_miss_;
  EXPECT_EQ(xZ_p(0), view.x0);  // window pixels back to picture pixels
  EXPECT_EQ(yZ_p(height_ - 1), view.y0 + (height_ - 1) / 2);
  press(XK_u);
  EXPECT_EQ(gget_zoom(), 2) << "u without Alt";
  press(XK_u, Mod1Mask);
  EXPECT_EQ(gget_zoom(), 1);
  EXPECT_EQ(mismatches(window_, pattern(8)), 0) << first_miss_;
}

}  // namespace
}  // namespace zyb_test
