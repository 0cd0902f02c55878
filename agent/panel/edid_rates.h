// The panel's two refresh rates from FRQ_Config.txt or, failing that, the EDID's detailed
// timing descriptors.
#pragma once

#include "agent/panel/panel_config.h"
#include "agent/state/agent_state.h"

#include <cstdint>
#include <utility>

// (higher, lower) of the descriptors at offsets 54 and 72; 0 for a descriptor that is no timing.
std::pair<int32_t, int32_t> ComputeEDIDRefreshRates(const PanelEDID& edid);
std::pair<int32_t, int32_t> SnapRatePair(int32_t first, int32_t second);

struct PanelRefreshRates {
    int32_t high = 0;
    int32_t low = 0;
};
// What start-up sets as highRefreshRate and lowRefreshRate, given the EDID and the
// configuration file's answer for it.
PanelRefreshRates DeterminePanelRates(const PanelEDID& edid, const PanelRates& configured);
