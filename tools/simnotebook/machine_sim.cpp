// The machine boundary on the simulated notebook: every call reads the state from the
// simulator's registry key (simnotebook.h), so another process can change the machine while
// the agent runs. Mode changes and delays are appended to the record; delays are not slept
// unless DelayScalePercent asks for real time.
//
// Where the platform talks back, so does the simulation, in the same way: a mode change that
// takes effect broadcasts WM_DISPLAYCHANGE before it returns (the caller's own window handles
// it nested inside the call), and a power-setting registration is answered with the setting's
// current value, sent from another thread. Armed by a test, a mode change also brings a power
// change, delivered the same way inside the call: a charger that bounces during a rate switch.
// And where the platform refuses, so does the simulation: the WMI query inside a message sent
// from another thread.
#include "agent/machine/machine.h"
#include "common/thread_stack.h"

#include "tools/simnotebook/simnotebook.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace machine {

namespace {

constexpr WORD kDevModeSize = 220;
constexpr BYTE kBatteryHigh = 1;
constexpr BYTE kBatteryCharging = 8;
constexpr BYTE kSimBatteryPercent = 80;
constexpr DWORD kSimBatterySeconds = 7200;
constexpr DWORD kUnknownLifeTime = 0xFFFFFFFF;
// What the platform gives each top-level window to answer a display change.
constexpr UINT kDisplayChangeTimeoutMs = 2000;

template <size_t N> void CopyText(wchar_t (&target)[N], const std::wstring& text) {
    size_t count = text.size() < N - 1 ? text.size() : N - 1;
    wmemcpy(target, text.c_str(), count);
    target[count] = L'\0';
}

// The adapter a display call names: a null name means the primary display, adapter 0.
// Device names compare without regard to case, as the platform's do.
int FindAdapter(const std::vector<simnotebook::Adapter>& adapters, const wchar_t* deviceName) {
    if (deviceName == nullptr) {
        return adapters.empty() ? -1 : 0;
    }
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (_wcsicmp(adapters[i].deviceName.c_str(), deviceName) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FillDevice(DISPLAY_DEVICEW* device, const std::wstring& name, const std::wstring& text,
                const std::wstring& id, DWORD stateFlags) {
    DWORD size = device->cb;
    ZeroMemory(device, sizeof *device);
    device->cb = size;
    CopyText(device->DeviceName, name);
    CopyText(device->DeviceString, text);
    CopyText(device->DeviceID, id);
    device->StateFlags = stateFlags;
}

void FillMode(DEVMODEW* mode, const simnotebook::Adapter& adapter,
              const simnotebook::Mode& values) {
    ZeroMemory(mode, sizeof *mode);
    mode->dmSize = kDevModeSize;
    mode->dmSpecVersion = DM_SPECVERSION;
    CopyText(mode->dmDeviceName, adapter.deviceString);
    mode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY |
                     DM_DISPLAYFLAGS | DM_POSITION | DM_DISPLAYORIENTATION;
    mode->dmPelsWidth = values.width;
    mode->dmPelsHeight = values.height;
    mode->dmBitsPerPel = values.bitsPerPixel;
    mode->dmDisplayFrequency = values.frequency;
}

void BroadcastDisplayChange(const simnotebook::Mode& mode) {
    (void)SendMessageTimeoutW(HWND_BROADCAST, WM_DISPLAYCHANGE, mode.bitsPerPixel,
                              MAKELPARAM(mode.width, mode.height), SMTO_ABORTIFHUNG,
                              kDisplayChangeTimeoutMs, nullptr);
}

// The platform sends power broadcasts to every top-level window; each has this long to answer.
void BroadcastPowerStatusChange(uint8_t acLineStatus) {
    simnotebook::SetACLineStatus(acLineStatus);
    (void)SendMessageTimeoutW(HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0,
                              SMTO_ABORTIFHUNG, kDisplayChangeTimeoutMs, nullptr);
}

// One PBT_POWERSETTINGCHANGE on its way: the setting record with its 4-byte value behind it.
struct SettingNotice {
    HWND window = nullptr;
    std::vector<BYTE> broadcast;
};

DWORD WINAPI SendSettingNotice(void* parameter) {
    std::unique_ptr<SettingNotice> notice(static_cast<SettingNotice*>(parameter));
    // Returns once the window has handled it, or at once when the window is gone.
    (void)SendMessageW(notice->window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                       reinterpret_cast<LPARAM>(notice->broadcast.data()));
    // Wine keeps an ended thread's stack until another thread ends; the system thread that
    // sends this on a notebook is not the agent's, so its pages must not count as the agent's.
    ReleaseStackBelowFrame();
    return 0;
}

void SendCurrentSettingValue(HWND window, const GUID& setting) {
    DWORD value = 0;
    if (IsEqualGUID(setting, kLidSwitchStateChange)) {
        value = simnotebook::GetLidOpen() ? 1 : 0;
    } else if (IsEqualGUID(setting, kMonitorPowerOn)) {
        value = simnotebook::GetMonitorPower();
    } else {
        return; // a setting the simulated notebook does not have
    }
    auto notice = std::make_unique<SettingNotice>();
    notice->window = window;
    notice->broadcast.resize(offsetof(POWERBROADCAST_SETTING, Data) + sizeof value);
    auto* broadcast = reinterpret_cast<POWERBROADCAST_SETTING*>(notice->broadcast.data());
    broadcast->PowerSetting = setting;
    broadcast->DataLength = sizeof value;
    memcpy(broadcast->Data, &value, sizeof value);
    HANDLE thread = CreateThread(nullptr, 0, SendSettingNotice, notice.get(), 0, nullptr);
    if (thread != nullptr) {
        notice.release(); // the thread owns it now
        CloseHandle(thread);
    }
}

} // namespace

bool GetPowerStatus(SYSTEM_POWER_STATUS* status) {
    if (simnotebook::GetPowerStatusFails()) {
        SetLastError(ERROR_GEN_FAILURE);
        return false;
    }
    BYTE line = simnotebook::GetACLineStatus();
    ZeroMemory(status, sizeof *status);
    status->ACLineStatus = line;
    status->BatteryFlag = line == 1 ? kBatteryCharging : kBatteryHigh;
    status->BatteryLifePercent = kSimBatteryPercent;
    status->BatteryLifeTime = line == 1 ? kUnknownLifeTime : kSimBatterySeconds;
    status->BatteryFullLifeTime = kUnknownLifeTime;
    return true;
}

bool ReadDisplayDevice(const wchar_t* deviceName, DWORD index, DISPLAY_DEVICEW* device) {
    std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
    if (deviceName == nullptr) {
        if (index >= adapters.size()) {
            return false;
        }
        const simnotebook::Adapter& adapter = adapters[index];
        FillDevice(device, adapter.deviceName, adapter.deviceString, adapter.deviceID,
                   adapter.stateFlags);
        return true;
    }
    int found = FindAdapter(adapters, deviceName);
    if (found < 0) {
        return false;
    }
    const std::vector<simnotebook::Monitor>& monitors = adapters[found].monitors;
    if (index >= monitors.size()) {
        return false;
    }
    const simnotebook::Monitor& monitor = monitors[index];
    FillDevice(device, monitor.deviceName, monitor.deviceString, monitor.deviceID,
               monitor.stateFlags);
    return true;
}

bool ReadDisplayMode(const wchar_t* deviceName, DWORD modeNumber, DEVMODEW* mode) {
    std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
    int found = FindAdapter(adapters, deviceName);
    if (found < 0) {
        return false;
    }
    const simnotebook::Adapter& adapter = adapters[found];
    if (modeNumber == ENUM_CURRENT_SETTINGS || modeNumber == ENUM_REGISTRY_SETTINGS) {
        if (!adapter.hasCurrentMode) {
            return false;
        }
        FillMode(mode, adapter, adapter.currentMode);
        return true;
    }
    if (modeNumber >= adapter.modes.size()) {
        return false;
    }
    FillMode(mode, adapter, adapter.modes[modeNumber]);
    return true;
}

LONG ApplyDisplayMode(const wchar_t* deviceName, DEVMODEW* mode, DWORD flags) {
    std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
    simnotebook::Event event;
    event.kind = simnotebook::EventKind::ModeChange;
    event.adapter = FindAdapter(adapters, deviceName);
    event.flags = flags;
    if (mode != nullptr) {
        event.mode = simnotebook::Mode{mode->dmPelsWidth, mode->dmPelsHeight, mode->dmBitsPerPel,
                                       mode->dmDisplayFrequency};
    }
    LONG result = DISP_CHANGE_SUCCESSFUL;
    if (event.adapter < 0) {
        result = DISP_CHANGE_BADPARAM;
    } else if (mode == nullptr) {
        // Return to the registry's mode: nothing changes in the simulation.
    } else if (!adapters[event.adapter].modeChangeTakesEffect) {
        result = DISP_CHANGE_FAILED;
    } else {
        // Like a driver, the simulated adapter takes only a mode it lists.
        result = DISP_CHANGE_BADMODE;
        for (const simnotebook::Mode& listed : adapters[event.adapter].modes) {
            if (listed == event.mode) {
                simnotebook::SetCurrentMode(static_cast<size_t>(event.adapter), listed);
                result = DISP_CHANGE_SUCCESSFUL;
                break;
            }
        }
    }
    event.result = result;
    simnotebook::AppendEvent(event);
    if (result == DISP_CHANGE_SUCCESSFUL && mode != nullptr) {
        BroadcastDisplayChange(event.mode);
    }
    uint8_t acLineStatus = 0;
    if (simnotebook::TakePowerDuringNextModeChange(&acLineStatus)) {
        BroadcastPowerStatusChange(acLineStatus);
    }
    return result;
}

HPOWERNOTIFY RegisterPowerSettingNotification(HWND window, const GUID* setting) {
    HPOWERNOTIFY handle =
        ::RegisterPowerSettingNotification(window, setting, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (handle != nullptr && setting != nullptr) {
        SendCurrentSettingValue(window, *setting);
    }
    return handle;
}

bool QueryMonitorConnections(std::vector<MonitorConnection>* rows) {
    rows->clear();
    // As COM on a notebook: a single-threaded apartment handling a message that another thread
    // sent, and not yet replied to, may make no outgoing call; the query fails with
    // RPC_E_CANTCALLOUT_ININPUTSYNCCALL ("Call Synchronization", COM documentation). Wine lets
    // the call through.
    if ((InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND) {
        return false;
    }
    if (simnotebook::GetWmiQueryFails()) {
        return false;
    }
    for (const simnotebook::WmiRow& row : simnotebook::GetWmiRows()) {
        // The type travels too: WMI's untyped and non-VT_I4 values carry no technology.
        rows->push_back(MonitorConnection{row.instanceName, row.videoOutputTechnology,
                                          row.videoOutputTechnologyType});
    }
    return true;
}

// The platform has one session under Wine: another user at the screen is the simulator's word;
// by default the asking process's own session is the console.
DWORD ReadFileSecurity(HANDLE handle, PSECURITY_DESCRIPTOR* descriptor) {
    std::vector<wchar_t> path(32768);
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= path.size()) {
        return GetLastError();
    }
    std::wstring name(path.data(), length);
    if (name.compare(0, 4, L"\\\\?\\") == 0) {
        name.erase(0, 4);
    }
    std::wstring sddl;
    if (!simnotebook::GetFileSecurityText(name, &sddl)) {
        sddl = simnotebook::kPackageConfigSecurity;
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}

DWORD ReadConsoleSessionId() {
    uint32_t session = 0;
    if (simnotebook::GetConsoleSession(&session)) {
        return session;
    }
    DWORD own = kNoSession;
    return ProcessIdToSessionId(GetCurrentProcessId(), &own) ? own : kNoSession;
}

bool RegisterSessionNotification(HWND window) {
    if (simnotebook::TakeSessionRegistrationFailure()) {
        SetLastError(RPC_S_INVALID_BINDING);
        return false;
    }
    return ::WTSRegisterSessionNotification(window, NOTIFY_FOR_ALL_SESSIONS) != FALSE;
}

void ReenumerateDeviceTree() {
    simnotebook::Event event;
    event.kind = simnotebook::EventKind::DeviceTreeReenumeration;
    simnotebook::AppendEvent(event);
}

void Delay(DWORD milliseconds) {
    simnotebook::Event event;
    event.kind = simnotebook::EventKind::Delay;
    event.milliseconds = milliseconds;
    simnotebook::AppendEvent(event);
    uint32_t scale = simnotebook::GetDelayScalePercent();
    if (scale != 0) {
        Sleep(static_cast<DWORD>(static_cast<uint64_t>(milliseconds) * scale / 100));
    }
}

} // namespace machine
