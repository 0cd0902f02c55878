#include "agent/files/state_files.h"

#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"

#include <windows.h>

#include <cstdio>
#include <io.h>
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

bool WriteStateValue(const std::wstring& path, const std::wstring& value) {
    FILE* file = OpenStateFile(path, L"w");
    if (file == nullptr) {
        return false;
    }
    bool written = true;
    if (!value.empty()) {
        char first = ToNarrow(value.substr(0, 1))[0];
        written = fputc(first, file) != EOF;
    }
    if (fclose(file) != 0) {
        written = false;
    }
    return written;
}

bool StateFileExists(const std::wstring& path) {
    return _waccess(path.c_str(), 0) != -1;
}

void PrepareDataFolder() {
    if (GetFileAttributesW(kDataFolder) == INVALID_FILE_ATTRIBUTES) {
        (void)CreateDirectoryW(kDataFolder, nullptr);
    }
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
