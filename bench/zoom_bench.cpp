// Cost of showing a frame while zoomed: one read of the frame's pixels, the
// replication, one write into the base window and the copy to the screen.
// A loop with a 0.2 s frame delay should spend under a tenth of it here, so
// each benchmark reports its time per frame and the ratio to 0.02 s.
//
// Starts a private Xvfb (depth from ZYB_BENCH_DEPTH, 24 by default).
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "gks/gks.h"
#include "tests/xvfb.h"

namespace {

constexpr double kBudgetSeconds = 0.02;  // a tenth of a 0.2 s frame delay
constexpr int kWidth = 640;
constexpr int kHeight = 512;

int bench_depth() {
  const char *d = std::getenv("ZYB_BENCH_DEPTH");
  return d ? std::atoi(d) : 24;
}

// A picture that changes at every pixel, so that no run-length shortcut in
// the server makes the copy cheaper than a real frame.
void paint_frame(Pixmap pixmap, unsigned long seed) {
  Display *display = gget_display();
  int depth = gget_win_depth();
  XImage *image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), static_cast<unsigned>(depth),
                               ZPixmap, 0, nullptr, kWidth, kHeight, 32, 0);
  image->data =
      static_cast<char *>(std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(kHeight)));
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++)
      XPutPixel(image, x, y, (static_cast<unsigned long>(x * 7 + y * 131) + seed * 977) & 0xFFFFFF);
  XPutImage(display, pixmap, gget_root_gc(), image, 0, 0, 0, 0, kWidth, kHeight);
  XDestroyImage(image);
  XSync(display, False);
}

bool open_looping_window(const std::string &display_name) {
  gset_xsize(kWidth, kHeight);
  if (gopen_gks(nullptr, 10000) != 0 || gopen_ws(0, display_name.c_str(), GKS_WIN) != 0) return false;
  for (int i = 0; i < 4; i++) paint_frame(gget_frame_id(gcreate_frame(-1)), static_cast<unsigned long>(i));
  gset_looping(1);
  gdisplay_frame(0);
  return true;
}

void close_window() {
  greset_zoom();
  gclose_ws(0);
  gclose_gks();
}

void report(benchmark::State &state, double seconds, int64_t frames) {
  double per_frame = frames > 0 ? seconds / static_cast<double>(frames) : 0.0;
  state.counters["s_per_frame"] = per_frame;
  state.counters["ratio_to_0.02s"] = per_frame / kBudgetSeconds;
}

// Shows frames as the loop does, with the zoom given as the argument.
void BM_LoopFrameDisplay(benchmark::State &state) {
  // One server for every run of the benchmark.
  static zyb_test::PrivateXvfb xvfb(bench_depth());
  if (xvfb.display().empty() || !open_looping_window(xvfb.display())) {
    state.SkipWithError("no Xvfb display");
    return;
  }
  int factor = static_cast<int>(state.range(0));
  if (factor > 1 && gzoom(-2, kWidth / 2, kHeight / 2, factor, 0) != 1) {
    state.SkipWithError("zoom refused");
    close_window();
    return;
  }
  int64_t frames = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    gdisplay_frame(ginc_frame(0));
    frames++;
  }
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  report(state, elapsed.count(), frames);
  close_window();
}
BENCHMARK(BM_LoopFrameDisplay)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
