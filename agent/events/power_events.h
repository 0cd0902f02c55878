// Power events and the display change, on the window thread: what they do to the refresh rate
// is the rate policy's (agent/decision/rate_policy.h); then the decision cycle runs.
#pragma once

#include <windows.h>

LRESULT OnPowerBroadcast(WPARAM event, LPARAM data);
void OnPowerEvent();
// WM_DISPLAYCHANGE for a console agent.
void OnDisplayChange();
