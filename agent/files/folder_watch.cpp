#include "agent/files/folder_watch.h"

#include "agent/decision/decision_cycle.h"
#include "agent/files/state_files.h"
#include "agent/panel/panel_identity.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "common/data_folder.h"
#include "common/owners.h"
#include "common/thread_stack.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"
#include "agent/state/time_marks.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kNotifyBufferSize = 1024;
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr DWORD kFolderAccess = GENERIC_READ | GENERIC_WRITE | FILE_LIST_DIRECTORY;
// How long start-up waits for the watcher to be armed before its first decision.
constexpr DWORD kArmWaitMs = 1000;
// Between two tries to open a data folder that could not be opened.
constexpr DWORD kReopenIntervalMs = 2000;
// Offsets inside a FILE_NOTIFY_INFORMATION record.
constexpr DWORD kNextOffsetField = 0;
constexpr DWORD kActionField = 4;
constexpr DWORD kNameLengthField = 8;
constexpr DWORD kNameField = 12;

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    memcpy(&value, at, sizeof value);
    return value;
}

bool PanelTakesDecisions() {
    return CurrentPanelVerdict() == PanelVerdict::OverdrivePanel;
}

} // namespace

std::vector<ChangeRecord> ParseChangeRecords(const BYTE* buffer, DWORD byteCount) {
    std::vector<ChangeRecord> records;
    DWORD offset = 0;
    while (buffer != nullptr && byteCount >= kNameField && offset <= byteCount - kNameField) {
        const BYTE* record = buffer + offset;
        DWORD next = ReadDword(record + kNextOffsetField);
        DWORD nameBytes = ReadDword(record + kNameLengthField);
        if (nameBytes > byteCount - offset - kNameField) {
            break;
        }
        ChangeRecord change;
        change.action = ReadDword(record + kActionField);
        change.fileName.resize(nameBytes / sizeof(wchar_t));
        if (!change.fileName.empty()) {
            memcpy(&change.fileName[0], record + kNameField,
                   change.fileName.size() * sizeof(wchar_t));
        }
        records.push_back(std::move(change));
        if (next == 0 || next > byteCount - offset) {
            break;
        }
        offset += next;
    }
    return records;
}

void fsWatcher_OD_Result_Changed() {
    if (!ActsForConsole(L"fsWatcher_OD_Result_Changed")) {
        return;
    }
    AgentLock lock;
    WriteLog(L"fsWatcher_OD_Result_Changed ++");
    std::wstring checked; // what the duplicate check read, when it ran
    if (skipNextODResultChange) {
        skipNextODResultChange = false;
        // The expected duplicate of a rewrite already handled: only counted. A notice that
        // finds another value than the last cycle read is a real change and is handled.
        checked = ReadODChoice();
        if (checked == lastCycleChoice) {
            return;
        }
    }
    WriteLog(DataFilePath(kODResultFileName) + L" is changed");
    // The check has just read the file: a second read would only cost time (a value written
    // meanwhile brings its own notice, which is handled).
    std::wstring value = checked.empty() ? OD_OnOff() : LogODChoice(checked);
    MarkTime(TimeMark::ChoiceRead);
    // Compared with what the last cycle read, not with appliedODStatus: the applied state is
    // the agent's decision ("0" on battery with the choice "1"), so comparing with it would
    // take a real change of choice for a duplicate.
    if (value != lastCycleChoice) {
        if (PanelTakesDecisions()) {
            (void)Detect_Notify_Fn(value);
        }
        skipNextODResultChange = true;
        return;
    }
    WriteLog(L"fsWatcher_OD_Result_Changed: Same OD_Result = " + appliedODStatus +
             L" no need change.");
}

void fsWatcher_HWID_Result_Deleted() {
    if (!ActsForConsole(L"fsWatcher_HWID_Result_Deleted")) {
        return;
    }
    AgentLock lock;
    std::wstring path = DataFilePath(kHWIDResultFileName);
    WriteLog(path + L" is deleted.");
    if (TextEquals(isODPanel, L"YES")) {
        WriteLog(L"OD Panel ,detectEDID = " + detectEDID);
    } else if (TextEquals(isODPanel, L"NO")) {
        WriteLog(L"Not OD Panel ,detectEDID = " + detectEDID);
    } else {
        WriteLog(L"fsWatcher_HWID_Result_Deleted = Else");
    }
    // The same verdict start-up wrote: a panel that was never identified is no overdrive
    // panel, whatever the BIOS said about overdrive support.
    (void)WriteStateValue(path, PanelTakesDecisions() ? L"1" : L"0");
}

