// Control of the simulated notebook: the state that lumivane_machine_sim answers with, and the
// record of what the agent asked of it.
//
// The state lives in the registry under HKLM\SOFTWARE\LumivaneSim and the simulated machine
// reads it at every call, so a test, the simnotebook.exe console tool or a demonstration
// script in another process can change the machine while the agent runs:
//
//   HKLM\SOFTWARE\LumivaneSim
//     ACLineStatus        DWORD  0 battery, 1 AC, 255 unknown
//     PowerStatusFails    DWORD  1: GetSystemPowerStatus fails
//     DelayScalePercent   DWORD  0: delays are virtual; n: Delay(ms) sleeps ms * n / 100
//     WmiQueryFails       DWORD  1: the WMI query cannot run
//     SessionRegistrationFailures DWORD  that many session registrations fail
//     LidOpen             DWORD  the lid switch setting's value (1 open, 0 closed)
//     MonitorPowerOn      DWORD  the monitor power setting's value (1 on, 0 off, 2 dimmed)
//     PowerDuringNextModeChange  DWORD  armed: the AC line status the next mode change brings
//                         (absent: disarmed)
//     ConsoleSession      DWORD  the active console session (absent: the asking process's own)
//     FileSecurity        one SZ per path (value name: the full path): the owner and access
//                         list of that file or folder in SDDL (absent: the package's permissions
//                         of FRQ_Config.txt's folder, which Wine, keeping no file permissions,
//                         cannot show)
//     Wmi\<i>             InstanceName SZ, VideoOutputTechnology DWORD, VideoOutputTechnology-
//                         Type DWORD (the VARIANT type WMI hands over; absent: VT_I4)
//                                                                          (i = 0, 1, ...)
//     Adapters\<i>        DeviceName, DeviceString, DeviceID SZ; StateFlags DWORD;
//                         Modes MULTI_SZ ("1920x1080x32@144" each); CurrentMode SZ (absent:
//                         the current mode cannot be read); ModeChangeTakesEffect DWORD
//     Adapters\<i>\Monitors\<j>   DeviceName, DeviceString, DeviceID SZ; StateFlags DWORD
//     Record              RecordCount QWORD (events ever appended since the last clear) and
//                         the ring of the last kRecordCapacity events, one value per slot
//
// Lists are numbered subkeys from 0 without gaps; the first missing number ends a list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simnotebook {

extern const wchar_t kSimKeyPath[]; // SOFTWARE\LumivaneSim under HKLM

struct Mode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t frequency = 0;
};
bool operator==(const Mode& a, const Mode& b);
bool operator!=(const Mode& a, const Mode& b);

struct Monitor {
    std::wstring deviceName;
    std::wstring deviceString;
    std::wstring deviceID;
    uint32_t stateFlags = 0;
};

struct Adapter {
    std::wstring deviceName;
    std::wstring deviceString;
    std::wstring deviceID;
    uint32_t stateFlags = 0;
    std::vector<Monitor> monitors;
    std::vector<Mode> modes;
    bool hasCurrentMode = false;
    Mode currentMode;
    bool modeChangeTakesEffect = true;
};

// VARIANT types WMI may hand VideoOutputTechnology over as.
constexpr uint16_t kVariantNull = 1;  // VT_NULL: no value
constexpr uint16_t kVariantInt32 = 3; // VT_I4: the value
constexpr uint16_t kVariantText = 8;  // VT_BSTR

struct WmiRow {
    std::wstring instanceName;
    uint32_t videoOutputTechnology = 0;
    uint16_t videoOutputTechnologyType = kVariantInt32;
};

// The platform's video-output-technology value for an internal connection; 11 is embedded
// DisplayPort, 10 external DisplayPort, 6 LVDS.
constexpr uint32_t kOutputInternal = 0x80000000u;
constexpr uint32_t kOutputEmbeddedDisplayPort = 11;
constexpr uint32_t kOutputDisplayPort = 10;

// The default notebook: identity of its internal panel and its pieces.
extern const wchar_t kDefaultPanelIdentity[];     // AUO519D
extern const wchar_t kDefaultPanelInstanceName[]; // DISPLAY\AUO519D\5&1a2b3c4d&0&UID4352_0
extern const wchar_t kDefaultPanelInstanceKey[];  // 5&1a2b3c4d&0&UID4352
Adapter DefaultAdapter();       // \\.\DISPLAY1, internal panel (state 3), 1920x1080x32 @144/@60
Monitor ExternalMonitor(int n); // \\.\DISPLAY<n+1>\Monitor0, state 3
WmiRow DefaultWmiRow();         // the internal panel, 0x80000000

// Every piece of state back to the default notebook; the record is cleared. Touches only the
// simulator's own key.
void ResetSimNotebook();

void SetACLineStatus(uint8_t status);
uint8_t GetACLineStatus();
void SetPowerStatusFails(bool fails);
bool GetPowerStatusFails();

