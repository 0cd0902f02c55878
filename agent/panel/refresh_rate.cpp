// Display-mode operations. Display calls and waits go through the machine module; the
// graphics driver's "UserSetACRR" value is read and written in the real registry.
//
// A snapped target rate need not be a mode the adapter lists (a 50 Hz panel's low rate is 48),
// so SetRefreshRate asks for the adapter's own mode that snaps to the target and falls back to
// the target itself only when the adapter lists none.
#include "agent/panel/refresh_rate.h"

#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/components.h"
#include "common/owners.h"
#include "agent/state/agent_state.h"

namespace {

constexpr DWORD kDevModeSize = 220;
constexpr DWORD kEnumerationPause = 10;
constexpr DWORD kModeChangeWait = 3000;
constexpr int kModeChangeAttempts = 3;
constexpr DWORD kActiveAndAttached = 3;
// A bound for a driver that never ends its mode list.
constexpr DWORD kMaxModeIndex = 100000;
const wchar_t kIntelDisplayKey[] = L"SOFTWARE\\Intel\\Display\\igfxcui\\MISC";
const wchar_t kUserSetACRR[] = L"UserSetACRR";
constexpr REGSAM kIntelKeyAccess =
    KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY; // 0x2011f

DEVMODEW EmptyMode() {
    DEVMODEW mode = {};
    mode.dmSize = kDevModeSize;
    return mode;
}

// The monitor's hardware identity (second component of its DeviceID) equals the panel's,
// compared in upper case. `wanted` is the upper-cased identity, never empty.
bool IsPanelMonitor(const DISPLAY_DEVICEW& monitor, const std::wstring& wanted) {
    std::vector<std::wstring> parts = SplitComponents(monitor.DeviceID, L'\\', 2);
    std::wstring candidate = parts.size() == 2 ? TrimRight(TrimLeft(parts[1])) : std::wstring();
    return ToUpperAscii(candidate) == wanted;
}

bool SnapsTo(uint32_t frequency, int32_t target) {
    return static_cast<int64_t>(SnapRefreshRate(frequency)) == target;
}

// The frequency to ask for: the adapter's listed mode of the current size and depth whose
// rate snaps to the target (an exact match preferred), else the target itself.
DWORD ChooseFrequency(const wchar_t* adapterName, const DEVMODEW& current, int32_t target) {
    bool found = false;
    DWORD chosen = static_cast<DWORD>(target);
    for (DWORD index = 0; index < kMaxModeIndex; ++index) {
        DEVMODEW candidate = EmptyMode();
        if (!machine::ReadDisplayMode(adapterName, index, &candidate)) {
            break;
        }
        if (candidate.dmPelsWidth != current.dmPelsWidth ||
            candidate.dmPelsHeight != current.dmPelsHeight ||
            candidate.dmBitsPerPel != current.dmBitsPerPel ||
            !SnapsTo(candidate.dmDisplayFrequency, target)) {
            continue;
        }
        if (static_cast<int64_t>(candidate.dmDisplayFrequency) == target) {
            return candidate.dmDisplayFrequency;
        }
        if (!found) {
            found = true;
            chosen = candidate.dmDisplayFrequency;
        }
    }
    return chosen;
}

// Overwrites the graphics driver's value only when it exists; it is never created.
void WriteUserSetACRR(int32_t acrrValue) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIntelDisplayKey, 0, kIntelKeyAccess, key.Put()) !=
        ERROR_SUCCESS) {
        key.Reset();
        return;
    }
    DWORD existing = 0;
    DWORD size = sizeof existing;
    if (RegQueryValueExW(key.Get(), kUserSetACRR, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&existing), &size) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = static_cast<DWORD>(acrrValue);
    (void)RegSetValueExW(key.Get(), kUserSetACRR, 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&value), size);
}

} // namespace

bool FindPanelAdapter(DISPLAY_DEVICEW* adapter) {
    const std::wstring wanted = ToUpperAscii(panelIdentity);
    if (wanted.empty()) {
        return false;
    }
    DISPLAY_DEVICEW candidate = {};
    for (DWORD adapterIndex = 0; machine::ReadDisplayDevice(nullptr, adapterIndex, &candidate);
         ++adapterIndex) {
        DISPLAY_DEVICEW monitor = {};
        for (DWORD monitorIndex = 0;
             machine::ReadDisplayDevice(candidate.DeviceName, monitorIndex, &monitor);
             ++monitorIndex) {
            // A panel that is attached but dark (lid closed while docked) has no mode to
            // switch; its adapter's mode belongs to whatever it drives instead.
            if ((monitor.StateFlags & kActiveAndAttached) == kActiveAndAttached &&
                IsPanelMonitor(monitor, wanted)) {
                *adapter = candidate;
                return true;
            }
        }
    }
    return false;
}

