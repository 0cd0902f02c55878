// The panel's two refresh rates. The configuration file wins; otherwise the first two
// detailed timing descriptors of an EDID without extension blocks (an EDID with extension
// blocks may describe its real timings elsewhere, so it gives none). Only a whole base block
// is ever read.
#include "agent/panel/edid_rates.h"

#include "agent/panel/refresh_rate.h"

#include <algorithm>
#include <cmath>

namespace {

// A real panel timing has a pixel clock of at least 10 MHz (units of 10 kHz). Some panels
// carry a slot with a tiny non-zero clock that is no timing and would give a rate of 3 Hz.
constexpr uint32_t kMinimumPixelClock = 1000;
constexpr size_t kDescriptorSize = 18;
constexpr size_t kManufacturerOffset = 8;
constexpr size_t kProductOffset = 10;

int32_t SnapSigned(int32_t rate) {
    return rate < 0 ? rate : static_cast<int32_t>(SnapRefreshRate(static_cast<uint32_t>(rate)));
}

} // namespace

bool IsPanelRateInRange(int32_t rate) {
    return rate >= kLowestPanelRate && rate <= kHighestPanelRate;
}

bool HasEDIDBaseBlock(const PanelEDID& edid) {
    return edid.found && edid.byteCount >= kEDIDBaseBlockSize &&
           edid.bytes.size() >= kEDIDBaseBlockSize;
}

int32_t ComputeTimingDescriptorRate(const PanelEDID& edid, size_t offset) {
    if (!HasEDIDBaseBlock(edid) || offset + kDescriptorSize > kEDIDBaseBlockSize) {
        return 0;
    }
    const uint8_t* d = edid.bytes.data() + offset;
    uint32_t pixelClock = d[0] | (static_cast<uint32_t>(d[1]) << 8);
    uint32_t horizontalActive = d[2] + 256u * (d[4] >> 4);
    uint32_t horizontalBlank = d[3] + 256u * (d[4] & 0x0F);
    uint32_t verticalActive = d[5] + 256u * (d[7] >> 4);
    uint32_t verticalBlank = d[6] + 256u * (d[7] & 0x0F);
    if (pixelClock < kMinimumPixelClock || horizontalActive == 0 || verticalActive == 0) {
        return 0;
    }
    double total = static_cast<double>(horizontalActive + horizontalBlank) *
                   static_cast<double>(verticalActive + verticalBlank);
    if (total == 0) {
        return 0;
    }
    return static_cast<int32_t>(std::round(std::pow(10, 6) * (pixelClock * 0.01) / total));
}

std::pair<int32_t, int32_t> ComputeEDIDRefreshRates(const PanelEDID& edid) {
    int32_t first = ComputeTimingDescriptorRate(edid, kFirstTimingOffset);
    int32_t second = ComputeTimingDescriptorRate(edid, kSecondTimingOffset);
    int32_t higher = std::max(first, second);
    int32_t lower = std::min(first, second);
    return {std::max(higher, 0), std::max(lower, 0)};
}

std::pair<int32_t, int32_t> SnapRatePair(int32_t first, int32_t second) {
    return {SnapSigned(first), SnapSigned(second)};
}

PanelRates LookUpPanelConfig(const PanelEDID& edid) {
    if (!HasEDIDBaseBlock(edid)) {
        return PanelRates{};
    }
    const uint8_t* b = edid.bytes.data();
    return ReadPanelConfig(b[kManufacturerOffset], b[kManufacturerOffset + 1], b[kProductOffset],
                           b[kProductOffset + 1]);
}

PanelRefreshRates DeterminePanelRates(const PanelEDID& edid, const PanelRates& configured) {
    int32_t a = 0;
    int32_t b = 0;
    if (configured.found) {
        a = configured.firstRate;
        b = configured.secondRate;
    } else if (HasEDIDBaseBlock(edid) && edid.bytes[kExtensionCountOffset] == 0) {
        std::pair<int32_t, int32_t> rates = ComputeEDIDRefreshRates(edid);
        a = rates.first;
        b = rates.second == 0 ? rates.first : rates.second;
    } else {
        // Extension blocks, or no usable EDID: what the lookup returned for an unlisted panel.
        a = configured.firstRate;
        b = configured.secondRate;
    }
    if (!configured.found && (a < 0 || b < 0)) {
        a = 0;
        b = 0;
    }
    // One rate out of range leaves no pair to switch between (a lone 0 would make the panel
    // look dual-rate, with 0 Hz as its low rate).
    if (!IsPanelRateInRange(a) || !IsPanelRateInRange(b)) {
        a = 0;
        b = 0;
    }
    std::pair<int32_t, int32_t> snapped = SnapRatePair(a, b);
    PanelRefreshRates result;
    result.high = std::max(snapped.first, snapped.second);
    result.low = std::min(snapped.first, snapped.second);
    return result;
}
