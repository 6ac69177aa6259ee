#pragma once

// Benchmarks here report ratios measured in one run: each pair names a path and the bound it
// is compared with (a raw transfer of the same bytes, a memcpy), and the reporter prints
// path / bound from the mean real times of that run, after the usual table.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vemo {
namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Prints "<label>: <path>/<bound> = x.xx" for each pair once the run is over.
    void addRatio(std::string label, std::string path, std::string bound) {
        _pairs.push_back({std::move(label), std::move(path), std::move(bound)});
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean") {
                _times[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Pair& pair : _pairs) {
            const auto path = _times.find(pair.path);
            const auto bound = _times.find(pair.bound);
            if (path == _times.end() || bound == _times.end() || bound->second <= 0) {
                std::printf("%s: not measured\n", pair.label.c_str());
                continue;
            }
            std::printf("%s: %.2fx (%s %.1f us, %s %.1f us)\n", pair.label.c_str(),
                        path->second / bound->second, pair.path.c_str(), path->second / 1000.0,
                        pair.bound.c_str(), bound->second / 1000.0);
        }
    }

private:
    struct Pair {
        std::string label;
        std::string path;
        std::string bound;
    };
    std::vector<Pair> _pairs;
    std::map<std::string, double> _times;
};

}  // namespace bench
}  // namespace vemo
