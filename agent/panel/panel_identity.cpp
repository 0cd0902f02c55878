// Which display is the built-in panel and where its EDID lies. WMI (through the machine
// module) names the first internal display; its instance name gives the hardware identity
// and the device instance under which the display registry keys keep the EDID.
#include "agent/panel/panel_identity.h"

#include "agent/machine/machine.h"
#include "agent/panel/components.h"
#include "agent/platform/owners.h"

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

bool IsInternalOutput(uint32_t technology) {
    return technology == kOutputInternal || technology == kOutputEmbeddedDisplayPort;
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

} // namespace

std::wstring SelectInternalPanelComponent(const std::vector<machine::MonitorConnection>& rows,
                                          size_t component) {
    for (const machine::MonitorConnection& row : rows) {
        if (!IsInternalOutput(row.videoOutputTechnology)) {
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
    std::wstring firstName;
    if (!EnumSubkey(instanceKey.Get(), 0, &firstName)) {
        return PanelEDID{};
    }
    UniqueKey parametersKey = OpenSubkey(instanceKey.Get(), firstName.c_str());
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
