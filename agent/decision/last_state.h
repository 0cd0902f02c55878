// The last recorded power source and rate state, lasttimeACDC.txt and lasttimeDCRefresh.txt:
// read for a restore, written after a rate decision, created at start-up. The two files are
// always opened as a pair, by one retry loop; each occasion that records takes its pause
// between the two opens and its rule for the rate digit from one table in the .cpp, so no
// caller passes timings. Window thread.
#pragma once

#include <cstdint>

// The occasions that record the last state.
enum class LastStateEvent {
    StartUp,            // the restore at start-up and after a late identification
    SessionRestore,     // logon, unlock, the return to the console
    Resume,             // PBT_APMRESUMESUSPEND
    PowerStatusChange,  // PBT_APMPOWERSTATUSCHANGE
    DisplayChange,      // WM_DISPLAYCHANGE
    MonitorCountChange, // WM_DEVICECHANGE with a changed monitor count
    RefreshFlagChange,  // WM_REFRESHFLAG_CHANGED (recorded on battery only)
};
constexpr uint32_t kRateNotRead = 0xFFFFFFFF;

// Reads both files' digits into lastACDC and lastDCRefresh; false, with nothing read, when
// either file cannot be opened.
bool ReadLastPowerState();
// Records onAC ("1" AC, "2" battery) and the rate digit by the event's rule. currentRate: a
// rate the caller already read, or kRateNotRead. A recording is a rate decision too: a switch
// it interrupts gives way.
void RecordLastPowerState(LastStateEvent event, bool onAC, uint32_t currentRate = kRateNotRead);
// Creates the two last-state files when both are missing.
void CreateLastStateFiles(uint32_t startRate);
