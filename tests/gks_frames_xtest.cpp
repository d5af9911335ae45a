// Frames and looping through the kernel, on a real X server: pixmaps are
// created, shown, moved and released, and what reaches the window is read
// back pixel by pixel.
#include "evnt_window.h"

#include <cmath>
#include <set>
#include <vector>

namespace zyb_test {
namespace {

using Ids = std::vector<unsigned long>;
using Delays = std::vector<float>;

class Frames : public KernelWindow {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_window(64, 48));
    const float colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(gset_colr_rep(1, 10 + i, colours[i]), 0);
      pixel_[i] = static_cast<unsigned long>(gget_color_ind(10 + i));
    }
    gset_loop_direct(GKS_LOOP_FORWARD);
    gset_loop_title(1);
    ginc_loop_delay(GKS_DEFAULT_DELAY - gget_loop_delay());
  }
  // Appends n frames, frame i filled with colour i % 4.
  void make_frames(int n) {
    for (int i = gget_num_images(); n-- > 0; ++i) {
      ASSERT_EQ(gcreate_frame(-1), i);
      paint(gget_frame_id(i), solid(pixel_[i % 4]));
    }
  }
  unsigned long shown() { return pixel_at(window_, 32, 24); }
  unsigned long colour(int frame) { return pixel_at(gget_frame_id(frame), 32, 24); }
  Ids ids(int count) {
    Ids out;
    for (int i = 0; i < count; ++i) out.push_back(gget_frame_id(i));
    return out;
  }
  Delays delays() {
    Delays out;
    for (int i = 0; i < gget_num_images(); ++i) out.push_back(gget_frame_delay(i));
    return out;
  }

  unsigned long pixel_[4] = {};
};

TEST_F(Frames, NewFramesAreClearedPixmapsWithTheEndPauseLastUntilTheTableIsFull) {
  make_frames(3);
  EXPECT_EQ(delays(), Delays({0.5f, 0.5f, 1.0f}));
  Ids before = ids(3);
  unsigned long back = static_cast<unsigned long>(gget_back_color());
  EXPECT_EQ(gcreate_frame(1), 1);
  EXPECT_EQ(ids(3), before) << "re-creating keeps the pixmap";
  EXPECT_EQ(colour(1), back) << "and clears it";
  gclear_frame(-1);
  EXPECT_EQ((Ids{colour(0), colour(2)}), (Ids{pixel_[0], back}));

  make_frames(GKS_MAX_FRAMES - 3);
  Ids full = ids(GKS_MAX_FRAMES);
  for (int n : {-1, 128, 4000}) EXPECT_EQ(gcreate_frame(n), GKS_FRAME_WINDOW) << "full: the window to draw on";
  EXPECT_EQ(gget_num_images(), GKS_MAX_FRAMES);
  EXPECT_EQ(ids(GKS_MAX_FRAMES), full);
  EXPECT_EQ(std::set<unsigned long>(full.begin(), full.end()).count(0), 0u);
}

