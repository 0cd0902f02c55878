#include "agent/events/window_proc.h"

#include "agent/decision/rate_policy.h"
#include "agent/events/device_tree.h"
#include "agent/events/power_events.h"
#include "agent/events/registry_watch.h"
#include "agent/events/session_events.h"
#include "agent/events/start_retries.h"
#include "agent/log/log.h"
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
