#include "agent/log/log.h"

#include "agent/log/held_folder.h"
#include "agent/log/text.h"
#include "common/data_folder.h"
#include "common/fixed_paths.h"
#include "common/owners.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>

std::string FormatLogTime(const std::tm& localTime) {
    static const char* const dayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day =
        (localTime.tm_wday >= 0 && localTime.tm_wday < 7) ? dayNames[localTime.tm_wday] : "???";
    const char* month =
        (localTime.tm_mon >= 0 && localTime.tm_mon < 12) ? monthNames[localTime.tm_mon] : "???";
    char text[64];
    snprintf(text, sizeof text, "%.3s %.3s %02d %02d:%02d:%02d %04d", day, month, localTime.tm_mday,
             localTime.tm_hour, localTime.tm_min, localTime.tm_sec, localTime.tm_year + 1900);
    return text;
}

std::string FormatLogLine(const std::tm& localTime, const std::wstring& message) {
    return "[ " + FormatLogTime(localTime) + " ] " + ToNarrow(message) + "\r\n";
}

namespace {

inline constexpr wchar_t kOldLogFileName[] = L"OD_Log.1.txt";
// Where the full log goes while OD_Log.1.txt cannot be replaced: a log viewer or a support tool
// holds it open (the platform refuses to replace an open file), or a user put a folder there.
inline constexpr wchar_t kSpareOldLogFileName[] = L"OD_Log.2.txt";
// Past this, lines are dropped while the full log cannot be renamed at all: the bound holds
// regardless.
constexpr unsigned long long kLogHardLimitBytes = 2 * kLogLimitBytes;
constexpr DWORD kLogShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Both agent threads log; the size check, the renaming and the append of one line happen as
// one step, so no line is lost or lands twice.
SRWLOCK logLock = SRWLOCK_INIT;

// The log, opened relative to the folder it was checked in; *folder keeps that folder's handle
// when the check was a fresh one, and *folderHandle names it.
DataPlace OpenLog(UniqueFileHandle* log, UniqueFileHandle* folder, HANDLE* folderHandle) {
    const FolderCheck check = DataFolderForWriting(folder);
    *folderHandle = check.folder;
    return OpenDataFileIn(check, kLogFileName, FILE_APPEND_DATA | SYNCHRONIZE, kLogShare, true,
                          log->Put());
}

enum class Rotation { None, Old, Spare };

// Renames the checked, open log to OD_Log.1.txt, or else to OD_Log.2.txt, in the folder it was
// opened in: the handle, not the name, so the file renamed is the one checked.
Rotation RenameFullLog(HANDLE log, HANDLE folder) {
    UniqueFileHandle renamer(ReOpenFile(log, DELETE | SYNCHRONIZE, kLogShare, 0));
    if (!renamer.Valid()) {
        return Rotation::None;
    }
    if (RenameInFolder(renamer.Get(), folder, kOldLogFileName, true) == ERROR_SUCCESS) {
        return Rotation::Old;
    }
    if (RenameInFolder(renamer.Get(), folder, kSpareOldLogFileName, true) == ERROR_SUCCESS) {
        return Rotation::Spare;
    }
    return Rotation::None;
}

bool AppendBytes(HANDLE log, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) !=
               FALSE &&
           written == bytes.size();
}

struct LogLockHeld {
    LogLockHeld() { AcquireSRWLockExclusive(&logLock); }
    ~LogLockHeld() { ReleaseSRWLockExclusive(&logLock); }
    LogLockHeld(const LogLockHeld&) = delete;
    LogLockHeld& operator=(const LogLockHeld&) = delete;
};

} // namespace

bool AppendLogLine(const std::wstring& message) {
    __time64_t now = _time64(nullptr);
    std::tm localTime = {};
    if (_localtime64_s(&localTime, &now) != 0) {
        return false;
    }
    std::string line = FormatLogLine(localTime, message);

    LogLockHeld held;
    // Appending through the system keeps each line whole even when another process logs at
    // once; full sharing lets readers and deleters at the file while we hold it.
    UniqueFileHandle log;
    UniqueFileHandle folder;
    HANDLE folderHandle = INVALID_HANDLE_VALUE;
    if (OpenLog(&log, &folder, &folderHandle) != DataPlace::Sound) {
        return false;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(log.Get(), &size)) {
        return false;
    }
    const unsigned long long after = static_cast<unsigned long long>(size.QuadPart) + line.size();
    if (size.QuadPart > 0 && after > kLogLimitBytes) {
        const Rotation rotation = RenameFullLog(log.Get(), folderHandle);
        if (rotation != Rotation::None) {
            if (OpenLog(&log, &folder, &folderHandle) != DataPlace::Sound) {
                return false;
            }
            if (rotation == Rotation::Spare) {
                // Whoever looks for the older lines learns where they are.
                (void)AppendBytes(
                    log.Get(), FormatLogLine(localTime, std::wstring(L"Log: ") + kOldLogFileName +
                                                            L" is in use, the full log is " +
                                                            kSpareOldLogFileName));
            }
        } else if (after > kLogHardLimitBytes) {
            return false;
        }
    }
    return AppendBytes(log.Get(), line);
}

void WriteLog(std::wstring message) {
    (void)AppendLogLine(message);
}

void LogUnexpectedException(const wchar_t* head, const wchar_t* tail) noexcept {
    try {
        std::wstring what;
        try {
            throw;
        } catch (const std::exception& e) {
            what = ToWide(e.what());
        } catch (...) {
            what = L"unknown exception";
        }
        WriteLog(head + what + tail);
    } catch (...) {
        // Out of memory, most likely: the line is lost, the caller still ends in order.
    }
}
