// A console reporter that keeps each benchmark's time per iteration, so a
// benchmark program can print ratios between its own runs at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace zyb_bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // CPU time suits pure computation on a shared machine; work that waits on
  // the X server needs real time.
  enum class Clock { Cpu, Real };
  explicit RatioReporter(Clock clock) : clock_(clock) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      // Of repeated runs the fastest counts: on a shared machine the
      // others mostly measure the neighbours.
      double t = clock_ == Clock::Cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      auto it = times_.find(run.benchmark_name());
      if (it == times_.end() || t < it->second) times_[run.benchmark_name()] = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double time_of(const std::string &name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
};

}  // namespace zyb_bench
