// The simulated notebook's state in the registry (layout in simnotebook.h). Every reader
// opens, reads and closes, so changes from another process are seen at the next call.
// Record appends are serialised across processes by a named mutex: the agent's window and
// watcher threads and a test driver may append or clear at the same moment.
#include "tools/simnotebook/simnotebook.h"

#include "common/owners.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace simnotebook {

const wchar_t kSimKeyPath[] = L"SOFTWARE\\LumivaneSim";
const wchar_t kDefaultPanelIdentity[] = L"AUO519D";
const wchar_t kDefaultPanelInstanceName[] = L"DISPLAY\\AUO519D\\5&1a2b3c4d&0&UID4352_0";
const wchar_t kDefaultPanelInstanceKey[] = L"5&1a2b3c4d&0&UID4352";

namespace {

const wchar_t kRecordMutexName[] = L"Local\\LumivaneSimRecord";
const wchar_t kPowerDuringNextModeChange[] = L"PowerDuringNextModeChange";
const wchar_t kDisplayEnumPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY";
const wchar_t kMonitorClassGuid[] = L"{4d36e96e-e325-11ce-bfc1-08002be10318}";
constexpr uint32_t kActiveMonitor = 3;  // DISPLAY_DEVICE_ACTIVE | DISPLAY_DEVICE_ATTACHED
constexpr uint32_t kPrimaryAdapter = 5; // attached to desktop, primary device
constexpr uint32_t kDesktopAdapter = 1; // attached to desktop
constexpr size_t kRecordSlotWords = 8;

UniqueKey CreateKey(const std::wstring& path) {
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
        key.Reset();
    }
    return key;
}

UniqueKey OpenKey(const std::wstring& path) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        key.Reset();
    }
    return key;
}

std::wstring SimPath(const std::wstring& sub = std::wstring()) {
    return sub.empty() ? std::wstring(kSimKeyPath) : std::wstring(kSimKeyPath) + L"\\" + sub;
}

std::wstring AdapterPath(size_t adapter) {
    return SimPath(L"Adapters\\" + std::to_wstring(adapter));
}

void DeleteTree(const std::wstring& path) {
    (void)RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (key == nullptr ||
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return fallback;
    }
    return value;
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    (void)RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value);
}

// Reads a string or multi-string value; false when it does not exist.
bool ReadStringData(HKEY key, const wchar_t* name, std::wstring* data) {
    DWORD size = 0;
    DWORD type = 0;
    if (key == nullptr ||
        RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return false;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD room = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &room) !=
        ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(room / sizeof(wchar_t));
    *data = buffer;
    return true;
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
    std::wstring data;
    if (!ReadStringData(key, name, &data)) {
        return std::wstring();
    }
    return std::wstring(data.c_str()); // up to the first terminator
}

void WriteString(HKEY key, const wchar_t* name, const std::wstring& value) {
    (void)RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::vector<Mode> ReadModes(HKEY key) {
    std::vector<Mode> modes;
    std::wstring data;
    if (!ReadStringData(key, L"Modes", &data)) {
        return modes;
    }
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(L'\0', start);
        if (end == std::wstring::npos) {
            end = data.size();
        }
        Mode mode;
        if (end > start && ParseMode(data.substr(start, end - start), &mode)) {
            modes.push_back(mode);
        }
        start = end + 1;
    }
    return modes;
}

