// Transformation arithmetic, without a display: world -> NDC -> pixels and
// PostScript units, the plot rectangle, clamps, the clip rectangle.
#include <gtest/gtest.h>

#include <cmath>

#include "gks/gks.h"

namespace {

// A window of w x h pixels at a device offset, freshly initialised.
void setup(int w, int h, int ox = 0, int oy = 0) {
  gset_win_offset(ox, oy);
  gset_win_size(w, h);
  ginit_tran(1);
}

const float kUnit[4] = {0, 1, 0, 1};

TEST(GksTran, WiderWindowTakesFullHeightFromDeviceOffset) {
  setup(1000, 800, 7, 11);
  EXPECT_FLOAT_EQ(xW_p(0), 7);
  EXPECT_FLOAT_EQ(yW_p(0), 11 + 799);
  EXPECT_FLOAT_EQ(xW_p(1), 7 + 799);
  EXPECT_FLOAT_EQ(yW_p(1), 11);
  setup(100, 100);
}

TEST(GksTran, TallerWindowTakesFullWidthAndTiesToo) {
  setup(101, 201);  // viewport 100 x 200 units, unit workstation window
  EXPECT_FLOAT_EQ(xW_p(1), 100);
  EXPECT_FLOAT_EQ(yW_p(0), 100);  // plot 100 x 100 at the top, strip below
  EXPECT_FLOAT_EQ(yW_p(1), 0);
  setup(101, 101);  // tie: full width
  EXPECT_FLOAT_EQ(xW_p(1), 100);
  EXPECT_FLOAT_EQ(yW_p(0), 100);
}

TEST(GksTran, PixelFormsFlipAndPostScriptFormsDoNot) {
  setup(101, 101);
  const float win[4] = {0, 10, 0, 10};
  ASSERT_EQ(gset_win(0, win), 0);
  EXPECT_FLOAT_EQ(yW_p(10), 0);
  EXPECT_FLOAT_EQ(yW_p(0), 100);
  EXPECT_FLOAT_EQ(yW_ps(10), 100);
  EXPECT_FLOAT_EQ(yW_ps(0), 0);
  EXPECT_FLOAT_EQ(xW_ps(5), 50);
  EXPECT_FLOAT_EQ(xNDC_ps(0.5f), 50);
  EXPECT_FLOAT_EQ(yNDC_ps(0.25f), 25);
  EXPECT_FLOAT_EQ(yNDC_p(0.25f), 75);
  gset_win(0, kUnit);
}

TEST(GksTran, ClampsAreExact) {
  setup(101, 101);
  EXPECT_EQ(xW_p(1e6f), 30000.0f);
  EXPECT_EQ(xW_p(-1e6f), -30000.0f);
  EXPECT_EQ(yW_p(-1e6f), 30000.0f);
  EXPECT_EQ(yNDC_p(1e9f), -30000.0f);
  EXPECT_EQ(xNDC_p(1e9f), 30000.0f);
  EXPECT_EQ(xW_ps(1e7f), 100000.0f);
  EXPECT_EQ(yW_ps(-1e7f), -100000.0f);
  EXPECT_EQ(xNDC_ps(-1e9f), -100000.0f);
  EXPECT_EQ(yNDC_ps(1e9f), 100000.0f);
  // Just inside the limits nothing is clamped.
  EXPECT_FLOAT_EQ(xW_p(299.99f), 29999.0f);
}

TEST(GksTran, InverseConversionsUndoForwardOnes) {
  setup(640, 512, 3, 5);
  const float win[4] = {-50, 150, 20, -80};  // y runs downwards in this window
  const float vp[4] = {0.1f, 0.9f, 0.2f, 0.7f};
  gset_win(0, win);
  gset_vp(0, vp);
  for (float x : {-50.0f, 0.0f, 37.5f, 150.0f}) EXPECT_NEAR(xp_W(xW_p(x)), x, 1e-3);
  for (float y : {20.0f, 0.0f, -33.3f, -80.0f}) EXPECT_NEAR(yp_W(yW_p(y)), y, 1e-3);
  gset_win(0, kUnit);
  gset_vp(0, kUnit);
}

TEST(GksTran, ClipRectangleIncludesBothEdgePixels) {
  setup(100, 100);
  ASSERT_EQ(gset_vp(0, kUnit), 0);
  short r[4];
  gget_xviewport(r);
  EXPECT_EQ(r[0], 0);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 100);
  EXPECT_EQ(r[3], 100);

  const float half[4] = {0.5f, 1.0f, 0.0f, 0.5f};  // right half, lower half
  gset_vp(0, half);
  gget_xviewport(r);
  EXPECT_EQ(r[0], 50);  // trunc(49.5 + 0.5)
  EXPECT_EQ(r[1], 50);  // top edge at NDC 0.5
  EXPECT_EQ(r[2], 50);  // trunc(99 - 50 + 1.5)
  EXPECT_EQ(r[3], 50);
  gset_vp(0, kUnit);
}

