// The agent's process-wide state: one instance of each variable for the whole process.
//
// Most fields have a single writing thread after start-up. appliedODStatus, currentODIcon,
// temp_OD_Icon and acpiDevice are shared by the window thread and the folder-watcher thread;
// every use of them happens inside an AgentLock (agent_lock.h).
#pragma once

#include <windows.h>
#include <dbt.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The panel's EDID as the display registry keys store it.
struct PanelEDID {
    std::vector<uint8_t> bytes;
    uint32_t byteCount = 0;
    bool found = false;
};

extern std::wstring panelIdentity;
extern std::wstring detectEDID;
extern std::wstring isODPanel;
extern PanelEDID panelEDID;
extern int32_t highRefreshRate;
extern int32_t lowRefreshRate;

// Shared with the folder-watcher thread: hold the AgentLock.
extern std::wstring appliedODStatus;
extern std::wstring currentODIcon;
extern std::wstring temp_OD_Icon;
extern HANDLE acpiDevice;
// What the last decision cycle (of any thread) read from OD_Result.txt; empty before the
// first cycle and after a cycle whose BIOS switch failed, so that the same choice written
// again is acted on instead of being taken for a duplicate.
extern std::wstring lastCycleChoice;
// The last valid choice ("1" or "0") a cycle read; empty while none was ever read. A deleted
// OD_Result.txt is written again with it: appliedODStatus is the agent's state, not the user's.
extern std::wstring lastValidChoice;

extern UINT modeChangeMessage;
extern bool reenumerateOnDeviceChange;
// Window thread only. A device-tree re-enumeration started less than an interval ago: device
// events meanwhile are only counted, and the interval's end re-enumerates once for them.
extern bool reenumerationIntervalRunning;
extern uint32_t deferredDeviceEvents;
// Window thread only. What start-up could not finish and the message loop tries again: the
// identification while WMI names no internal display, the session notification while its
// service is not ready.
extern int identificationRetriesLeft;
extern bool sessionNotificationPending;
extern int sessionRegistrationRetriesLeft;
extern bool isIntelCPU;
extern int32_t lastACLineStatus;
extern bool isSuspended;
extern bool isSessionLocked;
// True while SetRefreshRate changes the mode: the WM_DISPLAYCHANGE the platform sends from
// inside that change is the agent's own. Window thread only.
extern bool isChangingRefreshRate;
// Counts the rate switches and last-state recordings the window thread has begun. A handler
// nested inside the agent's own mode change (a power change the platform delivers during the
// display-change broadcast) begins a newer one; the switch it interrupted sees the count move
// and gives way. Window thread only.
extern uint32_t rateDecisionCount;
extern char lastACDC[2];
extern char lastDCRefresh[2];
extern uint32_t refreshFlag;
extern int32_t monitorCount;
extern int32_t lastMonitorCount;

extern bool watchHWIDResultDeleted;
extern bool watchIconDeleted;
extern bool watchODResultDeleted;
// Start-up may clear it just after the folder watcher has started.
extern std::atomic<bool> watchODResultChanged;
extern bool skipNextODResultChange;

extern HINSTANCE hInst;
extern wchar_t windowTitle[100];
extern wchar_t windowClassName[100];
extern HANDLE registryWatchThread;
extern HANDLE folderWatchThread;
// Set by the window's end to stop both watcher threads; manual reset, created on first use and
// never closed. Start-up clears it before it starts them.
HANDLE WatcherStopEvent();
extern HPOWERNOTIFY lidSwitchNotify;
extern HPOWERNOTIFY monitorPowerNotify;
extern DEV_BROADCAST_DEVICEINTERFACE_W monitorInterfaceFilter;

// Puts every variable back to its value at process start (and clears WatcherStopEvent); for
// tests that run the agent's functions in-process. Closes nothing.
void ResetAgentState();

// A dual-rate panel's two rates differ by more than 3 Hz: IsDualRatePanel for the rates the agent
// determined, AreDualRates for any two (the field tool's view of a panel).
bool AreDualRates(int32_t high, int32_t low);
bool IsDualRatePanel();
