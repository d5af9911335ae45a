// The workstation on a real X server: the window's place, size, names and
// hints, clearing and refreshing, resizing, and what X errors do.
#include "evnt_window.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>

#include "util/resrc.h"

namespace zyb_test {
namespace {

class Workstation : public KernelWindow {
 protected:
  void SetUp() override {
    for (const char *name : {"geometry", "title", "name"}) RES_put(name, "");
    user_ = user_display();  // held open: the death tests' processes come and go
    ASSERT_EQ(gopen_gks(nullptr, 0), 0);
  }
  XWindowAttributes attributes() {
    XWindowAttributes attr{};
    return XGetWindowAttributes(user_, window_, &attr), attr;
  }
  std::string name(Status (*fetch)(Display *, Window, char **) = XFetchName) {
    return window_title(window_, user_, fetch);
  }
  unsigned long white() { return WhitePixel(user_, DefaultScreen(user_)); }
};

TEST_F(Workstation, PlaceAndSizeFollowTheGeometryAndTheSizeAsked) {
  struct Row {
    const char *geometry;
    int ask_w, ask_h;
    int x, y, w, h;  // x, y below 0: against the right and bottom edges
    long us_flags;
  };
  const Row rows[] = {{"", 0, 0, 100, 100, 640, 512, 0},
                      {"", 320, 200, 100, 100, 320, 200, 0},
                      {"800x600-0-0", 0, 0, -1, -1, 800, 600, USPosition | USSize},
                      {"0x0+10+20", 0, 0, 10, 20, 640, 512, USPosition}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.geometry);
    RES_put("geometry", row.geometry);
    ASSERT_NO_FATAL_FAILURE(open_window(row.ask_w, row.ask_h));
    XWindowAttributes attr = attributes();
    EXPECT_EQ((Ints{attr.x, attr.y}), (Ints{row.x < 0 ? DisplayWidth(user_, 0) - row.w : row.x,
                                            row.y < 0 ? DisplayHeight(user_, 0) - row.h : row.y}));
    EXPECT_EQ((Ints{attr.width, attr.height, width_, height_, attr.border_width}),
              (Ints{row.w, row.h, row.w, row.h, 5}));
    XSizeHints hints{};
    long supplied = 0;
    XGetWMNormalHints(user_, window_, &hints, &supplied);
    EXPECT_EQ(hints.flags & (PPosition | PSize | USPosition | USSize), PPosition | PSize | row.us_flags);
    gclose_ws(0);
    gset_xsize(0, 0);
  }
}

TEST_F(Workstation, TitlesAndTheirExtra) {
  char extra[GKS_TITLE_EXTRA_MAX + 1] = "x";
  EXPECT_EQ((Ints{gset_win_title_extra("[1]"), gget_win_title_extra(extra), gset_win_title("Radar_Loop")}), Ints(3, -1))
      << "no window yet, but the title is kept";
  EXPECT_STREQ(extra, "");
  ASSERT_NO_FATAL_FAILURE(open_window());
  EXPECT_EQ(name() + "/" + name(XGetIconName), "Radar Loop/Radar Loop");
  EXPECT_EQ(gset_win_title("Loop_1"), 0);
  EXPECT_EQ(name() + "/" + name(XGetIconName), "Loop_1/Loop_1") << "shown unchanged once open";

  gset_win_title("Loop");
  EXPECT_EQ(gset_win_title_extra("[3]"), 0);
  EXPECT_EQ(name() + "/" + name(XGetIconName) + "/" + title_extra(), "Loop [3]/Loop/[3]");
  gset_win_title_extra("");
  EXPECT_EQ(name(), "Loop");

  gset_win_title(std::string(100, 't').c_str());
  EXPECT_EQ(name(), std::string(GKS_TITLE_MAX, 't'));
  gset_win_title_extra(std::string(50, 'e').c_str());
  EXPECT_EQ(name(), std::string(GKS_TITLE_MAX, 't') + " " + std::string(GKS_TITLE_EXTRA_MAX - GKS_TITLE_MAX - 1, 'e'));

  RES_put("name", "+radar");
  GPH_set_win_title();
  EXPECT_EQ(name() + "/" + gget_prog_name(), "radar/+radar");
  RES_put("title", "Visible Loop");
  GPH_set_win_title();
  EXPECT_EQ(name(), "Visible Loop");
  gset_prog_name("a-name-that-is-much-too-long");
  EXPECT_EQ(std::string(gget_prog_name()).size(), static_cast<size_t>(GKS_PROG_NAME_MAX));
  gset_prog_name("D11_Ozava");  // as the other tests expect
  gset_win_title("D11_Ozava");
}

TEST_F(Workstation, ClearingReachesTheScreenOnlyOnUpdateAndInverseClearsToWhite) {
  EXPECT_EQ(gupdate_window(), -1);
  ASSERT_NO_FATAL_FAILURE(open_window(80, 60));
  paint(gget_base_window(), solid(white()));
  ASSERT_EQ(gupdate_window(), 0);
  ASSERT_EQ(pixel_at(window_, 40, 30), white());
  gclear_ws(0, 1);
  unsigned long back = static_cast<unsigned long>(gget_back_color());
  ASSERT_NE(back, white());
  EXPECT_EQ(
      (Ints{static_cast<long>(pixel_at(gget_base_window(), 40, 30)), static_cast<long>(pixel_at(window_, 40, 30))}),
      (Ints{static_cast<long>(back), static_cast<long>(white())}));
  gupdate_window();
  EXPECT_EQ(pixel_at(window_, 40, 30), back);
  gclose_ws(0);

  setenv("zybinverse", "1", 1);
  ASSERT_NO_FATAL_FAILURE(open_window(80, 60));
  unsetenv("zybinverse");
  XClearWindow(user_, window_);
  EXPECT_EQ(
      (Ints{static_cast<long>(pixel_at(gget_base_window(), 10, 10)), static_cast<long>(pixel_at(window_, 10, 10))}),
      Ints(2, static_cast<long>(white())));
  EXPECT_EQ(gget_fore_color(), BlackPixel(user_, 0));
  gclose_ws(0);
  gset_inverse(0);
}

TEST_F(Workstation, ResizeKeepsTheTopLeftPictureAndDropsTheFramesAndTheZoom) {
  ASSERT_NO_FATAL_FAILURE(open_window(100, 80));
  ASSERT_EQ(gzoom(-2, 50, 40, -2, 0), 1);
  unsigned long w = white();
  paint(gget_base_window(), [w](int x, int y) { return x < 15 && y < 15 ? w : 0ul; });
  gcreate_frame(-1);
  gcreate_frame(-1);
  unsigned long frame = gget_frame_id(0);
  for (int bad : {0, -5, 40000}) EXPECT_EQ(gset_xsize(bad, 10), -1);
  EXPECT_EQ(gresize_window(0, 0), 0);
  XMoveWindow(user_, window_, 150, 170);
  XUnmapWindow(user_, window_);
  serve_until([](int) { return gis_mapped() == 0; });
  EXPECT_EQ(gis_mapped(), 0);
  XMapWindow(user_, window_);
  serve_until([](int) { return gis_mapped() == 1; });
  EXPECT_EQ((Ints{gis_mapped(), gget_num_images(), gget_zoom()}), (Ints{1, 2, 2})) << "a move changes nothing";

  ASSERT_EQ(gset_xsize(200, 150), 0);
  EXPECT_EQ(attributes().width, 200);
  serve_until([](int) { return gget_num_images() == 0; });  // the configure event completes the resize
  int rw = 0, rh = 0;
  gget_root_size(&rw, &rh);
  gget_win_size(&width_, &height_);  // the fixture's reads cover the new size
  EXPECT_EQ((Ints{rw, rh, gget_num_images(), gget_zoom()}), (Ints{200, 150, 0, 1}));
  EXPECT_FALSE(exists(frame));
  EXPECT_EQ(gget_draw_window(), gget_base_window());
  EXPECT_EQ((Ints{pixel_at(gget_base_window(), 7, 7) == white(), pixel_at(gget_base_window(), 150, 120) == white()}),
            (Ints{1, 0}));
  EXPECT_EQ(gcreate_frame(-1), 0);
  EXPECT_EQ(pixel_at(gget_frame_id(0), 199, 149), static_cast<unsigned long>(gget_back_color()))
      << "new frames take the new size";
}

TEST_F(Workstation, OpenFailsCleanlyAndCloseReleasesTheWindow) {
  EXPECT_EQ(gopen_gks("/proc/no/such/place/errors", 0), 1);
  EXPECT_EQ(gopen_ws(0, ":999,extra", 1), -1);
  EXPECT_EQ(gchk_graphics(), 0);
  EXPECT_EQ(gclose_ws(0), -1);
  ASSERT_NO_FATAL_FAILURE(open_window(50, 50));
  EXPECT_EQ(gset_cursor(GKS_CURSOR_LOOP), GKS_CURSOR_WAIT) << "the previous cursor: busy until opened";
  EXPECT_EQ(gclose_ws(0), 0);
  EXPECT_EQ((Ints{gchk_graphics(), gget_window_width()}), (Ints{0, 0}));
  auto previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  XWindowAttributes attr;
  EXPECT_FALSE(XGetWindowAttributes(user_, window_, &attr));
  XSetErrorHandler(previous);
}

using WorkstationDeathTest = Workstation;

TEST_F(WorkstationDeathTest, TwentyFifthXErrorOrALostConnectionEndsWithStatus4) {
  EXPECT_EXIT(
      {
        open_window(40, 40);
        for (int i = 0; i < 24; ++i) XFreePixmap(gget_display(), 0x7fffff0);
        XSync(gget_display(), False);
        std::fprintf(stderr, "24 survived\n");
        XFreePixmap(gget_display(), 0x7fffff0);
        XSync(gget_display(), False);
        std::exit(0);
      },
      ::testing::ExitedWithCode(4), "24 survived(.|\n)*X11 error: too many errors");
  EXPECT_EXIT(
      {
        open_window(40, 40);
        close(ConnectionNumber(gget_display()));
        XSync(gget_display(), False);
        std::exit(0);
      },
      ::testing::ExitedWithCode(4), "Fatal X11 Error");
}

}  // namespace
}  // namespace zyb_test
