#include "agent/decision/rate_policy.h"

#include "agent/decision/last_state.h"
#include "agent/files/product_key.h"
#include "agent/machine/machine.h"
#include "agent/machine/power_source.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_state.h"

#include <cstdint>

namespace {

constexpr DWORD kBeforeRestoreMs = 2000;

bool ApplyLowRate() {
    return SetRefreshRate(lowRefreshRate, highRefreshRate);
}
bool ApplyHighRate() {
    return SetRefreshRate(highRefreshRate, highRefreshRate);
}

// The start form's restore and a record that no lock suppresses.
void RestoreAndRecord(LastStateEvent event) {
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    // A power change handled inside the restore's switch has recorded what it saw.
    if (ReadRefreshFlag() == 1 && !RestoreRefreshRate(onAC, RestoreForm::Start)) {
        return;
    }
    RecordLastPowerState(event, onAC);
}

// The power source's rate when RefreshFlag asks for switching, then the record, unless the
// switch gave way to a newer event handled inside it (that handler records what it saw) or the
// session is locked.
void FollowPowerSource(LastStateEvent event, bool onAC) {
    bool newest = true;
    if (ReadRefreshFlag() == 1) {
        newest = onAC ? ApplyHighRate() : ApplyLowRate();
    }
    if (newest && !isSessionLocked) {
        RecordLastPowerState(event, onAC);
    }
}

} // namespace

bool RestoreRefreshRate(bool onAC, RestoreForm form) {
    if (!ReadLastPowerState()) {
        return true;
    }
    machine::Delay(kBeforeRestoreMs);

    const char acdcDigit = lastACDC[0];
    const char dcDigit = lastDCRefresh[0];
    bool newest = true;
    if (onAC) {
        if (acdcDigit != '2' && dcDigit == '1') {
            newest = ApplyLowRate();
        } else {
            newest = ApplyHighRate();
        }
    } else if (form == RestoreForm::Start) {
        if (acdcDigit == '1') {
            newest = ApplyLowRate();
        } else if (acdcDigit == '2') {
            if (dcDigit == '1') {
                newest = ApplyLowRate();
            } else {
                newest = ApplyHighRate();
            }
        }
    } else if (acdcDigit == '1' || dcDigit == '1') {
        newest = ApplyLowRate();
    } else {
        newest = ApplyHighRate();
    }
    return newest;
}

void RestoreAtStart() {
    RestoreAndRecord(LastStateEvent::StartUp);
}

void RestoreForSession() {
    RestoreAndRecord(LastStateEvent::SessionRestore);
}

void RestoreAfterResume() {
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    bool newest = true;
    if (ReadRefreshFlag() == 1) {
        newest = RestoreRefreshRate(onAC, RestoreForm::Resume);
    }
    if (newest && !isSessionLocked) {
        RecordLastPowerState(LastStateEvent::Resume, onAC);
    }
}

void FollowPowerStatusChange() {
    bool changed = false;
    if (ReadACLineStatus() != lastACLineStatus) {
        changed = true;
        lastACLineStatus = ReadACLineStatus();
    }
    if (!IsDualRatePanel() || isSuspended || !changed) {
        return;
    }
    // A charger that bounces delivers the next change inside this switch; that handler sees
    // the newer source, and this one leaves the rate and the files to it.
    FollowPowerSource(LastStateEvent::PowerStatusChange, ReadOnACPower());
}

void RecordDisplayChange() {
    if (IsDualRatePanel() && !isChangingRefreshRate) {
        bool onAC = ReadOnACPower();
        uint32_t rate = ReadCurrentRefreshRate();
        RecordLastPowerState(LastStateEvent::DisplayChange, onAC, rate);
    }
}

void FollowMonitorCountChange() {
    monitorCount = CountActiveMonitors();
    if (monitorCount == lastMonitorCount) {
        return;
    }
    lastMonitorCount = monitorCount;
    if (!IsDualRatePanel()) {
        return;
    }
    FollowPowerSource(LastStateEvent::MonitorCountChange, ReadOnACPower());
}

void OnRefreshFlagChanged() {
    if (!IsDualRatePanel() || ReadOnACPower()) {
        return;
    }
    bool newest = ReadRefreshFlag() == 1 ? ApplyLowRate() : ApplyHighRate();
    if (newest && !isSessionLocked) {
        RecordLastPowerState(LastStateEvent::RefreshFlagChange, false);
    }
}
