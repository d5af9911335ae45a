// The plot_param keywords reach the options of the modules that own them.
#include <gtest/gtest.h>

#include "gks/gks_colr.h"
#include "gks/gks_loop.h"
#include "gks/gks_tool.h"
#include "gks/gks_x11.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/plt_tool.h"
#include "util/resrc.h"

// Present only when the text layer is linked in.
[[gnu::weak]] int gget_font_drop();

namespace {

class PlotParam : public ::testing::Test {
 protected:
  void SetUp() override {
    RES_clear();
    PLT_reset();
    MESS_reset();
  }
  void TearDown() override {
    RES_clear();
    PLT_reset();
    MESS_reset();
    gset_inverse(0);
    FILE_set_min_size(0);
  }
  static void decode(const char *list) {
    RES_put("plot_param", list);
    EXPECT_EQ(PLT_param_decode(), 0);
  }
};

TEST_F(PlotParam, FullAndInverse) {
  gset_inverse(0);
  decode("FULL,inv");
  const float *offset = PLT_get_settings()->view_offset;
  EXPECT_EQ(offset[0], 0.0f);
  EXPECT_EQ(offset[2], 0.0f);
  EXPECT_EQ(offset[3], 0.0f);
  EXPECT_EQ(gget_inverse(), 1);
}

TEST_F(PlotParam, ViewOffsetSetter) {
  PLT_set_view_offset(0.1f);
  const float *offset = PLT_get_settings()->view_offset;
  EXPECT_EQ(offset[0], 0.0f);
  EXPECT_EQ(offset[1], 0.0f);
  EXPECT_FLOAT_EQ(offset[2], 0.1f);
  EXPECT_FLOAT_EQ(offset[3], 0.1f);
}

TEST_F(PlotParam, PanelGridPutsRowZeroAtTheTop) {
  decode("vp_size=2x2+1+0");
  float sx = 0, sy = 0, ox = 0, oy = 0;
  GPH_get_view_size(&sx, &sy, &ox, &oy);
  EXPECT_FLOAT_EQ(sx, 0.5f);
  EXPECT_FLOAT_EQ(sy, 0.5f);
  EXPECT_FLOAT_EQ(ox, 0.5f);
  EXPECT_FLOAT_EQ(oy, 0.5f);
  decode("vp_size=20x3+1+2");  // columns limited to 8
  GPH_get_view_size(&sx, &sy, &ox, &oy);
  EXPECT_FLOAT_EQ(sx, 1.0f / 8);
  EXPECT_FLOAT_EQ(sy, 1.0f / 3);
  EXPECT_FLOAT_EQ(ox, 1.0f / 8);
  EXPECT_NEAR(oy, 0.0f, 1e-6);
  decode("vp_size=0.5x0.4+0.1+0.2");  // fractions as given
  GPH_get_view_size(&sx, &sy, &ox, &oy);
  EXPECT_FLOAT_EQ(sx, 0.5f);
  EXPECT_FLOAT_EQ(oy, 0.2f);
  EXPECT_EQ(PLT_panel_decode("2x2"), -1);  // incomplete: nothing changes
  GPH_get_view_size(&sx, &sy, &ox, &oy);
  EXPECT_FLOAT_EQ(sx, 0.5f);
}

TEST_F(PlotParam, ShadowDefaultsToFour) {
  if (gget_font_drop == nullptr) GTEST_SKIP() << "text layer not linked";
  decode("shadow=0");
  EXPECT_EQ(gget_font_drop(), 4);
  decode("shadow=2");
  EXPECT_EQ(gget_font_drop(), 2);
}

TEST_F(PlotParam, UnknownKeywordsChangeNothing) {
  gset_inverse(0);
  decode("bogus,invx,fulls");
  EXPECT_EQ(gget_inverse(), 0);
  EXPECT_FLOAT_EQ(PLT_get_settings()->view_offset[2], PltSettings().view_offset[2]);
}

TEST_F(PlotParam, PrefixKeywordsReadTheirValues) {
  decode("tz=CST:6,over=7:3,min_size=-5,max_bad=0,plt_skip=3,plt_off=1.5:2,plt_grid,gridx2,bar=1:9,grdfmt=grib");
  EXPECT_STREQ(DATE_get_TZ_name(), "CST");
  const PltSettings *s = PLT_get_settings();
  EXPECT_EQ(s->overlay_base, 5);
  EXPECT_EQ(s->num_overlay, 3);
  EXPECT_EQ(FILE_get_min_size(), 0);
  EXPECT_EQ(s->max_bad, 5);
  EXPECT_EQ(s->skip_x, 3);
  EXPECT_EQ(s->skip_y, 3);
  EXPECT_FLOAT_EQ(s->offset_x, 1.5f);
  EXPECT_FLOAT_EQ(s->offset_y, 2.0f);
  EXPECT_EQ(s->plot_limit, 1);
  EXPECT_EQ(s->grid_factor, 2);
  EXPECT_EQ(s->color_bar, 1);
  EXPECT_FLOAT_EQ(s->bar_max, 9.0f);
  EXPECT_STREQ(s->grid_format, "grib");
  decode("min_size=300,nobar,plt_grid=4");
  EXPECT_EQ(FILE_get_min_size(), 300);
  EXPECT_EQ(s->color_bar, 0);
  EXPECT_EQ(s->plot_limit, 4);
}

TEST_F(PlotParam, KernelSwitches) {
  decode("nolooptitle,clear,lcmap,rwclr");
  EXPECT_EQ(gget_loop_title(), 0);
  EXPECT_EQ(gget_pix_mode(), 1);
  EXPECT_EQ(gget_local_colormap(), 1);
  EXPECT_EQ(gget_rw_colors(), 1);
  decode("kill,nolcmap,norwclr");
  EXPECT_EQ(gget_pix_mode(), 9);
  EXPECT_EQ(gget_local_colormap(), 0);
  EXPECT_EQ(gget_rw_colors(), 0);
  gset_loop_title(1);
  gset_pix_mode(0);
}

TEST_F(PlotParam, PagingKeywords) {
  decode("nopage");
  EXPECT_EQ(MESS_get_page(), 0);
  decode("page");
  EXPECT_EQ(MESS_get_page(), 1);
}

TEST_F(PlotParam, DumpKeywordsAndOutputFile) {
  decode("png");
  EXPECT_EQ(PLT_get_settings()->dump_type, 4);
  EXPECT_STREQ(PLT_get_settings()->dump_name, "zyb.png");
  decode("xwd");
  EXPECT_STREQ(PLT_get_settings()->dump_name, "zyb.xwd");
  RES_put("plot_param", "");
  RES_put("out_file", "gif=out.gif,xwd=ignored.xwd");
  PLT_param_decode();
  EXPECT_EQ(PLT_get_settings()->dump_type, 2);
  EXPECT_STREQ(PLT_get_settings()->dump_name, "out.gif");
}

}  // namespace