int32_t CountActiveMonitors() {
    int32_t count = 0;
    DISPLAY_DEVICEW adapter = {};
    for (DWORD adapterIndex = 0; machine::ReadDisplayDevice(nullptr, adapterIndex, &adapter);
         ++adapterIndex) {
        DISPLAY_DEVICEW monitor = {};
        for (DWORD monitorIndex = 0;
             machine::ReadDisplayDevice(adapter.DeviceName, monitorIndex, &monitor);
             ++monitorIndex) {
            if (monitor.StateFlags == kActiveAndAttached) {
                ++count;
            }
            machine::Delay(kEnumerationPause);
        }
        machine::Delay(kEnumerationPause);
    }
    return count;
}

uint32_t ReadCurrentRefreshRate() {
    DISPLAY_DEVICEW adapter;
    if (!FindPanelAdapter(&adapter)) {
        return 0;
    }
    DEVMODEW mode = EmptyMode();
    if (!machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) {
        return 0;
    }
    return SnapRefreshRate(mode.dmDisplayFrequency);
}

bool SetRefreshRate(int32_t target, int32_t acrrValue) {
    const uint32_t decision = ++rateDecisionCount;
    DISPLAY_DEVICEW adapter;
    if (!FindPanelAdapter(&adapter)) {
        WriteLog(L"SetRefreshRate: panel not active, rate not switched");
        return true;
    }
    DEVMODEW mode = EmptyMode();
    if (!machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) {
        return true;
    }
    const DWORD width = mode.dmPelsWidth;
    const DWORD height = mode.dmPelsHeight;
    const DWORD bitsPerPixel = mode.dmBitsPerPel;
    if (SnapsTo(mode.dmDisplayFrequency, target)) {
        return true;
    }
    const DWORD frequency = ChooseFrequency(adapter.DeviceName, mode, target);
    for (int attempt = 0; attempt < kModeChangeAttempts; ++attempt) {
        // Every other field stays as the platform last reported it, field mask included.
        mode.dmPelsWidth = width;
        mode.dmPelsHeight = height;
        mode.dmBitsPerPel = bitsPerPixel;
        mode.dmDisplayFrequency = frequency;
        WriteUserSetACRR(acrrValue);
        // The platform's WM_DISPLAYCHANGE reaches the agent's window inside this call.
        const bool outerChange = isChangingRefreshRate;
        isChangingRefreshRate = true;
        (void)machine::ApplyDisplayMode(adapter.DeviceName, &mode, CDS_UPDATEREGISTRY);
        isChangingRefreshRate = outerChange;
        // A power change (or any event) handled inside the mode change has chosen the rate for
        // what it saw, which is newer than this target: retrying would undo it.
        if (rateDecisionCount != decision) {
            return false;
        }
        mode = EmptyMode();
        (void)machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode);
        bool reached = SnapsTo(mode.dmDisplayFrequency, target);
        machine::Delay(kModeChangeWait);
        if (reached) {
            return true;
        }
    }
    return true;
}

PanelDisplayMode GetPanelDisplayMode() {
    const std::wstring wanted = ToUpperAscii(panelIdentity);
    // Without an identity there is no panel to find; an empty candidate must not match it.
    if (wanted.empty()) {
        return PanelDisplayMode{};
    }
    DISPLAY_DEVICEW adapter = {};
    for (DWORD adapterIndex = 0; machine::ReadDisplayDevice(nullptr, adapterIndex, &adapter);
         ++adapterIndex) {
        DISPLAY_DEVICEW monitor = {};
        for (DWORD monitorIndex = 0;
             machine::ReadDisplayDevice(adapter.DeviceName, monitorIndex, &monitor);
             ++monitorIndex) {
            DEVMODEW mode = EmptyMode();
            if (!machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) {
                continue;
            }
            if (IsPanelMonitor(monitor, wanted)) {
                PanelDisplayMode result;
                result.width = mode.dmPelsWidth;
                result.height = mode.dmPelsHeight;
                result.bitsPerPixel = mode.dmBitsPerPel;
                result.frequency = mode.dmDisplayFrequency;
                return result;
            }
        }
    }
    return PanelDisplayMode{};
}
