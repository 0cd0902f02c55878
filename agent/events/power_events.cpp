#include "agent/events/power_events.h"

#include "agent/decision/decision_cycle.h"
#include "agent/events/registry_watch.h"
#include "agent/events/start_retries.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_state.h"

#include <cstring>

namespace {

constexpr int kLastStateAttempts = 10;
constexpr DWORD kRetryWaitMs = 10;
constexpr DWORD kBetweenWritesMs = 10;
constexpr DWORD kBetweenReadsMs = 100;
constexpr DWORD kBeforeRestoreMs = 2000;

int32_t ReadACLineStatus() {
    SYSTEM_POWER_STATUS power = {};
    if (!machine::GetPowerStatus(&power)) {
        return 255;
    }
    return power.ACLineStatus;
}

// A token of one character is taken; a longer one empties the buffer; no token leaves it.
void ReadLastStateDigit(FILE* file, char (&buffer)[2]) {
    FileToken read = ReadStreamToken(file, 1);
    if (!read.hasToken) {
        return;
    }
    buffer[0] = read.token.empty() ? '\0' : read.token[0];
    buffer[1] = '\0';
}

bool ApplyLowRate() {
    return SetRefreshRate(lowRefreshRate, highRefreshRate);
}
bool ApplyHighRate() {
    return SetRefreshRate(highRefreshRate, highRefreshRate);
}

void CloseIfOpen(FILE* file) {
    if (file != nullptr) {
        fclose(file);
    }
}

} // namespace

bool ReadOnACPower() {
    return ReadACLineStatus() == 1;
}

bool RestoreRefreshRate(bool onAC, RestoreForm form) {
    FILE* acdc = OpenStateFile(DataFilePath(kLastACDCFileName), L"r");
    machine::Delay(kBetweenReadsMs);
    FILE* dcRefresh = OpenStateFile(DataFilePath(kLastDCRefreshFileName), L"r");
    if (acdc == nullptr || dcRefresh == nullptr) {
        CloseIfOpen(acdc);
        CloseIfOpen(dcRefresh);
        return true;
    }
    ReadLastStateDigit(acdc, lastACDC);
    machine::Delay(kBetweenReadsMs);
    ReadLastStateDigit(dcRefresh, lastDCRefresh);
    fclose(acdc);
    fclose(dcRefresh);
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

void RecordLastPowerState(char acdcDigit, DWORD openGap, RateRule rule, uint32_t currentRate) {
    ++rateDecisionCount;
    // The last state describes the panel. While no active monitor is the panel (lid closed
    // while docked) it stays as it was, and it is never taken from another display's rate; so
    // the panel is looked for before the files are touched.
    uint32_t rate = currentRate;
    bool panelActive = false;
    if (rule == RateRule::Fixed) {
        DISPLAY_DEVICEW adapter;
        panelActive = FindPanelAdapter(&adapter);
    } else {
        if (rate == kRateNotRead) {
            rate = ReadCurrentRefreshRate();
        }
        panelActive = rate != 0;
    }
    if (!panelActive) {
        WriteLog(L"RecordLastPowerState: panel not active, last state kept");
        return;
    }
    UniqueFileHandle acdc;
    UniqueFileHandle dcRefresh;
    for (int attempt = 0;; ++attempt) {
        acdc = OpenStateFileForWrite(DataFilePath(kLastACDCFileName));
        machine::Delay(openGap);
        dcRefresh = OpenStateFileForWrite(DataFilePath(kLastDCRefreshFileName));
        if (acdc.Valid() && dcRefresh.Valid()) {
            break;
        }
        acdc.Reset();
        dcRefresh.Reset();
        if (attempt + 1 == kLastStateAttempts) {
            return;
        }
        machine::Delay(kRetryWaitMs);
        machine::Delay(kRetryWaitMs);
    }
    (void)WriteOverStateFile(acdc.Get(), std::string(1, acdcDigit));
    machine::Delay(kBetweenWritesMs);

    char rateDigit = '2';
    if (rule == RateRule::Fixed) {
        rateDigit = acdcDigit == '2' ? '1' : '2';
    } else {
        if (rule == RateRule::Low) {
            rateDigit = rate == static_cast<uint32_t>(lowRefreshRate) ? '1' : '2';
        } else {
            rateDigit = rate == static_cast<uint32_t>(highRefreshRate) ? '2' : '1';
        }
    }
    machine::Delay(kBetweenWritesMs);
    (void)WriteOverStateFile(dcRefresh.Get(), std::string(1, rateDigit));
}

namespace {

void OnResumeSuspend() {
    if (IsDualRatePanel()) {
        bool onAC = ReadOnACPower();
        bool newest = true;
        if (ReadRefreshFlag() == 1) {
            newest = RestoreRefreshRate(onAC, RestoreForm::Resume);
        }
        if (newest && !isSessionLocked) {
            RecordLastPowerState(onAC ? '1' : '2', 10, RateRule::Low);
        }
    }
    isSuspended = false;
    OnPowerEvent();
    RetryPanelIdentificationLater(L"resume");
}

void OnPowerStatusChange() {
    bool changed = false;
    if (ReadACLineStatus() != lastACLineStatus) {
        changed = true;
        lastACLineStatus = ReadACLineStatus();
    }
    if (IsDualRatePanel() && !isSuspended && changed) {
        bool onAC = ReadOnACPower();
        // A charger that bounces delivers the next change inside this switch; that handler
        // sees the newer source, and this one leaves the rate and the files to it.
        bool newest = true;
        if (ReadRefreshFlag() == 1) {
            newest = onAC ? ApplyHighRate() : ApplyLowRate();
        }
        if (newest && !isSessionLocked) {
            RecordLastPowerState(onAC ? '1' : '2', 10, RateRule::Fixed);
        }
    }
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
    if (!TextEquals(detectEDID, L"FAIL") && TextEquals(isODPanel, L"YES")) {
        WriteLog(L"OnPowerEvent: Power_event end, Receive New Power_event");
        (void)Detect_Notify_Fn();
    }
}
