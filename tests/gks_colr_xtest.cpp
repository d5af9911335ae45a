// Colour indices on a real X server: read-only and read/write cells (at
// depth 8 the default visual is PseudoColor), private colour maps, the
// background, and colours that reach the pixels.
#include "evnt_window.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "proc_util.h"
#include "util/resrc.h"

namespace zyb_test {
namespace {

const float kRed[3] = {1, 0, 0};
const float kGreen[3] = {0, 1, 0};

class Colours : public KernelWindow {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "bg.clr") << "black 0 0 0\nwhite 1 1 1\nred 1 0 0\n";
    RES_put("file_path", dir_.path().c_str());
    RES_put("background", "");
    CLR_read_table("bg.clr");
    gset_rw_colors(0);
  }
  void open() { ASSERT_NO_FATAL_FAILURE(open_window(40, 40)); }
  // The cell's colour in 16 steps a component: pure red is {15, 0, 0}.
  Ints cell(int pixel) {
    XColor c{};
    c.pixel = static_cast<unsigned long>(pixel);
    XQueryColor(user_, gget_colormap(), &c);
    return {c.red >> 12, c.green >> 12, c.blue >> 12};
  }
  // The index's own colour likewise.
  static Ints kept(int index) {
    float c[3];
    gget_color_rgb(index, &c[0], &c[1], &c[2]);
    return {lround(c[0] * 15), lround(c[1] * 15), lround(c[2] * 15)};
  }

  TempDir dir_;
};

TEST_F(Colours, IndicesAreCheckedAndNeedAnOpenWorkstation) {
  gopen_gks(nullptr, 0);
  EXPECT_EQ(gset_colr_rep(1, 3, kRed), -1);
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ((Ints{gset_colr_rep(1, 300, kRed), gset_colr_rep(1, -2, kRed), gset_colr_rep(1, 505, kRed)}),
            (Ints{-1, -1, 0}));
  EXPECT_EQ(gget_color_ind(505), -1) << "pens are never allocated";
  EXPECT_EQ((Ints{gis_valid_colr(508), gis_valid_colr(256), gis_valid_colr(509)}), (Ints{1, 1, 0}));
}

TEST_F(Colours, ReadOnlyRedefinitionDrawsAndKeepsTheOldCell) {
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_EQ(gset_colr_rep(1, 6, kRed), 0);
  int first = gget_color_ind(6);
  ASSERT_GE(first, 0);
  paint(gget_base_window(), solid(static_cast<unsigned long>(first)));
  gupdate_window();
  EXPECT_EQ(pixel_at(window_, 20, 20), static_cast<unsigned long>(first));
  gset_colr_rep(1, 6, kGreen);
  const int second = gget_color_ind(6);
  EXPECT_NE(first, second);
  EXPECT_EQ(cell(first), (Ints{15, 0, 0})) << "what was drawn stays red";
  EXPECT_EQ((std::vector<Ints>{cell(second), kept(6)}), std::vector<Ints>(2, Ints{0, 15, 0}));
}

TEST_F(Colours, ReadWriteRedefinitionReusesTheCellOrFallsBackForGood) {
  ASSERT_NO_FATAL_FAILURE(open());
  gset_rw_colors(1);
  gclr_xerror();
  gset_colr_rep(1, 7, kRed);
  int first = gget_color_ind(7);
  gset_colr_rep(1, 7, kGreen);
  EXPECT_EQ(gget_xerror(), 0);
  if (DefaultVisual(user_, 0)->c_class == PseudoColor) {
    EXPECT_EQ(gget_color_ind(7), first);
    EXPECT_EQ(cell(first), (Ints{0, 15, 0})) << "drawn pixels turn green at once";
  } else {
    EXPECT_NE(gget_color_ind(7), first) << "a static visual grants no writable cells";
    gset_rw_colors(1);
    EXPECT_EQ(gget_rw_colors(), 0);
  }
}

TEST_F(Colours, NearColourReusesAnIndexWithoutAllocating) {
  ASSERT_NO_FATAL_FAILURE(open());
  gset_colr_rep(1, 5, kRed);
  const int max = gget_max_color_ind();
  EXPECT_EQ(galloc_colr(-1, 0.996f, 0.002f, 0.0f), gget_color_ind(5));
  EXPECT_EQ(gget_max_color_ind(), max);
  EXPECT_GE(galloc_colr(-1, 0.2f, 0.3f, 0.4f), 0);
  EXPECT_EQ(gget_max_color_ind(), max + 1);
  EXPECT_EQ((Ints{gis_color_near(5, 0, 0.98f, 0, 0), gis_color_near(gget_color_ind(5), 1, 1, 0.005f, 0),
                  gis_color_near(-1, 0, 1, 0, 0)}),
            (Ints{0, 1, 0}));
  for (int i = 0; i < 300; ++i)
    ASSERT_GE(galloc_colr(-1, (i % 10) / 9.0f, ((i / 10) % 10) / 9.0f, (i / 100) / 2.0f), 0) << i;
  EXPECT_LE(gget_max_color_ind(), 255);
  EXPECT_EQ(gget_xerror(), 0);
}

TEST_F(Colours, PrivateColourMapFromEnvironmentOrPlotParameterGoesWithTheWindow) {
  for (bool from_environment : {true, false}) {
    if (from_environment) setenv("zyblocal_cmap", "1", 1);
    gset_local_colormap(!from_environment);
    ASSERT_NO_FATAL_FAILURE(open());
    unsetenv("zyblocal_cmap");
    gset_local_colormap(0);
    const unsigned long cmap = gget_user_cmap();
    ASSERT_NE(cmap, 0ul);
    XWindowAttributes attr{};
    XGetWindowAttributes(user_, window_, &attr);
    EXPECT_EQ((std::vector<unsigned long>{gget_colormap(), attr.colormap}), std::vector<unsigned long>(2, cmap));
    gset_colr_rep(1, 4, kRed);
    EXPECT_EQ(cell(gget_color_ind(4)), (Ints{15, 0, 0}));
    gclose_ws(0);
    EXPECT_EQ(gget_user_cmap(), 0ul);
    static int errors;
    errors = 0;
    auto previous = XSetErrorHandler([](Display *, XErrorEvent *) { return ++errors, 0; });
    XColor c{};
    XQueryColor(user_, cmap, &c);
    XSync(user_, False);
    XSetErrorHandler(previous);
    EXPECT_EQ(errors, 1) << "the map went with the window";
  }
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(gget_user_cmap(), 0ul);
  EXPECT_EQ(gget_color_ind(4), -1) << "indices are forgotten at every open";
}

TEST_F(Colours, BackgroundFromTheTableOrXFillsTheBaseWindow) {
  const std::pair<const char *, Ints> rows[] = {{"red", {15, 0, 0}}, {"blue", {0, 0, 15}}, {"no-such-colour", {}}};
  for (const auto &row : rows) {
    RES_put("background", row.first);
    ASSERT_NO_FATAL_FAILURE(open());
    const int back = gget_back_color();
    ASSERT_GE(back, 0);
    EXPECT_EQ(pixel_at(gget_base_window(), 3, 3), static_cast<unsigned long>(back)) << row.first;
    if (!row.second.empty()) {
      EXPECT_EQ((std::vector<Ints>{kept(-1), cell(back)}), std::vector<Ints>(2, row.second)) << row.first;
    }
    gclose_ws(0);
  }
}

}  // namespace
}  // namespace zyb_test
