// Flipping through a full frame table as fast as the server allows.
//
// Frames are pixmaps in the X server, so the client's resident memory must
// not grow with them: rss_ratio (after creating 128 frames of 640 x 512 /
// before) stays near 1.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/bench_util.h"
#include "gks/gks.h"
#include "tests/xvfb.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 512;

void BM_FlipFullFrameTable(benchmark::State &state) {
  gopen_gks(nullptr, 0);
  gset_xsize(kWidth, kHeight);
  if (gopen_ws(0, nullptr, 1) != 0) {
    state.SkipWithError("no display");
    return;
  }
  long before = zyb_bench::resident_kb();
  for (int i = 0; i < GKS_MAX_FRAMES; ++i) gcreate_frame(-1);
  long after = zyb_bench::resident_kb();
  if (gget_num_images() != GKS_MAX_FRAMES) state.SkipWithError("frames were not created");

  for (auto _ : state) gdisplay_frame(ginc_frame(0));

  state.counters["flips_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["rss_before_kB"] = static_cast<double>(before);
  state.counters["rss_after_kB"] = static_cast<double>(after);
  state.counters["rss_ratio"] = before > 0 ? static_cast<double>(after) / static_cast<double>(before) : 0.0;
  gclose_ws(0);
  gclose_gks();
}
BENCHMARK(BM_FlipFullFrameTable)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  zyb_test::PrivateXvfb xvfb(24);
  if (xvfb.display().empty()) {
    std::fprintf(stderr, "frames_bench: Xvfb did not start\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
