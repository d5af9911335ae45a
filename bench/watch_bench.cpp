// How soon a watched directory's new file is on screen, against loading the
// same file with "ld".
//
// BM_ld/0: gload_image_file of a 640 x 512 radar GIF into a frame, waited
// for, in this process: what "ld" costs the looper. BM_ld/1: the same and
// the frame then shown in the window, where an arrival ends.
//
// BM_watch_arrival: a real zorazez watches a directory with "keep 1" and
// loops at 0.05 s a frame; the benchmark writes a new GIF there, at a random
// point of the loop's pass, and reads the window back until the file's
// picture is on screen. The time runs from the file's close. Each file
// differs from the one before in a probe pixel.
//
// All report the median of 50 files (ZYB_BENCH_ARRIVALS). The ratios
// arrival / ld are printed as measured and without the main loop's mean
// wait (half its pass), the part of an arrival that is not the watch's;
// the target is 1.5 or less. The best arrival (counter best_s) is one that
// found the main loop about to look.
//
// Starts its own Xvfb (depth from ZYB_BENCH_DEPTH, 24 by default) and its
// looper on the first free window of 960-969.
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ratio_reporter.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "tests/image_util.h"
#include "tests/proc_util.h"
#include "tests/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 640;
constexpr int kHeight = 512;
constexpr double kLoopPass = 0.05;  // the looper's frame delay: one main-loop pass
constexpr int kQueueOffset = 6496;

