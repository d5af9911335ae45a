// Frames and looping through the kernel, on a real X server: pixmaps are
// created, shown, moved and released, and what reaches the window is read
// back pixel by pixel.
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_state.h"

namespace {

constexpr int kW = 64;
constexpr int kH = 48;

class Frames : public ::testing::Test {
 protected:
  void SetUp() override {
    gopen_gks(nullptr, 0);
    ASSERT_EQ(gset_xsize(kW, kH), 0);
    ASSERT_EQ(gopen_ws(0, nullptr, 1), 0);
    dpy_ = gget_display();
    gc_ = XCreateGC(dpy_, gget_root_window(), 0, nullptr);
    const float colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(gset_colr_rep(1, 10 + i, colours[i]), 0);
      pixel_[i] = (unsigned long)gget_color_ind(10 + i);
    }
    gset_loop_direct(GKS_LOOP_FORWARD);
    gset_loop_title(1);
    ginc_loop_delay(GKS_DEFAULT_DELAY - gget_loop_delay());
  }
  void TearDown() override {
    if (gc_) XFreeGC(dpy_, gc_);
    gclose_ws(0);
    gclose_gks();
  }

  void make_frames(int n) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(gcreate_frame(-1), i);
  }
  // Frame i filled with colour k (0 .. 3).
  void paint(int frame, int k) {
    XSetForeground(dpy_, gc_, pixel_[k]);
    XFillRectangle(dpy_, gget_frame_id(frame), gc_, 0, 0, kW, kH);
    XSync(dpy_, False);
  }
  unsigned long pixel_at(Drawable d, int x = kW / 2, int y = kH / 2) {
    XImage *img = XGetImage(dpy_, d, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0ul;
    unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p;
  }
  // Whether the server still knows the drawable.
  bool exists(Drawable d) {
    gset_xerror_print(0);
    gclr_xerror();
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    Status ok = XGetGeometry(dpy_, d, &root, &x, &y, &w, &h, &border, &depth);
    XSync(dpy_, False);
    bool found = ok && !gget_xerror();
    gset_xerror_print(1);
    gclr_xerror();
    return found;
  }
  std::vector<int> steps(int count) {
    std::vector<int> shown;
    for (int i = 0; i < count; ++i) {
      int f = ginc_frame(0);
      gdisplay_frame(f);
      shown.push_back(f);
    }
    return shown;
  }
  std::string title_extra() {
    char extra[GKS_TITLE_EXTRA_MAX + 1];
    gget_win_title_extra(extra);
    return extra;
  }

  Display *dpy_ = nullptr;
  GC gc_ = nullptr;
  unsigned long pixel_[4] = {};
};

TEST_F(Frames, AppendedFramesCarryLoopDelayAndEndPause) {
  make_frames(3);
  EXPECT_EQ(gget_num_images(), 3);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.5f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.5f);
  EXPECT_FLOAT_EQ(gget_frame_delay(2), 1.0f);
  std::set<unsigned long> ids;
  for (int i = 0; i < 3; ++i) {
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    ASSERT_TRUE(XGetGeometry(dpy_, gget_frame_id(i), &root, &x, &y, &w, &h, &border, &depth));
    EXPECT_EQ(w, (unsigned)kW);
    EXPECT_EQ(h, (unsigned)kH);
    EXPECT_EQ((int)depth, gget_win_depth());
    ids.insert(gget_frame_id(i));
  }
  EXPECT_EQ(ids.size(), 3u);
  // A new frame is cleared to the background.
  EXPECT_EQ(pixel_at(gget_frame_id(1)), (unsigned long)gget_back_color());
}

TEST_F(Frames, RecreatingAFrameKeepsItsPixmapAndClearsIt) {
  make_frames(2);
  unsigned long id = gget_frame_id(1);
  paint(1, 2);
  EXPECT_EQ(gcreate_frame(1), 1);
  EXPECT_EQ(gget_frame_id(1), id);
  EXPECT_EQ(gget_num_images(), 2);
  EXPECT_EQ(pixel_at(id), (unsigned long)gget_back_color());
}

