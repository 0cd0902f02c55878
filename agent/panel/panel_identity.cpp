// Which display is the built-in panel and where its EDID lies. WMI (through the machine
// module) names the first internal display; its instance name gives the hardware identity
// and the device instance under which the display registry keys keep the EDID.
#include "agent/panel/panel_identity.h"

#include "agent/machine/machine.h"
#include "agent/panel/components.h"
#include "common/owners.h"

namespace {

constexpr uint32_t kOutputInternal = 0x80000000u;
constexpr uint32_t kOutputEmbeddedDisplayPort = 11;
constexpr size_t kIdentityComponent = 1;
constexpr size_t kInstanceComponent = 2;
constexpr DWORD kInitialEDIDBuffer = 256;
constexpr DWORD kKeyNameLength = 260;
// An EDID has at most 256 blocks of 128 bytes; a larger value is no EDID.
constexpr DWORD kMaxEDIDSize = 256 * 128;
const wchar_t kDisplayEnumKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY";
const wchar_t kDeviceParameters[] = L"Device Parameters";

bool IsInternalOutput(const machine::MonitorConnection& row) {
    if (row.videoOutputTechnologyType != VT_I4) {
        return false;
    }
    return row.videoOutputTechnology == kOutputInternal ||
           row.videoOutputTechnology == kOutputEmbeddedDisplayPort;
}

std::wstring InternalPanelComponent(size_t component) {
    std::vector<machine::MonitorConnection> rows;
    if (!machine::QueryMonitorConnections(&rows)) {
        return std::wstring();
    }
    return SelectInternalPanelComponent(rows, component);
}

UniqueKey OpenSubkey(HKEY parent, const wchar_t* name) {
    UniqueKey key;
    if (RegOpenKeyExW(parent, name, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
        key.Reset();
    }
    return key;
}

// The name of subkey `index`; false when the enumeration ends or fails.
bool EnumSubkey(HKEY key, DWORD index, std::wstring* name) {
    wchar_t buffer[kKeyNameLength];
    DWORD length = kKeyNameLength;
    if (RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    name->assign(buffer, length);
    return true;
}

// Opens the subkey whose name equals `wanted` exactly (case-sensitive).
UniqueKey OpenExactSubkey(HKEY parent, const std::wstring& wanted) {
    std::wstring name;
    for (DWORD index = 0; EnumSubkey(parent, index, &name); ++index) {
        if (name == wanted) {
            return OpenSubkey(parent, name.c_str());
        }
    }
    return UniqueKey();
}

// The key that holds the EDID. An active display's instance key has several subkeys
// (Control, Device Parameters, LogConf, Properties) and enumerates them in name order, so the
// first one is Control, which holds no EDID: "Device Parameters" is opened by name, and only
// an instance key without it falls back to its first subkey.
UniqueKey OpenParametersKey(HKEY instanceKey) {
    UniqueKey key;
    LSTATUS status = RegOpenKeyExW(instanceKey, kDeviceParameters, 0, KEY_READ, key.Put());
    if (status == ERROR_SUCCESS) {
        return key;
    }
    key.Reset();
    if (status != ERROR_FILE_NOT_FOUND) {
        return key;
    }
    std::wstring firstName;
    if (!EnumSubkey(instanceKey, 0, &firstName)) {
        return key;
    }
    return OpenSubkey(instanceKey, firstName.c_str());
}

} // namespace

std::wstring SelectInternalPanelComponent(const std::vector<machine::MonitorConnection>& rows,
                                          size_t component) {
    for (const machine::MonitorConnection& row : rows) {
        if (!IsInternalOutput(row)) {
            continue;
        }
        std::vector<std::wstring> parts = SplitComponents(row.instanceName, L'\\');
        if (parts.empty()) {
            continue;
        }
        return component < parts.size() ? parts[component] : std::wstring();
    }
    return std::wstring();
}

std::wstring GetInternalPanelIdentity() {
    return InternalPanelComponent(kIdentityComponent);
}

std::wstring GetInternalPanelInstance() {
    return InternalPanelComponent(kInstanceComponent);
}

PanelEDID ReadPanelEDID(const std::wstring& identity) {
    std::wstring instance = GetInternalPanelInstance();
    // The registry keeps the instance without WMI's "_0" suffix.
    size_t underscore = instance.find(L'_');
    if (underscore != std::wstring::npos) {
        instance.resize(underscore);
    }
    if (identity.empty()) {
        return PanelEDID{};
    }
    UniqueKey displayKey = OpenSubkey(HKEY_LOCAL_MACHINE, kDisplayEnumKey);
    if (!displayKey.Valid()) {
        return PanelEDID{};
    }
    UniqueKey identityKey = OpenExactSubkey(displayKey.Get(), identity);
    if (!identityKey.Valid()) {
        return PanelEDID{};
    }
    UniqueKey instanceKey = OpenExactSubkey(identityKey.Get(), instance);
    if (!instanceKey.Valid()) {
        return PanelEDID{};
    }
    UniqueKey parametersKey = OpenParametersKey(instanceKey.Get());
    if (!parametersKey.Valid()) {
        return PanelEDID{};
    }
    std::vector<uint8_t> buffer(kInitialEDIDBuffer);
    DWORD size = static_cast<DWORD>(buffer.size());
    LSTATUS status =
        RegQueryValueExW(parametersKey.Get(), L"EDID", nullptr, nullptr, buffer.data(), &size);
    while (status == ERROR_MORE_DATA) {
        if (size >= kMaxEDIDSize) {
            return PanelEDID{};
        }
        buffer.resize(static_cast<size_t>(size) + 1);
        size = static_cast<DWORD>(buffer.size());
        status =
            RegQueryValueExW(parametersKey.Get(), L"EDID", nullptr, nullptr, buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
        return PanelEDID{};
    }
    PanelEDID edid;
    buffer.resize(size);
    edid.bytes = std::move(buffer);
    edid.byteCount = size;
    edid.found = true;
    return edid;
}
