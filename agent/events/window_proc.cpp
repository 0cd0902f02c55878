#include "agent/events/window_proc.h"

#include "agent/decision/host_notice.h"
#include "agent/events/device_tree.h"
#include "agent/events/power_events.h"
#include "agent/events/registry_watch.h"
#include "agent/events/start_retries.h"
#include "agent/events/state_file_events.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "agent/resources/resource.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"

#include <wtsapi32.h>

#include <cwchar>
#include <string>

namespace {

constexpr WORD kCommandAbout = IDM_ABOUT;
constexpr WORD kCommandExit = IDM_EXIT;
// How long the window's end waits for each watcher thread: longer than a whole decision cycle
// with its host notice.
constexpr DWORD kWatcherEndWaitMs = 20000;
const GUID kMonitorInterfaceClass = {
    0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};

void RegisterMonitorNotification(HWND window) {
    monitorInterfaceFilter = {};
    monitorInterfaceFilter.dbcc_size = sizeof monitorInterfaceFilter;
    monitorInterfaceFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    monitorInterfaceFilter.dbcc_reserved = 0;
    monitorInterfaceFilter.dbcc_classguid = kMonitorInterfaceClass;
    // The registration ends with the window; its handle is not needed.
    (void)RegisterDeviceNotificationW(window, &monitorInterfaceFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// A watcher may be inside a handler that broadcasts the host notice and waits for this
// window's answer, so the wait answers sent messages; bounded, so a thread stuck in the
// platform cannot keep the agent from ending. A thread that already ended is simply closed.
void JoinWatcherThread(HANDLE* thread, const wchar_t* name) {
    if (*thread == nullptr) {
        return;
    }
    if (WaitAnsweringSentMessages(*thread, kWatcherEndWaitMs) != WAIT_OBJECT_0) {
        WriteLog(std::wstring(L"OnDestroy: ") + name + L" did not end within " +
                 std::to_wstring(kWatcherEndWaitMs / 1000) + L" s");
    }
    CloseHandle(*thread);
    *thread = nullptr;
}

void OnDestroy(HWND window) {
    (void)SetEvent(WatcherStopEvent());
    JoinWatcherThread(&registryWatchThread, L"RegistryWatchThread");
    JoinWatcherThread(&folderWatchThread, L"WatchDataFolder");
    WTSUnRegisterSessionNotification(window);
    UnregisterPowerSettingNotification(lidSwitchNotify);
    UnregisterPowerSettingNotification(monitorPowerNotify);
    lidSwitchNotify = nullptr;
    monitorPowerNotify = nullptr;
    PostQuitMessage(0);
}

// A display change that the agent's own SetRefreshRate caused arrives nested inside the
// handler that switched the rate; that handler records the last state by its own rule (or,
// while the session is locked, not at all), so the nested handling does not record.
void OnDisplayChange() {
    if (IsDualRatePanel() && !isChangingRefreshRate) {
        bool onAC = ReadOnACPower();
        uint32_t rate = ReadCurrentRefreshRate();
        RecordLastPowerState(onAC ? '1' : '2', 10, RateRule::Low, rate);
    }
    OnPowerEvent();
}

void OnDeviceChange(HWND window) {
    if (isIntelCPU && reenumerateOnDeviceChange) {
        RequestDeviceTreeReenumeration(window);
    }
    monitorCount = CountActiveMonitors();
    if (monitorCount == lastMonitorCount) {
        return;
    }
    lastMonitorCount = monitorCount;
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    bool switching = ReadRefreshFlag() == 1;
    // Every switch below may give way to a newer event handled inside it; the older handler
    // then leaves the last-state files to the newer one.
    bool newest = true;
    if (onAC) {
        if (switching) {
            newest = SetRefreshRate(highRefreshRate, highRefreshRate);
        }
        if (newest && !isSessionLocked) {
            RecordLastPowerState('1', 10, RateRule::High);
        }
    } else {
        if (switching) {
            newest = SetRefreshRate(lowRefreshRate, highRefreshRate);
        }
        if (newest && !isSessionLocked) {
            RecordLastPowerState('2', 100, RateRule::Low);
        }
    }
}

void OnRefreshFlagChanged() {
    if (!IsDualRatePanel() || ReadOnACPower()) {
        return;
    }
    bool newest = ReadRefreshFlag() == 1 ? SetRefreshRate(lowRefreshRate, highRefreshRate)
                                         : SetRefreshRate(highRefreshRate, highRefreshRate);
    if (newest && !isSessionLocked) {
        RecordLastPowerState('2', 10, RateRule::Low);
    }
}

// Logon and unlock put the rate back as the last recorded state says.
void RestoreForSession() {
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    if (ReadRefreshFlag() == 1 && !RestoreRefreshRate(onAC, RestoreForm::Start)) {
        return;
    }
    if (onAC) {
        RecordLastPowerState('1', 10, RateRule::Low);
    } else {
        RecordLastPowerState('2', 100, RateRule::Low);
    }
}

// A panel without overdrive takes no decisions: its icon value is the "2" start-up reports,
// which an agent that started away from the console has not reported yet.
void ReportPanelWithoutOverdrive() {
    if (TextEquals(detectEDID, L"FAIL") || TextEquals(isODPanel, L"YES")) {
        return;
    }
    AgentLock lock;
    Notify_Helmbay_ODIcon(L"2");
}

// Meanwhile another session's agent may have written the shared files from its own view (a
// standard user's agent, refused the BIOS, writes the verdict "0") and told its own host, and
// an agent that started away has written none of them yet. The verdict and NeedShow are
// written from this agent's findings, and the icon value that follows goes to this session's
// host even when it equals the one this agent reported last.
void TakeBackSharedFiles() {
    {
        AgentLock lock;
        WritePanelVerdict();
        temp_OD_Icon.clear();
    }
    WriteNeedShow(highRefreshRate != lowRefreshRate);
}

// The agent's session is the console again after another user's time there. While away it
// acted on nothing, so what it tracks between events is taken afresh: the power source and
// monitor count it last saw are stale, and a resume it missed would leave it suspended for
// good. Files deleted meanwhile are written again before the session's usual restore.
void ReturnToConsole() {
    (void)TakeReturnToConsole();
    WriteLog(L"OnConsoleRegained: session " + std::to_wstring(ReadOwnSessionId()) +
             L" is the console session");
    isSuspended = false;
    SYSTEM_POWER_STATUS power = {};
    lastACLineStatus = machine::GetPowerStatus(&power) ? power.ACLineStatus : 255;
    monitorCount = lastMonitorCount = CountActiveMonitors();
    RepairDeletedStateFiles();
    TakeBackSharedFiles();
    RestoreForSession();
    ReportPanelWithoutOverdrive();
    OnPowerEvent();
}

// The console may have moved away and back without this agent hearing of it; the shared files
// then hold another agent's values instead of the ones this agent last wrote.
bool SharedFilesAreAnotherAgents() {
    AgentLock lock;
    const FileToken verdict = ReadFileToken(DataFilePath(kHWIDResultFileName), 3);
    const FileToken icon = ReadFileToken(DataFilePath(kIconFileName), 3);
    return ToWide(verdict.token) != PanelVerdictText() || ToWide(icon.token) != currentODIcon;
}

void OnConsoleRegained() {
    if (ActsForConsole(L"OnConsoleRegained")) {
        ReturnToConsole();
    }
}

void OnTimer(HWND window, WPARAM timer) {
    switch (timer) {
    case kStartRetryTimer:
        OnStartRetryTimer(window);
        break;
    case kReenumerationTimer:
        OnReenumerationTimer(window);
        break;
    case kIdentificationTimer:
        OnIdentificationTimer(window);
        break;
    default:
        break;
    }
}

LRESULT OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case kCommandAbout:
        DialogBoxParamW(hInst, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDlgProc, 0);
        return 0;
    case kCommandExit:
        DestroyWindow(window);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

// Events arrive for every session of the machine; the lock state kept is this session's own,
// and another user's logon or logoff is that user's, not a reason to move this panel (this
// session's own logoff ends the agent with it). An own session that cannot be read takes every
// event as its own, as the agent always did.
void OnSessionChange(WPARAM event, DWORD session) {
    const DWORD own = ReadOwnSessionId();
    const bool ownSession = own == machine::kNoSession || session == own;
    switch (event) {
    case WTS_SESSION_LOGON:
        if (ownSession && ActsForConsole(L"WTS_SESSION_LOGON")) {
            RestoreForSession();
            OnPowerEvent();
        }
        break;
    case WTS_SESSION_LOCK:
        if (ownSession) {
            isSessionLocked = true;
        }
        break;
    case WTS_SESSION_UNLOCK:
        if (ownSession) {
            isSessionLocked = false;
            if (ActsForConsole(L"WTS_SESSION_UNLOCK")) {
                // The first unlock at the console after time away (noted, or told by the shared
                // files) is the return to it.
                if (TakeReturnToConsole() || SharedFilesAreAnotherAgents()) {
                    ReturnToConsole();
                } else {
                    RestoreForSession();
                    OnPowerEvent();
                }
                RetryPanelIdentificationLater(L"unlock");
            }
        }
        break;
    case WTS_CONSOLE_CONNECT:
        if (ownSession) {
            OnConsoleRegained();
        } else {
            NoteAwayFromConsole(); // there is one console, and another session has it now
        }
        break;
    case WTS_CONSOLE_DISCONNECT:
        if (ownSession) {
            NoteAwayFromConsole();
        }
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

namespace {

LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        RegisterMonitorNotification(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DISPLAYCHANGE:
        if (ActsForConsole(L"WM_DISPLAYCHANGE")) {
            OnDisplayChange();
        }
        return 0;
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_POWERBROADCAST:
        return ActsForConsole(L"WM_POWERBROADCAST") ? OnPowerBroadcast(wParam, lParam) : 0;
    case WM_DEVICECHANGE:
        if (ActsForConsole(L"WM_DEVICECHANGE")) {
            OnDeviceChange(window);
        }
        return 0;
    case WM_TIMER:
        OnTimer(window, wParam);
        return 0;
    case WM_WTSSESSION_CHANGE:
        OnSessionChange(wParam, static_cast<DWORD>(lParam));
        return 0;
    case WM_REFRESHFLAG_CHANGED:
        if (ActsForConsole(L"WM_REFRESHFLAG_CHANGED")) {
            OnRefreshFlagChanged();
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

// No exception may leave for the platform's dispatcher: it would end the agent without a word.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleWindowMessage(window, message, wParam, lParam);
    } catch (...) {
        wchar_t head[64] = {};
        (void)swprintf(head, 64, L"WndProc: unexpected exception (message 0x%04X): ", message);
        LogUnexpectedException(head, L"");
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
