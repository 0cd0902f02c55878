// What each event does to the panel's refresh rate and to the last state: on battery the low
// rate, on AC the high rate, unless the last recorded state (agent/decision/last_state.h) says
// the user kept the other one; rates switch only while RefreshFlag is 1, and a locked session
// records nothing where the events say so. A switch that gives way to a newer decision handled
// inside it (SetRefreshRate answers false) leaves the last state to that newer handler.
// Everything here runs on the window thread, for a console agent.
#pragma once

enum class RestoreForm { Start, Resume };

// Puts the rate back as the last state says. False when its switch gave way to a newer
// decision: the caller then leaves the last-state files to the newer handler.
bool RestoreRefreshRate(bool onAC, RestoreForm form);
// Start-up (and a late identification): the restore and its record.
void RestoreAtStart();
// Logon, unlock and the return to the console: the restore and its record.
void RestoreForSession();
// PBT_APMRESUMESUSPEND.
void RestoreAfterResume();
// PBT_APMPOWERSTATUSCHANGE: notes the new power source and follows it.
void FollowPowerStatusChange();
// WM_DISPLAYCHANGE: records the new rate. A display change that the agent's own SetRefreshRate
// caused arrives nested inside the handler that switched the rate; that handler records by
// its own rule (or, while the session is locked, not at all), so the nested one does not.
void RecordDisplayChange();
// WM_DEVICECHANGE: when the count of active monitors changed, the rate for the power source.
void FollowMonitorCountChange();
// WM_REFRESHFLAG_CHANGED: on battery, the low rate when switching is on, else the high one.
void OnRefreshFlagChanged();