TEST_F(Frames, DeletingMovesWholeRecordsAndTheEndPause) {
  make_frames(3);
  Ids before = ids(3);
  gset_loop_delay(1, 0.7f);
  const char data[] = "radar 12Z";
  gset_image_data(1, data, sizeof data);
  gdisplay_frame(0);
  EXPECT_EQ(gdelete_frame(0), 1);
  EXPECT_EQ(ids(3), (Ids{before[1], before[2], 0}));
  EXPECT_EQ(delays(), Delays({0.7f, 1.0f}));
  char out[GKS_FRAME_DATA_MAX];
  ASSERT_EQ(gget_image_data(0, out), static_cast<int>(sizeof data));
  EXPECT_STREQ(out, data);
  EXPECT_EQ(shown(), pixel_[1]) << "the frame now at 0 is shown";
  EXPECT_FALSE(exists(before[0]));

  make_frames(1);
  paint(gget_frame_id(2), solid(pixel_[3]));
  const unsigned long last = gget_frame_id(2);
  gdisplay_frame(2);
  EXPECT_EQ(gdelete_frame(-2), 1);
  EXPECT_EQ(delays(), Delays({0.7f, 1.0f}));
  EXPECT_FALSE(exists(last));
  EXPECT_EQ((Ids{static_cast<unsigned long>(gget_cur_frame()), shown()}), (Ids{1, pixel_[3]}))
      << "stepped back, not redisplayed";
  EXPECT_EQ(gcreate_frame(-1), 2);
  EXPECT_EQ(delays(), Delays({0.7f, 0.5f, 1.0f}));

  EXPECT_EQ(gcreate_frame(5), 5) << "beyond the loop";
  const unsigned long beyond = gget_frame_id(5);
  gdisplay_frame(2);
  EXPECT_EQ((Ints{gget_num_images(), ginc_frame(1)}), (Ints{3, 0})) << "never stepped onto";
  EXPECT_EQ(gdelete_frame(5), 1);
  EXPECT_FALSE(exists(beyond));

  const unsigned long kept = gget_frame_id(1);
  gdelete_all_frames();
  EXPECT_EQ(ids(3), Ids(3, 0ul));
  EXPECT_EQ(gget_num_images(), 3) << "the slots stay";
  EXPECT_FALSE(exists(kept));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(gcreate_frame(i), i) << "a fresh pixmap in the kept slot";

  ginit_loop();
  make_frames(1);
  gdisplay_frame(0);
  EXPECT_EQ(gdelete_frame(0), 1);
  EXPECT_EQ((Ints{gget_num_images(), gget_cur_frame()}), (Ints{0, -1})) << "no frame and none current";
  EXPECT_EQ(ginc_frame(0), -1);
  EXPECT_EQ(gdelete_frame(-1), 0) << "no last frame to delete";
}

TEST_F(Frames, StepsFollowTheDirectionAndTurnOrWrapAtTheEnds) {
  struct Case {
    int direction, frames;
    std::vector<int> shown;
    int direction_after;
  };
  const Case cases[] = {{GKS_LOOP_ALT_BACK, 1, {0, 0, 0}, GKS_LOOP_ALT_BACK},
                        {GKS_LOOP_FORWARD, 3, {0, 1, 2, 0, 1}, GKS_LOOP_FORWARD},
                        {GKS_LOOP_BACKWARD, 3, {0, 2, 1, 0, 2}, GKS_LOOP_BACKWARD},
                        {GKS_LOOP_ALT_FORWARD, 3, {0, 1, 2, 1, 0, 1, 2, 1}, GKS_LOOP_ALT_BACK},
                        {GKS_LOOP_ALT_BACK, 3, {0, 1, 2, 1, 0, 1}, GKS_LOOP_ALT_FORWARD}};
  for (const Case &c : cases) {
    ginit_loop();
    make_frames(c.frames);
    gset_loop_direct(c.direction);
    std::vector<int> seen;
    while (seen.size() < c.shown.size()) {
      seen.push_back(ginc_frame(0));
      gdisplay_frame(seen.back());
    }
    EXPECT_EQ(seen, c.shown) << "direction " << c.direction << ", " << c.frames << " frames";
    EXPECT_EQ(gget_loop_direct(), c.direction_after);
  }
  // Explicit steps go their own way, wrap or turn, and show nothing.
  gset_loop_direct(GKS_LOOP_BACKWARD);
  gdisplay_frame(2);
  EXPECT_EQ((std::vector<int>{ginc_frame(1), ginc_frame(-1), gget_cur_frame()}), (std::vector<int>{0, 1, 2}));
  gset_loop_direct(GKS_LOOP_ALT_FORWARD);
  EXPECT_EQ((std::vector<int>{ginc_frame(1), gget_loop_direct()}), (std::vector<int>{1, GKS_LOOP_ALT_BACK}));
}

