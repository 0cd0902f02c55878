// Builds EDID base blocks for tests: header, words and two 18-byte descriptors.
#pragma once

#include "agent/state/agent_state.h"

#include <cstdint>
#include <vector>

namespace paneltest {

struct Timing {
    uint16_t pixelClock = 0; // units of 10 kHz
    uint16_t hActive = 0;
    uint16_t hBlank = 0;
    uint16_t vActive = 0;
    uint16_t vBlank = 0;
};

// A timing of 1920x1080 with totals 2080x1120 at about `rate` Hz.
Timing TimingAt(int rate);
// Tag 0xFC (display product name): a descriptor that is no timing.
Timing DisplayDescriptor();

PanelEDID MakeEDID(const Timing& first, const Timing& second, uint8_t extensions = 0,
                   uint8_t byte8 = 0x09, uint8_t byte9 = 0xE5, uint8_t byte10 = 0x1B,
                   uint8_t byte11 = 0x0A);

} // namespace paneltest
