// A console reporter that, once every benchmark has run, prints each one's
// time beside a baseline benchmark's, as a ratio: the numbers a reader
// wants from a side-by-side run without doing the division by hand.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // `baseline` is the name (or name prefix) of the benchmark the others
    // are divided by. `peers` names, for some benchmarks, the one measuring
    // the peer on the same input: those rows get a second ratio to it.
    explicit RatioReporter(std::string baseline, std::map<std::string, std::string> peers = {})
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular),
          baseline_(std::move(baseline)),
          peers_(std::move(peers)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0 || run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (!seconds_.count(name)) order_.push_back(name);
            seconds_[name] = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        double base = 0;
        for (const auto& [name, seconds] : seconds_)
            if (name.rfind(baseline_, 0) == 0) base = seconds;
        if (base <= 0) {
            std::printf("\nno ratios: the baseline %s did not run\n", baseline_.c_str());
            return;
        }
        std::printf("\n%-40s %14s %10s%s\n", "benchmark", "time", "ratio",
                    peers_.empty() ? "" : "  same-file peer");
        for (const std::string& name : order_) {
            const double seconds = seconds_[name];
            std::printf("%-40s %11.1f us %9.2fx", name.c_str(), seconds * 1e6, seconds / base);
            const auto peer = peers_.find(name);
            if (peer != peers_.end() && seconds_.count(peer->second) && seconds_[peer->second] > 0)
                std::printf("  %8.2fx %s", seconds / seconds_[peer->second], peer->second.c_str());
            std::printf("\n");
        }
        std::printf("ratio = time / time of %s\n", baseline_.c_str());
    }

  private:
    std::string baseline_;
    std::map<std::string, std::string> peers_;
    std::vector<std::string> order_;
    std::map<std::string, double> seconds_;
};

// The body of a benchmark program's main that prints the ratios to `baseline`.
inline int RunWithRatios(int argc, char** argv, const std::string& baseline,
                         std::map<std::string, std::string> peers = {}) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(baseline, std::move(peers));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