void WriteModes(HKEY key, const std::vector<Mode>& modes) {
    std::wstring data;
    for (const Mode& mode : modes) {
        data += FormatMode(mode);
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    (void)RegSetValueExW(key, L"Modes", 0, REG_MULTI_SZ,
                         reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

void WriteMonitor(const std::wstring& path, const Monitor& monitor) {
    UniqueKey key = CreateKey(path);
    if (!key.Valid()) {
        return;
    }
    WriteString(key.Get(), L"DeviceName", monitor.deviceName);
    WriteString(key.Get(), L"DeviceString", monitor.deviceString);
    WriteString(key.Get(), L"DeviceID", monitor.deviceID);
    WriteDword(key.Get(), L"StateFlags", monitor.stateFlags);
}

void WriteMonitors(size_t adapter, const std::vector<Monitor>& monitors) {
    std::wstring base = AdapterPath(adapter) + L"\\Monitors";
    DeleteTree(base);
    for (size_t i = 0; i < monitors.size(); ++i) {
        WriteMonitor(base + L"\\" + std::to_wstring(i), monitors[i]);
    }
}

void WriteAdapter(size_t index, const Adapter& adapter) {
    UniqueKey key = CreateKey(AdapterPath(index));
    if (!key.Valid()) {
        return;
    }
    WriteString(key.Get(), L"DeviceName", adapter.deviceName);
    WriteString(key.Get(), L"DeviceString", adapter.deviceString);
    WriteString(key.Get(), L"DeviceID", adapter.deviceID);
    WriteDword(key.Get(), L"StateFlags", adapter.stateFlags);
    WriteModes(key.Get(), adapter.modes);
    if (adapter.hasCurrentMode) {
        WriteString(key.Get(), L"CurrentMode", FormatMode(adapter.currentMode));
    } else {
        (void)RegDeleteValueW(key.Get(), L"CurrentMode");
    }
    WriteDword(key.Get(), L"ModeChangeTakesEffect", adapter.modeChangeTakesEffect ? 1 : 0);
    WriteMonitors(index, adapter.monitors);
}

void WriteWmiRows(const std::vector<WmiRow>& rows) {
    DeleteTree(SimPath(L"Wmi"));
    for (size_t i = 0; i < rows.size(); ++i) {
        UniqueKey key = CreateKey(SimPath(L"Wmi\\" + std::to_wstring(i)));
        if (key.Valid()) {
            WriteString(key.Get(), L"InstanceName", rows[i].instanceName);
            WriteDword(key.Get(), L"VideoOutputTechnology", rows[i].videoOutputTechnology);
            WriteDword(key.Get(), L"VideoOutputTechnologyType", rows[i].videoOutputTechnologyType);
        }
    }
}

void SetRootDword(const wchar_t* name, DWORD value) {
    UniqueKey key = CreateKey(SimPath());
    if (key.Valid()) {
        WriteDword(key.Get(), name, value);
    }
}

DWORD GetRootDword(const wchar_t* name, DWORD fallback) {
    UniqueKey key = OpenKey(SimPath());
    return ReadDword(key.Get(), name, fallback);
}

// Holds the cross-process record mutex for one append or clear.
class RecordGuard {
  public:
    RecordGuard() : mutex_(CreateMutexW(nullptr, FALSE, kRecordMutexName)) {
        if (mutex_.Valid()) {
            DWORD wait = WaitForSingleObject(mutex_.Get(), INFINITE);
            owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~RecordGuard() {
        if (owned_) {
            ReleaseMutex(mutex_.Get());
        }
    }
    RecordGuard(const RecordGuard&) = delete;
    RecordGuard& operator=(const RecordGuard&) = delete;

  private:
    UniqueHandle mutex_;
    bool owned_ = false;
};

uint64_t ReadRecordCount(HKEY key) {
    uint64_t count = 0;
    DWORD size = sizeof count;
    DWORD type = 0;
    if (key == nullptr ||
        RegQueryValueExW(key, L"RecordCount", nullptr, &type, reinterpret_cast<BYTE*>(&count),
                         &size) != ERROR_SUCCESS ||
        type != REG_QWORD) {
        return 0;
    }
    return count;
}

std::wstring SlotName(uint64_t sequence) {
    wchar_t name[16];
    swprintf(name, 16, L"E%04u", static_cast<unsigned>(sequence % kRecordCapacity));
    return name;
}

} // namespace

bool operator==(const Mode& a, const Mode& b) {
    return a.width == b.width && a.height == b.height && a.bitsPerPixel == b.bitsPerPixel &&
           a.frequency == b.frequency;
}
bool operator!=(const Mode& a, const Mode& b) {
    return !(a == b);
}

std::wstring FormatMode(const Mode& mode) {
    wchar_t text[64];
    swprintf(text, 64, L"%ux%ux%u@%u", mode.width, mode.height, mode.bitsPerPixel, mode.frequency);
    return text;
}

bool ParseMode(const std::wstring& text, Mode* mode) {
    unsigned width = 0, height = 0, bits = 0, frequency = 0;
    wchar_t rest = 0;
    if (swscanf(text.c_str(), L"%ux%ux%u@%u%lc", &width, &height, &bits, &frequency, &rest) != 4) {
        return false;
    }
    *mode = Mode{width, height, bits, frequency};
    return true;
}

Adapter DefaultAdapter() {
    Adapter adapter;
    adapter.deviceName = L"\\\\.\\DISPLAY1";
    adapter.deviceString = L"Simulated Graphics";
    adapter.deviceID = L"PCI\\VEN_8086&DEV_A7A0&SUBSYS_00000000&REV_04";
    adapter.stateFlags = kPrimaryAdapter;
    Monitor panel;
    panel.deviceName = L"\\\\.\\DISPLAY1\\Monitor0";
    panel.deviceString = L"Generic PnP Monitor";
    panel.deviceID =
        std::wstring(L"MONITOR\\") + kDefaultPanelIdentity + L"\\" + kMonitorClassGuid + L"\\0001";
    panel.stateFlags = kActiveMonitor;
    adapter.monitors.push_back(panel);
    adapter.modes = {Mode{1920, 1080, 32, 144}, Mode{1920, 1080, 32, 60}};
    adapter.hasCurrentMode = true;
    adapter.currentMode = Mode{1920, 1080, 32, 144};
    adapter.modeChangeTakesEffect = true;
    return adapter;
}

Monitor ExternalMonitor(int n) {
    Monitor monitor;
    monitor.deviceName = L"\\\\.\\DISPLAY" + std::to_wstring(n + 1) + L"\\Monitor0";
    monitor.deviceString = L"Generic PnP Monitor";
    wchar_t id[16];
    swprintf(id, 16, L"EXT%04d", n);
    monitor.deviceID = std::wstring(L"MONITOR\\") + id + L"\\" + kMonitorClassGuid + L"\\0002";
    monitor.stateFlags = kActiveMonitor;
    return monitor;
}

WmiRow DefaultWmiRow() {
    return WmiRow{kDefaultPanelInstanceName, kOutputInternal};
}

void ResetSimNotebook() {
    DeleteTree(SimPath());
    UniqueKey root = CreateKey(SimPath());
    if (!root.Valid()) {
        return;
    }
    WriteDword(root.Get(), L"ACLineStatus", 1);
    WriteDword(root.Get(), L"PowerStatusFails", 0);
    WriteDword(root.Get(), L"DelayScalePercent", 0);
    WriteDword(root.Get(), L"WmiQueryFails", 0);
    WriteDword(root.Get(), L"LidOpen", 1);
    WriteDword(root.Get(), L"MonitorPowerOn", 1);
    SetAdapters({DefaultAdapter()});
    SetWmiRows({DefaultWmiRow()});
    ClearRecord();
}

void SetACLineStatus(uint8_t status) {
    SetRootDword(L"ACLineStatus", status);
}
uint8_t GetACLineStatus() {
    return static_cast<uint8_t>(GetRootDword(L"ACLineStatus", 1));
}
void SetPowerStatusFails(bool fails) {
    SetRootDword(L"PowerStatusFails", fails ? 1 : 0);
}
bool GetPowerStatusFails() {
    return GetRootDword(L"PowerStatusFails", 0) != 0;
}
void SetWmiQueryFails(bool fails) {
    SetRootDword(L"WmiQueryFails", fails ? 1 : 0);
}
bool GetWmiQueryFails() {
    return GetRootDword(L"WmiQueryFails", 0) != 0;
}
void SetSessionRegistrationFailures(uint32_t count) {
    SetRootDword(L"SessionRegistrationFailures", count);
}
bool TakeSessionRegistrationFailure() {
    DWORD left = GetRootDword(L"SessionRegistrationFailures", 0);
    if (left == 0) {
        return false;
    }
    SetRootDword(L"SessionRegistrationFailures", left - 1);
    return true;
}
void SetDelayScalePercent(uint32_t percent) {
    SetRootDword(L"DelayScalePercent", percent);
}
uint32_t GetDelayScalePercent() {
    return GetRootDword(L"DelayScalePercent", 0);
}
void SetLidOpen(bool open) {
    SetRootDword(L"LidOpen", open ? 1 : 0);
}
bool GetLidOpen() {
    return GetRootDword(L"LidOpen", 1) != 0;
}
void SetMonitorPower(uint32_t value) {
    SetRootDword(L"MonitorPowerOn", value);
}
uint32_t GetMonitorPower() {
    return GetRootDword(L"MonitorPowerOn", 1);
}

void ArmPowerDuringNextModeChange(uint8_t status) {
    SetRootDword(kPowerDuringNextModeChange, status);
}

void DisarmPowerDuringNextModeChange() {
    UniqueKey key = CreateKey(SimPath());
    if (key.Valid()) {
        (void)RegDeleteValueW(key.Get(), kPowerDuringNextModeChange);
    }
}

bool GetPowerDuringNextModeChange(uint8_t* status) {
    UniqueKey key = OpenKey(SimPath());
    constexpr DWORD kDisarmed = 0xFFFFFFFF;
    DWORD value = ReadDword(key.Get(), kPowerDuringNextModeChange, kDisarmed);
    if (value == kDisarmed) {
        return false;
    }
    *status = static_cast<uint8_t>(value);
    return true;
}

bool TakePowerDuringNextModeChange(uint8_t* status) {
    UniqueKey key = CreateKey(SimPath());
    uint8_t armed = 0;
    if (!key.Valid() || !GetPowerDuringNextModeChange(&armed)) {
        return false;
    }
    // Whoever deletes the value took it.
    if (RegDeleteValueW(key.Get(), kPowerDuringNextModeChange) != ERROR_SUCCESS) {
        return false;
    }
    *status = armed;
    return true;
}

void SetConsoleSession(uint32_t session) {
    SetRootDword(L"ConsoleSession", session);
}
void SetConsoleSessionSelf() {
    UniqueKey key = CreateKey(SimPath());
    if (key.Valid()) {
        (void)RegDeleteValueW(key.Get(), L"ConsoleSession");
    }
}
const wchar_t kPackageConfigSecurity[] =
    L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

void SetFileSecurityText(const std::wstring& path, const std::wstring& sddl) {
    UniqueKey key = CreateKey(SimPath(L"FileSecurity"));
    if (!key.Valid()) {
        return;
    }
    if (sddl.empty()) {
        (void)RegDeleteValueW(key.Get(), path.c_str());
        return;
    }
    WriteString(key.Get(), path.c_str(), sddl);
}

bool GetFileSecurityText(const std::wstring& path, std::wstring* sddl) {
    UniqueKey key = OpenKey(SimPath(L"FileSecurity"));
    if (!key.Valid()) {
        return false;
    }
    *sddl = ReadString(key.Get(), path.c_str());
    return !sddl->empty();
}

bool GetConsoleSession(uint32_t* session) {
    UniqueKey key = OpenKey(SimPath());
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    if (!key.Valid() ||
        RegQueryValueExW(key.Get(), L"ConsoleSession", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    *session = value;
    return true;
}

void SetAdapters(const std::vector<Adapter>& adapters) {
    DeleteTree(SimPath(L"Adapters"));
    for (size_t i = 0; i < adapters.size(); ++i) {
        WriteAdapter(i, adapters[i]);
    }
}

std::vector<Adapter> GetAdapters() {
    std::vector<Adapter> adapters;
    for (size_t i = 0;; ++i) {
        UniqueKey key = OpenKey(AdapterPath(i));
        if (!key.Valid()) {
            break;
        }
        Adapter adapter;
        adapter.deviceName = ReadString(key.Get(), L"DeviceName");
        adapter.deviceString = ReadString(key.Get(), L"DeviceString");
        adapter.deviceID = ReadString(key.Get(), L"DeviceID");
        adapter.stateFlags = ReadDword(key.Get(), L"StateFlags", 0);
        adapter.modes = ReadModes(key.Get());
        std::wstring current;
        adapter.hasCurrentMode = ReadStringData(key.Get(), L"CurrentMode", &current) &&
                                 ParseMode(current.c_str(), &adapter.currentMode);
        adapter.modeChangeTakesEffect = ReadDword(key.Get(), L"ModeChangeTakesEffect", 1) != 0;
        for (size_t j = 0;; ++j) {
            UniqueKey monitorKey = OpenKey(AdapterPath(i) + L"\\Monitors\\" + std::to_wstring(j));
            if (!monitorKey.Valid()) {
                break;
            }
            Monitor monitor;
            monitor.deviceName = ReadString(monitorKey.Get(), L"DeviceName");
            monitor.deviceString = ReadString(monitorKey.Get(), L"DeviceString");
            monitor.deviceID = ReadString(monitorKey.Get(), L"DeviceID");
            monitor.stateFlags = ReadDword(monitorKey.Get(), L"StateFlags", 0);
            adapter.monitors.push_back(monitor);
        }
        adapters.push_back(adapter);
    }
    return adapters;
}

void SetMonitors(size_t adapter, const std::vector<Monitor>& monitors) {
    WriteMonitors(adapter, monitors);
}

void SetModes(size_t adapter, const std::vector<Mode>& modes) {
    UniqueKey key = CreateKey(AdapterPath(adapter));
    if (key.Valid()) {
        WriteModes(key.Get(), modes);
    }
}

void SetCurrentMode(size_t adapter, const Mode& mode) {
    UniqueKey key = CreateKey(AdapterPath(adapter));
    if (key.Valid()) {
        WriteString(key.Get(), L"CurrentMode", FormatMode(mode));
    }
}

void ClearCurrentMode(size_t adapter) {
    UniqueKey key = CreateKey(AdapterPath(adapter));
    if (key.Valid()) {
        (void)RegDeleteValueW(key.Get(), L"CurrentMode");
    }
}

bool GetCurrentMode(size_t adapter, Mode* mode) {
    UniqueKey key = OpenKey(AdapterPath(adapter));
    std::wstring current;
    return key.Valid() && ReadStringData(key.Get(), L"CurrentMode", &current) &&
           ParseMode(current.c_str(), mode);
}

void SetModeChangeTakesEffect(size_t adapter, bool takesEffect) {
    UniqueKey key = CreateKey(AdapterPath(adapter));
    if (key.Valid()) {
        WriteDword(key.Get(), L"ModeChangeTakesEffect", takesEffect ? 1 : 0);
    }
}

void SetActiveDisplayCount(int count) {
    std::vector<Adapter> adapters;
    for (int i = 0; i < count; ++i) {
        Adapter adapter = DefaultAdapter();
        if (i > 0) {
            adapter.deviceName = L"\\\\.\\DISPLAY" + std::to_wstring(i + 1);
            adapter.stateFlags = kDesktopAdapter;
            adapter.monitors = {ExternalMonitor(i)};
            adapter.modes = {Mode{1920, 1080, 32, 60}};
            adapter.currentMode = Mode{1920, 1080, 32, 60};
        }
        adapters.push_back(adapter);
    }
    // Adapter 0 keeps its present modes and current mode: only the externals change.
    std::vector<Adapter> present = GetAdapters();
    if (!present.empty() && !adapters.empty()) {
        adapters[0] = present[0];
    }
    SetAdapters(adapters);
}

Adapter ExternalAdapter(int n) {
    Adapter adapter;
    adapter.deviceName = L"\\\\.\\DISPLAY" + std::to_wstring(n + 1);
    adapter.deviceString = L"Simulated Discrete Graphics";
    adapter.deviceID = L"PCI\\VEN_10DE&DEV_2560&SUBSYS_00000000&REV_A1";
    adapter.stateFlags = kDesktopAdapter;
    adapter.monitors = {ExternalMonitor(n)};
    adapter.modes = {Mode{2560, 1440, 32, 75}, Mode{2560, 1440, 32, 60}};
    adapter.hasCurrentMode = true;
    adapter.currentMode = Mode{2560, 1440, 32, 75};
    return adapter;
}

void SetPanelAdapter(size_t panelAdapter) {
    std::vector<Adapter> adapters;
    for (size_t i = 0; i < panelAdapter; ++i) {
        adapters.push_back(ExternalAdapter(static_cast<int>(i)));
    }
    if (!adapters.empty()) {
        adapters[0].stateFlags = kPrimaryAdapter;
    }
    Adapter panel = DefaultAdapter();
    const std::wstring name = L"\\\\.\\DISPLAY" + std::to_wstring(panelAdapter + 1);
    panel.deviceName = name;
    panel.monitors[0].deviceName = name + L"\\Monitor0";
    if (panelAdapter != 0) {
        panel.stateFlags = kDesktopAdapter;
    }
    adapters.push_back(panel);
    SetAdapters(adapters);
}

void SetWmiRows(const std::vector<WmiRow>& rows) {
    WriteWmiRows(rows);
}

std::vector<WmiRow> GetWmiRows() {
    std::vector<WmiRow> rows;
    for (size_t i = 0;; ++i) {
        UniqueKey key = OpenKey(SimPath(L"Wmi\\" + std::to_wstring(i)));
        if (!key.Valid()) {
            break;
        }
        rows.push_back(WmiRow{ReadString(key.Get(), L"InstanceName"),
                              ReadDword(key.Get(), L"VideoOutputTechnology", 0),
                              static_cast<uint16_t>(ReadDword(
                                  key.Get(), L"VideoOutputTechnologyType", kVariantInt32))});
    }
    return rows;
}

void AppendEvent(const Event& event) {
    RecordGuard guard;
    UniqueKey key = CreateKey(SimPath(L"Record"));
    if (!key.Valid()) {
        return;
    }
    uint64_t count = ReadRecordCount(key.Get());
    DWORD words[kRecordSlotWords] = {
        static_cast<DWORD>(event.kind),
        static_cast<DWORD>(event.adapter),
        event.mode.width,
        event.mode.height,
        event.mode.bitsPerPixel,
        event.mode.frequency,
        event.flags,
        event.kind == EventKind::Delay ? event.milliseconds : static_cast<DWORD>(event.result)};
    (void)RegSetValueExW(key.Get(), SlotName(count).c_str(), 0, REG_BINARY,
                         reinterpret_cast<const BYTE*>(words), sizeof words);
    ++count;
    (void)RegSetValueExW(key.Get(), L"RecordCount", 0, REG_QWORD,
                         reinterpret_cast<const BYTE*>(&count), sizeof count);
}

uint64_t RecordedEventCount() {
    UniqueKey key = OpenKey(SimPath(L"Record"));
    return ReadRecordCount(key.Get());
}

std::vector<Event> ReadRecord() {
    std::vector<Event> events;
    UniqueKey key = OpenKey(SimPath(L"Record"));
    uint64_t count = ReadRecordCount(key.Get());
    uint64_t first = count > kRecordCapacity ? count - kRecordCapacity : 0;
    for (uint64_t sequence = first; sequence < count; ++sequence) {
        DWORD words[kRecordSlotWords] = {};
        DWORD size = sizeof words;
        if (RegQueryValueExW(key.Get(), SlotName(sequence).c_str(), nullptr, nullptr,
                             reinterpret_cast<BYTE*>(words), &size) != ERROR_SUCCESS ||
            size != sizeof words) {
            continue;
        }
        Event event;
        event.kind = static_cast<EventKind>(words[0]);
        event.adapter = static_cast<int32_t>(words[1]);
        event.mode = Mode{words[2], words[3], words[4], words[5]};
        event.flags = words[6];
        if (event.kind == EventKind::Delay) {
            event.milliseconds = words[7];
        } else {
            event.result = static_cast<int32_t>(words[7]);
        }
        events.push_back(event);
    }
    return events;
}

void ClearRecord() {
    RecordGuard guard;
    DeleteTree(SimPath(L"Record"));
    UniqueKey key = CreateKey(SimPath(L"Record"));
    uint64_t zero = 0;
    if (key.Valid()) {
        (void)RegSetValueExW(key.Get(), L"RecordCount", 0, REG_QWORD,
                             reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    }
}

bool InstallPanelEDID(const std::wstring& identity, const std::wstring& instanceKey,
                      const std::vector<uint8_t>& edid) {
    const std::wstring instancePath =
        std::wstring(kDisplayEnumPath) + L"\\" + identity + L"\\" + instanceKey;
    // The lasting keys first: a volatile key would make the parents it creates volatile too.
    UniqueKey key = CreateKey(instancePath + L"\\Device Parameters");
    if (!key.Valid() || !CreateKey(instancePath + L"\\LogConf").Valid() ||
        !CreateKey(instancePath + L"\\Properties").Valid()) {
        return false;
    }
    // Control exists only while the device runs: the system keeps it volatile.
    UniqueKey control;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (instancePath + L"\\Control").c_str(), 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE, nullptr, control.Put(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.Get(), L"EDID", 0, REG_BINARY, edid.data(),
                          static_cast<DWORD>(edid.size())) == ERROR_SUCCESS;
}

void RemovePanelEDID(const std::wstring& identity) {
    if (!identity.empty()) {
        DeleteTree(std::wstring(kDisplayEnumPath) + L"\\" + identity);
    }
}

namespace {

// One 18-byte detailed timing of 1920x1080 with 160 pixels and 40 lines of blanking.
void PutTiming(std::vector<uint8_t>& edid, size_t offset, uint16_t pixelClock10kHz) {
    const uint32_t width = 1920, hBlank = 160, height = 1080, vBlank = 40;
    edid[offset] = static_cast<uint8_t>(pixelClock10kHz & 0xFF);
    edid[offset + 1] = static_cast<uint8_t>(pixelClock10kHz >> 8);
    edid[offset + 2] = static_cast<uint8_t>(width & 0xFF);
    edid[offset + 3] = static_cast<uint8_t>(hBlank & 0xFF);
    edid[offset + 4] = static_cast<uint8_t>(((width >> 8) << 4) | (hBlank >> 8));
    edid[offset + 5] = static_cast<uint8_t>(height & 0xFF);
    edid[offset + 6] = static_cast<uint8_t>(vBlank & 0xFF);
    edid[offset + 7] = static_cast<uint8_t>(((height >> 8) << 4) | (vBlank >> 8));
}

} // namespace

std::vector<uint8_t> DefaultPanelEDID() {
    std::vector<uint8_t> edid(128, 0);
    const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (size_t i = 0; i < 8; ++i) {
        edid[i] = header[i];
    }
    edid[8] = 0x06; // "AUO"
    edid[9] = 0xAF;
    edid[10] = 0x9D; // product 519D, little-endian
    edid[11] = 0x51;
    edid[18] = 1; // EDID 1.4
    edid[19] = 4;
    // 2080 x 1120 totals: 33546 gives 144 Hz, 13978 gives 60 Hz.
    PutTiming(edid, 54, 33546);
    PutTiming(edid, 72, 13978);
    unsigned sum = 0;
    for (size_t i = 0; i < 127; ++i) {
        sum += edid[i];
    }
    edid[127] = static_cast<uint8_t>((256 - sum % 256) % 256);
    return edid;
}

} // namespace simnotebook
