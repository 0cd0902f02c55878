// The registry watcher's loop in-process, on a key of its own: an outside write that lands
// right after the watcher read the flag must still wake it, and a deleted key ends the watch.
#include "agent/events/registry_watch.h"
#include "agent/state/agent_state.h"
#include "tests/events/agent_log.h"
#include "tools/notebookfiles/notebook_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

namespace e2e {

namespace {

const wchar_t kWatchedKey[] = L"Software\\LumivaneTests\\RegistryWatch";
constexpr DWORD kSeenTimeoutMs = 10000;
constexpr DWORD kEndTimeoutMs = 10000;

std::atomic<int> reads{0};
std::atomic<int> readsOfTheWrite{0};
HANDLE sawTheWrite = nullptr;
HKEY watchedKey = nullptr;
HANDLE keyChanged = nullptr;

DWORD ReadTestFlag() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kWatchedKey, L"RefreshFlag", RRF_RT_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return 0;
    }
    return value;
}

void WriteTestFlag(DWORD value) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kWatchedKey, L"RefreshFlag",
                                             REG_DWORD, &value, sizeof value));
}

// The watcher's read, with an outside writer changing the flag the moment the first read is
// done: before the watcher could wait, as a writer on another processor might.
uint32_t ReadThenLetAWriterIn() {
    const DWORD value = ReadTestFlag();
    if (reads++ == 0) {
        WriteTestFlag(1);
    }
    // A changed value is read twice, and the second reading is the one stored: after it the
    // watcher reads nothing more before it waits again.
    if (value == 1 && ++readsOfTheWrite == 2) {
        SetEvent(sawTheWrite);
    }
    return value;
}

DWORD WINAPI RunWatch(LPVOID) {
    WatchRefreshFlag(watchedKey, keyChanged, nullptr, ReadThenLetAWriterIn);
    return 0;
}

} // namespace

TEST(RegistryWatch, AWriteJustAfterTheReadIsSeenAndADeletedKeyEndsTheWatch) {
    notebookfiles::ResetDataFolder();
    ResetAgentState();
    refreshFlag = 0;
    reads = 0;
    readsOfTheWrite = 0;
    (void)RegDeleteTreeW(HKEY_CURRENT_USER, kWatchedKey); // left by an earlier run
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kWatchedKey, 0, nullptr, 0,
                                             KEY_NOTIFY, nullptr, &watchedKey, nullptr));
    WriteTestFlag(0);
    sawTheWrite = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    keyChanged = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE watcher = CreateThread(nullptr, 0, RunWatch, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, watcher);

    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sawTheWrite, kSeenTimeoutMs))
        << "a change between the read and the wait was missed";

    // With the key gone, the next round cannot arm the notification. Wine does not signal a
    // deletion, so the test wakes the watcher itself.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, kWatchedKey));
    SetEvent(keyChanged);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watcher, kEndTimeoutMs))
        << "the watcher waits on a deleted key";
    EXPECT_EQ(1u, refreshFlag);
    EXPECT_EQ(1u,
              CountInLog("] RegistryWatchThread: RegNotifyChangeKeyValue failed, error 1018\r\n"));

    CloseHandle(watcher);
    CloseHandle(keyChanged);
    CloseHandle(sawTheWrite);
    RegCloseKey(watchedKey);
}

} // namespace e2e
