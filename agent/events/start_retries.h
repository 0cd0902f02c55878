// What start-up could not finish in the first seconds of a logon, tried again from the message
// loop so that the window keeps answering meanwhile: the internal display that WMI did not
// name yet, and the session notification whose service was not ready yet (the registration
// fails until the platform's Terminal Services are up).
#pragma once

#include <windows.h>

constexpr UINT_PTR kStartRetryTimer = 1;
constexpr UINT_PTR kIdentificationTimer = 3;

// Starts the retry timer when the panel was not identified or the session notification not
// registered. Called once, just before the message loop.
void ScheduleStartRetries(HWND window);
// WM_TIMER for kStartRetryTimer: one more try of each thing still missing.
void OnStartRetryTimer(HWND window);
// One more identification while WMI has named no internal display.
void RetryPanelIdentification(const wchar_t* occasion);
// Unlock and resume: RetryPanelIdentification from the message loop. Both arrive as messages
// sent from another thread, inside which COM refuses every outgoing call
// (RPC_E_CANTCALLOUT_ININPUTSYNCCALL), so the WMI query waits for the handler's return.
// occasion: a literal.
void RetryPanelIdentificationLater(const wchar_t* occasion);
// WM_TIMER for kIdentificationTimer.
void OnIdentificationTimer(HWND window);
