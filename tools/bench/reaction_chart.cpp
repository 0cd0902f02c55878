#include "tools/bench/reaction_chart.h"

#include "tools/bench/bench_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

namespace {

constexpr double kWidth = 720;
constexpr double kHeight = 400;
constexpr double kLeft = 60;
constexpr double kRight = 20;
constexpr double kTop = 40;
constexpr double kBottom = 50;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;
constexpr double kTailRank = 0.99;
constexpr int kTimeTicks = 5;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// 1, 2 or 5 times a power of ten: the smallest such step that divides `span` into at most
// `ticks` parts.
double NiceStep(double span, int ticks) {
    const double rough = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough) {
            return factor * power;
        }
    }
    return 10 * power;
}

std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '<') {
            escaped += "&lt;";
        } else if (c == '>') {
            escaped += "&gt;";
        } else if (c == '&') {
            escaped += "&amp;";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

std::string ReactionChartSvg(const std::string& title, const std::vector<ChartSeries>& series) {
    double top = 1;
    for (const ChartSeries& one : series) {
        if (one.samplesMs.empty()) {
            continue;
        }
        std::vector<double> sorted = one.samplesMs;
        std::sort(sorted.begin(), sorted.end());
        const size_t rank = static_cast<size_t>(std::ceil(kTailRank * sorted.size()));
        top = std::max(top, sorted[rank == 0 ? 0 : rank - 1]);
    }
    const double step = NiceStep(top, kTimeTicks);
    top = std::ceil(top / step) * step;
    auto x = [](double fraction) { return kLeft + fraction * kPlotWidth; };
    auto y = [top](double ms) { return kTop + kPlotHeight * (1 - std::min(ms, top) / top); };

    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) +
                      "\" height=\"" + Number(kHeight) + "\" font-family=\"sans-serif\" " +
                      "font-size=\"12\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + Number(kLeft) + "\" y=\"20\" font-size=\"14\">" + Escape(title) +
           "</text>\n";
    for (double ms = 0; ms <= top + step / 2; ms += step) {
        svg += "<line x1=\"" + Number(x(0)) + "\" x2=\"" + Number(x(1)) + "\" y1=\"" +
               Number(y(ms)) + "\" y2=\"" + Number(y(ms)) + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(y(ms) + 4) +
               "\" text-anchor=\"end\">" + FormatMs(ms) + "</text>\n";
    }
    for (int percent = 0; percent <= 100; percent += 25) {
        svg += "<text x=\"" + Number(x(percent / 100.0)) + "\" y=\"" +
               Number(kTop + kPlotHeight + 18) + "\" text-anchor=\"middle\">" +
               std::to_string(percent) + " %</text>\n";
    }
    svg += "<text x=\"" + Number(kLeft + kPlotWidth / 2) + "\" y=\"" + Number(kHeight - 8) +
           "\" text-anchor=\"middle\">changes, fastest to slowest</text>\n";
    double legendY = kTop + 14;
    for (const ChartSeries& one : series) {
        if (one.samplesMs.empty()) {
            continue;
        }
        std::vector<double> sorted = one.samplesMs;
        std::sort(sorted.begin(), sorted.end());
        std::string points;
        for (size_t i = 0; i < sorted.size(); ++i) {
            const double fraction =
                sorted.size() == 1 ? 0.5 : static_cast<double>(i) / (sorted.size() - 1);
            points += Number(x(fraction)) + "," + Number(y(sorted[i])) + " ";
        }
        svg += "<polyline fill=\"none\" stroke-width=\"2\" stroke=\"" + one.colour +
               "\" points=\"" + points + "\"/>\n";
        svg += "<text x=\"" + Number(kLeft + 10) + "\" y=\"" + Number(legendY) + "\" fill=\"" +
               one.colour + "\">" + Escape(one.name) + ": median " +
               FormatMs(Summarize(one.samplesMs).median) + "</text>\n";
        legendY += 16;
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace bench