TEST_F(Frames, DeletingTheLastFrameMovesTheEndPause) {
  make_frames(3);
  unsigned long gone = gget_frame_id(2);
  EXPECT_EQ(gdelete_frame(-1), 1);
  EXPECT_EQ(gget_num_images(), 2);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.5f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 1.0f);
  EXPECT_FALSE(exists(gone));
  EXPECT_EQ(gget_frame_id(2), 0ul);
}

TEST_F(Frames, DeletingFrameZeroMovesTheOthersDownAndShowsTheNewFrameZero) {
  make_frames(3);
  for (int i = 0; i < 3; ++i) paint(i, i);
  unsigned long id1 = gget_frame_id(1), id2 = gget_frame_id(2);
  gset_loop_delay(1, 0.7f);
  const char data[] = "radar 12Z";
  gset_image_data(1, data, sizeof data);
  gdisplay_frame(0);
  ASSERT_EQ(pixel_at(gget_base_window()), pixel_[0]);

  EXPECT_EQ(gdelete_frame(0), 1);
  EXPECT_EQ(gget_num_images(), 2);
  EXPECT_EQ(gget_frame_id(0), id1);
  EXPECT_EQ(gget_frame_id(1), id2);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.7f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 1.0f);
  char out[GKS_FRAME_DATA_MAX];
  ASSERT_EQ(gget_image_data(0, out), (int)sizeof data);
  EXPECT_STREQ(out, data);
  EXPECT_EQ(gget_cur_frame(), 0);
  EXPECT_EQ(pixel_at(gget_base_window()), pixel_[1]);
  EXPECT_EQ(pixel_at(gget_root_window()), pixel_[1]);
}

TEST_F(Frames, DeletingTheCurrentEndFrameStepsBackWithoutRedisplay) {
  make_frames(3);
  paint(2, 2);
  gdisplay_frame(2);
  EXPECT_EQ(gdelete_frame(-2), 1);
  EXPECT_EQ(gget_cur_frame(), 1);
  EXPECT_EQ(pixel_at(gget_base_window()), pixel_[2]);  // still the old picture
}

TEST_F(Frames, DeletingTheOnlyFrameEmptiesTheLoop) {
  make_frames(1);
  unsigned long id = gget_frame_id(0);
  gdisplay_frame(0);
  EXPECT_EQ(gdelete_frame(0), 1);
  EXPECT_EQ(gget_num_images(), 0);
  EXPECT_EQ(gget_cur_frame(), -1);
  EXPECT_FALSE(exists(id));
  EXPECT_EQ(ginc_frame(0), -1);
  EXPECT_EQ(gdelete_frame(-1), 0);  // no last frame to delete
}

TEST_F(Frames, StepSequencesFollowTheDirection) {
  struct Case {
    int direction;
    int frames;
    std::vector<int> shown;
  };
  const Case cases[] = {
      {GKS_LOOP_FORWARD, 3, {0, 1, 2, 0, 1}},
      {GKS_LOOP_BACKWARD, 3, {0, 2, 1, 0, 2}},
      {GKS_LOOP_ALT_FORWARD, 3, {0, 1, 2, 1, 0, 1, 2, 1}},
      {GKS_LOOP_ALT_BACK, 3, {0, 1, 2, 1, 0, 1}},
      {GKS_LOOP_ALT_FORWARD, 2, {0, 1, 0, 1}},
      {GKS_LOOP_FORWARD, 1, {0, 0, 0}},
      {GKS_LOOP_ALT_FORWARD, 1, {0, 0, 0}},
      {GKS_LOOP_ALT_BACK, 1, {0, 0, 0}},
  };
  for (const Case &c : cases) {
    ginit_loop();
    make_frames(c.frames);
    gset_loop_direct(c.direction);
    EXPECT_EQ(steps((int)c.shown.size()), c.shown)
        << "direction " << c.direction << " frames " << c.frames;
  }
}

