// Transformation arithmetic, without a display: world -> NDC -> pixels and
// PostScript units, the plot rectangle, clamps, the clip rectangle.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "proc_util.h"
#include "util/mess.h"

namespace {

const float kUnit[4] = {0, 1, 0, 1};
const float kTen[4] = {0, 10, 0, 10};

// A freshly initialised window of w x h pixels at a device offset, with
// the world window of transformation 0.
void setup(int w, int h, const float *world = kUnit, int ox = 0, int oy = 0) {
  gset_win_offset(ox, oy);
  gset_win_size(w, h);
  ginit_tran(1);
  gset_win(0, world);
}

TEST(GksTran, WorldPointsLandOnThePlotRectangle) {
  struct Row {
    int w, h, ox, oy;
    const float *world;
    float (*convert)(float);
    float in, out;
  };
  const Row rows[] = {
      // Wider than the unit workstation window: the full height, 799 x 799.
      {1000, 800, 7, 11, kUnit, xW_p, 0, 7},
      {1000, 800, 7, 11, kUnit, yW_p, 0, 11 + 799},
      {1000, 800, 7, 11, kUnit, xW_p, 1, 7 + 799},
      {1000, 800, 7, 11, kUnit, yW_p, 1, 11},
      // Taller (and a tie): the full width, a strip left below.
      {101, 201, 0, 0, kUnit, xW_p, 1, 100},
      {101, 201, 0, 0, kUnit, yW_p, 0, 100},
      {101, 101, 0, 0, kUnit, yW_p, 0, 100},
      // Pixels run down, PostScript units up.
      {101, 101, 0, 0, kTen, yW_p, 10, 0},
      {101, 101, 0, 0, kTen, yW_ps, 10, 100},
      {101, 101, 0, 0, kTen, xW_ps, 5, 50},
      {101, 101, 0, 0, kTen, xNDC_ps, 0.5f, 50},
      {101, 101, 0, 0, kTen, yNDC_ps, 0.25f, 25},
      {101, 101, 0, 0, kTen, yNDC_p, 0.25f, 75},
      // Far outside: clamped to exactly the limits, and nothing just inside them.
      {101, 101, 0, 0, kUnit, xW_p, 1e6f, 30000},
      {101, 101, 0, 0, kUnit, yW_p, -1e6f, 30000},
      {101, 101, 0, 0, kUnit, xNDC_p, -1e9f, -30000},
      {101, 101, 0, 0, kUnit, xW_p, 299.99f, 29999},
      {101, 101, 0, 0, kUnit, xW_ps, 1e7f, 100000},
      {101, 101, 0, 0, kUnit, yNDC_ps, -1e9f, -100000},
  };
  for (const Row &r : rows) {
    setup(r.w, r.h, r.world, r.ox, r.oy);
    EXPECT_FLOAT_EQ(r.convert(r.in), r.out) << r.w << "x" << r.h << " at " << r.in;
  }
}

TEST(GksTran, ClipRectangleIncludesBothEdgePixels) {
  setup(100, 100);
  const float half[4] = {0.5f, 1.0f, 0.0f, 0.5f};
  short r[4];
  ASSERT_EQ(gset_vp(0, half), 0);
  gget_xviewport(r);
  EXPECT_EQ(std::vector<short>(r, r + 4), std::vector<short>({50, 50, 50, 50}));
  ASSERT_EQ(gset_vp(0, kUnit), 0);
  gget_xviewport(r);
  EXPECT_EQ(std::vector<short>(r, r + 4), std::vector<short>({0, 0, 100, 100}));
}

TEST(GksTran, OnlyTheSelectedTransformationMapsAndBadOnesAreRefused) {
  zyb_test::TempDir dir;
  gopen_gks(nullptr, 0);
  ASSERT_EQ(MESS_file((dir / "log").c_str(), "w"), 0);
  setup(101, 101);
  const float hundred[4] = {0, 100, 0, 100};
  ASSERT_EQ(gset_win(2, hundred), 0);
  EXPECT_FLOAT_EQ(xW_p(1), 100) << "transformation 0 still in force";
  ASSERT_EQ(gsel_norm_tran(2), 0);
  EXPECT_FLOAT_EQ(xW_p(100), 100);
  const float flat[4] = {0, 0, 0, 1}, nan_rect[4] = {0, NAN, 0, 1};
  for (int status : {gsel_norm_tran(6), gsel_norm_tran(-1), gset_win(6, kUnit), gset_win(2, flat), gset_vp(2, nan_rect),
                     gset_ws_win(0, flat)}) {
    EXPECT_EQ(status, -1);
  }
  EXPECT_FLOAT_EQ(xW_p(100), 100) << "nothing changed";
  EXPECT_EQ(gsel_norm_tran(5), 0);
  MESS_file_close();
  gclose_gks();
  std::string log = zyb_test::read_file(dir / "log");
  EXPECT_NE(log.find("gsel_norm_tran: invalid transformation number: 6\n"), std::string::npos) << log;
  gsel_norm_tran(0);
}

TEST(GksTran, SizeChangeAloneKeepsTheTableAndHiddenPointListsAreRejected) {
  setup(101, 101, kTen);
  gset_win_size(201, 201);
  EXPECT_FLOAT_EQ(xW_p(10), 200);
  const float left[6] = {-5, 1, -3, 4, -1, 9}, touching[4] = {-5, 1, 0, 4}, above[4] = {2, 11, 3, 12};
  EXPECT_EQ(
      (std::vector<int>{gpts_in_win(3, left), gpts_in_win(2, above), gpts_in_win(0, left), gpts_in_win(2, touching)}),
      (std::vector<int>{0, 0, 0, 1}))
      << "touching the left edge is inside";
  ginit_tran(1);
  EXPECT_FLOAT_EQ(xW_p(1), 200) << "a full set-up forgets the world window";
}

TEST(GksTran, MaxViewGivesTheLongerSideOne) {
  gset_win_size(0, 0);
  float mx = 0, my = 0;
  EXPECT_LT(ginq_maxview(1, &mx, &my), 0);
  EXPECT_EQ((std::vector<float>{mx, my}), (std::vector<float>{1, 1})) << "without a window: the unit square";
  setup(300, 600);
  ginq_maxview(1, &mx, &my);
  EXPECT_FLOAT_EQ(mx, 299.0f / 599.0f);
  EXPECT_EQ(my, 1.0f);
}

}  // namespace
