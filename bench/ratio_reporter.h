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
      const double time = clock_ == Clock::Cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      // Of repetitions the fastest counts: the one least disturbed by other work on the machine.
      auto [it, first] = times_.emplace(run.benchmark_name(), time);
      if (!first && time < it->second) it->second = time;
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