TEST_F(Frames, AlternatingLoopRewritesItsDirectionAtTheEnds) {
  make_frames(3);
  gset_loop_direct(GKS_LOOP_ALT_FORWARD);
  steps(3);  // 0, 1, 2
  EXPECT_EQ(ginc_frame(0), 1);
  EXPECT_EQ(gget_loop_direct(), GKS_LOOP_ALT_BACK);
}

TEST_F(Frames, ExplicitStepsWrapOrTurnButDoNotMove) {
  make_frames(3);
  gdisplay_frame(2);
  EXPECT_EQ(ginc_frame(1), 0);
  EXPECT_EQ(ginc_frame(-1), 1);
  EXPECT_EQ(gget_cur_frame(), 2);
  gdisplay_frame(0);
  EXPECT_EQ(ginc_frame(-1), 2);
  gset_loop_direct(GKS_LOOP_ALT_FORWARD);
  EXPECT_EQ(ginc_frame(-1), 1);
  EXPECT_EQ(gget_loop_direct(), GKS_LOOP_ALT_FORWARD);
  gdisplay_frame(2);
  EXPECT_EQ(ginc_frame(1), 1);
  EXPECT_EQ(gget_loop_direct(), GKS_LOOP_ALT_BACK);
}

TEST_F(Frames, DelaySettersKeepTheEndPauseAndNeverGoNegative) {
  make_frames(1);
  gset_loop_delay(GKS_FRAME_ALL, 0.3f);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 1.0f);
  gcreate_frame(-1);
  gcreate_frame(-1);
  gset_loop_delay(GKS_FRAME_ALL, 0.3f);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.3f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.3f);
  EXPECT_FLOAT_EQ(gget_frame_delay(2), 1.0f);
  EXPECT_FLOAT_EQ(gget_loop_delay(), 0.5f);

  gset_loop_delay(GKS_FRAME_LAST, 2.0f);
  EXPECT_FLOAT_EQ(gget_frame_delay(2), 2.0f);
  gdisplay_frame(1);
  gset_loop_delay(GKS_FRAME_CURRENT, 0.25f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.25f);
  gset_loop_delay(1, -3.0f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.0f);
  gset_loop_delay(0, NAN);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.0f);
  gset_loop_delay(200, 4.0f);  // ignored
  EXPECT_FLOAT_EQ(gget_frame_delay(200), 0.0f);

  ginc_loop_delay(-1.0f);
  EXPECT_FLOAT_EQ(gget_loop_delay(), 0.0f);
  EXPECT_FLOAT_EQ(gget_frame_delay(0), 0.0f);
  EXPECT_FLOAT_EQ(gget_frame_delay(2), 2.0f);
  ginc_loop_delay(0.1f);
  EXPECT_FLOAT_EQ(gget_loop_delay(), 0.1f);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.1f);
}

TEST_F(Frames, NewFramesAfterADeletionGetFreshDefaults) {
  make_frames(3);
  gdelete_frame(2);
  EXPECT_EQ(gcreate_frame(-1), 2);
  EXPECT_FLOAT_EQ(gget_frame_delay(1), 0.5f);
  EXPECT_FLOAT_EQ(gget_frame_delay(2), 1.0f);
}

TEST_F(Frames, FramesBeyondTheLoopAreNeverSteppedOnto) {
  make_frames(2);
  EXPECT_EQ(gcreate_frame(5), 5);
  EXPECT_EQ(gget_num_images(), 2);
  ASSERT_NE(gget_frame_id(5), 0ul);
  paint(5, 3);
  for (int f : steps(7)) EXPECT_LT(f, 2);
  gdisplay_frame(5);
  EXPECT_EQ(pixel_at(gget_base_window()), pixel_[3]);
  EXPECT_EQ(gget_cur_frame(), 5);
  unsigned long id = gget_frame_id(5);
  EXPECT_EQ(gdelete_frame(5), 1);
  EXPECT_EQ(gget_num_images(), 2);
  EXPECT_EQ(gget_frame_id(5), 0ul);
  EXPECT_FALSE(exists(id));
}

