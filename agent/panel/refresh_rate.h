// Display-mode operations: counting active monitors, the internal panel's current mode,
// nominal refresh rates, and switching the panel's adapter to a target rate.
//
// Rates are read and switched on the adapter whose active monitor is the panel, found by
// identity: display device 0 may drive an external monitor (a docked notebook with its lid
// closed, or the panel on the discrete adapter), which must keep its own mode.
#pragma once

#include <windows.h>

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
// Up to three attempts, 3 s apart; does nothing when no active monitor is the panel. False
// when it gave way: a newer rate decision, handled inside its mode change, took over, and the
// caller must not record its older state.
bool SetRefreshRate(int32_t target, int32_t acrrValue);
PanelDisplayMode GetPanelDisplayMode();
// The snapped current rate of the panel's adapter; 0 when it cannot be read or no active
// monitor is the panel.
uint32_t ReadCurrentRefreshRate();
// The display adapter with an active, attached monitor whose identity is panelIdentity;
// false when there is none.
bool FindPanelAdapter(DISPLAY_DEVICEW* adapter);
