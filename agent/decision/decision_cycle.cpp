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
#include "agent/state/time_marks.h"

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

namespace {

std::wstring RunDecisionCycle(const std::wstring* choiceJustRead) {
    AgentLock lock;

    SYSTEM_POWER_STATUS power = {};
    unsigned ac = kPowerStatusUnknown;
    if (machine::GetPowerStatus(&power)) {
        ac = power.ACLineStatus;
    }
    WriteLog(L"Detect_Notify_Fn: Power Status = " + NumberText(ac));

    std::wstring choice = choiceJustRead != nullptr ? LogODChoice(*choiceJustRead) : OD_OnOff();
    WriteLog(L"Detect_Notify_Fn: TXT file OD Status = " + choice);

    int rate = static_cast<int>(GetPanelDisplayMode().frequency);
    WriteLog(L"Detect_Notify_Fn: Now Refresh Rate = " + NumberText(rate));

    ODDecision decision = DecideOverdrive(choice, ac, rate, detectEDID);
    WriteLog(decision.logLine);
    MarkTime(TimeMark::Decided);
    const BiosAnswer answer = Notify_BIOS_SetOD(decision.biosRequest);
    MarkTime(TimeMark::BIOSAnswered);
    const bool switched = SwitchSucceeded(answer);
    std::wstring icon = decision.iconValue;
    if (!switched) {
        // The panel is not in the state asked for: report "not available" rather than a
        // state the panel is not in, and leave the applied state where it was, so the next
        // event or the user's next write tries again.
        WriteLog(L"Detect_Notify_Fn: BIOS did not switch OD, answer = " + BiosAnswerText(answer));
        icon = L"2";
    } else {
        appliedODStatus = decision.applied;
    }
    lastCycleChoice = switched ? choice : std::wstring();
    if (TextEquals(choice, L"1") || TextEquals(choice, L"0")) {
        lastValidChoice = choice;
    }
    // Everything this cycle decided is in place before the host notice: a cycle that runs
    // inside the broadcast (the window thread answers sent messages meanwhile) has the last
    // word.
    Notify_Helmbay_ODIcon(icon);

    if (answer.status == BiosStatus::Fail) {
        WriteLog(L"Detect_Notify_Fn: Error, can't set OD Off");
    }
    return choice;
}

} // namespace

std::wstring Detect_Notify_Fn() {
    return RunDecisionCycle(nullptr);
}

std::wstring Detect_Notify_Fn(const std::wstring& choiceJustRead) {
    return RunDecisionCycle(&choiceJustRead);
}
