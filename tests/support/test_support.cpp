#include "tests/support/test_support.h"

#include <windows.h>

#include <cstdio>

namespace testsupport {

namespace {
const wchar_t kFolder[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane";
}

std::wstring DataPath(const wchar_t* name) {
    return std::wstring(kFolder) + L"\\" + name;
}

void RemoveDataFolder() {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((std::wstring(kFolder) + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                DeleteFileW(DataPath(name.c_str()).c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(kFolder);
}

void ResetDataFolder() {
    RemoveDataFolder();
    CreateDirectoryW(L"C:\\Users\\Public\\Roaming", nullptr);
    CreateDirectoryW(L"C:\\Users\\Public\\Roaming\\ZAVIK", nullptr);
    CreateDirectoryW(kFolder, nullptr);
}

std::string ReadFileBytes(const std::wstring& path, bool* exists) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (exists != nullptr) {
        *exists = file != nullptr;
    }
    if (file == nullptr) {
        return std::string();
    }
    std::string bytes;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, count);
    }
    fclose(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
}

} // namespace testsupport
