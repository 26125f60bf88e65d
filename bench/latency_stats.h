// Percentiles of a set of latencies in microseconds.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace volmar::bench {

struct LatencyStats {
    double P50 = 0, P90 = 0, P99 = 0, Max = 0;
};

inline LatencyStats Summarise(std::vector<double> Us) {
    LatencyStats s;
    if (Us.empty()) return s;
    std::sort(Us.begin(), Us.end());
    const auto at = [&](double q) { return Us[static_cast<std::size_t>(q * (Us.size() - 1))]; };
    s.P50 = at(0.50);
    s.P90 = at(0.90);
    s.P99 = at(0.99);
    s.Max = Us.back();
    return s;
}

inline void Print(const char* Name, const LatencyStats& S, std::size_t N) {
    std::printf("%-28s n=%zu  p50=%8.1f us  p90=%8.1f us  p99=%8.1f us  max=%8.1f us\n", Name, N,
                S.P50, S.P90, S.P99, S.Max);
}

} // namespace volmar::bench