TEST_F(Frames, ShowingAFrameCopiesItToBaseWindowAndScreen) {
  make_frames(3);
  for (int i = 0; i < 3; ++i) paint(i, i);
  gdisplay_frame(2);
  EXPECT_EQ(pixel_at(gget_base_window()), pixel_[2]);
  EXPECT_EQ(pixel_at(gget_root_window(), 0, 0), pixel_[2]);
  EXPECT_EQ(pixel_at(gget_root_window(), kW - 1, kH - 1), pixel_[2]);
  EXPECT_EQ(title_extra(), "[2]");
  EXPECT_EQ(std::string(gget_win_title()), "D11 Ozava");

  gdisplay_frame(-1);  // the current frame, not the last
  EXPECT_EQ(gget_cur_frame(), 2);
  gdisplay_frame(1);
  EXPECT_EQ(pixel_at(gget_root_window()), pixel_[1]);
  EXPECT_EQ(title_extra(), "[1]");

  gset_loop_title(0);
  gdisplay_frame(0);
  EXPECT_EQ(title_extra(), "[1]");
  EXPECT_EQ(pixel_at(gget_root_window()), pixel_[0]);
}

TEST_F(Frames, FullTableKeepsAllFramesAndOffersTheWindow) {
  make_frames(GKS_MAX_FRAMES);
  std::set<unsigned long> ids;
  for (int i = 0; i < GKS_MAX_FRAMES; ++i) ids.insert(gget_frame_id(i));
  EXPECT_EQ(ids.size(), (size_t)GKS_MAX_FRAMES);
  EXPECT_EQ(ids.count(0ul), 0u);

  EXPECT_EQ(gcreate_frame(-1), GKS_FRAME_WINDOW);
  EXPECT_EQ(gcreate_frame(128), GKS_FRAME_WINDOW);
  EXPECT_EQ(gcreate_frame(4000), GKS_FRAME_WINDOW);
  EXPECT_EQ(gget_num_images(), GKS_MAX_FRAMES);
  for (int i = 0; i < GKS_MAX_FRAMES; ++i) EXPECT_EQ(ids.count(gget_frame_id(i)), 1u);
  gselect_frame(GKS_FRAME_WINDOW);
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  EXPECT_EQ(gget_frame_id(GKS_FRAME_WINDOW), gget_base_window());

  gdisplay_frame(127);
  EXPECT_EQ(ginc_frame(0), 0);
  EXPECT_FLOAT_EQ(gget_frame_delay(126), 0.5f);
  EXPECT_FLOAT_EQ(gget_frame_delay(127), 1.0f);
}

TEST_F(Frames, SelectingMakesTheFrameTheDrawWindow) {
  gselect_frame(-1);  // no frames yet: the window
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  make_frames(2);
  gselect_frame(1);
  EXPECT_EQ(gget_draw_window(), gget_frame_id(1));
  gselect_frame(-1);
  EXPECT_EQ(gget_draw_window(), gget_frame_id(1));
  gselect_frame(5);  // a slot without a pixmap
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  gselect_frame(0);
  gselect_frame(GKS_FRAME_WINDOW);
  EXPECT_EQ(gget_draw_window(), gget_base_window());
}

TEST_F(Frames, ClearingFillsWithTheBackground) {
  make_frames(2);
  paint(0, 1);
  paint(1, 1);
  gclear_frame(-1);
  EXPECT_EQ(pixel_at(gget_frame_id(1)), (unsigned long)gget_back_color());
  EXPECT_EQ(pixel_at(gget_frame_id(0)), pixel_[1]);
  gclear_frame(0);
  EXPECT_EQ(pixel_at(gget_frame_id(0)), (unsigned long)gget_back_color());
}

