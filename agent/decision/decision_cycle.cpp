#include "agent/decision/decision_cycle.h"

#include "agent/bios/acpi_channel.h"
#include "agent/decision/host_notice.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"

namespace {

constexpr unsigned kOnACPower = 1;
// A power status that cannot be read is reported as "unknown", which counts as battery:
// overdrive off is the safe side.
constexpr unsigned kPowerStatusUnknown = 255;
constexpr int kOverdriveMinimumRate = 120;

// Rates measured just around 120 Hz count as 120 Hz.
int SnapTo120(int rate) {
    return (rate >= 117 && rate <= 123) ? 120 : rate;
}

} // namespace

ODDecision DecideOverdrive(const std::wstring& choice, unsigned acLineStatus, int rate,
                           const std::wstring& detectEDIDText) {
    const std::wstring rateText = NumberText(rate);
    const bool onAC = acLineStatus == kOnACPower;
    const std::wstring prefix = L"Detect_Notify_Fn: " + detectEDIDText;
    if (TextEquals(choice, L"1")) {
        if (onAC) {
            std::wstring line =
                prefix + L", Power Status is AC mode, Now Refresh Rate: " + rateText + L" Hz";
            if (SnapTo120(rate) >= kOverdriveMinimumRate) {
                return {L"1", L"1", L"1", line};
            }
            return {L"0", L"2", L"0", line};
        }
        return {L"0", L"2", L"0",
                prefix + L", Power Status is DC mode, OD Icon Invalid, RefreshRate = " + rateText +
                    L"Hz"};
    }
    if (TextEquals(choice, L"0")) {
        if (onAC) {
            return {L"0", L"0", L"0",
                    prefix + L", Power Status is AC mode, Now Refresh Rate: " + rateText + L" Hz," +
                        L" because txt file OD status = 0."};
        }
        return {L"0", L"2", L"0",
                prefix + L", Power Status is DC mode, OD Icon Invalid, Now Refresh Rate: " +
                    rateText + L" Hz," + L" because txt file OD status = 0."};
    }
    return {L"0", L"2", L"0",
            prefix + L", OD Icon Invalid, Refresh Rate: " + rateText + L" Hz," +
                L"txt file OD status not match."};
}

std::wstring Detect_Notify_Fn() {
    AgentLock lock;

    SYSTEM_POWER_STATUS power = {};
    unsigned ac = kPowerStatusUnknown;
    if (machine::GetPowerStatus(&power)) {
        ac = power.ACLineStatus;
    }
    WriteLog(L"Detect_Notify_Fn: Power Status = " + NumberText(ac));

    std::wstring choice = OD_OnOff();
    WriteLog(L"Detect_Notify_Fn: TXT file OD Status = " + choice);

    int rate = static_cast<int>(GetPanelDisplayMode().frequency);
    WriteLog(L"Detect_Notify_Fn: Now Refresh Rate = " + NumberText(rate));

    ODDecision decision = DecideOverdrive(choice, ac, rate, detectEDID);
    WriteLog(decision.logLine);
    std::wstring answer = Notify_BIOS_SetOD(decision.biosRequest);
    Notify_Helmbay_ODIcon(decision.iconValue);
    appliedODStatus = decision.applied;

    if (TextEquals(answer, L"FAIL")) {
        WriteLog(L"Detect_Notify_Fn: Error, can't set OD Off");
    }
    return choice;
}
