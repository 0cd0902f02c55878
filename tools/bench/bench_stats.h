// Figures of a series of samples, and the clock they are taken with.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Summary {
    size_t count = 0;
    double median = 0;
    double p95 = 0; // nearest rank: the smallest sample not below 95 % of the samples
    double min = 0;
    double max = 0;
};

// Figures of the samples; all zero for none. The median of an even count is the mean of the
// two middle samples.
Summary Summarize(std::vector<double> samples);

// Milliseconds since an arbitrary start, from the performance counter.
double NowMs();
// A performance-counter value (of any process of the machine) on the scale of NowMs.
double CounterMs(long long counter);

// "12.3 ms" with one decimal below 100 ms, none above.
std::string FormatMs(double milliseconds);
// "4.2 MiB".
std::string FormatMiB(size_t bytes);

} // namespace bench