void fsWatcher_Icon_Deleted() {
    if (!ActsForConsole(L"fsWatcher_Icon_Deleted")) {
        return;
    }
    AgentLock lock;
    std::wstring path = DataFilePath(kIconFileName);
    WriteLog(path + L" is Deleted");
    if (StateFileExists(path)) {
        return;
    }
    WriteLog(path + L" not exist, Create it");
    (void)WriteStateValue(path, currentODIcon);
}

void fsWatcher_OD_Result_Deleted() {
    if (!ActsForConsole(L"fsWatcher_OD_Result_Deleted")) {
        return;
    }
    AgentLock lock;
    std::wstring path = DataFilePath(kODResultFileName);
    WriteLog(path + L" is Deleted");
    if (StateFileExists(path)) {
        return;
    }
    WriteLog(path + L" not exist, Create it");
    // The user's choice comes back, not the state the agent applied for the moment.
    (void)WriteStateValue(path, lastValidChoice.empty() ? appliedODStatus : lastValidChoice);
}

void HandleChangeRecords(const std::vector<ChangeRecord>& records) {
    for (const ChangeRecord& change : records) {
        std::wstring name = ToUpperAscii(change.fileName);
        if (change.action == FILE_ACTION_REMOVED) {
            if (name == L"HWID_RESULT.TXT" && watchHWIDResultDeleted) {
                fsWatcher_HWID_Result_Deleted();
            } else if (name == L"ICON.TXT" && watchIconDeleted) {
                fsWatcher_Icon_Deleted();
            } else if (name == L"OD_RESULT.TXT" && watchODResultDeleted) {
                fsWatcher_OD_Result_Deleted();
            }
        } else if (change.action == FILE_ACTION_MODIFIED) {
            if (name == L"OD_RESULT.TXT" && watchODResultChanged) {
                fsWatcher_OD_Result_Changed();
            }
        }
    }
}

void RepairDeletedStateFiles() {
    if (watchHWIDResultDeleted && !StateFileExists(DataFilePath(kHWIDResultFileName))) {
        fsWatcher_HWID_Result_Deleted();
    }
    if (watchIconDeleted && !StateFileExists(DataFilePath(kIconFileName))) {
        fsWatcher_Icon_Deleted();
    }
    if (watchODResultDeleted && !StateFileExists(DataFilePath(kODResultFileName))) {
        fsWatcher_OD_Result_Deleted();
    }
}

void HandleLostChanges() {
    RepairDeletedStateFiles();
    if (watchODResultChanged) {
        fsWatcher_OD_Result_Changed();
    }
}

namespace {

// Set by the watcher once its first read is pending (or once it has given up), so start-up
// can make its first decision knowing that any later write of the choice is seen.
HANDLE WatcherArmedEvent() {
    static HANDLE armed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return armed;
}

} // namespace

