// Colour indices on a real X server: read-only and read/write cells (at
// depth 8 the default visual is PseudoColor), private colour maps, the
// background, and colours that reach the pixels.
#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <fstream>

#include "gks/gks.h"
#include "gks/gks_state.h"
#include "proc_util.h"
#include "util/resrc.h"

namespace {

using zyb_test::TempDir;

const float kRed[3] = {1, 0, 0};
const float kGreen[3] = {0, 1, 0};

class Colours : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "bg.clr") << "black 0 0 0\nwhite 1 1 1\nred 1 0 0\n";
    RES_put("file_path", dir_.path().c_str());
    RES_put("background", "");
    CLR_read_table("bg.clr");
    gopen_gks(nullptr, 0);
    gset_xsize(40, 40);
  }
  void TearDown() override {
    gclose_ws(0);
    gclose_gks();
    RES_put("background", "");
  }
  void open() {
    ASSERT_EQ(gopen_ws(0, nullptr, 1), 0);
    dpy_ = gget_display();
  }
  XColor query(unsigned long pixel) {
    XColor c{};
    c.pixel = pixel;
    XQueryColor(dpy_, gget_colormap(), &c);
    return c;
  }
  bool pseudo_colour() { return gget_visual()->c_class == PseudoColor; }

  TempDir dir_;
  Display *dpy_ = nullptr;
};

TEST_F(Colours, SettingAColourNeedsAnOpenWorkstation) {
  EXPECT_EQ(gset_colr_rep(1, 3, kRed), -1);
  EXPECT_EQ(gget_color_ind(3), -1);
}

TEST_F(Colours, InvalidIndicesAreRefusedAndPensIgnored) {
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(gset_colr_rep(1, 300, kRed), -1);
  EXPECT_EQ(gset_colr_rep(1, -2, kRed), -1);
  EXPECT_EQ(gset_colr_rep(1, 505, kRed), 0);
  EXPECT_EQ(gget_color_ind(505), -1);
  EXPECT_EQ(gis_valid_colr(508), 1);
  EXPECT_EQ(gis_valid_colr(509), 0);
  EXPECT_EQ(gis_valid_colr(256), 1);
  EXPECT_EQ(galloc_colr(400, 1, 1, 1), -1);
}

