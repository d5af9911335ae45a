// Writing a drawing of 100,000 polylines and 10,000 markers as PostScript
// through the kernel, against a bare fprintf loop that writes the same
// bytes from records prepared beforehand (the kernel's own output, read
// back). Prints the time per record of both and their ratio.
#include <benchmark/benchmark.h>

#include "bench/bench_util.h"
#include "bench/ratio_reporter.h"

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "tests/proc_util.h"
#include "util/mess.h"

namespace {

constexpr int kLines = 100000;
constexpr int kMarkers = 10000;
constexpr int kRecords = kLines + kMarkers;
constexpr double kTarget = 2.0;
constexpr int kRepetitions = 9;

// The file goes to memory where the machine has it, so that the disk is
// timed with neither.
std::string scratch(const char *name) {
  static const std::string dir = [] {
    std::string pattern = "/dev/shm/ps_bench.XXXXXX";
    if (mkdtemp(pattern.data())) return pattern;
    pattern = "/tmp/ps_bench.XXXXXX";
    return std::string(mkdtemp(pattern.data()) ? pattern : "/tmp");
  }();
  return dir + "/" + name;
}

struct Work {
  std::vector<float> lines;    // kLines pairs of points
  std::vector<float> markers;  // kMarkers points
};

Work &work() {
  static Work w;
  return w;
}

void make_work() {
  unsigned state = 2024;
  auto next = [&state] { return static_cast<float>((state = state * 1103515245u + 12345u) >> 8 & 0xFFFF) / 65535.0f; };
  for (int i = 0; i < 4 * kLines; ++i) work().lines.push_back(next());
  for (int i = 0; i < 2 * kMarkers; ++i) work().markers.push_back(next());
}

// The drawing, through the kernel's PostScript workstation.
bool draw_through_kernel(const std::string &path) {
  if (gopen_ws(0, (path + ",eps,port").c_str(), GKS_PS) != 0) return false;
  const float black[3] = {0, 0, 0};
  gset_colr_rep(1, 1, black);
  const float *l = work().lines.data();
  for (int i = 0; i < kLines; ++i) gpolyline(2, l + 4 * i);
  gset_marker_type(GKS_MARK_PLUS);
  gpolymarker(kMarkers, work().markers.data());
  gclose_ws(0);
  return true;
}

// The kernel's file as records: a point ("%3.2f %3.2f mv\n" or "ln\n") or
// a line of text.
struct Record {
  double x, y;
  const char *format;  // nullptr: text
  std::string text;
};

std::vector<Record> &records() {
  static std::vector<Record> r;
  return r;
}

void read_records(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "r");
  char line[512];
  while (f && std::fgets(line, sizeof line, f)) {
    Record r{0, 0, nullptr, line};
    char op[4] = "";
    if (std::sscanf(line, "%lf %lf %3s", &r.x, &r.y, op) == 3 && (!std::strcmp(op, "mv") || !std::strcmp(op, "ln")))
      r.format = op[0] == 'm' ? "%3.2f %3.2f mv\n" : "%3.2f %3.2f ln\n";
    records().push_back(r);
  }
  if (f) std::fclose(f);
}

void write_bare(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "w");
  for (const Record &r : records()) {
    if (r.format)
      std::fprintf(f, r.format, r.x, r.y);
    else
      std::fputs(r.text.c_str(), f);
  }
  std::fclose(f);
}

void BM_postscript_kernel(benchmark::State &state) {
  const std::string path = scratch("kernel.ps");
  for (auto _ : state)
    if (!draw_through_kernel(path)) state.SkipWithError("the PostScript workstation did not open");
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_postscript_bare(benchmark::State &state) {
  const std::string path = scratch("bare.ps");
  for (auto _ : state) write_bare(path);
  state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_postscript_kernel)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_postscript_bare)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

}  // namespace

int main(int argc, char **argv) {
  MESS_set(0, 0);  // no "Creating:" lines between the results
  gopen_gks(nullptr, 0);
  make_work();
  const std::string kernel = scratch("kernel.ps"), bare = scratch("bare.ps");
  if (!draw_through_kernel(kernel)) {
    std::fprintf(stderr, "ps_bench: the PostScript workstation did not open\n");
    return 1;
  }
  read_records(kernel);
  write_bare(bare);
  if (zyb_test::read_file(kernel) != zyb_test::read_file(bare)) {
    std::fprintf(stderr, "ps_bench: the bare loop does not write the kernel's bytes\n");
    return 1;
  }

  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Cpu);
  zyb_bench::run_interleaved(argc, argv, reporter);
  auto per_record = [&reporter](const char *name) {
    return reporter.time_of(std::string(name) + "/repeats:" + std::to_string(kRepetitions)) / kRecords;
  };
  const double ours = per_record("BM_postscript_kernel"), theirs = per_record("BM_postscript_bare");
  const double ratio = theirs > 0 ? ours / theirs : 0;
  std::printf("PostScript, per record: kernel %.1f ns, bare fprintf %.1f ns\n", ours * 1e6, theirs * 1e6);
  std::printf("PostScript kernel/bare time ratio: %.3f (target %.1f) %s\n", ratio, kTarget,
              ratio <= kTarget ? "ok" : "SLOWER");
  benchmark::Shutdown();
  std::remove(kernel.c_str());
  std::remove(bare.c_str());
  rmdir(kernel.substr(0, kernel.rfind('/')).c_str());
  gclose_gks();
  return 0;
}
