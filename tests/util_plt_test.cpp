// The plot_param keywords reach the options of the modules that own them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "app/plt_tool.h"
#include "gks/gks_colr.h"
#include "gks/gks_fill.h"
#include "gks/gks_loop.h"
#include "gks/gks_ps.h"
#include "gks/gks_tool.h"
#include "gks/gks_x11.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace {

std::string read_text(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PlotParam : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    RES_clear();
    PLT_reset();
    MESS_reset();
    gset_inverse(0);
    FILE_set_min_size(0);
    gset_loop_title(1);
    gset_pix_mode(0);
    gps_set_colorPS(0);
    gps_set_reverse(0);
  }
  static void decode(const char *list) {
    RES_put("plot_param", list);
    EXPECT_EQ(PLT_param_decode(), 0);
  }
  static std::vector<float> view() {
    std::vector<float> v(4, -1.0f);
    GPH_get_view_size(&v[0], &v[1], &v[2], &v[3]);
    return v;
  }
};

TEST_F(PlotParam, FullAndInverseUnknownWordsChangeNothing) {
  decode("bogus,invx,fulls");
  EXPECT_EQ(gget_inverse(), 0);
  EXPECT_FLOAT_EQ(PLT_get_settings()->view_offset[2], PltSettings().view_offset[2]);
  decode("FULL,inv");
  const float *offset = PLT_get_settings()->view_offset;
  EXPECT_EQ(std::vector<float>(offset, offset + 4), std::vector<float>(4, 0.0f));
  EXPECT_EQ(gget_inverse(), 1);
}

TEST_F(PlotParam, PanelGridPutsRowZeroAtTheTop) {
  decode("vp_size=2x2+1+0");
  EXPECT_EQ(view(), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}));
  decode("vp_size=20x3+1+2");  // columns limited to 8
  EXPECT_EQ(view(), (std::vector<float>{1.0f / 8, 1.0f / 3, 1.0f / 8, 0.0f}));
  decode("vp_size=0.5x0.4+0.1+0.2");  // fractions as given
  EXPECT_EQ(view(), (std::vector<float>{0.5f, 0.4f, 0.1f, 0.2f}));
  EXPECT_EQ(PLT_panel_decode("2x2"), -1);  // incomplete: nothing changes
  EXPECT_EQ(view(), (std::vector<float>{0.5f, 0.4f, 0.1f, 0.2f}));
}

TEST_F(PlotParam, PrefixKeywordsReadAndLimitTheirValues) {
  decode("tz=CST:6,over=7:3,min_size=-5,max_bad=0,plt_skip=3,plt_grid,gif_inter");
  EXPECT_STREQ(DATE_get_TZ_name(), "CST");
  const PltSettings *s = PLT_get_settings();
  // Overlay base at most 5, negative sizes 0, bad-record limit 5 below 1, one skip value for both.
  EXPECT_EQ((std::vector<int>{s->overlay_base, s->num_overlay, FILE_get_min_size(), s->max_bad, s->skip_x, s->skip_y,
                              s->plot_limit, s->dump_type}),
            (std::vector<int>{5, 3, 0, 5, 3, 3, 1, 0}));
  decode("min_size=300,plt_grid=4");
  EXPECT_EQ((std::vector<int>{FILE_get_min_size(), s->plot_limit}), (std::vector<int>{300, 4}));
}

TEST_F(PlotParam, KernelPagingAndDumpSwitches) {
  auto switches = [] {
    return std::vector<int>{gget_loop_title(), gget_pix_mode(), gget_local_colormap(), gget_rw_colors(),
                            MESS_get_page()};
  };
  decode("nolooptitle,clear,lcmap,rwclr,nopage");
  EXPECT_EQ(switches(), (std::vector<int>{0, 1, 1, 1, 0}));
  decode("kill,nolcmap,norwclr,page");
  EXPECT_EQ(switches(), (std::vector<int>{0, 9, 0, 0, 1}));
  const PltSettings *s = PLT_get_settings();
  for (auto [words, out_file, dump] :
       {std::tuple{"png", "", "4zyb.png"}, {"xwd", "", "1zyb.xwd"}, {"", "gif=out.gif,xwd=ignored.xwd", "2out.gif"}}) {
    if (*out_file) RES_put("out_file", out_file);
    decode(words);
    EXPECT_EQ(std::to_string(s->dump_type) + s->dump_name, dump);
  }
}

TEST_F(PlotParam, PostScriptColourAndReverseReachThePage) {
  const struct {
    const char *words, *fill;
    int inverse;
  } cases[] = {
      {"", "0.296 setgray\n", 0},  // blue in grey: 0.8 / 2.7
      {"pscolor", "0.00 0.00 1.00 setrgbcolor\n", 1},
      {"psrev", "0.704 setgray\n", 0},
  };
  const std::string path = testing::TempDir() + "plot_param.ps";
  for (const auto &c : cases) {
    TearDown();
    decode(c.words);
    ASSERT_EQ(gopen_ws(0, path.c_str(), GKS_PS), 0);
    const float blue[3] = {0, 0, 1}, square[] = {0.1f, 0.1f, 0.5f, 0.1f, 0.5f, 0.5f};
    gset_colr_rep(1, 2, blue);
    gset_fill_colr_ind(2);
    gfill_area(3, square);
    gclose_ws(0);
    EXPECT_NE(read_text(path).find(c.fill), std::string::npos) << c.words;
    EXPECT_EQ(gget_inverse(), c.inverse) << c.words;
  }
}

}  // namespace
