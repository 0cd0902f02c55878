// What PanelCheck prints for one EDID: the agent's own view of the panel, line by line.
#pragma once

#include "agent/panel/panel_config.h"
#include "agent/state/agent_state.h"

#include <string>

// "key: value" lines, each ending in "\n": manufacturer, product, extensions, rate1, rate2,
// source, high, low, dual-rate, and config-line when the base block holds two timings.
// The EDID must hold a whole base block.
std::string FormatPanelReport(const PanelEDID& edid, const PanelRates& configured);
