#include "bench/support/ratio.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {
namespace {

struct Times {
    std::vector<double> real, cpu;  // seconds per iteration, one per repetition
    double medianReal = 0, medianCpu = 0;
    bool haveMedian = false;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Shows the runs as the console reporter does and keeps their times by function name.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const double scale = benchmark::GetTimeUnitMultiplier(run.time_unit);
            Times& t = times_[run.run_name.function_name];
            if (run.run_type == Run::RT_Iteration) {
                t.real.push_back(run.GetAdjustedRealTime() / scale);
                t.cpu.push_back(run.GetAdjustedCPUTime() / scale);
            } else if (run.aggregate_name == "median" && run.aggregate_unit == benchmark::kTime) {
                t.medianReal = run.GetAdjustedRealTime() / scale;
                t.medianCpu = run.GetAdjustedCPUTime() / scale;
                t.haveMedian = true;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The median times of a case; false when it did not run.
    bool Get(const std::string& name, double* real, double* cpu) const {
        auto it = times_.find(name);
        if (it == times_.end()) return false;
        const Times& t = it->second;
        if (!t.real.empty()) {
            *real = Median(t.real);
            *cpu = Median(t.cpu);
            return true;
        }
        *real = t.medianReal;
        *cpu = t.medianCpu;
        return t.haveMedian;
    }

private:
    std::map<std::string, Times> times_;
};

}  // namespace

int MainWithRatios(int argc, char** argv, std::initializer_list<Ratio> ratios) {
    // The repetitions of the cases are interleaved unless the command line says otherwise: a
    // case and its baseline then see the same load over the run, and a burst of other work on
    // the machine cannot fall on one side of a ratio only.
    std::vector<char*> args(argv, argv + argc);
    const std::string interleave = "--benchmark_enable_random_interleaving";
    if (std::none_of(args.begin(), args.end(),
                     [&](const char* a) { return std::string(a).rfind(interleave, 0) == 0; })) {
        static std::string flag = interleave + "=true";
        args.insert(args.begin() + (argc > 0 ? 1 : 0), flag.data());
    }
    args.push_back(nullptr);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const Ratio& r : ratios) {
        double subjectReal = 0, subjectCpu = 0, baseReal = 0, baseCpu = 0;
        if (!reporter.Get(r.subject, &subjectReal, &subjectCpu) ||
            !reporter.Get(r.baseline, &baseReal, &baseCpu) || baseReal <= 0 || baseCpu <= 0) {
            std::printf("RATIO %s not measured (filtered out or failed)\n", r.label);
            continue;
        }
        const double cpu = subjectCpu / baseCpu;
        const double real = subjectReal / baseReal;
        std::printf("RATIO %s cpu=%.2f real=%.2f goal=%.2f(%s) %s\n", r.label, cpu, real, r.goal,
                    r.judge == Ratio::kCpu ? "cpu" : "real",
                    (r.judge == Ratio::kCpu ? cpu : real) <= r.goal ? "met" : "MISSED");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace bench
