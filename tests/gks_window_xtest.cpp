// The workstation on a real X server: the window's place, size, names and
// hints, clearing and refreshing, resizing, and what X errors do.
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "gks/gks.h"
#include "gks/gks_state.h"
#include "util/resrc.h"

namespace {

class Window_ : public ::testing::Test {
 protected:
  void SetUp() override {
    // A server whose last client leaves resets itself; the processes of the
    // death tests come and go, so one connection stays for the whole run.
    static Display *keeper = XOpenDisplay(nullptr);
    ASSERT_NE(keeper, nullptr);
    RES_put("geometry", "");
    RES_put("title", "");
    RES_put("name", "");
    gset_xsize(0, 0);
    gopen_gks(nullptr, 0);
  }
  void TearDown() override {
    gclose_ws(0);
    gclose_gks();
  }
  void open(int w = 0, int h = 0) {
    if (w) {
      ASSERT_EQ(gset_xsize(w, h), 0);
    }
    ASSERT_EQ(gopen_ws(0, nullptr, 1), 0);
    dpy_ = gget_display();
  }
  XWindowAttributes attributes() {
    XWindowAttributes attr{};
    XGetWindowAttributes(dpy_, gget_root_window(), &attr);
    return attr;
  }
  long hint_flags() {
    XSizeHints hints{};
    long supplied = 0;
    XGetWMNormalHints(dpy_, gget_root_window(), &hints, &supplied);
    return hints.flags;
  }
  std::string window_name() {
    char *name = nullptr;
    std::string out;
    if (XFetchName(dpy_, gget_root_window(), &name) && name) out = name;
    if (name) XFree(name);
    return out;
  }
  std::string icon_name() {
    char *name = nullptr;
    std::string out;
    if (XGetIconName(dpy_, gget_root_window(), &name) && name) out = name;
    if (name) XFree(name);
    return out;
  }
  unsigned long pixel_at(Drawable d, int x, int y) {
    XImage *img = XGetImage(dpy_, d, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return ~0ul;
    unsigned long p = XGetPixel(img, 0, 0);
    XDestroyImage(img);
    return p;
  }
  void fill(Drawable d, unsigned long pixel, int x, int y, int w, int h) {
    GC gc = XCreateGC(dpy_, gget_root_window(), 0, nullptr);
    XSetForeground(dpy_, gc, pixel);
    XFillRectangle(dpy_, d, gc, x, y, (unsigned)w, (unsigned)h);
    XFreeGC(dpy_, gc);
    XSync(dpy_, False);
  }
  unsigned long white() { return WhitePixel(dpy_, gget_screen()); }

  Display *dpy_ = nullptr;
};

TEST_F(Window_, OpensAt100_100With640x512AndItsHints) {
  ASSERT_NO_FATAL_FAILURE(open());
  XWindowAttributes attr = attributes();
  EXPECT_EQ(attr.x, 100);
  EXPECT_EQ(attr.y, 100);
  EXPECT_EQ(attr.width, 640);
  EXPECT_EQ(attr.height, 512);
  EXPECT_EQ(attr.border_width, 5);
  EXPECT_EQ(gget_window_width(), 640);
  EXPECT_EQ(gget_window_height(), 512);
  long flags = hint_flags();
  EXPECT_TRUE(flags & PPosition);
  EXPECT_TRUE(flags & PSize);
  EXPECT_FALSE(flags & (USPosition | USSize));

  XClassHint hint{};
  ASSERT_TRUE(XGetClassHint(dpy_, gget_root_window(), &hint));
  EXPECT_STREQ(hint.res_class, "Zyb");
  EXPECT_STREQ(hint.res_name, gget_prog_name());
  XFree(hint.res_name);
  XFree(hint.res_class);

  XWMHints *wm = XGetWMHints(dpy_, gget_root_window());
  ASSERT_NE(wm, nullptr);
  EXPECT_EQ(wm->initial_state, NormalState);
  EXPECT_TRUE(wm->input);
  Window root;
  int x, y;
  unsigned w, h, border, depth;
  ASSERT_TRUE(XGetGeometry(dpy_, wm->icon_pixmap, &root, &x, &y, &w, &h, &border, &depth));
  EXPECT_EQ(w, 48u);
  EXPECT_EQ(depth, 1u);
  XFree(wm);

  ASSERT_TRUE(XGetGeometry(dpy_, gget_base_window(), &root, &x, &y, &w, &h, &border, &depth));
  EXPECT_EQ(w, 640u);
  EXPECT_EQ(h, 512u);
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  EXPECT_EQ(gget_cursor_type(), GKS_CURSOR_WAIT);
  EXPECT_EQ(gchk_graphics(), 1);
  EXPECT_EQ(gget_win_type(), GKS_WIN);
}

TEST_F(Window_, GeometryFromTheRightAndBottomEdges) {
  RES_put("geometry", "800x600-0-0");
  ASSERT_NO_FATAL_FAILURE(open());
  XWindowAttributes attr = attributes();
  int sw = DisplayWidth(dpy_, gget_screen()), sh = DisplayHeight(dpy_, gget_screen());
  EXPECT_EQ(attr.width, 800);
  EXPECT_EQ(attr.height, 600);
  EXPECT_EQ(attr.x, sw - 800);
  EXPECT_EQ(attr.y, sh - 600);
  long flags = hint_flags();
  EXPECT_TRUE(flags & USPosition);
  EXPECT_TRUE(flags & USSize);
}

TEST_F(Window_, ZeroSizeInTheGeometryIsDropped) {
  RES_put("geometry", "0x0+10+20");
  ASSERT_NO_FATAL_FAILURE(open());
  XWindowAttributes attr = attributes();
  EXPECT_EQ(attr.width, 640);
  EXPECT_EQ(attr.height, 512);
  EXPECT_EQ(attr.x, 10);
  EXPECT_EQ(attr.y, 20);
  EXPECT_FALSE(hint_flags() & USSize);
  EXPECT_TRUE(hint_flags() & USPosition);
}

TEST_F(Window_, SizeSetBeforeOpeningIsUsed) {
  ASSERT_NO_FATAL_FAILURE(open(320, 200));
  EXPECT_EQ(attributes().width, 320);
  EXPECT_EQ(gget_window_height(), 200);
}

TEST_F(Window_, UnderscoresShowAsBlanksOnlyWhenTheWindowOpens) {
  EXPECT_EQ(gset_win_title("Radar_Loop"), -1);  // no window yet, but kept
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(window_name(), "Radar Loop");
  EXPECT_EQ(icon_name(), "Radar Loop");
  EXPECT_EQ(gset_win_title("A_B"), 0);
  EXPECT_EQ(window_name(), "A_B");
  EXPECT_EQ(icon_name(), "A_B");
}

TEST_F(Window_, TitleExtraFollowsTheTitle) {
  ASSERT_NO_FATAL_FAILURE(open());
  gset_win_title("Loop");
  EXPECT_EQ(gset_win_title_extra("[3]"), 0);
  EXPECT_EQ(window_name(), "Loop [3]");
  EXPECT_EQ(icon_name(), "Loop");
  char extra[GKS_TITLE_EXTRA_MAX + 1];
  EXPECT_EQ(gget_win_title_extra(extra), 0);
  EXPECT_STREQ(extra, "[3]");
  gset_win_title_extra("");
  EXPECT_EQ(window_name(), "Loop");
  gget_win_title_extra(extra);
  EXPECT_STREQ(extra, "");
}

TEST_F(Window_, LongTitlesAreCut) {
  ASSERT_NO_FATAL_FAILURE(open());
  std::string long_title(100, 't');
  gset_win_title(long_title.c_str());
  EXPECT_EQ(window_name(), std::string(GKS_TITLE_MAX, 't'));
  gset_win_title_extra(std::string(50, 'e').c_str());
  std::string name = window_name();
  EXPECT_EQ(name.size(), (size_t)GKS_TITLE_EXTRA_MAX);
  EXPECT_EQ(name.substr(0, GKS_TITLE_MAX + 1), std::string(GKS_TITLE_MAX, 't') + " ");
}

TEST_F(Window_, TitlesWithoutAWindowFail) {
  char extra[GKS_TITLE_EXTRA_MAX + 1] = "x";
  EXPECT_EQ(gset_win_title_extra("[1]"), -1);
  EXPECT_EQ(gget_win_title_extra(extra), -1);
  EXPECT_STREQ(extra, "");
  EXPECT_EQ(gupdate_window(), -1);
}

TEST_F(Window_, ProgramTitleComesFromTheResources) {
  RES_put("name", "+radar");
  GPH_set_win_title();
  EXPECT_STREQ(gget_win_title(), "radar");
  EXPECT_STREQ(gget_prog_name(), "+radar");
  RES_put("title", "Visible Loop");
  GPH_set_win_title();
  EXPECT_STREQ(gget_win_title(), "Visible Loop");
  gset_prog_name("a-name-that-is-much-too-long");
  EXPECT_EQ(std::string(gget_prog_name()).size(), (size_t)GKS_PROG_NAME_MAX);
  gset_prog_name("D11_Ozava");
  gset_win_title("D11_Ozava");
}

TEST_F(Window_, ClearingTheWorkstationReachesTheScreenOnlyOnUpdate) {
  ASSERT_NO_FATAL_FAILURE(open(80, 60));
  fill(gget_base_window(), white(), 0, 0, 80, 60);
  ASSERT_EQ(gupdate_window(), 0);
  ASSERT_EQ(pixel_at(gget_root_window(), 40, 30), white());
  gclear_ws(0, 1);
  unsigned long back = (unsigned long)gget_back_color();
  ASSERT_NE(back, white());
  EXPECT_EQ(pixel_at(gget_base_window(), 40, 30), back);
  EXPECT_EQ(pixel_at(gget_root_window(), 40, 30), white());
  gupdate_window();
  EXPECT_EQ(pixel_at(gget_root_window(), 40, 30), back);
}

TEST_F(Window_, InverseFromTheEnvironmentMakesTheBackgroundWhite) {
  setenv("zybinverse", "1", 1);
  ASSERT_NO_FATAL_FAILURE(open(80, 60));
  unsetenv("zybinverse");
  EXPECT_EQ(gget_inverse(), 1);
  EXPECT_EQ(pixel_at(gget_base_window(), 10, 10), white());
  XClearWindow(dpy_, gget_root_window());
  XSync(dpy_, False);
  EXPECT_EQ(pixel_at(gget_root_window(), 10, 10), white());
  EXPECT_EQ(gget_fore_color(), BlackPixel(dpy_, gget_screen()));
  gclose_ws(0);
  gset_inverse(0);
}

TEST_F(Window_, ResizingKeepsTheTopLeftPictureAndDropsTheFrames) {
  ASSERT_NO_FATAL_FAILURE(open(100, 80));
  fill(gget_base_window(), white(), 5, 5, 10, 10);
  gcreate_frame(-1);
  gcreate_frame(-1);
  unsigned long frame = gget_frame_id(0);
  EXPECT_EQ(gresize_window(-1, -1), 0);  // nothing changed yet

  XResizeWindow(dpy_, gget_root_window(), 200, 150);
  XSync(dpy_, False);
  ASSERT_EQ(gresize_window(-1, -1), 1);
  ginit_plot(1);
  EXPECT_EQ(gget_window_width(), 200);
  EXPECT_EQ(gget_window_height(), 150);
  int rw = 0, rh = 0;
  gget_root_size(&rw, &rh);
  EXPECT_EQ(rw, 200);
  EXPECT_EQ(rh, 150);
  EXPECT_EQ(gget_num_images(), 0);
  EXPECT_EQ(gget_frame_id(0), 0ul);
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  EXPECT_EQ(pixel_at(gget_base_window(), 7, 7), white());
  EXPECT_NE(pixel_at(gget_base_window(), 150, 120), white());

  gset_xerror_print(0);
  gclr_xerror();
  Window root;
  int x, y;
  unsigned w, h, border, depth;
  XGetGeometry(dpy_, frame, &root, &x, &y, &w, &h, &border, &depth);
  XSync(dpy_, False);
  EXPECT_EQ(gget_xerror(), 1);  // the frame pixmap is gone
  gset_xerror_print(1);
  gclr_xerror();
  EXPECT_EQ(gcreate_frame(-1), 0);  // new frames take the new size
  ASSERT_TRUE(XGetGeometry(dpy_, gget_frame_id(0), &root, &x, &y, &w, &h, &border, &depth));
  EXPECT_EQ(w, 200u);
}

TEST_F(Window_, SizeRequestsCompleteThroughTheConfigureEvent) {
  ASSERT_NO_FATAL_FAILURE(open(100, 80));
  ASSERT_EQ(gset_xsize(120, 90), 0);
  EXPECT_EQ(attributes().width, 120);
  EXPECT_EQ(gget_window_width(), 120);  // reported at once
  EXPECT_EQ(gget_window_height(), 90);
  gcheck_event();
  Window root;
  int x, y;
  unsigned w, h, border, depth;
  ASSERT_TRUE(XGetGeometry(dpy_, gget_base_window(), &root, &x, &y, &w, &h, &border, &depth));
  EXPECT_EQ(w, 120u);
  EXPECT_EQ(h, 90u);
  int rw = 0, rh = 0;
  gget_root_size(&rw, &rh);
  EXPECT_EQ(rw, 120);
}

TEST_F(Window_, BadSizesNeverReachTheServer) {
  ASSERT_NO_FATAL_FAILURE(open(100, 80));
  gclr_xerror();
  EXPECT_EQ(gset_xsize(0, 0), -1);
  EXPECT_EQ(gset_xsize(-5, 10), -1);
  EXPECT_EQ(gset_xsize(40000, 10), -1);
  EXPECT_EQ(gresize_window(0, 0), 0);
  XSync(dpy_, False);
  EXPECT_EQ(gget_xerror(), 0);
  EXPECT_EQ(attributes().width, 100);
}

TEST_F(Window_, CursorCallsReturnThePreviousType) {
  ASSERT_NO_FATAL_FAILURE(open(40, 40));
  EXPECT_EQ(gset_cursor(GKS_CURSOR_LOOP), GKS_CURSOR_WAIT);
  EXPECT_EQ(gset_cursor(GKS_CURSOR_STOP), GKS_CURSOR_LOOP);
  EXPECT_EQ(gset_cursor(42), GKS_CURSOR_STOP);  // recorded, nothing defined
  EXPECT_EQ(gget_cursor_type(), 42);
  gclr_xerror();
  gbell(0);
  gbell(500);
  XSync(dpy_, False);
  EXPECT_EQ(gget_xerror(), 0);
}

TEST_F(Window_, ClearingARegionFillsItsPixelsWithTheBackground) {
  ASSERT_NO_FATAL_FAILURE(open(64, 48));  // unit world on a 47 x 47 plot rectangle
  fill(gget_base_window(), white(), 0, 0, 64, 48);
  const float rect[4] = {0.25f, 0.5f, 0.25f, 0.5f};
  gclear_region(rect);
  XSync(dpy_, False);
  EXPECT_EQ(pixel_at(gget_base_window(), 18, 30), (unsigned long)gget_back_color());
  EXPECT_EQ(pixel_at(gget_base_window(), 5, 5), white());
  EXPECT_EQ(pixel_at(gget_base_window(), 30, 30), white());
}

TEST_F(Window_, OpeningFailsCleanlyWithoutADisplay) {
  EXPECT_EQ(gopen_ws(0, ":999,extra", 1), -1);
  EXPECT_EQ(gchk_graphics(), 0);
  EXPECT_EQ(gclose_ws(0), -1);
  EXPECT_EQ(gopen_ws(0, nullptr, GKS_PS + 100), -1);
}

TEST_F(Window_, ClosingReleasesTheWindow) {
  ASSERT_NO_FATAL_FAILURE(open(50, 50));
  unsigned long win = gget_root_window();
  Display *probe = XOpenDisplay(nullptr);
  ASSERT_NE(probe, nullptr);
  XWindowAttributes attr;
  ASSERT_TRUE(XGetWindowAttributes(probe, win, &attr));
  EXPECT_EQ(gclose_ws(0), 0);
  EXPECT_EQ(gchk_graphics(), 0);
  EXPECT_EQ(gget_root_window(), 0ul);
  EXPECT_EQ(gget_window_width(), 0);
  auto previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  EXPECT_FALSE(XGetWindowAttributes(probe, win, &attr));
  XCloseDisplay(probe);
  XSetErrorHandler(previous);
}

TEST_F(Window_, ErrorFileNeedsAWritablePlace) {
  EXPECT_EQ(gopen_gks("/proc/no/such/place/errors", 0), 1);
  EXPECT_EQ(gopen_gks(nullptr, 0), 0);
}

using WindowDeathTest = Window_;

TEST_F(WindowDeathTest, TwentyFifthXErrorEndsTheProcessWithStatus4) {
  EXPECT_EXIT(
      {
        open(40, 40);
        for (int i = 0; i < 24; ++i) XFreePixmap(dpy_, 0x7fffff0);
        XSync(dpy_, False);
        std::fprintf(stderr, "24 survived\n");
        XFreePixmap(dpy_, 0x7fffff0);
        XSync(dpy_, False);
        std::fprintf(stderr, "25 survived\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(4), "24 survived");
}

TEST_F(WindowDeathTest, LostConnectionEndsTheProcessWithStatus4) {
  EXPECT_EXIT(
      {
        open(40, 40);
        close(ConnectionNumber(dpy_));
        XSync(dpy_, False);
        std::exit(0);
      },
      ::testing::ExitedWithCode(4), "");
}

}  // namespace
