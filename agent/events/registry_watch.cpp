#include "agent/events/registry_watch.h"

#include "agent/platform/owners.h"
#include "agent/state/agent_state.h"

const wchar_t kProductKeyPath[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                                  L"Uninstall\\{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}";

namespace {

constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;

} // namespace

uint32_t ReadRefreshFlag() {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_READ | KEY_WOW64_64KEY,
                      key.Put()) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(key.Get(), nullptr, L"RefreshFlag", RRF_RT_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

void WriteNeedShow(bool show) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0,
                      KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY,
                      key.Put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD existing = 0;
    DWORD size = sizeof existing;
    if (RegQueryValueExW(key.Get(), L"NeedShow", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&existing), &size) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = show ? 1 : 0;
    (void)RegSetValueExW(key.Get(), L"NeedShow", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                         sizeof value);
}

DWORD WINAPI RegistryWatchThread(LPVOID window) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_NOTIFY, key.Put()) !=
        ERROR_SUCCESS) {
        return 0;
    }
    UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed.Valid()) {
        return 0;
    }
    (void)RegNotifyChangeKeyValue(key.Get(), TRUE, kNotifyFilter, changed.Get(), TRUE);
    for (;;) {
        WaitForSingleObject(changed.Get(), INFINITE);
        if (ReadRefreshFlag() != refreshFlag) {
            refreshFlag = ReadRefreshFlag();
            PostMessageW(static_cast<HWND>(window), WM_REFRESHFLAG_CHANGED, 0, 0);
        }
        ResetEvent(changed.Get());
        (void)RegNotifyChangeKeyValue(key.Get(), TRUE, kNotifyFilter, changed.Get(), TRUE);
    }
}
