#include "agent/files/folder_watch.h"

#include "agent/log/log.h"
#include "agent/state/time_marks.h"
#include "common/data_folder.h"
#include "common/owners.h"
#include "common/thread_stack.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

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

// A read that is in flight when its frame is left (a stop, an exception out of the sink) is
// cancelled, and its end awaited: until then the platform writes into the caller's buffer and
// OVERLAPPED.
class ReadInFlight {
  public:
    ReadInFlight(HANDLE file, OVERLAPPED* overlapped) : file_(file), overlapped_(overlapped) {}
    ~ReadInFlight() {
        if (overlapped_ != nullptr) {
            (void)CancelIoEx(file_, overlapped_);
            DWORD bytes = 0;
            (void)GetOverlappedResult(file_, overlapped_, &bytes, TRUE);
        }
    }
    ReadInFlight(const ReadInFlight&) = delete;
    ReadInFlight& operator=(const ReadInFlight&) = delete;

    // Waits until the read has ended (true) or stop is set (false; the read is then cancelled
    // when this record goes).
    bool AwaitEndOrStop(HANDLE stop) {
        HANDLE waitFor[] = {overlapped_->hEvent, stop};
        if (WaitForMultipleObjects(stop != nullptr ? 2 : 1, waitFor, FALSE, INFINITE) !=
            WAIT_OBJECT_0) {
            return false;
        }
        overlapped_ = nullptr;
        return true;
    }

  private:
    HANDLE file_;
    OVERLAPPED* overlapped_;
};

// Sleeps for ms, or less when stop is set meanwhile; whether it was.
bool StoppedWithin(HANDLE stop, DWORD ms) {
    if (stop == nullptr) {
        Sleep(ms);
        return false;
    }
    return WaitForSingleObject(stop, ms) != WAIT_TIMEOUT;
}

// Waits, without a timer, until a real data folder is back in the link's place: every change
// of a name in the parent folder wakes it for another look. The read is pending before each
// look, so no change between a look and the wait is missed. The opened folder, or
// INVALID_HANDLE_VALUE when the parent cannot be watched or stop is set.
HANDLE WaitForRealDataFolder(HANDLE stop) {
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
        (void)ResetEvent(changed.Get());
        if (!ReadDirectoryChangesW(parent.Get(), buffer, sizeof buffer, FALSE,
                                   FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_FILE_NAME,
                                   nullptr, &overlapped, nullptr)) {
            return INVALID_HANDLE_VALUE;
        }
        ReadInFlight read(parent.Get(), &overlapped);
        HANDLE folder = OpenDataFolderToWatch();
        if (folder != INVALID_HANDLE_VALUE && IsRealDataFolder(folder)) {
            return folder; // the parent's read is cancelled on the way out
        }
        if (folder != INVALID_HANDLE_VALUE) {
            CloseHandle(folder);
        }
        if (!read.AwaitEndOrStop(stop)) {
            return INVALID_HANDLE_VALUE;
        }
        DWORD bytes = 0;
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
// INVALID_HANDLE_VALUE only once stop is set.
HANDLE OpenFolderToWatchOnceItCan(bool* lookAgain, HANDLE stop) {
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
            folder = WaitForRealDataFolder(stop);
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
        if (StoppedWithin(stop, kReopenIntervalMs)) {
            return INVALID_HANDLE_VALUE;
        }
    }
}

// What the thread was started with.
struct FolderWatch {
    FolderWatchSink sink;
    HANDLE stop = nullptr;
};

DWORD WatchUntilStopped(const FolderWatch& watch) {
    // The thread waits for the whole run; only a decision cycle reaches deeper, for a moment.
    ReleaseStackBelowFrame();
    // DWORD-aligned, as the platform asks of the buffer.
    alignas(DWORD) BYTE buffer[kNotifyBufferSize] = {};

    // A folder found again after a link or an outage gets a fresh look at everything once
    // watched.
    bool lookAgain = false;
    UniqueFileHandle folder(OpenFolderToWatchOnceItCan(&lookAgain, watch.stop));
    if (!folder.Valid()) {
        return 0; // stopped
    }
    UniqueHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = readDone.Get();
        (void)ResetEvent(readDone.Get());
        BOOL issued = ReadDirectoryChangesW(folder.Get(), buffer, sizeof buffer, FALSE,
                                            kWatchFilter, nullptr, &overlapped, nullptr);
        DWORD error = issued ? ERROR_SUCCESS : GetLastError();
        SetEvent(WatcherArmedEvent());
        DWORD bytes = 0;
        if (issued) {
            ReadInFlight read(folder.Get(), &overlapped);
            if (lookAgain) {
                lookAgain = false;
                watch.sink.lost();
            }
            if (!read.AwaitEndOrStop(watch.stop)) {
                break;
            }
            SetLastError(ERROR_SUCCESS);
            issued = GetOverlappedResult(folder.Get(), &overlapped, &bytes, TRUE);
            error = GetLastError();
        }
        if (!issued) {
            if (error != ERROR_NOTIFY_ENUM_DIR) {
                break;
            }
            watch.sink.lost();
            continue;
        }
        if (error == ERROR_INVALID_HANDLE) {
            break;
        }
        MarkTime(TimeMark::FolderNotice);
        if (bytes == 0) {
            watch.sink.lost();
            continue;
        }
        watch.sink.changes(ParseChangeRecords(buffer, bytes));
    }
    return 0;
}

} // namespace

DWORD WINAPI WatchDataFolder(LPVOID watch) {
    std::unique_ptr<FolderWatch> owned(static_cast<FolderWatch*>(watch));
    try {
        return WatchUntilStopped(*owned);
    } catch (...) {
        LogUnexpectedException(L"WatchDataFolder: unexpected exception: ", L", thread ends");
        return kThreadEndedByException;
    }
}

HANDLE StartFolderWatcher(const FolderWatchSink& sink, HANDLE stop) {
    if (sink.changes == nullptr || sink.lost == nullptr) {
        return nullptr;
    }
    HANDLE armed = WatcherArmedEvent();
    ResetEvent(armed);
    std::unique_ptr<FolderWatch> watch(new FolderWatch{sink, stop});
    HANDLE thread = CreateThread(nullptr, 0, WatchDataFolder, watch.get(), 0, nullptr);
    if (thread != nullptr) {
        (void)watch.release(); // the thread's now
        // Bounded, so a watcher that cannot arm does not hold start-up back. A plain wait on
        // purpose: a notification sent to the window meanwhile waits for it, so no decision
        // reads the choice before the watcher records changes.
        HANDLE waitFor[] = {armed, thread};
        (void)WaitForMultipleObjects(2, waitFor, FALSE, kArmWaitMs);
    }
    return thread;
}