TEST_F(Frames, DelaySettersKeepTheEndPauseAndNeverGoNegative) {
  make_frames(1);
  gset_loop_delay(GKS_FRAME_ALL, 0.3f);
  EXPECT_EQ(delays(), Delays({1.0f}));
  make_frames(2);
  gset_loop_delay(GKS_FRAME_ALL, 0.3f);
  EXPECT_EQ(delays(), Delays({0.3f, 0.3f, 1.0f}));
  gset_loop_delay(GKS_FRAME_LAST, 2.0f);
  gdisplay_frame(1);
  gset_loop_delay(GKS_FRAME_CURRENT, 0.25f);
  gset_loop_delay(200, 4.0f);
  EXPECT_EQ(delays(), Delays({0.3f, 0.25f, 2.0f}));
  gset_loop_delay(1, -3.0f);
  gset_loop_delay(0, NAN);
  EXPECT_EQ(delays(), Delays({0.0f, 0.0f, 2.0f}));
  ginc_loop_delay(-1.0f);
  EXPECT_EQ(gget_loop_delay(), 0.0f);
  ginc_loop_delay(0.1f);
  EXPECT_EQ(delays(), Delays({0.1f, 0.1f, 2.0f}));
}

TEST_F(Frames, ShowingCopiesTheFrameToTheScreenAndNamesItInTheTitle) {
  make_frames(3);
  gdisplay_frame(2);
  EXPECT_EQ((Ids{pixel_at(gget_base_window(), 32, 24), pixel_at(window_, 0, 0), pixel_at(window_, 63, 47)}),
            Ids(3, pixel_[2]));
  EXPECT_EQ(std::string(gget_win_title()) + "/" + title_extra(), "D11 Ozava/[2]");
  gdisplay_frame(1);
  gdisplay_frame(-1);
  EXPECT_EQ(gget_cur_frame(), 1) << "-1 shows the current frame, not the last";
  gset_loop_title(0);
  gdisplay_frame(0);
  EXPECT_EQ(shown(), pixel_[0]);
  EXPECT_EQ(title_extra(), "[1]") << "without the loop title the extra stays";
}

TEST_F(Frames, SelectingCopyingAndSwitchingMoveDrawWindowPicturesAndPixmaps) {
  gselect_frame(-1);
  EXPECT_EQ(gget_draw_window(), gget_base_window()) << "no frames yet: the window";
  make_frames(2);
  gselect_frame(-1);
  EXPECT_EQ(gget_draw_window(), gget_frame_id(1));
  gselect_frame(5);
  EXPECT_EQ(gget_draw_window(), gget_base_window()) << "a slot without a pixmap";
  gcopy_frame(1, 0);
  EXPECT_EQ(colour(1), pixel_[0]);
  paint(gget_frame_id(1), solid(pixel_[1]));

  Ids before = ids(2);
  unsigned long base = gget_base_window();
  gselect_frame(0);
  gswitch_frame(0, 1);
  EXPECT_EQ(ids(2), (Ids{before[1], before[0]}));
  EXPECT_EQ(gget_draw_window(), before[1]) << "the draw window follows slot 0";
  gswitch_frame(0, GKS_FRAME_WINDOW);
  EXPECT_EQ((Ids{gget_base_window(), gget_frame_id(0)}), (Ids{before[1], base}));
  gupdate_window();
  EXPECT_EQ(shown(), pixel_[1]);
  gswitch_frame(GKS_FRAME_WINDOW, 7);
  EXPECT_EQ(gget_base_window(), before[1]) << "slot 7 has no pixmap: the window keeps its own";
}

