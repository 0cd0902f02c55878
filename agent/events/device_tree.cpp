#include "agent/events/device_tree.h"

#include "agent/decision/rate_policy.h"
#include "agent/log/log.h"
#include "agent/machine/machine.h"
#include "agent/state/agent_state.h"

#include <string>

namespace {

constexpr UINT kReenumerationIntervalMs = 10000;

} // namespace

void RequestDeviceTreeReenumeration(HWND window) {
    if (reenumerationIntervalRunning) {
        ++deferredDeviceEvents;
        return;
    }
    machine::ReenumerateDeviceTree();
    // Without the timer nothing would end the interval: then every event re-enumerates.
    reenumerationIntervalRunning =
        window != nullptr &&
        SetTimer(window, kReenumerationTimer, kReenumerationIntervalMs, nullptr) != 0;
}

void OnReenumerationTimer(HWND window) {
    if (deferredDeviceEvents == 0) {
        (void)KillTimer(window, kReenumerationTimer);
        reenumerationIntervalRunning = false;
        return;
    }
    WriteLog(L"OnDeviceChange: " + std::to_wstring(deferredDeviceEvents) +
             L" device events in the last interval, device tree re-enumerated once");
    deferredDeviceEvents = 0;
    // The timer goes on: this re-enumeration starts the next interval.
    machine::ReenumerateDeviceTree();
}

void OnDeviceChange(HWND window) {
    if (isIntelCPU && reenumerateOnDeviceChange) {
        RequestDeviceTreeReenumeration(window);
    }
    FollowMonitorCountChange();
}
