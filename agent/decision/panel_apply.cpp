#include "agent/decision/panel_apply.h"

#include "agent/decision/decision_cycle.h"
#include "agent/decision/host_notice.h"
#include "agent/decision/last_state.h"
#include "agent/decision/rate_policy.h"
#include "agent/files/product_key.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/machine/machine.h"
#include "agent/panel/edid_rates.h"
#include "agent/panel/panel_config.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"

#include <cstdint>

namespace {

// Start-up gives the display a second between recording the state and restoring the rate.
constexpr DWORD kStartRestoreDelayMs = 1000;

} // namespace

void FirstDecision() {
    switch (CurrentPanelVerdict()) {
    case PanelVerdict::NoPanelIdentity:
        watchODResultChanged = false;
        WriteLog(L"detectEDID Fail, BIOS not return EDID.");
        // A standard user's agent away from the console must not tell the console's user that
        // the panel has no overdrive.
        if (ActsForConsole(L"OnStart")) {
            (void)WriteStateValue(DataFilePath(kHWIDResultFileName), L"0");
        }
        break;
    case PanelVerdict::OverdrivePanel:
        WriteLog(L"OnStart: panel registry monitor start");
        // Away from the console the first decision waits until the session is the console.
        if (ActsForConsole(L"OnStart")) {
            (void)Detect_Notify_Fn();
        }
        break;
    case PanelVerdict::NotOverdrivePanel:
    case PanelVerdict::DetectionFailed:
        if (ActsForConsole(L"OnStart")) {
            AgentLock lock;
            Notify_Helmbay_ODIcon(L"2");
        }
        watchODResultChanged = false;
        WriteLog(L"OnStart: isODPanel is No or fail, so not support OD function");
        break;
    }
}

void DeterminePanelRefreshRates() {
    panelEDID = ReadPanelEDID(GetInternalPanelIdentity());
    PanelRefreshRates rates = DeterminePanelRates(panelEDID, LookUpPanelConfig(panelEDID));
    highRefreshRate = rates.high;
    lowRefreshRate = rates.low;
}

bool ApplyIdentifiedPanel(const StartUpSteps* startUp) {
    FirstDecision();
    if (startUp != nullptr && !startUp->claimSingleInstance()) {
        return false;
    }
    DeterminePanelRefreshRates();
    if (startUp != nullptr) {
        startUp->afterRates();
    }
    WriteNeedShow(highRefreshRate != lowRefreshRate);
    if (startUp == nullptr) {
        // As at start-up: the panel and the shared files are the console's agent's to touch.
        if (IsConsoleSession()) {
            CreateLastStateFiles(ReadCurrentRefreshRate());
            RestoreAtStart();
        }
        return true;
    }
    startUp->beforeLastState();
    uint32_t startRate = ReadCurrentRefreshRate();
    // Another session's agent keeps the last state while this session is away from the
    // console; this one records and restores once its session is the console.
    if (IsConsoleSession()) {
        CreateLastStateFiles(startRate);
    }
    machine::Delay(kStartRestoreDelayMs);
    if (IsConsoleSession()) {
        RestoreAtStart();
    }
    return true;
}

void CompleteLateIdentification(const std::wstring& identity) {
    {
        // The folder watcher reads the verdict with the lock held.
        AgentLock lock;
        panelIdentity = identity;
        watchODResultChanged = true;
        IdentifyODPanel();
    }
    (void)ApplyIdentifiedPanel(nullptr);
}