TEST_F(Frames, LiveLoopsAppendAndDropWhileTheScreenDrawTargetAndEndPauseStayWithTheirPictures) {
  make_frames(3);
  Ids before = ids(3);
  gset_loop_delay(1, 0.7f);
  gset_loop_delay(-1, 2.5f);
  EXPECT_EQ(gappend_frame(), 3);
  EXPECT_EQ(delays(), Delays({0.5f, 0.7f, 0.5f, 2.5f})) << "the end pause moves on to the newest frame";
  const unsigned long newest = gget_frame_id(3);
  gdisplay_frame(2);
  gselect_frame(2);
  EXPECT_EQ(gremove_frame(0), 1);
  EXPECT_EQ(ids(4), (Ids{before[1], before[2], newest, 0}));
  EXPECT_EQ(delays(), Delays({0.7f, 0.5f, 2.5f}));
  EXPECT_EQ((Ints{gget_cur_frame(), static_cast<long>(gget_draw_window())}), (Ints{1, static_cast<long>(before[2])}));
  EXPECT_FALSE(exists(before[0]));

  gselect_frame(0);
  EXPECT_EQ(groll_frame(), 2);
  EXPECT_EQ(ids(3), (Ids{before[2], newest, before[1]})) << "the oldest pixmap holds the newest frame";
  EXPECT_EQ((Ints{static_cast<long>(colour(2)), gget_cur_frame()}), (Ints{static_cast<long>(pixel_[1]), 0}));
  EXPECT_EQ(delays(), Delays({0.5f, 0.5f, 2.5f}));
  EXPECT_EQ(gget_draw_window(), gget_base_window()) << "the oldest picture's draw target went with it";
  EXPECT_EQ(shown(), pixel_[2]) << "nothing redrawn";
  EXPECT_EQ(gremove_frame(2), 1);
  paint(gget_frame_id(1), solid(pixel_[3]));
  gdisplay_frame(0);
  EXPECT_EQ(gremove_frame(0), 1) << "the frame on show";
  EXPECT_EQ(shown(), pixel_[2]) << "stays on show";
  EXPECT_EQ((Ints{gget_cur_frame(), ginc_frame(0)}), (Ints{-1, 0})) << "the frame that followed comes next";
  gselect_frame(0);
  EXPECT_EQ(gremove_frame(0), 1) << "the draw target's frame";
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  EXPECT_EQ((Ints{gget_num_images(), gremove_frame(0), gappend_frame()}), (Ints{0, 0, 0}));
  EXPECT_EQ(delays(), Delays({1.0f}));
  gset_loop_delay(0, 3.0f);
  EXPECT_EQ(groll_frame(), 0);
  EXPECT_EQ(delays(), Delays({3.0f})) << "a lone frame hands on its pause";

  gset_first_pause(0.4f);
  gdisplay_frame(0);
  EXPECT_EQ((std::vector<float>{gget_frame_delay(0), gget_frame_delay(-2)}), (std::vector<float>{3.0f, 3.4f}))
      << "only the time on show grows";
  gset_first_pause(0.0f);
}

TEST_F(Frames, ReferencesToNothingAreIgnoredWithoutXErrors) {
  gclr_xerror();
  EXPECT_EQ((Ints{gclear_frame(300), gclear_frame(-1), gcopy_frame(-1, 200), gcopy_frame(-3, -2), gdisplay_frame(500),
                  gdelete_frame(-3), gdelete_frame(-4), gdelete_frame(128), gswitch_frame(-1, 900),
                  static_cast<long>(gget_frame_id(-2)), static_cast<long>(gget_frame_id(128))}),
            Ints(11, 0));
  EXPECT_EQ((Ints{gset_frame_id(128, 5), gset_image_data(-9, "x", 1)}), (Ints{-1, -1}));
  char big[100] = {};
  make_frames(1);
  EXPECT_EQ((Ints{gset_image_data(0, big, 100), gset_image_data(0, big, -5)}), (Ints{GKS_FRAME_DATA_MAX, 0}));
  XSync(gget_display(), False);
  EXPECT_EQ(gget_xerror(), 0);
}

}  // namespace
}  // namespace zyb_test
