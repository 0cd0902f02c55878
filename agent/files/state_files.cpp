#include "agent/files/state_files.h"

#include "agent/log/held_folder.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "common/data_folder.h"

#include <windows.h>

#include <cstdio>
#include <io.h>
#include <set>
#include <share.h>

namespace {

// How long a writer may take between truncating a state file and writing it.
constexpr DWORD kEmptyFileRetryMs = 50;

bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The token rule over any source of characters (next() gives EOF at the end): leading white
// space skipped however long it runs, the token ends at white space, NUL or the end. Keeps at
// most maxChars + 1 characters, so a huge file costs no memory; a longer token reads as empty.
template <typename NextChar> FileToken ScanToken(NextChar next, size_t maxChars) {
    FileToken result;
    result.opened = true;
    int c = next();
    while (c != EOF && IsSpace(c)) {
        c = next();
    }
    std::string token;
    while (c != EOF && c != '\0' && !IsSpace(c) && token.size() <= maxChars) {
        token.push_back(static_cast<char>(c));
        c = next();
    }
    if (token.empty()) {
        return result;
    }
    result.hasToken = true;
    if (token.size() <= maxChars) {
        result.token = token;
    }
    return result;
}

} // namespace

std::wstring DataFilePath(const wchar_t* fileName) {
    return std::wstring(kDataFolder) + L"\\" + fileName;
}

FileToken ParseToken(const std::string& content, size_t maxChars) {
    size_t at = 0;
    return ScanToken(
        [&]() { return at < content.size() ? static_cast<unsigned char>(content[at++]) : EOF; },
        maxChars);
}

FILE* OpenStateFile(const std::wstring& path, const wchar_t* mode) {
    // Binary mode: the files hold bare characters and no line end is ever written.
    std::wstring binaryMode = std::wstring(mode) + L"b";
    return _wfsopen(path.c_str(), binaryMode.c_str(), _SH_DENYNO);
}

FileToken ReadStreamToken(FILE* file, size_t maxChars) {
    return ScanToken([file]() { return fgetc(file); }, maxChars);
}

FileToken ReadFileToken(const std::wstring& path, size_t maxChars) {
    FILE* file = OpenStateFile(path, L"r");
    if (file == nullptr) {
        return FileToken{};
    }
    FileToken read = ReadStreamToken(file, maxChars);
    fclose(file);
    return read;
}

namespace {

// Refusals already in the log, by file and kind, so that a link left in place does not fill
// the log with one line per event; a sound write of the file forgets them.
SRWLOCK refusalLock = SRWLOCK_INIT;
std::set<std::wstring> reportedRefusals;

// The file name of a path in the data folder; empty for any other path.
std::wstring DataFileName(const std::wstring& path) {
    const std::wstring prefix = std::wstring(kDataFolder) + L"\\";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.find(L'\\', prefix.size()) != std::wstring::npos) {
        return std::wstring();
    }
    return path.substr(prefix.size());
}

void RememberOutcome(const std::wstring& path, DataPlace place, const FolderCheck& folder) {
    if (place == DataPlace::Unavailable) {
        return; // an ordinary failure: each site says what it does
    }
    const bool link = place == DataPlace::Link;
    // Held while the line is written, so that two threads refused at once tell it once. The
    // log never takes this lock, so the order is always this one, then the log's.
    AcquireSRWLockExclusive(&refusalLock);
    if (place == DataPlace::Sound) {
        reportedRefusals.erase(path + L"|link");
        reportedRefusals.erase(path + L"|redirected");
    } else {
        const std::wstring key = path + (link ? L"|link" : L"|redirected");
        const std::wstring message =
            L"State files: " + path +
            (link ? std::wstring(L" is a link")
                  : L" is in a folder redirected to " + std::wstring(folder.finalPath.text)) +
            L", not written";
        // Counted as told only once it is in the log; a log that is itself a link tells nothing.
        if (reportedRefusals.count(key) == 0 && AppendLogLine(message)) {
            reportedRefusals.insert(key);
        }
    }
    ReleaseSRWLockExclusive(&refusalLock);
}

} // namespace

UniqueFileHandle OpenStateFileForWrite(const std::wstring& path) {
    UniqueFileHandle file;
    const std::wstring name = DataFileName(path);
    if (name.empty()) {
        return file;
    }
    UniqueFileHandle checked;
    const FolderCheck folder = DataFolderForWriting(&checked);
    const DataPlace place = OpenDataFileIn(folder, name.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, true, file.Put());
    RememberOutcome(path, place, folder);
    return file;
}

bool WriteOverStateFile(HANDLE file, const std::string& value) {
    return WriteOver(file, value.data(), static_cast<DWORD>(value.size()));
}

bool WriteStateValue(const std::wstring& path, const std::wstring& value) {
    UniqueFileHandle file = OpenStateFileForWrite(path);
    if (!file.Valid()) {
        return false;
    }
    std::string first;
    if (!value.empty()) {
        first = ToNarrow(value.substr(0, 1)).substr(0, 1);
    }
    return WriteOverStateFile(file.Get(), first);
}

bool StateFileExists(const std::wstring& path) {
    return _waccess(path.c_str(), 0) != -1;
}

void PrepareDataFolder() {
    // Never created through a redirected parent; a redirected folder then refuses every write.
    (void)CreateDataFolder();
    std::wstring odResult = DataFilePath(kODResultFileName);
    if (GetFileAttributesW(odResult.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WriteLog(odResult + L" is not exist, create it and set default value 1.");
        (void)WriteStateValue(odResult, L"1");
    } else {
        WriteLog(odResult + L" is already exist, ready to initial the OD status.");
    }
}

std::wstring ReadODChoice() {
    std::wstring path = DataFilePath(kODResultFileName);
    FileToken read = ReadFileToken(path, 3);
    if (read.opened && !read.hasToken) {
        // The plug-in may be between truncating the file and writing it: look once more.
        machine::Delay(kEmptyFileRetryMs);
        read = ReadFileToken(path, 3);
    }
    return read.hasToken ? ToWide(read.token) : std::wstring(L"error");
}

std::wstring OD_OnOff() {
    return LogODChoice(ReadODChoice());
}

std::wstring LogODChoice(const std::wstring& value) {
    WriteLog(L"OD_OnOff " + value);
    return value;
}