TEST(GksTran, OtherTransformationsWaitUntilSelected) {
  setup(101, 101);
  const float win[4] = {0, 100, 0, 100};
  ASSERT_EQ(gset_win(2, win), 0);
  EXPECT_FLOAT_EQ(xW_p(1), 100);  // transformation 0 still in force
  ASSERT_EQ(gsel_norm_tran(2), 0);
  EXPECT_FLOAT_EQ(xW_p(100), 100);
  int err = -1, n = -1;
  ginq_cur_norm_tran_num(&err, &n);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(n, 2);
  float out[8];
  ASSERT_EQ(ginq_norm_tran(2, &err, out), 0);
  EXPECT_FLOAT_EQ(out[1], 100);
  EXPECT_FLOAT_EQ(out[5], 1);
  EXPECT_EQ(ginq_norm_tran(6, &err, out), -1);
  gsel_norm_tran(0);
}

TEST(GksTran, InvalidNumbersAndDegenerateRectanglesAreRefused) {
  setup(101, 101);
  EXPECT_EQ(gsel_norm_tran(6), -1);
  EXPECT_EQ(gsel_norm_tran(-1), -1);
  EXPECT_EQ(gsel_norm_tran(5), 0);
  EXPECT_EQ(gsel_norm_tran(5), 0);  // already selected
  gsel_norm_tran(0);
  EXPECT_EQ(gset_win(6, kUnit), -1);
  EXPECT_EQ(gset_vp(-2, kUnit), -1);
  const float flat[4] = {0, 0, 0, 1};
  const float nan_rect[4] = {0, NAN, 0, 1};
  EXPECT_EQ(gset_win(0, flat), -1);
  EXPECT_EQ(gset_vp(0, nan_rect), -1);
  EXPECT_EQ(gset_ws_win(0, flat), -1);
  EXPECT_FLOAT_EQ(xW_p(1), 100);  // nothing changed
}

TEST(GksTran, SizeChangeAloneKeepsTheTable) {
  setup(101, 101);
  const float win[4] = {0, 10, 0, 10};
  gset_win(0, win);
  gset_win_size(201, 201);  // mode 10
  EXPECT_FLOAT_EQ(xW_p(10), 200);
  ginit_tran(1);  // a full re-set-up forgets it
  EXPECT_FLOAT_EQ(xW_p(1), 200);
}

TEST(GksTran, PointsOutsideTheWindowAreRejected) {
  setup(101, 101);
  const float win[4] = {0, 10, 0, 10};
  gset_win(0, win);
  const float left[6] = {-5, 1, -3, 4, -1, 9};
  const float touching[4] = {-5, 1, 0, 4};
  const float straddling[4] = {-5, -5, 15, 15};
  const float above[4] = {2, 11, 3, 12};
  EXPECT_EQ(gpts_in_win(3, left), 0);
  EXPECT_EQ(gpts_in_win(2, touching), 1);
  EXPECT_EQ(gpts_in_win(2, straddling), 1);
  EXPECT_EQ(gpts_in_win(2, above), 0);
  EXPECT_EQ(gpts_in_win(1, touching + 2), 1);
  EXPECT_EQ(gpts_in_win(0, left), 0);
  gset_win(0, kUnit);
}

TEST(GksTran, LooperSetUpMapsPixelWorldOntoTheWindow) {
  // What the "open" command does with a 640 x 512 window.
  setup(640, 512);
  float mx = 0, my = 0;
  ASSERT_EQ(ginq_maxview(1, &mx, &my), 0);
  EXPECT_FLOAT_EQ(mx, 1.0f);
  EXPECT_FLOAT_EQ(my, 511.0f / 639.0f);
  const float r[4] = {0, mx, 0, my};
  gset_ws_win(0, r);
  gset_vp(1, r);
  gset_win(1, r);
  gset_vp(0, r);
  const float pixels[4] = {0, 640, -512, 0};
  gset_win(0, pixels);
  EXPECT_NEAR(xW_p(0), 0, 1e-3);
  EXPECT_NEAR(yW_p(0), 0, 1e-3);
  EXPECT_NEAR(yW_p(-512), 511, 1e-2);
  EXPECT_NEAR(xW_p(640), 639, 1e-2);
  short clip[4];
  gget_xviewport(clip);
  EXPECT_EQ(clip[2], 640);
  EXPECT_EQ(clip[3], 512);
}

TEST(GksTran, MaxviewWithoutAWindowIsTheUnitSquare) {
  gset_win_size(0, 0);
  float mx = 0, my = 0;
  EXPECT_LT(ginq_maxview(1, &mx, &my), 0);
  EXPECT_EQ(mx, 1.0f);
  EXPECT_EQ(my, 1.0f);
  setup(300, 600);
  ginq_maxview(1, &mx, &my);
  EXPECT_FLOAT_EQ(mx, 299.0f / 599.0f);
  EXPECT_EQ(my, 1.0f);
}

}  // namespace
