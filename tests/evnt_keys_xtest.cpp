// Keys and mouse buttons in the window: quitting, input modes, stepping,
// loop speed, deleting frames and the GIF and XWD dumps.
#include "evnt_window.h"
#include "image_util.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace zyb_test {
namespace {

using Keys = KernelWindow;

TEST_F(Keys, ReturnWithAnyModifiersAndAltQQuitOnceInputIsOn) {
  struct Row {
    int input_mode;
    KeySym key;
    unsigned int state;
    int still_running;
  } rows[] = {
      {0, XK_Return, 0, 1},  // keys before input is on count as user events, but do nothing
      {0, XK_q, Mod1Mask, 1},
      {1, XK_q, 0, 1},
      {1, XK_q, Mod1Mask | ShiftMask, 1},  // keysym Q: case matters
      {1, XK_q, Mod1Mask, 0},
      {1, XK_Return, ControlMask | Mod1Mask | ShiftMask, 0},
  };
  for (const Row &row : rows) {
    gset_input_mode(row.input_mode);
    press(row.key, row.state);
    EXPECT_EQ(gget_input_mode(), row.still_running) << XKeysymToString(row.key) << " in state " << row.state;
  }
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
  for (int i = 0; i < 2; i++) press(XK_bracketleft, Mod1Mask);
  EXPECT_EQ(gget_cur_frame(), 2) << "back from frame 0 wraps";
  click(Button1);
  EXPECT_EQ(gget_cur_frame(), 1);
  click(Button3);
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
      {XK_bracketright, 0, 0.10f, 0.05f},
      {XK_bracketright, 0, 0.50f, 0.40f},
      {XK_bracketleft, 0, 0.05f, 0.10f},
      {XK_bracketleft, 0, 0.09f, 0.19f},
      {0, Button1, 0.05f, 0.10f},
      {0, Button1, 0.09f, 0.19f},
      {0, Button3, 0.11f, 0.06f},
      {0, Button3, 0.50f, 0.40f},
      {XK_bracketright, 0, 0.03f, 0.00f},
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

// Frame k shows pure red, green or blue; each dump is checked as
// ImageMagick decodes it.
class Dumps : public KernelWindow {
 protected:
  void SetUp() override {
    KernelWindow::SetUp();
    RES_put("image_path", dir_.path().c_str());
    gset_win_title("Radar Loop");
    for (int k = 0; k < 3; k++) colours_[k] = galloc_colr(k + 1, k == 0, k == 1, k == 2);
    ASSERT_EQ(MESS_file((dir_ / "log").c_str(), "w"), 0);
  }
  void TearDown() override {
    MESS_file_close();
    KernelWindow::TearDown();
  }
  void make_coloured_frames(int count) {
    for (int k = 0; k < count; k++) paint(gget_frame_id(gcreate_frame(-1)), solid(colours_[k]));
  }
  bool logged(const std::string &text) { return read_file(dir_ / "log").find(text) != std::string::npos; }
  // Our colour-mapped XWD files carry 16-byte colour entries, which other
  // readers take for the 12-byte kind: only their size is checked.
  void expect_colour(const std::string &name, int k) {
    Picture p = magick_decode(dir_ / name);
    EXPECT_EQ((Ints{p.width, p.height}), (Ints{width_, height_})) << name;
    if (p.pixels.empty() || (depth_ == 8 && name.find(".xwd") != std::string::npos)) return;
    Rgb c = p.at(5, 5);
    EXPECT_LT(std::abs(c.r - (k == 0) * 255) + std::abs(c.g - (k == 1) * 255) + std::abs(c.b - (k == 2) * 255), 24)
        << name << ": " << static_cast<int>(c.r) << " " << static_cast<int>(c.g) << " " << static_cast<int>(c.b);
  }

  TempDir dir_;
  unsigned long colours_[3] = {};
};

TEST_F(Dumps, OneFrameOrNoneGoesToTheTitleNamedFileAndFailuresAreReported) {
  make_coloured_frames(1);
  gselect_frame(0);
  press(XK_g, Mod1Mask);
  expect_colour("Radar.gif", 0);
  EXPECT_TRUE(logged("Created GIF file: " + (dir_ / "Radar.gif") + "\n"));

  gset_win_title("My Loop");
  gselect_frame(-3);
  paint(gget_base_window(), solid(colours_[2]));
  press(XK_g, Mod1Mask);
  expect_colour("My_Lo.gif", 2);

  RES_put("image_path", "/proc/no/such/place");
  gset_cursor(GKS_CURSOR_STOP);
  press(XK_x, Mod1Mask);
  EXPECT_TRUE(logged("gprocess_x11_event: Unable to write XWD file: /proc/no/such/place/My_Lo.xwd\n"));
  EXPECT_EQ(gget_cursor_type(), GKS_CURSOR_STOP) << "the cursor is restored";
}

TEST_F(Dumps, LoopingWritesEveryFrameAndStoppedOnlyTheCurrentOne) {
  make_coloured_frames(3);
  gset_looping(1);
  press(XK_g, Mod1Mask);
  for (int k = 0; k < 3; k++) expect_colour("Radar-0" + std::to_string(k) + ".gif", k);
  EXPECT_TRUE(logged("Creating GIF files:\n" + (dir_ / "Radar-00.gif") + "\n" + (dir_ / "Radar-01.gif") + "\n" +
                     (dir_ / "Radar-02.gif") + "\n"));
  EXPECT_EQ(gget_draw_window(), gget_frame_id(2)) << "the last frame stays selected";

  gset_looping(0);
  gdisplay_frame(1);
  press(XK_x, Mod1Mask);
  expect_colour("Radar-01.xwd", 1);
  EXPECT_FALSE(std::ifstream(dir_ / "Radar-00.xwd").good());
  EXPECT_TRUE(logged("Created XWD file: " + (dir_ / "Radar-01.xwd") + "\n"));
}

}  // namespace
}  // namespace zyb_test
