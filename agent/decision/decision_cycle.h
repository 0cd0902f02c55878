// The one place where the agent decides the panel's overdrive state, from the power source,
// the user's choice in OD_Result.txt and the panel's current refresh rate.
#pragma once

#include <string>

// One decision cycle. Takes the AgentLock for the whole run. Returns the choice text it read
// from OD_Result.txt, which it also keeps in lastCycleChoice (empty when the BIOS switch
// failed) for the folder watcher.
std::wstring Detect_Notify_Fn();
// The same cycle for a caller that has just read the choice under the lock (the folder
// watcher): it logs that value as its own read would and spares reading the file again.
std::wstring Detect_Notify_Fn(const std::wstring& choiceJustRead);

// The decision table, pure: which row inputs select.
struct ODDecision {
    const wchar_t* biosRequest; // "1" or "0"
    const wchar_t* iconValue;   // "1", "0" or "2"
    const wchar_t* applied;     // new appliedODStatus
    std::wstring logLine;
};
ODDecision DecideOverdrive(const std::wstring& choice, unsigned acLineStatus, int rate,
                           const std::wstring& detectEDIDText);
