#include "agent/files/state_files.h"

#include "agent/log/log.h"
#include "agent/log/text.h"

#include <windows.h>

#include <cstdio>
#include <io.h>
#include <share.h>

const wchar_t kDataFolder[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane";
const wchar_t kODResultFileName[] = L"OD_Result.txt";
const wchar_t kIconFileName[] = L"Icon.txt";
const wchar_t kHWIDResultFileName[] = L"HWID_Result.txt";
const wchar_t kLastACDCFileName[] = L"lasttimeACDC.txt";
const wchar_t kLastDCRefreshFileName[] = L"lasttimeDCRefresh.txt";
const wchar_t kLogFileName[] = L"OD_Log.txt";

namespace {

// State files hold a character or a short number; anything past this is not a valid value.
constexpr size_t kMaxReadBytes = 4096;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::wstring DataFilePath(const wchar_t* fileName) {
    return std::wstring(kDataFolder) + L"\\" + fileName;
}

FileToken ParseToken(const std::string& content, size_t maxChars) {
    FileToken result;
    result.opened = true;
    size_t start = 0;
    while (start < content.size() && IsSpace(content[start])) {
        ++start;
    }
    size_t end = start;
    while (end < content.size() && !IsSpace(content[end]) && content[end] != '\0') {
        ++end;
    }
    if (end == start) {
        return result;
    }
    result.hasToken = true;
    if (end - start <= maxChars) {
        result.token = content.substr(start, end - start);
    }
    return result;
}

FILE* OpenStateFile(const std::wstring& path, const wchar_t* mode) {
    // Binary mode: the files hold bare characters and no line end is ever written.
    std::wstring binaryMode = std::wstring(mode) + L"b";
    return _wfsopen(path.c_str(), binaryMode.c_str(), _SH_DENYNO);
}

FileToken ReadStreamToken(FILE* file, size_t maxChars) {
    std::string content(kMaxReadBytes, '\0');
    size_t count = fread(&content[0], 1, content.size(), file);
    content.resize(count);
    return ParseToken(content, maxChars);
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

std::wstring OD_OnOff() {
    std::wstring value = L"error";
    FileToken read = ReadFileToken(DataFilePath(kODResultFileName), 3);
    if (read.hasToken) {
        value = ToWide(read.token);
    }
    WriteLog(L"OD_OnOff " + value);
    return value;
}