void SetAdapters(const std::vector<Adapter>& adapters);
std::vector<Adapter> GetAdapters();
// These change one adapter that must exist already.
void SetMonitors(size_t adapter, const std::vector<Monitor>& monitors);
void SetModes(size_t adapter, const std::vector<Mode>& modes);
void SetCurrentMode(size_t adapter, const Mode& mode);
void ClearCurrentMode(size_t adapter);
bool GetCurrentMode(size_t adapter, Mode* mode);
void SetModeChangeTakesEffect(size_t adapter, bool takesEffect);
// The internal panel on adapter 0 plus count - 1 external displays, each on an adapter of its
// own (how the platform lists extended desktops); 0 leaves no adapter at all.
void SetActiveDisplayCount(int count);
// The internal panel's monitor on adapter `panelAdapter` (the default adapter's modes, not
// primary); every adapter before it drives an external monitor with a mode list of its own
// (2560x1440x32 at 75 Hz, also 60 Hz), adapter 0 the primary one. 0 is the default notebook.
void SetPanelAdapter(size_t panelAdapter);
Adapter ExternalAdapter(int n); // \\.\DISPLAY<n+1> driving ExternalMonitor(n)

void SetWmiRows(const std::vector<WmiRow>& rows);
std::vector<WmiRow> GetWmiRows();
void SetWmiQueryFails(bool fails);
bool GetWmiQueryFails();
// The next `count` session-notification registrations fail as before the platform's session
// service is up; each failure uses one up.
void SetSessionRegistrationFailures(uint32_t count);
bool TakeSessionRegistrationFailure(); // used by the simulated machine

void SetDelayScalePercent(uint32_t percent);
uint32_t GetDelayScalePercent();

// The current values of the two power settings the agent registers for; each registration is
// answered with a notice carrying the value.
void SetLidOpen(bool open);
bool GetLidOpen();
void SetMonitorPower(uint32_t value);
uint32_t GetMonitorPower();

// A charger that bounces during a rate switch: once armed, the next mode change sets the AC
// line status to `status` and sends PBT_APMPOWERSTATUSCHANGE to the top-level windows from
// inside the change (after its display-change broadcast, before it returns), then disarms.
void ArmPowerDuringNextModeChange(uint8_t status);
void DisarmPowerDuringNextModeChange();
// False while disarmed.
bool GetPowerDuringNextModeChange(uint8_t* status);
// Disarms and tells whether it was armed, with what; one caller wins when several take at once.
bool TakePowerDuringNextModeChange(uint8_t* status);
// The active console session: another id stands in for another user at the screen; "self"
// (the default) makes every asking process's own session the console.
void SetConsoleSession(uint32_t session);
void SetConsoleSessionSelf();
// False while the console is "self".
bool GetConsoleSession(uint32_t* session);

// The security descriptor (SDDL) a file or folder has on the notebook; empty text forgets it.
void SetFileSecurityText(const std::wstring& path, const std::wstring& sddl);
// False when none was given for the path (names compare without regard to case).
bool GetFileSecurityText(const std::wstring& path, std::wstring* sddl);
// What FRQ_Config.txt's folder and the files in it get from the package.
extern const wchar_t kPackageConfigSecurity[];

// The record: mode changes, delays and device-tree re-enumerations in the order the agent
// asked for them.
enum class EventKind : uint32_t { ModeChange = 1, Delay = 2, DeviceTreeReenumeration = 3 };
struct Event {
    EventKind kind = EventKind::Delay;
    int32_t adapter = -1;      // ModeChange: index of the adapter named, -1 when none matched
    Mode mode;                 // ModeChange: the mode requested
    uint32_t flags = 0;        // ModeChange: the flags passed
    int32_t result = 0;        // ModeChange: what the call returned
    uint32_t milliseconds = 0; // Delay
};
constexpr size_t kRecordCapacity = 1024;
// The last min(RecordedEventCount(), kRecordCapacity) events, oldest first.
std::vector<Event> ReadRecord();
uint64_t RecordedEventCount();
void ClearRecord();
void AppendEvent(const Event& event); // used by the simulated machine

// "1920x1080x32@144" and back.
std::wstring FormatMode(const Mode& mode);
bool ParseMode(const std::wstring& text, Mode* mode);

// The real display registry the agent reads the EDID from:
// HKLM\SYSTEM\CurrentControlSet\Enum\DISPLAY\<identity>\<instanceKey>\Device Parameters\EDID,
// with the instance key's other subkeys of an active display beside it: Control (volatile),
// LogConf and Properties. Enumerated in name order, Control comes first.
bool InstallPanelEDID(const std::wstring& identity, const std::wstring& instanceKey,
                      const std::vector<uint8_t>& edid);
void RemovePanelEDID(const std::wstring& identity);
// A 128-byte EDID of the default panel: manufacturer AUO, product 519D, 144 Hz and 60 Hz
// timings of 1920x1080, no extension block, valid checksum.
std::vector<uint8_t> DefaultPanelEDID();

} // namespace simnotebook
