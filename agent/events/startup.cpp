#include "agent/events/startup.h"

#include "agent/bios/acpi_channel.h"
#include "agent/decision/panel_apply.h"
#include "agent/events/registry_watch.h"
#include "agent/events/start_retries.h"
#include "agent/events/state_file_events.h"
#include "agent/events/window_proc.h"
#include "agent/files/folder_watch.h"
#include "agent/log/held_folder.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "common/owners.h"
#include "common/thread_stack.h"
#include "agent/resources/resource.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"

#include <wtsapi32.h>

namespace {

constexpr int kTextCapacity = 100;

ATOM RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LUMIVANE));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_MENU);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&windowClass);
}

// Start-up goes on without what failed, but says so: otherwise the agent would silently stop
// following sessions, the lid, RefreshFlag or the user's choice.
void LogStartFailure(const wchar_t* what, DWORD error) {
    WriteLog(std::wstring(L"OnStart: ") + what + L" failed, error " + std::to_wstring(error));
}

// The accelerators the message loop translates; loaded just before the single-instance claim.
HACCEL startAccelerators = nullptr;

// True when this process may go on: no other instance holds the mutex.
bool ClaimSingleInstance() {
    HANDLE existing = OpenMutexW(0, FALSE, windowTitle);
    if (existing != nullptr) {
        return false;
    }
    // Held until the process ends.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, windowTitle);
    return !AnotherInstanceHoldsMutex(mutex, GetLastError());
}

// Start-up's steps among those of applying the identified panel.
bool ClaimInstanceAfterFirstDecision() {
    startAccelerators = LoadAcceleratorsW(hInst, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    return ClaimSingleInstance();
}

void ReadReenumerationFlag() {
    reenumerateOnDeviceChange = QueryReenumerateOnDeviceChange();
}

void CountMonitorsAtStart() {
    monitorCount = lastMonitorCount = CountActiveMonitors();
}

int RunMessageLoop(HWND window, HACCEL accelerators) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(message.hwnd != nullptr ? message.hwnd : window, accelerators,
                                   &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace

bool AnotherInstanceHoldsMutex(HANDLE created, DWORD lastError) {
    if (created == nullptr) {
        return lastError == ERROR_ACCESS_DENIED;
    }
    return lastError == ERROR_ALREADY_EXISTS;
}

bool IsIntelCPU() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ | KEY_WOW64_64KEY, key.Put()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t vendor[1024] = {};
    DWORD size = sizeof vendor - sizeof(wchar_t);
    if (RegQueryValueExW(key.Get(), L"VendorIdentifier", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(vendor), &size) != ERROR_SUCCESS) {
        return false;
    }
    return ToUpperAscii(vendor).find(L"INTEL") != std::wstring::npos;
}

bool QueryReenumerateOnDeviceChange() {
    AgentLock lock;
    uint32_t answer = 0;
    if (!InitializeZVKACPIDevice() || !GetDeviceStatus(kReenumerateDevice, &answer)) {
        // A device that opened but did not answer is not kept open.
        CloseZVKACPIDevice();
        return false;
    }
    if ((answer & kDevicePresentBit) == 0) {
        CloseZVKACPIDevice();
        return false;
    }
    if (answer == kDevicePresentBit) {
        return true;
    }
    CloseZVKACPIDevice();
    return false;
}

void StartWatcherThreads(HWND window) {
    (void)ResetEvent(WatcherStopEvent());
    registryWatchThread = CreateThread(nullptr, 0, RegistryWatchThread, window, 0, nullptr);
    if (registryWatchThread == nullptr) {
        LogStartFailure(L"CreateThread (RegistryWatchThread)", GetLastError());
    }
    folderWatchThread = StartFolderWatcher(StateFileEventsSink(), WatcherStopEvent());
    if (folderWatchThread == nullptr) {
        LogStartFailure(L"CreateThread (WatchDataFolder)", GetLastError());
    }
}

int RunAgent(HINSTANCE instance) {
    LoadStringW(instance, IDS_APP_TITLE, windowTitle, kTextCapacity);
    LoadStringW(instance, IDC_LUMIVANE, windowClassName, kTextCapacity);
    RegisterWindowClass(instance);

    panelIdentity = GetInternalPanelIdentity();
    SYSTEM_POWER_STATUS power = {};
    lastACLineStatus = machine::GetPowerStatus(&power) ? power.ACLineStatus : 255;
    DetectODPanel();
    KeepDataFolderOpen();

    hInst = instance;
    HWND window =
        CreateWindowExW(WS_EX_LAYERED | WS_EX_TOOLWINDOW, windowClassName, windowTitle, WS_POPUP,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    if (!machine::RegisterSessionNotification(window)) {
        LogStartFailure(L"WTSRegisterSessionNotification", GetLastError());
        sessionNotificationPending = true;
    }
    lidSwitchNotify =
        machine::RegisterPowerSettingNotification(window, &machine::kLidSwitchStateChange);
    if (lidSwitchNotify == nullptr) {
        LogStartFailure(L"RegisterPowerSettingNotification (lid switch)", GetLastError());
    }
    monitorPowerNotify =
        machine::RegisterPowerSettingNotification(window, &machine::kMonitorPowerOn);
    if (monitorPowerNotify == nullptr) {
        LogStartFailure(L"RegisterPowerSettingNotification (monitor power)", GetLastError());
    }

    isIntelCPU = IsIntelCPU();
    refreshFlag = ReadRefreshFlag();
    StartWatcherThreads(window);
    modeChangeMessage = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");

    const StartUpSteps steps = {ClaimInstanceAfterFirstDecision, ReadReenumerationFlag,
                                CountMonitorsAtStart};
    if (!ApplyIdentifiedPanel(&steps)) {
        return 0;
    }
    ScheduleStartRetries(window);
    // Start-up's deeper calls (the panel's identification above all) are over; the loop and
    // its handlers need far less of the stack.
    ReleaseStackBelowFrame();
    return RunMessageLoop(window, startAccelerators);
}
