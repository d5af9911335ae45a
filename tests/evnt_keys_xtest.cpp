// Keys and mouse buttons in the window: quitting, input modes, stepping,
// loop speed, deleting frames and the GIF and XWD dumps.
#include <cstdio>
#include <cstring>

#include "evnt_window.h"
#include "proc_util.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace zyb_test {
namespace {

using Keys = KernelWindow;

TEST_F(Keys, ReturnWithAnyModifiersAndAltQQuitOnceInputIsOn) {
  gset_input_mode(0);  // keys still count as user events, but do nothing
  send_key(XK_Return);
  send_key(XK_q, Mod1Mask);
  EXPECT_EQ(serve_user_events(2), 2);
  EXPECT_EQ(gget_input_mode(), 1);

  gset_input_mode(1);
  press(XK_q);
  press(XK_q, Mod1Mask | ShiftMask);  // keysym Q: case matters
  EXPECT_EQ(gget_input_mode(), 1);
  press(XK_q, Mod1Mask);
  EXPECT_EQ(gget_input_mode(), 0);

  gset_input_mode(1);
  press(XK_Return, ControlMask | Mod1Mask | ShiftMask);
  EXPECT_EQ(gget_input_mode(), 0);

  gset_input_mode(1);
  type_with_alt(XK_q, 30, 30);  // from the real keyboard: Alt and q are two key presses
  EXPECT_EQ(serve_user_events(2), 2);
  EXPECT_EQ(gget_input_mode(), 0);
}

TEST_F(Keys, StoppedKeysAndButtonsStepDeleteAndToggle) {
  make_patterned_frames(3);
  gdisplay_frame(0);
  press(XK_bracketright, Mod1Mask);
  EXPECT_EQ(gget_cur_frame(), 1);
  press(XK_bracketleft, Mod1Mask);
  press(XK_bracketleft, Mod1Mask);
  EXPECT_EQ(gget_cur_frame(), 2) << "back from frame 0 wraps";
  click(Button1);
  EXPECT_EQ(gget_cur_frame(), 1);
  XWarpPointer(user_, None, window_, 0, 0, 0, 0, 50, 60);  // a real click in the window
  XTestFakeButtonEvent(user_, 3, True, 0);
  XTestFakeButtonEvent(user_, 3, False, 0);
  EXPECT_EQ(serve_user_events(1), 1);
  click(Button3, Mod1Mask);  // buttons do nothing with Alt
  press(XK_bracketright);    // nor letters and brackets without it
  EXPECT_EQ(gget_cur_frame(), 2);
  EXPECT_EQ(mismatches(window_, pattern(3)), 0) << first_miss_;

  unsigned long first = gget_frame_id(0);
  gdisplay_frame(1);
  press(XK_d);
  press(XK_d, Mod1Mask);
  EXPECT_EQ(gget_num_images(), 2);
  EXPECT_EQ(gget_frame_id(0), first);

  press(XK_l, Mod1Mask);
  EXPECT_EQ(gget_looping(), 1);
  click(Button2);
  EXPECT_EQ(gget_looping(), 0);
}

TEST_F(Keys, LoopingKeysAndButtonsTuneTheDelay) {
  make_patterned_frames(3);
  gset_looping(1);
  struct Case {
    KeySym key;
    unsigned int button;
    float before, after;
  } cases[] = {
      {XK_bracketright, 0, 0.10f, 0.05f}, {XK_bracketright, 0, 0.50f, 0.40f},
      {XK_bracketleft, 0, 0.05f, 0.10f},  {XK_bracketleft, 0, 0.09f, 0.19f},
      {0, Button1, 0.05f, 0.10f},         {0, Button1, 0.09f, 0.19f},
      {0, Button3, 0.11f, 0.06f},         {0, Button3, 0.50f, 0.40f},
      {XK_bracketright, 0, 0.03f, 0.00f},  // never below zero
      // A hair off a threshold after float arithmetic counts as on it.
      {XK_bracketleft, 0, 0.08997f, 0.18997f},
      {XK_bracketright, 0, 0.11003f, 0.06003f},
  };
  for (const Case &c : cases) {
    ginc_loop_delay(c.before - gget_loop_delay());
    if (c.key) press(c.key, Mod1Mask);
    if (c.button) click(c.button);
    EXPECT_NEAR(gget_loop_delay(), c.after, 1e-4) << c.key << "/" << c.button << " at " << c.before;
  }
  EXPECT_EQ(gget_cur_frame(), -1) << "no stepping while looping";
  EXPECT_NEAR(gget_frame_delay(2), 1.0f, 1e-4) << "the last frame keeps its pause";
}

// ---------------------------------------------------------------------------
// Dumps

class Dumps : public KernelWindow {
 protected:
  void SetUp() override {
    KernelWindow::SetUp();
    RES_put("image_path", dir_.path().c_str());
    gset_win_title("Radar Loop");
    for (int k = 0; k < 3; k++) colours_[k] = galloc_colr(k + 1, k == 0, k == 1, k == 2);
    ASSERT_EQ(MESS_file(log().c_str(), "w"), 0);
  }
  void TearDown() override {
    MESS_file_close();
    KernelWindow::TearDown();
  }
  std::string log() const { return dir_ / "messages.log"; }
  void make_coloured_frames(int count) {
    for (int k = 0; k < count; k++) {
      unsigned long pixel = colours_[k];
      paint(gget_frame_id(gcreate_frame(-1)), [pixel](int, int) { return pixel; });
    }
  }
  bool logged(const std::string &text) { return read_file(log()).find(text) != std::string::npos; }

