// The picture of a run's reaction times for docs/benchmarks.md: one SVG file in which each
// program's samples, sorted, form a line from its fastest change to its slowest, so medians and
// tails of the agent and its floors can be read off side by side.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChartSeries {
    std::string name;   // legend text
    std::string colour; // an SVG colour
    std::vector<double> samplesMs;
};

// The SVG text; the time axis ends at the highest 99th percentile of the series, so one slow
// change does not flatten the rest (slower samples are drawn at the top edge).
std::string ReactionChartSvg(const std::string& title, const std::vector<ChartSeries>& series);

} // namespace bench