int arrivals() {
  const char *text = std::getenv("ZYB_BENCH_ARRIVALS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 50;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

// Radar pictures whose probe pixel (0, 0) alternates between two levels:
// files 0, 1, ... for the arrivals, and one to start the watch with.
struct Files {
  zyb_test::TempDir dir;
  std::vector<std::string> names;  // in dir
  std::vector<std::string> bytes;
  std::string start;  // the bytes of the first picture, its probe unlike file 0's
};

Files &files() {
  static Files f;
  return f;
}

std::string &display_name() {
  static std::string name;
  return name;
}

bool make_file(int i, int probe_level, const std::string &name) {
  std::vector<unsigned char> levels = zyb_test::radar_levels(kWidth, kHeight, i % 7 + 1);
  levels[0] = static_cast<unsigned char>(probe_level);
  ImageRecord img;
  zyb_test::make_indexed(&img, kWidth, kHeight, levels, 13);
  const bool ok = GIF_write((files().dir / name).c_str(), &img) == 1;
  IMG_free(&img);
  return ok;
}

bool make_files(int count) {
  for (int i = 0; i < count; i++) {
    const std::string name = "radar" + std::to_string(i) + ".gif";
    if (!make_file(i, 1 + i % 2, name)) return false;
    files().names.push_back(name);
    files().bytes.push_back(zyb_test::read_file(files().dir / name));
  }
  if (!make_file(count, 2, "start.gif")) return false;
  files().start = zyb_test::read_file(files().dir / "start.gif");
  return true;
}

// "ld" of every file into one frame, and (show 1) that frame then shown
// in the window, the end point of an arrival.
void BM_ld(benchmark::State &state) {
  if (gopen_gks(nullptr, 10000) != 0 || gopen_ws(0, "", GKS_WIN) != 0) return state.SkipWithError("no window");
  const int frame = gcreate_frame(-1);
  gselect_frame(frame);
  std::vector<double> times;
  for (auto _ : state) {
    for (int i = 0; i < arrivals(); i++) {
      const std::string path = files().dir / files().names[static_cast<size_t>(i)];
      const Clock::time_point start = Clock::now();
      if (gload_image_file(path.c_str(), 0, 0) != 1) return state.SkipWithError("gload_image_file failed");
      if (state.range(0) == 1) gdisplay_frame(frame);
      gsync();
      times.push_back(seconds_since(start));
    }
    state.SetIterationTime(median(times));
  }
  // The looper's window must not lie under this one.
  gclose_ws(0);
  gclose_gks();
}

// A zorazez watching a directory, on the first free window of 960-969.
class WatchingLooper {
 public:
  explicit WatchingLooper(const std::string &watched) {
    for (int w = 960; w <= 969 && !up_; w++) {
      if (msgget(kQueueOffset + w, 0) >= 0) continue;
      window_ = w;
      const std::string command = "wa " + watched + " *.gif keep 1;se pa " + std::to_string(kLoopPass);
      process_ = std::make_unique<zyb_test::Process>(
          std::vector<std::string>{zyb_test::bin("zorazez"), "-wn", "W" + std::to_string(w), "-fp", dir_.path(), "-cd",
                                   command},
          dir_ / "looper.out", dir_ / "looper.err", std::vector<std::string>{"DISPLAY=" + display_name()}, dir_.path());
      const Clock::time_point start = Clock::now();
      while (seconds_since(start) < 10 && process_->running() && info().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      up_ = process_->running() && !info().empty();
      if (!up_) process_->kill_now();
    }
  }
  ~WatchingLooper() {
    if (process_) process_->kill_now();
    const int id = up_ ? msgget(kQueueOffset + window_, 0) : -1;
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
  }
  WatchingLooper(const WatchingLooper &) = delete;
  WatchingLooper &operator=(const WatchingLooper &) = delete;

  bool ready() const { return up_; }
  // The window information line the looper writes once started.
  std::string info() const { return zyb_test::read_file(dir_ / ("zorazez." + std::to_string(window_))); }

 private:
  bool up_ = false;
  int window_ = -1;
  zyb_test::TempDir dir_;
  std::unique_ptr<zyb_test::Process> process_;
};

unsigned long probe(Display *display, Window window) {
  XImage *image = XGetImage(display, window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0ul;
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  return pixel;
}

struct Arrival {
  double total = -1;  // from the close to the picture on screen
  double own = -1;    // the same without the main loop's wait
};

// Writes file i into the watched directory and waits for its picture; -1
// after five seconds. Every frame shown puts its number into the title, so
// each main-loop pass ends with a title change: the watch's own time runs
// from the last one before the picture (the pass that found the file) or
// from the close, whichever is later.
Arrival arrival(Display *display, Window window, const std::string &dir, int i) {
  // Files written right after the last one showed would meet the main loop
  // at the same point of its pass every time; a pause of a random part of a
  // pass spreads them over it, as real arrivals are.
  static std::mt19937 rng(6496);
  std::this_thread::sleep_for(std::chrono::duration<double>(std::uniform_real_distribution<double>(0, kLoopPass)(rng)));
  for (XEvent event; XPending(display) > 0;) XNextEvent(display, &event);
  const unsigned long before = probe(display, window);
  const std::string &bytes = files().bytes[static_cast<size_t>(i)];
  FILE *f = std::fopen((dir + "/" + files().names[static_cast<size_t>(i)]).c_str(), "wb");
  if (f == nullptr) return {};
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  const Clock::time_point closed = Clock::now();
  Clock::time_point pass = closed;
  while (seconds_since(closed) < 5) {
    if (XPending(display) == 0) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, 1);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != PropertyNotify || event.xproperty.atom != XA_WM_NAME) continue;
    const Clock::time_point shown = Clock::now();
    if (probe(display, window) == before) {
      pass = shown;
      continue;
    }
    return {std::chrono::duration<double>(shown - closed).count(), std::chrono::duration<double>(shown - pass).count()};
  }
  return {};
}

// Arg 0: the time from the close to the picture on screen; 1: the watch's own part of it.
void BM_watch_arrival(benchmark::State &state) {
  // The first picture is there before the watch starts: it opens the window.
  zyb_test::TempDir watched;
  zyb_test::write_bytes(watched / "start.gif", files().start);
  WatchingLooper looper(watched.path());
  if (!looper.ready()) return state.SkipWithError("the looper did not start");
  unsigned long root = 0;
  if (std::sscanf(looper.info().c_str(), "+%lu", &root) != 1) return state.SkipWithError("no window line");
  Display *display = XOpenDisplay(display_name().c_str());
  if (display == nullptr) return state.SkipWithError("no display");
  XSelectInput(display, root, PropertyChangeMask);
  std::vector<double> times;
  for (auto _ : state) {
    for (int i = 0; i < arrivals(); i++) {
      const Arrival a = arrival(display, root, watched.path(), i);
      if (a.total < 0) {
        XCloseDisplay(display);
        return state.SkipWithError(("file " + std::to_string(i) + " never showed").c_str());
      }
      times.push_back(state.range(0) == 0 ? a.total : a.own);
    }
    state.SetIterationTime(median(times));
  }
  XCloseDisplay(display);
  state.counters["best_s"] = *std::min_element(times.begin(), times.end());
  state.counters["worst_s"] = *std::max_element(times.begin(), times.end());
}

}  // namespace

BENCHMARK(BM_ld)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_watch_arrival)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  const char *depth_text = std::getenv("ZYB_BENCH_DEPTH");
  const int depth = depth_text != nullptr ? std::atoi(depth_text) : 24;
  zyb_test::XvfbOptions screen;
  screen.size = std::to_string(kWidth + 64) + "x" + std::to_string(kHeight + 64);
  zyb_test::PrivateXvfb xvfb(depth, screen);
  if (xvfb.display().empty() || !make_files(arrivals())) {
    std::fprintf(stderr, "watch_bench: no Xvfb or no pictures\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.display().c_str(), 1);
  display_name() = xvfb.display();
  gset_xsize(kWidth, kHeight);

  benchmark::Initialize(&argc, argv);
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Real);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ld = reporter.time_of("BM_ld/0/iterations:1/manual_time");
  const double shown = reporter.time_of("BM_ld/1/iterations:1/manual_time");
  const double total = reporter.time_of("BM_watch_arrival/0/iterations:1/manual_time");
  const double own = reporter.time_of("BM_watch_arrival/1/iterations:1/manual_time");
  if (ld > 0 && shown > 0 && total > 0 && own > 0) {
    std::printf("arrival/ld time ratio at depth %d: %.3f with the main loop's wait (a %.2f s pass), %.3f without %s\n",
                depth, total / ld, kLoopPass, own / ld, own / ld <= 1.5 ? "ok" : "SLOWER");
    std::printf("arrival/(ld and show) time ratio at depth %d: %.3f with the wait, %.3f without\n", depth,
                total / shown, own / shown);
  }
  benchmark::Shutdown();
  return 0;
}
