// What PanelCheck prints for one EDID: the agent's own view of the panel, line by line.
#pragma once

#include "agent/panel/panel_config.h"
#include "agent/state/agent_state.h"

#include <string>

// The first rate outside 1 to 1000 Hz among those the agent would take (the configured pair,
// else the EDID's timings); false when there is none. Such a rate leaves the panel no rates.
bool FindOutOfRangeRate(const PanelEDID& edid, const PanelRates& configured, int32_t* rate);

// "key: value" lines, each ending in "\n": manufacturer, product, extensions, rate1, rate2,
// source, high, low, dual-rate, then reason when a rate is out of range, and config-line when
// the base block holds two plausible timings.
// The EDID must hold a whole base block.
std::string FormatPanelReport(const PanelEDID& edid, const PanelRates& configured);
