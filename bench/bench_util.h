// What several benchmark programs share: a private display, the process's
// resident memory, a file's size, a frame whose world coordinates are its
// pixels, and a run whose benchmarks take turns.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "tests/xvfb.h"

namespace zyb_bench {

// Starts an Xvfb of the depth with a screen a little larger than width x
// height and points DISPLAY at it. Null, said under the program's name,
// when the server does not start.
inline std::unique_ptr<zyb_test::PrivateXvfb> private_display(const char *program, int depth, int width, int height) {
  zyb_test::XvfbOptions screen;
  screen.size = std::to_string(width + 64) + "x" + std::to_string(height + 64);
  auto xvfb = std::make_unique<zyb_test::PrivateXvfb>(depth, screen);
  if (xvfb->display().empty()) {
    std::fprintf(stderr, "%s: Xvfb did not start\n", program);
    return nullptr;
  }
  setenv("DISPLAY", xvfb->display().c_str(), 1);
  return xvfb;
}

inline long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

inline long file_size(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n;
}

// Opens the window and selects a new frame of width x height whose world
// coordinates are pixels, y up from the bottom row; lines, markers and text
// draw in yellow (colour 2), markers at size 1. False without a frame.
inline bool open_pixel_frame(int width, int height) {
  gset_xsize(width, height);
  if (gopen_gks(nullptr, 10000) != 0 || gopen_ws(0, "", GKS_WIN) != 0) return false;
  gselect_frame(gcreate_frame(-1));
  const float pixels[4] = {0, static_cast<float>(width - 1), 0, static_cast<float>(height - 1)};
  const float ws_window[4] = {0, 1, 0, static_cast<float>(height - 1) / (width - 1)};
  gset_ws_win(0, ws_window);
  gset_vp(0, ws_window);
  gset_win(0, pixels);
  const float yellow[3] = {1, 1, 0};
  gset_colr_rep(1, 2, yellow);
  gset_line_colr_ind(2);
  gset_marker_colr_ind(2);
  gset_text_colr_ind(2);
  gset_marker_size(1);
  return gget_draw_window() != gget_base_window();
}

// Runs the benchmarks named on the command line with their runs interleaved
// at random, so that the ours and the reference meet the same load.
inline void run_interleaved(int argc, char **argv, benchmark::BenchmarkReporter &reporter) {
  std::vector<char *> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks(&reporter);
}

}  // namespace zyb_bench
