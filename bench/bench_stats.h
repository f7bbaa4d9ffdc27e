// Latency samples per measured case, and the median / p99 summary that the
// benchmarks print after their run.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace orvbench {

using Clock = std::chrono::steady_clock;

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
