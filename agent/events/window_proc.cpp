#include "agent/events/window_proc.h"

#include "agent/events/device_tree.h"
#include "agent/events/power_events.h"
#include "agent/events/registry_watch.h"
#include "agent/panel/refresh_rate.h"
#include "agent/resources/resource.h"
#include "agent/state/agent_state.h"

#include <wtsapi32.h>

namespace {

constexpr WORD kCommandAbout = IDM_ABOUT;
constexpr WORD kCommandExit = IDM_EXIT;
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

void OnDestroy(HWND window) {
    CloseHandle(registryWatchThread);
    CloseHandle(folderWatchThread);
    registryWatchThread = nullptr;
    folderWatchThread = nullptr;
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

void OnDeviceChange() {
    if (isIntelCPU && reenumerateOnDeviceChange) {
        (void)ReenumerateDeviceTree();
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
    if (onAC) {
        if (switching) {
            SetRefreshRate(highRefreshRate, highRefreshRate);
        }
        if (!isSessionLocked) {
            RecordLastPowerState('1', 10, RateRule::High);
        }
    } else {
        if (switching) {
            SetRefreshRate(lowRefreshRate, highRefreshRate);
        }
        if (!isSessionLocked) {
            RecordLastPowerState('2', 100, RateRule::Low);
        }
    }
}

void OnRefreshFlagChanged() {
    if (!IsDualRatePanel() || ReadOnACPower()) {
        return;
    }
    if (ReadRefreshFlag() == 1) {
        SetRefreshRate(lowRefreshRate, highRefreshRate);
    } else {
        SetRefreshRate(highRefreshRate, highRefreshRate);
    }
    if (!isSessionLocked) {
        RecordLastPowerState('2', 10, RateRule::Low);
    }
}

// Logon and unlock put the rate back as the last recorded state says.
void RestoreForSession() {
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    if (ReadRefreshFlag() == 1) {
        RestoreRefreshRate(onAC, RestoreForm::Start);
    }
    if (onAC) {
        RecordLastPowerState('1', 10, RateRule::Low);
    } else {
        RecordLastPowerState('2', 100, RateRule::Low);
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

void OnSessionChange(WPARAM event) {
    switch (event) {
    case WTS_SESSION_LOGON:
        RestoreForSession();
        OnPowerEvent();
        break;
    case WTS_SESSION_LOCK:
        isSessionLocked = true;
        break;
    case WTS_SESSION_UNLOCK:
        isSessionLocked = false;
        RestoreForSession();
        OnPowerEvent();
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

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
        OnDisplayChange();
        return 0;
    case WM_COMMAND:
        return OnCommand(window, message, wParam, lParam);
    case WM_POWERBROADCAST:
        return OnPowerBroadcast(wParam, lParam);
    case WM_DEVICECHANGE:
        OnDeviceChange();
        return 0;
    case WM_WTSSESSION_CHANGE:
        OnSessionChange(wParam);
        return 0;
    case WM_REFRESHFLAG_CHANGED:
        OnRefreshFlagChanged();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
