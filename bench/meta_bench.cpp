// Text metafiles: playing back a metafile of 100,000 two-point lines and
// 10,000 markers into a 640 x 512 frame against drawing the same primitives
// straight through the kernel (target: at most 1.5, so that parsing does
// not dominate), and writing the same drawing through the kernel's
// metafile workstation against a bare fprintf loop writing the same bytes
// (time per record; target: at most 2). Real time, each batch ended by
// XSync or fclose.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/ratio_reporter.h"
#include "gks/gks.h"
#include "gks/gks_meta.h"
#include "tests/xvfb.h"
#include "util/mess.h"

namespace {

constexpr int kWidth = 640, kHeight = 512;
constexpr int kLines = 100000, kMarkers = 10000;

struct Work {
  std::vector<float> lines;  // x0 y0 x1 y1 per line
  std::vector<float> marks;  // x y per marker
  std::string kernel_file, bare_file;
};

Work &work() {
  static Work w;
  return w;
}

void draw_all() {
  const Work &w = work();
  for (size_t i = 0; i < w.lines.size(); i += 4) gpolyline(2, &w.lines[i]);
  for (size_t i = 0; i < w.marks.size(); i += 2) gpolymarker(1, &w.marks[i]);
}

// The drawing as records of a text metafile, through the kernel: the
// workstation becomes a metafile for the time of the calls.
bool write_through_kernel(const std::string &path) {
  if (!gmeta_open_file(path.c_str())) return false;
  gmeta_init_file();
  const int type = gget_win_type();
  gset_win_type(GKS_META);
  draw_all();
  gset_win_type(type);
  return gmeta_close_file() == 0;
}

// The same bytes with one fprintf a record.
void write_bare(const std::string &path) {
  const Work &w = work();
  FILE *f = std::fopen(path.c_str(), "w");
  const std::time_t now = std::time(nullptr);
  std::fprintf(f, "ZYBMETA\n#Title: ZYB Graphics Display: %s\n#Creator: ZYB Metafile Processor-1.0\n#CreationDate: %s",
               gget_win_title(), std::ctime(&now));
  for (size_t i = 0; i < w.lines.size(); i += 4)
    std::fprintf(f, "PL 2 %f,%f %f,%f \n", w.lines[i], w.lines[i + 1], w.lines[i + 2], w.lines[i + 3]);
  for (size_t i = 0; i < w.marks.size(); i += 2) std::fprintf(f, "PM 1 %f,%f \n", w.marks[i], w.marks[i + 1]);
  std::fclose(f);
}

std::string contents(const std::string &path) {
  std::string text;
  if (FILE *f = std::fopen(path.c_str(), "r")) {
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

void finish() { XSync(gget_display(), False); }

void BM_play_metafile(benchmark::State &state) {
  for (auto _ : state) {
    gread_metafile(work().kernel_file.c_str());
    finish();
  }
}

void BM_draw_direct(benchmark::State &state) {
  for (auto _ : state) {
    draw_all();
    finish();
  }
}

void BM_write_kernel(benchmark::State &state) {
  for (auto _ : state) write_through_kernel(work().kernel_file);
}

void BM_write_bare(benchmark::State &state) {
  for (auto _ : state) write_bare(work().bare_file);
}

// Nine repetitions each, interleaved at random (see main); the fastest counts.
constexpr int kRepetitions = 9;
BENCHMARK(BM_play_metafile)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_draw_direct)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_write_kernel)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_write_bare)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);

bool open_frame() {
  if (!zyb_bench::open_pixel_frame(kWidth, kHeight)) return false;
  gset_marker_type(GKS_MARK_CIRCLE);
  return true;
}

void make_work(const std::string &dir) {
  Work &w = work();
  std::mt19937 rng(20240611u);
  std::uniform_real_distribution<float> x(0, kWidth - 1), y(0, kHeight - 1);
  for (int i = 0; i < kLines; ++i) w.lines.insert(w.lines.end(), {x(rng), y(rng), x(rng), y(rng)});
  for (int i = 0; i < kMarkers; ++i) w.marks.insert(w.marks.end(), {x(rng), y(rng)});
  w.kernel_file = dir + "/kernel.meta";
  w.bare_file = dir + "/bare.meta";
}

}  // namespace

int main(int argc, char **argv) {
  const auto xvfb = zyb_bench::private_display("meta_bench", 24, kWidth, kHeight);
  if (!xvfb) return 1;
  MESS_set_str("-mess");  // not a "Creating metafile" line per run
  if (!open_frame()) {
    std::fprintf(stderr, "meta_bench: no window or frame\n");
    return 1;
  }
  char dir[] = "/tmp/meta_bench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  make_work(dir);
  // Both writers must write the same bytes, but for the time in the header.
  write_through_kernel(work().kernel_file);
  write_bare(work().bare_file);
  auto records = [](const std::string &text) {
    size_t at = 0;
    for (int line = 0; line < 4; ++line) at = text.find('\n', at) + 1;
    return text.substr(at);
  };
  if (records(contents(work().kernel_file)) != records(contents(work().bare_file))) {
    std::fprintf(stderr, "meta_bench: the kernel's records differ from the bare ones (%s)\n", dir);
    return 1;
  }

  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Real);
  zyb_bench::run_interleaved(argc, argv, reporter);
  const struct {
    const char *what, *ours, *reference;
    double target;
  } ratios[] = {{"playback/direct drawing", "BM_play_metafile", "BM_draw_direct", 1.5},
                {"kernel writer/bare fprintf, per record", "BM_write_kernel", "BM_write_bare", 2.0}};
  auto time_of = [&reporter](const std::string &name) {
    return reporter.time_of(name + "/repeats:" + std::to_string(kRepetitions) + "/real_time");
  };
  for (const auto &r : ratios) {
    const double reference = time_of(r.reference), ratio = reference > 0 ? time_of(r.ours) / reference : 0;
    std::printf("%-40s time ratio: %.3f (target %.1f) %s\n", r.what, ratio, r.target,
                ratio <= r.target ? "ok" : "SLOWER");
  }
  benchmark::Shutdown();
  std::system((std::string("rm -rf ") + dir).c_str());
  gclose_ws(0);
  gclose_gks();
  return 0;
}
