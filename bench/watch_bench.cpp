// How soon a watched directory's new file is on screen, against "ld" of the
// same file.
//
// BM_arrival/0: a real zorazez watches a directory with "keep 1" and loops
// its one frame at 0.05 s; the benchmark writes a new 640 x 512 radar GIF
// there and waits for the picture on screen, timed from the file's close.
// BM_arrival/1: another looper, same loop, is sent "ld 0 file;go 0" for the
// same files by a registered client, timed from the send. Both include the
// main loop's wait for its next pass; each file or command comes at a
// random point of the pass, so the wait is the same in both. Every frame
// shown puts its number into the title: the benchmark reads the window
// back at each title change until the file's picture (each differs from
// the one before in a probe pixel) is there.
//
// Both report the median of 50 files (ZYB_BENCH_ARRIVALS); the ratio
// arrival / ld is printed at the end, target 1.5 or less. BM_ld times
// gload_image_file alone, in this process, for scale.
//
// Starts its own Xvfb (depth from ZYB_BENCH_DEPTH, 24 by default) and its
// loopers on the first free windows of 610-619.
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
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/ratio_reporter.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "mqueue/mqueue.h"
#include "tests/image_util.h"
#include "tests/proc_util.h"
#include "tests/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 640;
constexpr int kHeight = 512;
constexpr double kLoopPass = 0.05;  // the loopers' frame delay: one main-loop pass
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
// files 0, 1, ... and start.gif, whose probe differs from file 0's.
struct Files {
  zyb_test::TempDir dir;
  std::vector<std::string> names;  // in dir
  std::vector<std::string> bytes;
  std::string display;
};

Files &files() {
  static Files f;
  return f;
}

bool make_file(int seed, int probe_level, const std::string &name) {
  std::vector<unsigned char> levels = zyb_test::radar_levels(kWidth, kHeight, seed % 7 + 1);
  levels[0] = static_cast<unsigned char>(probe_level);
  ImageRecord img;
  zyb_test::make_indexed(&img, kWidth, kHeight, levels, 13);
  const bool ok = GIF_write((files().dir / name).c_str(), &img) == 1;
  IMG_free(&img);
  return ok;
}

bool make_files(int count) {
  for (int i = 0; i < count; i++) {
    files().names.push_back("radar" + std::to_string(i) + ".gif");
    if (!make_file(i, 1 + i % 2, files().names.back())) return false;
    files().bytes.push_back(zyb_test::read_file(files().dir / files().names.back()));
  }
  return make_file(count, 2, "start.gif");
}

void BM_ld(benchmark::State &state) {
  if (gopen_gks(nullptr, 10000) != 0 || gopen_ws(0, "", GKS_WIN) != 0) return state.SkipWithError("no window");
  gselect_frame(gcreate_frame(-1));
  std::vector<double> times;
  for (auto _ : state) {
    for (const std::string &name : files().names) {
      const Clock::time_point start = Clock::now();
      if (gload_image_file((files().dir / name).c_str(), 0, 0) != 1) return state.SkipWithError("load failed");
      gsync();
      times.push_back(seconds_since(start));
    }
    state.SetIterationTime(median(times));
  }
  // The loopers' windows must not lie under this one.
  gclose_ws(0);
  gclose_gks();
}

