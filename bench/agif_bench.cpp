// Exporting a loop as one animated GIF: 64 frames of a moving 640 x 512
// radar picture written by GIF_write_frames, against gifsicle -O2 merging
// the same frames (single-frame GIFs from our plain writer) with the same
// delays and loop, in the same run. Prints our file size and time over
// gifsicle's.
#include <benchmark/benchmark.h>

#include "bench/bench_util.h"
#include "bench/ratio_reporter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include "image/gif.h"
#include "image/img_tool.h"
#include "tests/image_util.h"

extern char **environ;

namespace {

constexpr int kWidth = 640, kHeight = 512, kFrames = 64;
constexpr double kSizeTarget = 1.1, kTimeTarget = 1.0;

// Colour entries of the picture.
enum : unsigned char { kGround, kGrid, kCoast, kRing, kFirstEcho };
constexpr int kEchoLevels = 12;

// A rain cell: an ellipse drifting across the picture, strongest inside.
struct Cell {
  double x, y, dx, dy, rx, ry, peak;
};

unsigned char backdrop(int x, int y) {
  const double cx = kWidth * 0.45, cy = kHeight * 0.55;
  const double r = std::hypot(x - cx, y - cy);
  if (std::fabs(std::fmod(r, 100.0) - 50.0) > 49.4) return kRing;  // range rings
  if (std::abs(y - static_cast<int>(kHeight * 0.8 - 30 * std::cos(x / 57.0))) < 1) return kCoast;
  if (x % 64 == 0 || y % 64 == 0) return kGrid;
  return kGround;
}

void draw_frame(int t, const std::vector<unsigned char> &ground, const std::vector<Cell> &cells,
                std::vector<unsigned char> *out) {
  *out = ground;
  for (const Cell &c : cells) {
    const double cx = c.x + c.dx * t, cy = c.y + c.dy * t;
    const int x0 = std::max(0, static_cast<int>(cx - c.rx)), x1 = std::min(kWidth - 1, static_cast<int>(cx + c.rx));
    const int y0 = std::max(0, static_cast<int>(cy - c.ry)), y1 = std::min(kHeight - 1, static_cast<int>(cy + c.ry));
    for (int y = y0; y <= y1; y++) {
      for (int x = x0; x <= x1; x++) {
        const double u = (x - cx) / c.rx, v = (y - cy) / c.ry, d = u * u + v * v;
        if (d >= 1.0) continue;
        // A ragged inside that changes from frame to frame, as echoes do.
        const double ripple = 0.15 * std::sin(x * 0.21 + t * 0.7) * std::cos(y * 0.17 - t * 0.4);
        const int level = static_cast<int>((c.peak * (1.0 - d) + ripple) * kEchoLevels);
        if (level <= 0) continue;
        unsigned char &p = (*out)[static_cast<size_t>(y) * kWidth + x];
        const unsigned char echo = static_cast<unsigned char>(kFirstEcho + std::min(level, kEchoLevels - 1));
        if (p < echo) p = echo;
      }
    }
  }
}

struct Fixture {
  zyb_test::TempDir dir;
  std::vector<ImageRecord> frames;
  std::vector<int> delays;
  std::vector<std::string> singles;  // one GIF per frame, for gifsicle
  std::string ours = dir / "ours.gif", theirs = dir / "gifsicle.gif";

  Fixture() {
    std::vector<unsigned char> ground(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; y++)
      for (int x = 0; x < kWidth; x++) ground[static_cast<size_t>(y) * kWidth + x] = backdrop(x, y);
    const std::vector<Cell> cells = {{60, 380, 4.0, -2.2, 90, 60, 1.0},
                                     {-40, 300, 5.0, -1.0, 60, 45, 0.8},
                                     {200, 120, 2.5, 1.2, 40, 70, 0.7},
                                     {420, 460, 1.5, -3.0, 110, 50, 0.9},
                                     {560, 80, -2.0, 2.0, 50, 50, 0.6}};
    std::vector<unsigned char> levels;
    for (int t = 0; t < kFrames; t++) {
      draw_frame(t, ground, cells, &levels);
      ImageRecord img;
      IMG_init(&img);
      img.width = kWidth, img.height = kHeight, img.depth = img.bits_per_pixel = 8;
      img.bytes_per_line = kWidth, img.color_type = 1;
      IMG_alloc_pixels(&img);
      std::copy(levels.begin(), levels.end(), img.data);
      IMG_alloc_colors(&img, kFirstEcho + kEchoLevels);
      // Colours a quarter step above whole bytes: the plain writer cuts
      // 255 x colour down, the animation writer rounds it, and both must
      // give the same bytes here.
      auto rgb = [](int r, int g, int b) {
        return ImageColor{(r + 0.25f) / 255, (g + 0.25f) / 255, (b + 0.25f) / 255};
      };
      img.colors[kGround] = rgb(0, 0, 0);
      img.colors[kGrid] = rgb(90, 90, 90);
      img.colors[kCoast] = rgb(25, 150, 50);
      img.colors[kRing] = rgb(128, 128, 180);
      for (int i = 0; i < kEchoLevels; i++) {
        const int f = 255 * i / (kEchoLevels - 1);
        img.colors[kFirstEcho + i] = rgb(f, 255 - std::abs(2 * f - 255), 255 - f);
      }
      frames.push_back(img);
      delays.push_back(t == kFrames - 1 ? 150 : 8 + t % 3);
    }
  }
  ~Fixture() {
    for (ImageRecord &img : frames) IMG_free(&img);
  }

