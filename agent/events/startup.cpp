#include "agent/events/startup.h"

#include "agent/bios/acpi_channel.h"
#include "agent/decision/decision_cycle.h"
#include "agent/decision/host_notice.h"
#include "agent/events/power_events.h"
#include "agent/events/registry_watch.h"
#include "agent/events/start_retries.h"
#include "agent/events/state_file_events.h"
#include "agent/events/window_proc.h"
#include "agent/files/folder_watch.h"
#include "agent/files/state_files.h"
#include "agent/log/held_folder.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/edid_rates.h"
#include "agent/panel/panel_config.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "common/data_folder.h"
#include "common/owners.h"
#include "common/thread_stack.h"
#include "agent/resources/resource.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"

#include <wtsapi32.h>

#include <cstdio>
#include <io.h>

namespace {

constexpr int kTextCapacity = 100;
constexpr int kLastStateAttempts = 10;
const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane";

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

void FirstDecision() {
    if (TextEquals(detectEDID, L"FAIL")) {
        watchODResultChanged = false;
        WriteLog(L"detectEDID Fail, BIOS not return EDID.");
        // A standard user's agent away from the console must not tell the console's user that
        // the panel has no overdrive.
        if (ActsForConsole(L"OnStart")) {
            (void)WriteStateValue(DataFilePath(kHWIDResultFileName), L"0");
        }
    } else if (TextEquals(isODPanel, L"YES")) {
        WriteLog(L"OnStart: panel registry monitor start");
        // Away from the console the first decision waits until the session is the console.
        if (ActsForConsole(L"OnStart")) {
            (void)Detect_Notify_Fn();
        }
    } else {
        if (ActsForConsole(L"OnStart")) {
            AgentLock lock;
            Notify_Helmbay_ODIcon(L"2");
        }
        watchODResultChanged = false;
        WriteLog(L"OnStart: isODPanel is No or fail, so not support OD function");
    }
}

// Start-up goes on without what failed, but says so: otherwise the agent would silently stop
// following sessions, the lid, RefreshFlag or the user's choice.
void LogStartFailure(const wchar_t* what, DWORD error) {
    WriteLog(std::wstring(L"OnStart: ") + what + L" failed, error " + std::to_wstring(error));
}

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

void DeterminePanelRefreshRates() {
    panelEDID = ReadPanelEDID(GetInternalPanelIdentity());
    PanelRefreshRates rates = DeterminePanelRates(panelEDID, LookUpPanelConfig(panelEDID));
    highRefreshRate = rates.high;
    lowRefreshRate = rates.low;
}

void RestoreAtStart() {
    if (!IsDualRatePanel()) {
        return;
    }
    bool onAC = ReadOnACPower();
    // A power change handled inside the restore's switch has recorded what it saw.
    if (ReadRefreshFlag() == 1 && !RestoreRefreshRate(onAC, RestoreForm::Start)) {
        return;
    }
    RecordLastPowerState(onAC ? '1' : '2', 100, RateRule::Low);
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

void CreateLastStateFiles(uint32_t startRate) {
    // Without the panel's rate (no active monitor is the panel) there is no state to record.
    if (startRate == 0) {
        return;
    }
    std::wstring acdcPath = DataFilePath(kLastACDCFileName);
    std::wstring dcRefreshPath = DataFilePath(kLastDCRefreshFileName);
    if (_waccess(acdcPath.c_str(), 0) != -1 || _waccess(dcRefreshPath.c_str(), 0) != -1) {
        return;
    }
    (void)CreateDirectoryW(kInstallFolder, nullptr);
    (void)CreateDataFolder();
    for (int attempt = 0; attempt < kLastStateAttempts; ++attempt) {
        UniqueFileHandle acdc = OpenStateFileForWrite(acdcPath);
        machine::Delay(2);
        UniqueFileHandle dcRefresh = OpenStateFileForWrite(dcRefreshPath);
        if (acdc.Valid() && dcRefresh.Valid()) {
            (void)WriteOverStateFile(acdc.Get(), ReadOnACPower() ? "1" : "2");
            machine::Delay(10);
            (void)WriteOverStateFile(
                dcRefresh.Get(), startRate == static_cast<uint32_t>(lowRefreshRate) ? "1" : "2");
            return;
        }
        machine::Delay(10);
    }
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

    FirstDecision();
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    if (!ClaimSingleInstance()) {
        return 0;
    }

    DeterminePanelRefreshRates();
    reenumerateOnDeviceChange = QueryReenumerateOnDeviceChange();
    WriteNeedShow(highRefreshRate != lowRefreshRate);
    monitorCount = lastMonitorCount = CountActiveMonitors();
    uint32_t startRate = ReadCurrentRefreshRate();
    // Another session's agent keeps the last state while this session is away from the
    // console; this one records and restores once its session is the console.
    if (IsConsoleSession()) {
        CreateLastStateFiles(startRate);
    }
    machine::Delay(1000);
    if (IsConsoleSession()) {
        RestoreAtStart();
    }
    ScheduleStartRetries(window);
    // Start-up's deeper calls (the panel's identification above all) are over; the loop and
    // its handlers need far less of the stack.
    ReleaseStackBelowFrame();
    return RunMessageLoop(window, accelerators);
}

void CompleteLateIdentification(const std::wstring& identity) {
    {
        // The folder watcher reads the verdict with the lock held.
        AgentLock lock;
        panelIdentity = identity;
        watchODResultChanged = true;
        IdentifyODPanel();
    }
    FirstDecision();
    DeterminePanelRefreshRates();
    WriteNeedShow(highRefreshRate != lowRefreshRate);
    // As at start-up: the panel and the shared files are the console's agent's to touch.
    if (IsConsoleSession()) {
        CreateLastStateFiles(ReadCurrentRefreshRate());
        RestoreAtStart();
    }
}
