// The plot parameters of a real looper act where their options do: the
// dump keywords write the picture of each drawing command, in the form the
// GIF keywords ask for, and the start-up keywords shape the window.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "image_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using namespace zyb_test;

WindowRange depth_windows() {
  const int first = 700 + (24 - test_depth()) / 8 * 10;
  return {first, first + 9};
}

bool near(const Rgb &got, const Rgb &want) {
  return std::abs(got.r - want.r) <= 24 && std::abs(got.g - want.g) <= 24 && std::abs(got.b - want.b) <= 24;
}

std::string interlace_of(const std::string &gif) {
  std::string out;
  run_magick({gif, "-format", "%[interlace]", "info:"}, &out);
  return out;
}

TEST(PlotParameters, DumpKeywordsWriteEachDrawingInTheFormTheGifKeywordsAsk) {
  const struct {
    const char *params, *file, *interlace;
    Rgb background;
  } runs[] = {
      {"-plot_param=gif_inter,gif=dump.gif", "dump.gif", "GIF", {0, 0, 0}},
      // inv takes effect at start-up, before the window opens.
      {"-plot_param=inv,png=drawn.png", "drawn.png", "", {255, 255, 255}},
  };
  for (const auto &r : runs) {
    Looper looper(depth_windows(), {"-wn", "%W", r.params});
    ASSERT_TRUE(looper.ready());
    const std::string dump = looper.dir() / r.file;
    EXPECT_EQ(looper.ctl({"open"}), "Window opened\n");
    EXPECT_NE(access(dump.c_str(), F_OK), 0) << "nothing drawn yet";
    EXPECT_EQ(looper.ctl({"se li co red;li 10,20 200,20"}), "Line color set to: red\nLine plotted at: 10,20 200,20\n");
    const Picture first = magick_decode(dump);
    ASSERT_EQ(std::make_pair(first.width, first.height), std::make_pair(640, 512)) << r.params;
    EXPECT_TRUE(near(first.at(100, 20), {255, 0, 0})) << r.params;
    EXPECT_TRUE(near(first.at(100, 300), r.background)) << r.params;
    if (*r.interlace) {
      EXPECT_EQ(interlace_of(dump), r.interlace);
    }
    // Each drawing command writes the file again.
    EXPECT_EQ(looper.ctl({"se ma co red;ma 100,300 x"}), "Marker color set to: red\nMarker plotted at: 100,300\n");
    EXPECT_TRUE(near(magick_decode(dump).at(100, 300), {255, 0, 0})) << r.params;
  }
}

}  // namespace