  // The single-frame files; GIF_write turns a record's pixels into its
  // entries, so each is written from a copy.
  bool write_singles() {
    for (int t = 0; t < kFrames; t++) {
      ImageRecord copy = frames[t];
      copy.data = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(kWidth) * kHeight));
      copy.colors = static_cast<ImageColor *>(std::malloc(sizeof(ImageColor) * frames[t].num_colors));
      std::copy(frames[t].data, frames[t].data + static_cast<size_t>(kWidth) * kHeight, copy.data);
      std::copy(frames[t].colors, frames[t].colors + frames[t].num_colors, copy.colors);
      singles.push_back(dir / ("frame" + std::to_string(t) + ".gif"));
      bool ok = GIF_write(singles.back().c_str(), &copy) == 1;
      IMG_free(&copy);
      if (!ok) return false;
    }
    return true;
  }
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

// gifsicle with the delays and the loop, waited for without polling.
bool run_gifsicle() {
  Fixture &f = fixture();
  std::vector<std::string> args = {"gifsicle", "-O2", "--loopcount=forever", "--merge"};
  for (int t = 0; t < kFrames; t++) {
    args.push_back("-d" + std::to_string(f.delays[t]));
    args.push_back(f.singles[t]);
  }
  args.insert(args.end(), {"-o", f.theirs});
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "gifsicle", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_export_ours(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    if (GIF_write_frames(f.ours.c_str(), f.frames.data(), f.delays.data(), kFrames) != 1) {
      state.SkipWithError("GIF_write_frames failed");
    }
  }
}

void BM_export_gifsicle(benchmark::State &state) {
  for (auto _ : state) {
    if (!run_gifsicle()) state.SkipWithError("gifsicle failed (is it installed?)");
  }
}

// Both files must show the same frames for the timing to mean anything.
bool same_frames() {
  std::vector<zyb_test::Picture> ours, theirs;
  auto sink = [](ImageRecord *img, int, void *user) {
    static_cast<std::vector<zyb_test::Picture> *>(user)->push_back(zyb_test::record_picture(*img));
    return 0;
  };
  if (GIF_read_frames(fixture().ours.c_str(), kFrames, sink, &ours) != kFrames) return false;
  if (GIF_read_frames(fixture().theirs.c_str(), kFrames, sink, &theirs) != kFrames) return false;
  for (int t = 0; t < kFrames; t++) {
    if (zyb_test::count_differences(ours[t], theirs[t]) != 0) return false;
  }
  return true;
}

}  // namespace

BENCHMARK(BM_export_ours)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_export_gifsicle)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
  Fixture &f = fixture();
  if (!f.write_singles() || !run_gifsicle() ||
      GIF_write_frames(f.ours.c_str(), f.frames.data(), f.delays.data(), kFrames) != 1) {
    std::fprintf(stderr, "agif_bench: could not write the loop (is gifsicle installed?)\n");
    return 1;
  }
  if (!same_frames()) {
    std::fprintf(stderr, "agif_bench: our file and gifsicle's show different frames\n");
    return 1;
  }
  std::vector<char *> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=3";
  args.insert(args.begin() + 1, repetitions);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Real);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  double size = static_cast<double>(zyb_bench::file_size(f.ours)) / static_cast<double>(zyb_bench::file_size(f.theirs));
  double time = reporter.time_of("BM_export_ours/real_time") / reporter.time_of("BM_export_gifsicle/real_time");
  std::printf("file size ratio (ours/gifsicle -O2): %.3f, target %.1f %s\n", size, kSizeTarget,
              size <= kSizeTarget ? "ok" : "MISSED");
  std::printf("time ratio (ours/gifsicle -O2): %.3f, target %.1f %s\n", time, kTimeTarget,
              time <= kTimeTarget ? "ok" : "MISSED");
  benchmark::Shutdown();
  return 0;
}