TEST_F(Frames, CopyingAndSwitchingMovePicturesAndPixmaps) {
  make_frames(2);
  paint(0, 0);
  paint(1, 1);
  gcopy_frame(1, 0);
  EXPECT_EQ(pixel_at(gget_frame_id(1)), pixel_[0]);
  paint(1, 1);

  unsigned long id0 = gget_frame_id(0), id1 = gget_frame_id(1);
  gselect_frame(0);
  gswitch_frame(0, 1);
  EXPECT_EQ(gget_frame_id(0), id1);
  EXPECT_EQ(gget_frame_id(1), id0);
  EXPECT_EQ(gget_draw_window(), id1);  // the draw window follows slot 0

  unsigned long base = gget_base_window();
  gswitch_frame(0, GKS_FRAME_WINDOW);
  EXPECT_EQ(gget_base_window(), id1);
  EXPECT_EQ(gget_frame_id(0), base);
  gupdate_window();
  EXPECT_EQ(pixel_at(gget_root_window()), pixel_[1]);

  gselect_frame(GKS_FRAME_WINDOW);
  gswitch_frame(GKS_FRAME_WINDOW, 7);  // slot 7 has no pixmap: the window keeps its own
  EXPECT_EQ(gget_base_window(), id1);
}

TEST_F(Frames, ReferencesToNothingAreIgnoredWithoutXErrors) {
  gclr_xerror();
  EXPECT_EQ(gclear_frame(300), 0);
  EXPECT_EQ(gclear_frame(-1), 0);
  EXPECT_EQ(gcopy_frame(-1, 200), 0);
  EXPECT_EQ(gcopy_frame(-3, -2), 0);
  EXPECT_EQ(gdisplay_frame(500), 0);
  EXPECT_EQ(gdelete_frame(-3), 0);
  EXPECT_EQ(gdelete_frame(-4), 0);
  EXPECT_EQ(gdelete_frame(128), 0);
  EXPECT_EQ(gswitch_frame(-1, 900), 0);
  EXPECT_EQ(gget_frame_id(-2), 0ul);
  EXPECT_EQ(gget_frame_id(128), 0ul);
  EXPECT_EQ(gset_frame_id(128, 5), -1);
  EXPECT_EQ(gset_image_data(-9, "x", 1), -1);
  char big[100] = {};
  make_frames(1);
  EXPECT_EQ(gset_image_data(0, big, 100), GKS_FRAME_DATA_MAX);
  EXPECT_EQ(gset_image_data(0, big, -5), 0);
  XSync(dpy_, False);
  EXPECT_EQ(gget_xerror(), 0);
}

TEST_F(Frames, DeletingAllReleasesPixmapsButKeepsTheSlots) {
  make_frames(3);
  unsigned long id = gget_frame_id(1);
  gdelete_all_frames();
  EXPECT_EQ(gget_num_images(), 3);
  EXPECT_EQ(gget_frame_id(1), 0ul);
  EXPECT_FALSE(exists(id));
  EXPECT_EQ(gcreate_frame(1), 1);
  EXPECT_NE(gget_frame_id(1), 0ul);
}

TEST_F(Frames, LoopSwitchesTheCursor) {
  gset_looping(1);
  EXPECT_EQ(gget_looping(), 1);
  EXPECT_EQ(gget_cursor_type(), GKS_CURSOR_LOOP);
  gtoggle_loop(2);
  EXPECT_EQ(gget_looping(), 0);
  EXPECT_EQ(gget_cursor_type(), GKS_CURSOR_STOP);
  gtoggle_loop(-1);
  EXPECT_EQ(gget_looping(), 1);
  gtoggle_loop(0);
  EXPECT_EQ(gget_looping(), 0);
  gtoggle_loop(1);
  EXPECT_EQ(gget_looping(), 1);
  gset_looping(0);
}

TEST(FramesClosed, WithoutAWindowNothingHappens) {
  EXPECT_EQ(gchk_graphics(), 0);
  EXPECT_EQ(gcreate_frame(-1), 0);
  EXPECT_EQ(gget_num_images(), 0);
  EXPECT_EQ(gdisplay_frame(0), 0);
  EXPECT_EQ(gdelete_frame(0), 0);
  EXPECT_EQ(gclear_frame(-3), 0);
  EXPECT_EQ(gcopy_frame(-3, 0), 0);
  EXPECT_EQ(ginc_frame(0), -1);
}

}  // namespace
