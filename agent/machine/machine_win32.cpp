// The machine boundary on a real notebook: thin calls into the platform. Only the WMI query
// has any substance; it initialises COM for the duration of one call and releases every
// object it obtained on every path, which the platform owners make hard to get wrong.
#include "agent/machine/machine.h"

#include "common/owners.h"

#include <aclapi.h>
#include <cfgmgr32.h>
#include <wbemidl.h>
#include <wtsapi32.h>

namespace machine {

namespace {

constexpr DWORD kDisplayDeviceSize = 840; // sizeof(DISPLAY_DEVICEW)
constexpr WORD kDevModeSize = 220;        // sizeof(DEVMODEW), no driver-private bytes
constexpr long kQueryFlags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY; // 0x30

MonitorConnection ReadConnection(IWbemClassObject* object) {
    MonitorConnection row;
    Variant name;
    if (SUCCEEDED(object->Get(L"InstanceName", 0, name.Put(), nullptr, nullptr)) &&
        name.Get().vt == VT_BSTR && name.Get().bstrVal != nullptr) {
        row.instanceName.assign(name.Get().bstrVal, SysStringLen(name.Get().bstrVal));
    }
    Variant technology;
    if (SUCCEEDED(object->Get(L"VideoOutputTechnology", 0, technology.Put(), nullptr, nullptr))) {
        // Only a VT_I4 holds a value in lVal; a VT_NULL (missing value) holds nothing.
        row.videoOutputTechnologyType = technology.Get().vt;
        if (technology.Get().vt == VT_I4) {
            row.videoOutputTechnology = static_cast<uint32_t>(technology.Get().lVal);
        }
    } else {
        row.videoOutputTechnologyType = VT_EMPTY;
    }
    return row;
}

} // namespace

bool GetPowerStatus(SYSTEM_POWER_STATUS* status) {
    return GetSystemPowerStatus(status) != FALSE;
}

bool ReadDisplayDevice(const wchar_t* deviceName, DWORD index, DISPLAY_DEVICEW* device) {
    device->cb = kDisplayDeviceSize;
    return ::EnumDisplayDevicesW(deviceName, index, device, 0) != FALSE;
}

bool ReadDisplayMode(const wchar_t* deviceName, DWORD modeNumber, DEVMODEW* mode) {
    mode->dmSize = kDevModeSize;
    mode->dmDriverExtra = 0;
    return ::EnumDisplaySettingsW(deviceName, modeNumber, mode) != FALSE;
}

LONG ApplyDisplayMode(const wchar_t* deviceName, DEVMODEW* mode, DWORD flags) {
    return ::ChangeDisplaySettingsExW(deviceName, mode, nullptr, flags, nullptr);
}

HPOWERNOTIFY RegisterPowerSettingNotification(HWND window, const GUID* setting) {
    return ::RegisterPowerSettingNotification(window, setting, DEVICE_NOTIFY_WINDOW_HANDLE);
}

bool QueryMonitorConnections(std::vector<MonitorConnection>* rows) {
    rows->clear();
    // Declared first, so that it outlives every COM owner below.
    ComInitialization com = InitializeCom();
    (void)CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);

    ComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.PutVoid()))) {
        return false;
    }
    ComPtr<IWbemServices> services;
    Bstr wmiNamespace(L"ROOT\\wmi");
    if (FAILED(locator->ConnectServer(wmiNamespace.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                                      nullptr, services.Put()))) {
        return false;
    }
    (void)CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                            RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                            EOAC_NONE);

    ComPtr<IEnumWbemClassObject> enumerator;
    Bstr language(L"WQL");
    Bstr query(L"SELECT * FROM WmiMonitorConnectionParams");
    if (FAILED(services->ExecQuery(language.Get(), query.Get(), kQueryFlags, nullptr,
                                   enumerator.Put()))) {
        return false;
    }
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT result = enumerator->Next(WBEM_INFINITE, 1, object.Put(), &returned);
        if (FAILED(result) || returned == 0) {
            break;
        }
        rows->push_back(ReadConnection(object.Get()));
    }
    return true;
}

bool RegisterSessionNotification(HWND window) {
    return ::WTSRegisterSessionNotification(window, NOTIFY_FOR_ALL_SESSIONS) != FALSE;
}

// The configuration-manager library is loaded for the call and released after it: most
// notebooks never need it, and imported it would weigh on the agent's memory, with what it
// loads, for the whole session.
void ReenumerateDeviceTree() {
    using LocateDevNode = CONFIGRET(WINAPI*)(PDEVINST, DEVINSTID_W, ULONG);
    using ReenumerateDevNode = CONFIGRET(WINAPI*)(DEVINST, ULONG);
    // From the system folder only: a file of that name beside the agent must not be run.
    HMODULE library = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        return;
    }
    auto locate = reinterpret_cast<LocateDevNode>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "CM_Locate_DevNodeW")));
    auto reenumerate = reinterpret_cast<ReenumerateDevNode>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "CM_Reenumerate_DevNode")));
    DEVINST root = 0;
    if (locate != nullptr && reenumerate != nullptr &&
        locate(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS) {
        // Asynchronous: the platform does the work after the call returns, so the library may go.
        (void)reenumerate(root, CM_REENUMERATE_ASYNCHRONOUS);
    }
    FreeLibrary(library);
}

void Delay(DWORD milliseconds) {
    Sleep(milliseconds);
}

DWORD ReadFileSecurity(HANDLE handle, PSECURITY_DESCRIPTOR* descriptor) {
    return GetSecurityInfo(handle, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                           nullptr, nullptr, descriptor);
}

DWORD ReadConsoleSessionId() {
    return WTSGetActiveConsoleSessionId();
}

} // namespace machine
