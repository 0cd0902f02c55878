#include "tools/bench/bench_stats.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

Summary Summarize(std::vector<double> samples) {
    Summary summary;
    if (samples.empty()) {
        return summary;
    }
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    summary.count = n;
    summary.min = samples.front();
    summary.max = samples.back();
    summary.median = n % 2 == 1 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(n)));
    summary.p95 = samples[rank == 0 ? 0 : rank - 1];
    return summary;
}

double CounterMs(long long counter) {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    return static_cast<double>(counter) / ticksPerMs;
}

double NowMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return CounterMs(now.QuadPart);
}

std::string FormatMs(double milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, milliseconds < 100 ? "%.1f ms" : "%.0f ms", milliseconds);
    return text;
}

std::string FormatMiB(size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

} // namespace bench
