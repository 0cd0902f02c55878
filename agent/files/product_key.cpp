#include "agent/files/product_key.h"

#include "agent/state/console_session.h"
#include "common/fixed_paths.h"
#include "common/owners.h"

#include <windows.h>

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
    // The product key is the machine's: another session's agent leaves it to the console's.
    if (!ActsForConsole(L"WriteNeedShow")) {
        return;
    }
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
