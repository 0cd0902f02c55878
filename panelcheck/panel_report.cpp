#include "panelcheck/panel_report.h"

#include "agent/panel/edid_rates.h"
#include "agent/state/agent_state.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Hex4(uint32_t word) {
    char text[8];
    snprintf(text, sizeof text, "%04X", word);
    return text;
}

std::string Line(const char* key, const std::string& value) {
    return std::string(key) + ": " + value + "\n";
}

std::string Number(long long value) {
    return std::to_string(value);
}

} // namespace

bool FindOutOfRangeRate(const PanelEDID& edid, const PanelRates& configured, int32_t* rate) {
    int32_t first = configured.firstRate;
    int32_t second = configured.secondRate;
    if (!configured.found) {
        if (!HasEDIDBaseBlock(edid) || edid.bytes[kExtensionCountOffset] != 0) {
            return false;
        }
        std::pair<int32_t, int32_t> rates = ComputeEDIDRefreshRates(edid);
        if (rates.first == 0) {
            return false; // no rate at all, which is another story
        }
        first = rates.first;
        second = rates.second == 0 ? rates.first : rates.second;
    }
    for (int32_t candidate : {first, second}) {
        if (!IsPanelRateInRange(candidate)) {
            *rate = candidate;
            return true;
        }
    }
    return false;
}

std::string FormatPanelReport(const PanelEDID& edid, const PanelRates& configured) {
    const std::vector<uint8_t>& b = edid.bytes;
    uint32_t manufacturer = b[9] * 256u + b[8];
    uint32_t product = b[11] * 256u + b[10];
    int32_t rate1 = ComputeTimingDescriptorRate(edid, kFirstTimingOffset);
    int32_t rate2 = ComputeTimingDescriptorRate(edid, kSecondTimingOffset);
    uint8_t extensions = b[kExtensionCountOffset];
    PanelRefreshRates rates = DeterminePanelRates(edid, configured);

    std::string report;
    report += Line("manufacturer", Hex4(manufacturer));
    report += Line("product", Hex4(product));
    report += Line("extensions", Number(extensions));
    report += Line("rate1", Number(rate1));
    report += Line("rate2", Number(rate2));
    report += Line("source", configured.found ? "config" : extensions == 0 ? "edid" : "none");
    report += Line("high", Number(rates.high));
    report += Line("low", Number(rates.low));
    report += Line("dual-rate", AreDualRates(rates.high, rates.low) ? "yes" : "no");
    int32_t outOfRange = 0;
    if (FindOutOfRangeRate(edid, configured, &outOfRange)) {
        report += Line("reason", "rate out of range (" + Number(outOfRange) + " Hz)");
    }
    if (rate1 != 0 && rate2 != 0 && IsPanelRateInRange(rate1) && IsPanelRateInRange(rate2)) {
        // The line that would list this panel, e.g. one whose EDID has extension blocks.
        std::pair<int32_t, int32_t> snapped = SnapRatePair(rate1, rate2);
        report += Line("config-line", Hex4(manufacturer) + "," + Hex4(product) + "," +
                                          Number(std::max(snapped.first, snapped.second)) + "," +
                                          Number(std::min(snapped.first, snapped.second)));
    }
    return report;
}
