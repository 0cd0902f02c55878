// Power events, and the two procedures with which every handler keeps the panel's refresh
// rate in step with the power source: on battery the low rate, on AC the high rate, unless
// the last recorded state (lasttimeACDC.txt, lasttimeDCRefresh.txt) says the user kept the
// other one. Everything here runs on the window thread.
#pragma once

#include <windows.h>

#include <cstdint>

enum class RestoreForm { Start, Resume };
// How the second last-state digit is worked out.
enum class RateRule {
    Low,   // "1" when the panel runs at its low rate, else "2"
    High,  // "2" when the panel runs at its high rate, else "1"
    Fixed, // "1" on battery, "2" on AC, whatever the rate
};
constexpr uint32_t kRateNotRead = 0xFFFFFFFF;

// True when the power source is AC; a status that cannot be read counts as battery.
bool ReadOnACPower();

// False when its switch gave way to a newer decision (SetRefreshRate): the caller then leaves
// the last-state files to the newer handler.
bool RestoreRefreshRate(bool onAC, RestoreForm form);
// acdcDigit '1' (AC) or '2'; currentRate: a rate the caller already read, or kRateNotRead.
// A recording is a rate decision too: a switch it interrupts gives way.
void RecordLastPowerState(char acdcDigit, DWORD openGap, RateRule rule,
                          uint32_t currentRate = kRateNotRead);
LRESULT OnPowerBroadcast(WPARAM event, LPARAM data);
void OnPowerEvent();
