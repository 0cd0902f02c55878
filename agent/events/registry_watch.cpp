#include "agent/events/registry_watch.h"

#include "agent/log/log.h"
#include "agent/state/agent_state.h"
#include "common/owners.h"
#include "common/thread_stack.h"

#include <string>

namespace {

constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET;

} // namespace

void WatchRefreshFlag(HKEY key, HANDLE changed, HWND window, uint32_t (*readFlag)()) {
    for (;;) {
        // Armed before the read: a change that lands after the read then wakes the wait below
        // instead of slipping through unnoticed.
        ResetEvent(changed);
        const LSTATUS armed = RegNotifyChangeKeyValue(key, TRUE, kNotifyFilter, changed, TRUE);
        if (armed != ERROR_SUCCESS) {
            // The key was deleted: nothing would ever wake the wait again.
            WriteLog(L"RegistryWatchThread: RegNotifyChangeKeyValue failed, error " +
                     std::to_wstring(armed));
            return;
        }
        if (readFlag() != refreshFlag) {
            refreshFlag = readFlag();
            PostMessageW(window, WM_REFRESHFLAG_CHANGED, 0, 0);
        }
        HANDLE waitFor[] = {changed, WatcherStopEvent()};
        const DWORD woken = WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0 + 1) {
            return; // the window's end
        }
        if (woken != WAIT_OBJECT_0) {
            WriteLog(L"RegistryWatchThread: WaitForSingleObject failed, error " +
                     std::to_wstring(GetLastError()));
            return;
        }
    }
}

namespace {

DWORD WatchProductKey(HWND window) {
    // The thread waits for the whole run in a few small frames.
    ReleaseStackBelowFrame();
    UniqueKey key;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_NOTIFY, key.Put());
    if (opened != ERROR_SUCCESS) {
        WriteLog(L"RegistryWatchThread: RegOpenKeyExW failed, error " + std::to_wstring(opened));
        return 0;
    }
    UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed.Valid()) {
        WriteLog(L"RegistryWatchThread: CreateEventW failed, error " +
                 std::to_wstring(GetLastError()));
        return 0;
    }
    WatchRefreshFlag(key.Get(), changed.Get(), window, ReadRefreshFlag);
    return 0;
}

} // namespace

DWORD WINAPI RegistryWatchThread(LPVOID window) {
    try {
        return WatchProductKey(static_cast<HWND>(window));
    } catch (...) {
        LogUnexpectedException(L"RegistryWatchThread: unexpected exception: ", L", thread ends");
        return kThreadEndedByException;
    }
}
