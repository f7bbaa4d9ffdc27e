// Latency samples per measured case, and the median / p99 summary that the
// benchmarks print after their run. Every comparison also prints one line
//
//     row|<measure>|<figure>|<floor>|<ratio>|<target>
//
// (figures as medians with their unit) that bench/run-all.sh gathers into
// its table.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <sched.h>
#include <string>
#include <vector>

namespace orvbench {

using Clock = std::chrono::steady_clock;

// Keeps the process (the benchmark and its emulator's threads alike) on the
// core it starts on, so that both sides of a comparison share one core.
inline void PinToOneCore() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
    sched_setaffinity(0, sizeof one, &one);
}

inline std::map<std::string, std::vector<double>> &Samples() {
    static std::map<std::string, std::vector<double>> s;
    return s;
}

// Microseconds of one round trip.
inline void Record(const std::string &name, Clock::time_point start) {
    Samples()[name].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
}

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline double Median(const std::string &name) { return Percentile(Samples()[name], 0.5); }

// A figure with its unit: microseconds below 10 ms, else milliseconds.
inline std::string Figure(double us) {
    char text[32];
    if (us < 10000) std::snprintf(text, sizeof text, "%.1f us", us);
    else std::snprintf(text, sizeof text, "%.1f ms", us / 1000);
    return text;
}

// The line bench/run-all.sh reads: medians of `measured` (less `lessUs`)
// and of `floor`, their ratio and the target ratio.
// A target of 0 is shown as "-" (a figure for information).
inline void PrintRow(const std::string &measure, double measuredUs, double floorUs, double target) {
    char goal[16] = "-";
    if (target > 0) std::snprintf(goal, sizeof goal, "%.2f", target);
    std::printf("row|%s|%s|%s|%.2f|%s\n", measure.c_str(), Figure(measuredUs).c_str(), Figure(floorUs).c_str(),
                floorUs > 0 ? measuredUs / floorUs : 0.0, goal);
    std::fflush(stdout);
}

// Times `floor` and `measured` in turn, `rounds` times each, so that both
// see the same load on a busy machine; `between` runs untimed after each
// (clean-up). Samples go under the two names.
inline void Alternate(int rounds, const std::string &floorName, const std::function<void()> &floor,
                      const std::string &measuredName, const std::function<void()> &measured,
                      const std::function<void()> &between = {}) {
    Samples()[floorName].clear();
    Samples()[measuredName].clear();
    for (int r = 0; r < rounds; ++r) {
        auto t = Clock::now();
        floor();
        Record(floorName, t);
        if (between) between();
        t = Clock::now();
        measured();
        Record(measuredName, t);
        if (between) between();
    }
}

// One line per pair: library against its bare floor.
inline void PrintRatio(const std::string &library, const std::string &bare) {
    const auto &l = Samples()[library];
    const auto &b = Samples()[bare];
    if (l.empty() || b.empty()) return;
    const double lm = Percentile(l, 0.5), l99 = Percentile(l, 0.99);
    const double bm = Percentile(b, 0.5), b99 = Percentile(b, 0.99);
    std::printf("%-22s median %9.1f us  p99 %9.1f us  (%zu samples)\n", library.c_str(), lm, l99, l.size());
    std::printf("%-22s median %9.1f us  p99 %9.1f us  (%zu samples)\n", bare.c_str(), bm, b99, b.size());
    std::printf("%-22s median %9.2f     p99 %9.2f\n\n", "ratio library/bare", lm / bm, l99 / b99);
}

}  // namespace orvbench
