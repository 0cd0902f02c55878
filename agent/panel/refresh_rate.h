// Display-mode operations: counting active monitors, the internal panel's current mode,
// nominal refresh rates, and switching display device 0 to a target rate.
#pragma once

#include <cstdint>

struct PanelDisplayMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t frequency = 0;
};

int32_t CountActiveMonitors();
// A rate within 3 Hz of a nominal rate becomes that rate; any other value is returned as is.
uint32_t SnapRefreshRate(uint32_t rate);
// Up to three attempts, 3 s apart. False when it gave way: a newer rate decision, handled
// inside its mode change, took over, and the caller must not record its older state.
bool SetRefreshRate(int32_t target, int32_t acrrValue);
PanelDisplayMode GetPanelDisplayMode();
// The snapped current rate of display device 0; 0 when it cannot be read.
uint32_t ReadCurrentRefreshRate();
