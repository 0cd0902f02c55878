// The panel's two refresh rates from FRQ_Config.txt or, failing that, the EDID's detailed
// timing descriptors.
#pragma once

#include "agent/panel/panel_config.h"
#include "agent/state/agent_state.h"

#include <cstddef>
#include <cstdint>
#include <utility>

constexpr size_t kEDIDBaseBlockSize = 128;
constexpr size_t kFirstTimingOffset = 54;
constexpr size_t kSecondTimingOffset = 72;
constexpr size_t kExtensionCountOffset = 126;

// Whether the EDID holds a whole base block; nothing is read from a shorter one.
bool HasEDIDBaseBlock(const PanelEDID& edid);
// Refresh rate of the 18-byte descriptor at offset (54 or 72). 0 for a descriptor that is no
// timing (a display descriptor, a pixel clock under 10 MHz, no active width or height) and
// for an EDID without a whole base block.
int32_t ComputeTimingDescriptorRate(const PanelEDID& edid, size_t offset);

// (higher, lower) of the descriptors at offsets 54 and 72; 0 for a descriptor that is no timing.
std::pair<int32_t, int32_t> ComputeEDIDRefreshRates(const PanelEDID& edid);
std::pair<int32_t, int32_t> SnapRatePair(int32_t first, int32_t second);

// A rate the panel can really run at: 1 to 1000 Hz. Anything else (a negative or huge
// configured rate, a timing whose totals are nonsense) is no rate; asking the display for it
// would request billions of hertz once the rate is taken as unsigned.
constexpr int32_t kLowestPanelRate = 1;
constexpr int32_t kHighestPanelRate = 1000;
bool IsPanelRateInRange(int32_t rate);

struct PanelRefreshRates {
    int32_t high = 0;
    int32_t low = 0;
};
// ReadPanelConfig for the EDID's manufacturer and product words; not found for an EDID
// without a whole base block.
PanelRates LookUpPanelConfig(const PanelEDID& edid);

// What start-up sets as highRefreshRate and lowRefreshRate, given the EDID and the
// configuration file's answer for it. Both 0 for a missing or short EDID not listed in the file,
// and both 0 when either rate is out of range, so that such a panel is never switched.
PanelRefreshRates DeterminePanelRates(const PanelEDID& edid, const PanelRates& configured);
