// Stand-in for the agent in the setup tool's tests, copied under the name Lumivane.exe. It
// records where it was started from, tells the test that it runs, and stays until the test
// tells it to stop or the setup tool ends it. Like the agent, it is a windows-subsystem program.
#include "tests/setup/agent_stub_protocol.h"

#include <windows.h>

#include <cwchar>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));

    // Windows keeps a running program's file from being deleted, Wine does not: the file is
    // held without delete sharing until the process is gone, as Windows would hold it.
    HANDLE ownFile = INVALID_HANDLE_VALUE;
    if (arguments != nullptr && wcsstr(arguments, kAgentStubHoldProgramFile) != nullptr) {
        ownFile = CreateFileW(path.data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    }

    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kAgentStubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, kAgentStubStartedValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(path.data()), (length + 1) * sizeof(wchar_t));
        RegCloseKey(key);
    }

    // Created here too, so that a stub started before the test made the event still waits.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, kAgentStubStopEvent);
    HANDLE started = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kAgentStubStartedSemaphore);
    if (started != nullptr) {
        ReleaseSemaphore(started, 1, nullptr);
        CloseHandle(started);
    }
    // Bounded, so that a stub nobody stops does not outlive the test run for long.
    WaitForSingleObject(stop, kAgentStubLifetimeMs);
    CloseHandle(stop);
    if (ownFile != INVALID_HANDLE_VALUE) {
        CloseHandle(ownFile);
    }
    return 0;
}
