// Entry of the benchmark executable: runs the selected benchmarks, then
// prints the play frame's cost as a multiple of the floor.
//
// A ratio of two figures taken in the same run holds on a busy or slow
// machine where the absolute times do not.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// Keeps each benchmark's CPU time in seconds (its median when repeated) while
// printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            if (!median && medians_.count(name) != 0) continue;
            // CPU time: both sides are single-threaded pixel work, and CPU
            // time leaves out the waits of a machine busy with other jobs.
            seconds_[name] =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (median) medians_[name] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints `name` / BM_Floor when both ran.
    void PrintRatio(const char* name, const char* target) const {
        auto floor = seconds_.find("BM_Floor");
        auto part = seconds_.find(name);
        if (floor == seconds_.end() || part == seconds_.end() || floor->second <= 0) return;
        std::printf("%-28s %6.2f x floor  (%s)\n", name, part->second / floor->second, target);
    }

  private:
    std::map<std::string, double> seconds_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Colour only for a terminal, as the library's own reporter does.
    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    reporter.PrintRatio("BM_PlayFrame", "target: at most 3");
    reporter.PrintRatio("BM_PresentFrame", "the present alone");
    benchmark::Shutdown();
    return 0;
}