namespace {

// Overlapped, so the thread can tell start-up the moment changes are being recorded. No delete
// sharing: the folder cannot be moved or replaced while it is watched.
HANDLE OpenDataFolderToWatch() {
    return CreateFileW(kDataFolder, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
}

// Whether the opened folder is the data folder itself rather than where a user's link leads
// (common/data_folder.h): changes over there are no concern of the agent's.
bool IsRealDataFolder(HANDLE folder) {
    const DWORD attributes = GetFileAttributesW(kDataFolder);
    PathText actual;
    PathText expected;
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && ReadFinalPath(folder, &actual) &&
           ExpectedFinalPath(kDataFolderBelowPublic, &expected) &&
           SamePathText(actual.text, expected.text);
}

// Waits, without a timer, until a real data folder is back in the link's place: every change
// of a name in the parent folder wakes it for another look. The read is pending before each
// look, so no change between a look and the wait is missed. The opened folder, or
// INVALID_HANDLE_VALUE when the parent cannot be watched.
HANDLE WaitForRealDataFolder() {
    UniqueFileHandle parent(
        CreateFileW(kDataFolderParent, FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    UniqueHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!parent.Valid() || !changed.Valid()) {
        return INVALID_HANDLE_VALUE;
    }
    alignas(DWORD) BYTE buffer[kNotifyBufferSize] = {};
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = changed.Get();
        if (!ReadDirectoryChangesW(parent.Get(), buffer, sizeof buffer, FALSE,
                                   FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_FILE_NAME,
                                   nullptr, &overlapped, nullptr)) {
            return INVALID_HANDLE_VALUE;
        }
        DWORD bytes = 0;
        HANDLE folder = OpenDataFolderToWatch();
        if (folder != INVALID_HANDLE_VALUE && IsRealDataFolder(folder)) {
            (void)CancelIoEx(parent.Get(), &overlapped);
            (void)GetOverlappedResult(parent.Get(), &overlapped, &bytes, TRUE);
            return folder;
        }
        if (folder != INVALID_HANDLE_VALUE) {
            CloseHandle(folder);
        }
        if (!GetOverlappedResult(parent.Get(), &overlapped, &bytes, TRUE) &&
            GetLastError() != ERROR_NOTIFY_ENUM_DIR) {
            return INVALID_HANDLE_VALUE;
        }
    }
}

// The data folder opened for watching, once it can be. A link in its place is waited out; a
// folder that cannot be opened (a user holding it without sharing, say) is tried again every
// kReopenIntervalMs, told once in the log per outage: otherwise the user's choice would not be
// followed for the rest of the session. *lookAgain is set when changes may have been missed.
HANDLE OpenFolderToWatchOnceItCan(bool* lookAgain) {
    bool told = false;
    for (;;) {
        HANDLE folder = OpenDataFolderToWatch();
        if (folder != INVALID_HANDLE_VALUE && IsRealDataFolder(folder)) {
            return folder;
        }
        if (folder != INVALID_HANDLE_VALUE) {
            CloseHandle(folder);
            // Start-up need not wait for a folder that is not there.
            SetEvent(WatcherArmedEvent());
            *lookAgain = true;
            folder = WaitForRealDataFolder();
            if (folder != INVALID_HANDLE_VALUE) {
                return folder;
            }
        } else if (!told) {
            const DWORD error = GetLastError();
            printf("CreateFile error:%lu\n", error);
            fflush(stdout);
            // The agent has no console: without this line nobody learns that the user's choice
            // is not followed for now.
            WriteLog(L"WatchDataFolder: CreateFile error:" + std::to_wstring(error));
            told = true;
        }
        SetEvent(WatcherArmedEvent());
        *lookAgain = true;
        Sleep(kReopenIntervalMs);
    }
}

} // namespace

DWORD WINAPI WatchDataFolder(LPVOID) {
    // The thread waits for the whole run; only a decision cycle reaches deeper, for a moment.
    ReleaseStackBelowFrame();
    // DWORD-aligned, as the platform asks of the buffer.
    alignas(DWORD) BYTE buffer[kNotifyBufferSize] = {};

    // A folder found again after a link or an outage gets a fresh look at everything once
    // watched.
    bool lookAgain = false;
    HANDLE folder = OpenFolderToWatchOnceItCan(&lookAgain);
    UniqueHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = readDone.Get();
        BOOL issued = ReadDirectoryChangesW(folder, buffer, sizeof buffer, FALSE, kWatchFilter,
                                            nullptr, &overlapped, nullptr);
        DWORD error = issued ? ERROR_SUCCESS : GetLastError();
        SetEvent(WatcherArmedEvent());
        if (issued && lookAgain) {
            lookAgain = false;
            HandleLostChanges();
        }
        DWORD bytes = 0;
        if (issued) {
            SetLastError(ERROR_SUCCESS);
            issued = GetOverlappedResult(folder, &overlapped, &bytes, TRUE);
            error = GetLastError();
        }
        if (!issued) {
            if (error != ERROR_NOTIFY_ENUM_DIR) {
                break;
            }
            HandleLostChanges();
            continue;
        }
        if (error == ERROR_INVALID_HANDLE) {
            break;
        }
        MarkTime(TimeMark::FolderNotice);
        if (bytes == 0) {
            HandleLostChanges();
            continue;
        }
        HandleChangeRecords(ParseChangeRecords(buffer, bytes));
    }
    CloseHandle(folder);
    return 0;
}

HANDLE StartFolderWatcher(LPVOID parameter) {
    HANDLE armed = WatcherArmedEvent();
    ResetEvent(armed);
    HANDLE thread = CreateThread(nullptr, 0, WatchDataFolder, parameter, 0, nullptr);
    if (thread != nullptr) {
        // Bounded, so a watcher that cannot arm does not hold start-up back. A plain wait on
        // purpose: a notification sent to the window meanwhile waits for it, so no decision
        // reads the choice before the watcher records changes.
        HANDLE waitFor[] = {armed, thread};
        (void)WaitForMultipleObjects(2, waitFor, FALSE, kArmWaitMs);
    }
    return thread;
}
