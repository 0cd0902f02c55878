#include "agent/events/power_events.h"

#include "agent/decision/decision_cycle.h"
#include "agent/decision/rate_policy.h"
#include "agent/events/start_retries.h"
#include "agent/log/log.h"
#include "agent/machine/machine.h"
#include "agent/machine/power_source.h"
#include "agent/panel/panel_identity.h"
#include "agent/state/agent_state.h"

#include <cstring>
#include <string>

namespace {

void OnResumeSuspend() {
    RestoreAfterResume();
    isSuspended = false;
    OnPowerEvent();
    RetryPanelIdentificationLater(L"resume");
}

void OnPowerStatusChange() {
    FollowPowerStatusChange();
    OnPowerEvent();
}

} // namespace

LRESULT OnPowerBroadcast(WPARAM event, LPARAM data) {
    switch (event) {
    case PBT_APMSUSPEND:
        isSuspended = true;
        break;
    case PBT_APMRESUMESUSPEND:
        OnResumeSuspend();
        break;
    case PBT_APMRESUMEAUTOMATIC:
        // A wake without a user (a remote wake, some modern-standby systems) may bring no
        // PBT_APMRESUMESUSPEND at all: the suspend is over all the same, or the panel would
        // stop following the power source. The restore waits for the user's resume.
        isSuspended = false;
        break;
    case PBT_APMPOWERSTATUSCHANGE:
        OnPowerStatusChange();
        break;
    case PBT_POWERSETTINGCHANGE: {
        const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(data);
        if (setting != nullptr &&
            memcmp(&setting->PowerSetting, &machine::kMonitorPowerOn, sizeof(GUID)) == 0) {
            OnPowerEvent();
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

void OnPowerEvent() {
    WriteLog(std::wstring(L"OnPowerEvent Power status = ") + (ReadOnACPower() ? L"1" : L"0"));
    if (CurrentPanelVerdict() == PanelVerdict::OverdrivePanel) {
        WriteLog(L"OnPowerEvent: Power_event end, Receive New Power_event");
        (void)Detect_Notify_Fn();
    }
}

void OnDisplayChange() {
    RecordDisplayChange();
    OnPowerEvent();
}