TEST_F(Colours, ColourReachesThePixels) {
  gset_rw_colors(0);
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(gset_colr_rep(1, 5, kRed), 0);
  int pixel = gget_color_ind(5);
  ASSERT_GE(pixel, 0);
  XColor c = query((unsigned long)pixel);
  EXPECT_GT(c.red, 0xF000);
  EXPECT_LT(c.green, 0x1000);
  EXPECT_LT(c.blue, 0x1000);
  float r, g, b;
  gget_color_rgb(5, &r, &g, &b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);

  GC gc = XCreateGC(dpy_, gget_root_window(), 0, nullptr);
  XSetForeground(dpy_, gc, (unsigned long)pixel);
  XFillRectangle(dpy_, gget_base_window(), gc, 0, 0, 40, 40);
  XFreeGC(dpy_, gc);
  XImage *img = XGetImage(dpy_, gget_base_window(), 20, 20, 1, 1, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(XGetPixel(img, 0, 0), (unsigned long)pixel);
  XDestroyImage(img);
}

TEST_F(Colours, ReadOnlyRedefinitionTakesANewCellAndKeepsTheOld) {
  gset_rw_colors(0);
  ASSERT_NO_FATAL_FAILURE(open());
  gset_colr_rep(1, 6, kRed);
  int first = gget_color_ind(6);
  gset_colr_rep(1, 6, kGreen);
  int second = gget_color_ind(6);
  EXPECT_NE(first, second);
  EXPECT_GT(query((unsigned long)first).red, 0xF000);  // what was drawn stays red
  EXPECT_GT(query((unsigned long)second).green, 0xF000);
}

TEST_F(Colours, ReadWriteRedefinitionReusesTheCellOrFallsBackForGood) {
  ASSERT_NO_FATAL_FAILURE(open());
  gset_rw_colors(1);
  gclr_xerror();
  gset_colr_rep(1, 7, kRed);
  int first = gget_color_ind(7);
  gset_colr_rep(1, 7, kGreen);
  int second = gget_color_ind(7);
  XSync(dpy_, False);
  EXPECT_EQ(gget_xerror(), 0);
  if (pseudo_colour()) {
    EXPECT_EQ(gget_rw_colors(), 1);
    EXPECT_EQ(first, second);
    XColor c = query((unsigned long)first);  // drawn pixels turn green at once
    EXPECT_GT(c.green, 0xF000);
    EXPECT_LT(c.red, 0x1000);
  } else {
    // A static visual grants no writable cells: read-only from now on.
    EXPECT_EQ(gget_rw_colors(), 0);
    EXPECT_NE(first, second);
    gset_rw_colors(1);
    EXPECT_EQ(gget_rw_colors(), 0);
  }
}

TEST_F(Colours, NearColourReusesAnIndexWithoutAllocating) {
  gset_rw_colors(0);
  ASSERT_NO_FATAL_FAILURE(open());
  gset_colr_rep(1, 5, kRed);
  int max = gget_max_color_ind();
  EXPECT_EQ(galloc_colr(-1, 0.996f, 0.002f, 0.0f), gget_color_ind(5));
  EXPECT_EQ(gget_max_color_ind(), max);
  int other = galloc_colr(-1, 0.2f, 0.3f, 0.4f);
  EXPECT_GE(other, 0);
  EXPECT_EQ(gget_max_color_ind(), max + 1);

  EXPECT_EQ(gis_color_near(5, 0, 1, 0, 0), 1);
  EXPECT_EQ(gis_color_near(5, 0, 0.98f, 0, 0), 0);
  EXPECT_EQ(gis_color_near(gget_color_ind(5), 1, 1, 0.005f, 0), 1);
  EXPECT_EQ(gis_color_near(-1, 0, 1, 0, 0), 0);
  EXPECT_EQ(gis_color_near(12345678, 1, 1, 0, 0), 0);
}

TEST_F(Colours, AttributeContextsFollowTheirColour) {
  gset_rw_colors(0);
  ASSERT_NO_FATAL_FAILURE(open());
  GksState &st = gks_state();
  st.line_gc = XCreateGC(dpy_, gget_root_window(), 0, nullptr);
  st.line_colr = 9;
  gset_colr_rep(1, 9, kGreen);
  XGCValues values{};
  XGetGCValues(dpy_, st.line_gc, GCForeground, &values);
  EXPECT_EQ(values.foreground, (unsigned long)gget_color_ind(9));
  st.line_colr = 1;
  // Closing frees the context with the others.
}

TEST_F(Colours, IndicesAreForgottenAtEveryOpen) {
  ASSERT_NO_FATAL_FAILURE(open());
  gset_colr_rep(1, 5, kRed);
  ASSERT_GE(gget_color_ind(5), 0);
  gclose_ws(0);
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(gget_color_ind(5), -1);
}

TEST_F(Colours, PrivateColourMapFromTheEnvironment) {
  setenv("zyblocal_cmap", "1", 1);
  ASSERT_NO_FATAL_FAILURE(open());
  unsetenv("zyblocal_cmap");
  unsigned long cmap = gget_user_cmap();
  ASSERT_NE(cmap, 0ul);
  EXPECT_EQ(gget_colormap(), cmap);
  XWindowAttributes attr{};
  XGetWindowAttributes(dpy_, gget_root_window(), &attr);
  EXPECT_EQ(attr.colormap, cmap);
  gset_colr_rep(1, 4, kRed);
  EXPECT_GT(query((unsigned long)gget_color_ind(4)).red, 0xF000);

  gclose_ws(0);
  EXPECT_EQ(gget_user_cmap(), 0ul);
  Display *probe = XOpenDisplay(nullptr);
  ASSERT_NE(probe, nullptr);
  static int errors;
  errors = 0;
  auto previous = XSetErrorHandler([](Display *, XErrorEvent *) { return ++errors, 0; });
  XColor c{};
  XQueryColor(probe, cmap, &c);
  XSync(probe, False);
  XSetErrorHandler(previous);
  XCloseDisplay(probe);
  EXPECT_EQ(errors, 1);  // the map went with the window
}

TEST_F(Colours, PrivateColourMapFromThePlotParameter) {
  gset_local_colormap(1);
  ASSERT_NO_FATAL_FAILURE(open());
  gset_local_colormap(0);
  EXPECT_NE(gget_user_cmap(), 0ul);
  EXPECT_GE(gget_back_color(), 0);
}

TEST_F(Colours, BackgroundNamedInTheColourTable) {
  RES_put("background", "red");
  ASSERT_NO_FATAL_FAILURE(open());
  float r, g, b;
  gget_color_rgb(-1, &r, &g, &b);
  EXPECT_GT(r, 0.9f);
  EXPECT_LT(g, 0.1f);
  unsigned long back = (unsigned long)gget_back_color();
  EXPECT_GT(query(back).red, 0xF000);
  XImage *img = XGetImage(dpy_, gget_base_window(), 3, 3, 1, 1, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(XGetPixel(img, 0, 0), back);
  XDestroyImage(img);
}

TEST_F(Colours, BackgroundNamedForX) {
  RES_put("background", "blue");
  ASSERT_NO_FATAL_FAILURE(open());
  float r, g, b;
  gget_color_rgb(-1, &r, &g, &b);
  EXPECT_GT(b, 0.9f);
  EXPECT_LT(r, 0.1f);
}

TEST_F(Colours, UnknownBackgroundStillOpens) {
  RES_put("background", "no-such-colour");
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_GE(gget_back_color(), 0);
}

TEST_F(Colours, ManyColoursNeverRunOutOfIndicesOrCells) {
  gset_rw_colors(0);
  ASSERT_NO_FATAL_FAILURE(open());
  for (int i = 0; i < 300; ++i) {
    int pixel = galloc_colr(-1, (i % 10) / 9.0f, ((i / 10) % 10) / 9.0f, (i / 100) / 2.0f);
    ASSERT_GE(pixel, 0) << i;
  }
  EXPECT_LE(gget_max_color_ind(), 255);
  EXPECT_EQ(gget_xerror(), 0);
}

}  // namespace