  // Pixel (5, 5) of a dump file is pure red, green or blue (colour k).
  void expect_colour(const std::string &name, int k) {
    SCOPED_TRACE(name);
    std::string path = dir_ / name;
    std::string command = "/usr/bin/convert '" + path + "' -format '%w %h ' -write info:- " +
                          "-crop 1x1+5+5 -depth 8 txt:- 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char text[512] = {};
    text[fread(text, 1, sizeof text - 1, pipe)] = '\0';
    pclose(pipe);
    int w = 0, h = 0;
    unsigned rgb[3] = {};
    std::sscanf(text, "%d %d", &w, &h);
    EXPECT_EQ(w, width_);
    EXPECT_EQ(h, height_);
    // Our colour-mapped XWD files carry 16-byte colour entries, which other
    // readers take for the 12-byte kind: only their size is checked here.
    if (depth_ == 8 && name.find(".xwd") != std::string::npos) return;
    const char *pixel = std::strstr(text, "0,0:");
    const char *hash = pixel ? std::strchr(pixel, '#') : nullptr;
    ASSERT_NE(hash, nullptr) << text;
    std::sscanf(hash + 1, "%2x%2x%2x", &rgb[0], &rgb[1], &rgb[2]);
    for (int c = 0; c < 3; c++) EXPECT_NEAR(rgb[c], c == k ? 255 : 0, 8) << "channel " << c;
  }

  TempDir dir_;
  unsigned long colours_[3] = {};
};

TEST_F(Dumps, OneFrameOrNoneGoesToTheTitleNamedFile) {
  make_coloured_frames(1);
  gselect_frame(0);
  press(XK_g, Mod1Mask);
  expect_colour("Radar.gif", 0);
  EXPECT_TRUE(logged("Created GIF file: " + (dir_ / "Radar.gif") + "\n"));

  gset_win_title("My Loop");
  gselect_frame(-3);
  unsigned long blue = colours_[2];
  paint(gget_base_window(), [blue](int, int) { return blue; });
  press(XK_g, Mod1Mask);
  expect_colour("My_Lo.gif", 2);
}

TEST_F(Dumps, LoopingWritesEveryFrameAndLeavesTheLastSelected) {
  make_coloured_frames(3);
  gset_looping(1);
  press(XK_g, Mod1Mask);
  for (int k = 0; k < 3; k++) expect_colour("Radar-0" + std::to_string(k) + ".gif", k);
  EXPECT_TRUE(logged("Creating GIF files:\n" + (dir_ / "Radar-00.gif") + "\n" +
                     (dir_ / "Radar-01.gif") + "\n" + (dir_ / "Radar-02.gif") + "\n"));
  EXPECT_EQ(gget_draw_window(), gget_frame_id(2));
}

TEST_F(Dumps, StoppedWritesOnlyTheCurrentFrame) {
  make_coloured_frames(3);
  gdisplay_frame(1);
  press(XK_x, Mod1Mask);
  expect_colour("Radar-01.xwd", 1);
  EXPECT_FALSE(std::ifstream(dir_ / "Radar-00.xwd").good());
  EXPECT_TRUE(logged("Created XWD file: " + (dir_ / "Radar-01.xwd") + "\n"));
}

TEST_F(Dumps, FailureIsReportedAndTheCursorRestored) {
  RES_put("image_path", "/proc/no/such/place");
  gset_cursor(GKS_CURSOR_STOP);
  press(XK_x, Mod1Mask);
  EXPECT_TRUE(logged("gprocess_x11_event: Unable to write XWD file: /proc/no/such/place/Radar.xwd\n"));
  EXPECT_EQ(gget_cursor_type(), GKS_CURSOR_STOP);
}

}  // namespace
}  // namespace zyb_test
