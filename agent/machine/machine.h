// The machine boundary: power status, display devices and modes, the WMI rows that tell the
// internal display, device-tree re-enumeration, and fixed delays. The deliverable links the real
// Win32 implementation (machine_win32.cpp); tests and the demonstration link the simulated notebook
// (tools/simnotebook), whose state another process can change while the agent runs.
// Everything above this boundary is the same code in both builds.
#pragma once

#include <windows.h>
#include <wtypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace machine {

// GetSystemPowerStatus.
bool GetPowerStatus(SYSTEM_POWER_STATUS* status);

// EnumDisplayDevicesW, EnumDisplaySettingsW, ChangeDisplaySettingsExW (no window, no parameter).
// The boundary has its own verbs: the platform's names are macros for their W forms, and a
// function of the same name would silently become machine::EnumDisplayDevicesW. The size
// fields (cb 840, dmSize 220) are set inside.
bool ReadDisplayDevice(const wchar_t* deviceName, DWORD index, DISPLAY_DEVICEW* device);
bool ReadDisplayMode(const wchar_t* deviceName, DWORD modeNumber, DEVMODEW* mode);
// A mode change that takes effect sends WM_DISPLAYCHANGE to every top-level window before it
// returns, so the caller's own window handles the display change nested inside this call.
LONG ApplyDisplayMode(const wchar_t* deviceName, DEVMODEW* mode, DWORD flags);

// RegisterPowerSettingNotification for a window. Right after the registration the system
// sends the window a PBT_POWERSETTINGCHANGE with the setting's current value, from another
// thread: the window handles it at its next wait that answers sent messages.
HPOWERNOTIFY RegisterPowerSettingNotification(HWND window, const GUID* setting);
// The two power settings the agent registers for: GUID_LIDSWITCH_STATE_CHANGE and
// GUID_MONITOR_POWER_ON. The simulated notebook answers a registration for either with its
// current value.
inline constexpr GUID kLidSwitchStateChange = {
    0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};
inline constexpr GUID kMonitorPowerOn = {
    0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}};

// One row of WmiMonitorConnectionParams in ROOT\wmi. WMI hands the value over as a typed
// VARIANT: only VT_I4 carries a technology; VT_NULL (no value) and any other type do not.
struct MonitorConnection {
    std::wstring instanceName;
    uint32_t videoOutputTechnology = 0;
    VARTYPE videoOutputTechnologyType = VT_I4;
};
// The rows in the order the query returns them; false when the query could not run.
bool QueryMonitorConnections(std::vector<MonitorConnection>* rows);

// WTSRegisterSessionNotification for the window, for all sessions. Until the platform's
// session service is up it fails with RPC_S_INVALID_BINDING; the last error says why.
bool RegisterSessionNotification(HWND window);

// CM_Locate_DevNodeW for the root of the device tree, then CM_Reenumerate_DevNode on it,
// asynchronously; the result is not looked at.
void ReenumerateDeviceTree();

// Sleep.
void Delay(DWORD milliseconds);

// The agent acts only for the person at the screen: WTSGetActiveConsoleSessionId, or kNoSession
// while no session is attached to the console (during a switch of users). The agent's own
// session is no machine fact to simulate: ReadOwnSessionId (console_session.h) reads it.
constexpr DWORD kNoSession = 0xFFFFFFFF;
DWORD ReadConsoleSessionId();

// The owner and access list of an opened file or folder (GetSecurityInfo): ERROR_SUCCESS and a
// descriptor the caller frees with LocalFree, or the error. The simulated notebook answers what
// a test gave the handle's path, else the package's permissions of FRQ_Config.txt's folder.
DWORD ReadFileSecurity(HANDLE handle, PSECURITY_DESCRIPTOR* descriptor);

} // namespace machine