// A zorazez looping one frame at kLoopPass after its start-up commands, on
// the first free window of 610-619, with a client of this process.
class BenchLooper {
 public:
  explicit BenchLooper(const std::string &commands) {
    for (int w = 610; w <= 619 && !up_; w++) {
      if (msgget(kQueueOffset + w, 0) >= 0) continue;
      window_ = w;
      process_ = std::make_unique<zyb_test::Process>(
          std::vector<std::string>{zyb_test::bin("zorazez"), "-wn", "W" + std::to_string(w), "-fp", dir_.path(), "-cd",
                                   commands + ";se pa " + std::to_string(kLoopPass)},
          dir_ / "looper.out", dir_ / "looper.err", std::vector<std::string>{"DISPLAY=" + files().display},
          dir_.path());
      const Clock::time_point start = Clock::now();
      while (seconds_since(start) < 10 && process_->running() && info().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      up_ = process_->running() && std::sscanf(info().c_str(), "+%lu", &root_) == 1;
      if (!up_) process_->kill_now();
    }
    if (!up_) return;
    MQ_offset(kQueueOffset);
    MQ_timeout(20);
    MQ_timeout_func([](int) {});
    queue_ = MQ_open(window_);
    client_ = queue_ >= 0 ? MQ_connect(queue_) : -1;
    up_ = client_ >= MQ_FIRST_CLIENT;
  }
  ~BenchLooper() {
    if (process_) process_->kill_now();
    const int id = window_ >= 0 ? msgget(kQueueOffset + window_, 0) : -1;
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
  }
  BenchLooper(const BenchLooper &) = delete;
  BenchLooper &operator=(const BenchLooper &) = delete;

  bool ready() const { return up_; }
  unsigned long window() const { return root_; }
  bool send(const std::string &record) { return MQ_put(queue_, client_, "%s", record.c_str()) >= 0; }
  // Reads the answers of that many commands.
  void answers(int count) {
    char text[MQ_TEXT_MAX + 3];
    for (int code = 0; count > 0 && code >= 0;) count -= (code = MQ_get(queue_, client_, text)) == MQ_LAST_LINE;
  }

 private:
  std::string info() const { return zyb_test::read_file(dir_ / ("zorazez." + std::to_string(window_))); }
  bool up_ = false;
  int window_ = -1, queue_ = -1, client_ = -1;
  unsigned long root_ = 0;
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

// Runs trigger (which writes a file or sends a command) and waits for its
// picture: the seconds from the trigger, or -1 after ten seconds.
double timed(Display *display, Window window, const std::function<bool()> &trigger) {
  // Triggers right after the last picture showed would meet the main loop
  // at the same point of its pass every time; a pause of a random part of a
  // pass spreads them over it, as real arrivals are.
  static std::mt19937 rng(6496);
  std::this_thread::sleep_for(std::chrono::duration<double>(std::uniform_real_distribution<double>(0, kLoopPass)(rng)));
  for (XEvent event; XPending(display) > 0;) XNextEvent(display, &event);
  const unsigned long before = probe(display, window);
  if (!trigger()) return -1;
  const Clock::time_point sent = Clock::now();
  while (seconds_since(sent) < 10) {
    if (XPending(display) == 0) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, 1);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == PropertyNotify && event.xproperty.atom == XA_WM_NAME && probe(display, window) != before)
      return seconds_since(sent);
  }
  return -1;
}

// Arg 0: files arriving in a watched directory; 1: "ld" of the same files.
void BM_arrival(benchmark::State &state) {
  const bool watching = state.range(0) == 0;
  zyb_test::TempDir watched;
  zyb_test::write_bytes(watched / "start.gif", zyb_test::read_file(files().dir / "start.gif"));
  BenchLooper looper(watching ? "wa " + watched.path() + " *.gif keep 1" : "cr;ld 0 " + files().dir / "start.gif");
  if (!looper.ready()) return state.SkipWithError("the looper did not start");
  Display *display = XOpenDisplay(files().display.c_str());
  if (display == nullptr) return state.SkipWithError("no display");
  XSelectInput(display, looper.window(), PropertyChangeMask);
  auto arrive = [&](size_t i) {
    const double seconds = timed(display, looper.window(), [&] {
      if (!watching) return looper.send("ld 0 " + files().dir / files().names[i] + ";go 0");
      zyb_test::write_bytes(watched / files().names[i], files().bytes[i]);
      return true;
    });
    if (!watching) looper.answers(2);
    return seconds;
  };
  // The first passes after the start-up are not yet the loop's steady pace.
  for (size_t i = 0; i < 4 && i < files().names.size(); i++) arrive(i);
  std::vector<double> times;
  for (auto _ : state) {
    for (size_t i = 0; i < files().names.size(); i++) {
      times.push_back(arrive(i));
      if (times.back() < 0) {
        XCloseDisplay(display);
        return state.SkipWithError((files().names[i] + " never showed").c_str());
      }
    }
    state.SetIterationTime(median(times));
  }
  XCloseDisplay(display);
}

}  // namespace

BENCHMARK(BM_ld)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_arrival)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

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
  files().display = xvfb.display();
  gset_xsize(kWidth, kHeight);

  benchmark::Initialize(&argc, argv);
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Real);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double watch = reporter.time_of("BM_arrival/0/iterations:1/manual_time");
  const double ld = reporter.time_of("BM_arrival/1/iterations:1/manual_time");
  const double bare = reporter.time_of("BM_ld/iterations:1/manual_time");
  if (watch > 0 && ld > 0 && bare > 0)
    std::printf(
        "arrival/ld time ratio at depth %d, both with the main loop's wait (a %.2f s pass): %.3f %s; "
        "arrival/bare load: %.1f\n",
        depth, kLoopPass, watch / ld, watch / ld <= 1.5 ? "ok" : "SLOWER", watch / bare);
  benchmark::Shutdown();
  return 0;
}
