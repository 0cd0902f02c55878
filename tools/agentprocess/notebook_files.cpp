#include "tools/agentprocess/notebook_files.h"

#include "common/fixed_paths.h"

#include <cstdio>

namespace agentprocess {

const wchar_t kProductKey[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                              L"Uninstall\\{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}";

std::wstring DataPath(const wchar_t* name) {
    return std::wstring(kDataFolder) + L"\\" + name;
}

std::string ReadWholeFile(const std::wstring& path, size_t from) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return std::string();
    }
    std::string bytes;
    if (fseek(file, static_cast<long>(from), SEEK_SET) == 0) {
        char buffer[4096];
        size_t count;
        while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, count);
        }
    }
    fclose(file);
    return bytes;
}

std::string ReadDataFile(const wchar_t* name, size_t from) {
    return ReadWholeFile(DataPath(name), from);
}

void WriteDataFile(const wchar_t* name, const std::string& bytes) {
    FILE* file = _wfopen(DataPath(name).c_str(), L"wb");
    if (file != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
}

void ResetDataFolder() {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((std::wstring(kDataFolder) + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                (void)DeleteFileW(DataPath(name.c_str()).c_str()); // the callers check what counts
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    const std::wstring folder = kDataFolder;
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1)) {
        (void)CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    }
    (void)CreateDirectoryW(kDataFolder, nullptr);
}

bool SetProductValue(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

} // namespace agentprocess
