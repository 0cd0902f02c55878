#include "tools/notebookfiles/notebook_files.h"

#include "common/fixed_paths.h"

#include <cstdio>
#include <cstring>

namespace notebookfiles {

std::wstring DataPath(const wchar_t* name) {
    return std::wstring(kDataFolder) + L"\\" + name;
}

namespace {

const wchar_t kOutsideFolder[] = L"C:\\LumivaneOutside";
constexpr DWORD kLinkWaitMs = 10000;

std::wstring FinalPath(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    wchar_t text[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, text, 1024, 0);
    CloseHandle(handle);
    return length > 0 && length < 1024 ? std::wstring(text, length) : std::wstring();
}

// Wine reports a Unix link to a folder as a reparse point, but not one to a file: that one is
// known by resolving elsewhere than its own name, or (pointing at nothing) by being listed
// while it cannot be opened.
bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return true;
        }
        const size_t slash = path.rfind(L'\\');
        const std::wstring resolved = FinalPath(path);
        const std::wstring own = FinalPath(path.substr(0, slash)) + path.substr(slash);
        return !resolved.empty() && _wcsicmp(resolved.c_str(), own.c_str()) != 0;
    }
    WIN32_FIND_DATAW entry;
    HANDLE listed = FindFirstFileW(path.c_str(), &entry);
    if (listed == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(listed);
    return true;
}

// Wine's own export, absent on Windows.
std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return std::string();
    }
    char* unixPath = toUnix(path.c_str());
    if (unixPath == nullptr) {
        return std::string();
    }
    std::string text = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return text;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Runs a Unix program under Wine and waits until `done` holds: Wine gives no handle to wait on
// for a Unix process.
template <typename Done>
bool RunUnixProgram(const wchar_t* program, const std::wstring& arguments, Done done) {
    std::wstring commandLine = std::wstring(program) + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (DWORD waited = 0; !done() && waited < kLinkWaitMs; waited += 10) {
        Sleep(10);
    }
    return done();
}

} // namespace

bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target) {
    const std::string unixLink = UnixPath(link);
    const std::string unixTarget = UnixPath(target);
    if (!unixLink.empty() && !unixTarget.empty()) {
        return RunUnixProgram(L"Z:\\bin\\ln",
                              L"-s \"" + Widen(unixTarget) + L"\" \"" + Widen(unixLink) + L"\"",
                              [&] { return IsLink(link); });
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    }
    return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && IsLink(link);
}

bool MakeHardLink(const std::wstring& link, const std::wstring& target) {
    return CreateHardLinkW(link.c_str(), target.c_str(), nullptr) != FALSE;
}

bool RemoveSymbolicLink(const std::wstring& link) {
    if (!IsLink(link)) {
        return true;
    }
    const std::string unixLink = UnixPath(link);
    if (!unixLink.empty()) {
        return RunUnixProgram(L"Z:\\bin\\rm", L"-f \"" + Widen(unixLink) + L"\"", [&] {
            return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
        });
    }
    return RemoveDirectoryW(link.c_str()) || DeleteFileW(link.c_str());
}

std::wstring ResetOutsideFolder() {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((std::wstring(kOutsideFolder) + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileW((std::wstring(kOutsideFolder) + L"\\" + entry.cFileName).c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    CreateDirectoryW(kOutsideFolder, nullptr);
    return kOutsideFolder;
}

void RemoveDataFolder() {
    // A link in the folder's place goes itself; what it names stays.
    if (IsLink(kDataFolder)) {
        RemoveSymbolicLink(kDataFolder);
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((std::wstring(kDataFolder) + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                const std::wstring path = DataPath(name.c_str());
                if (IsLink(path)) {
                    RemoveSymbolicLink(path);
                } else {
                    DeleteFileW(path.c_str());
                }
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(kDataFolder);
}

void ResetDataFolder() {
    RemoveDataFolder();
    const std::wstring folder = kDataFolder;
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1)) {
        (void)CreateDirectoryW(folder.substr(0, at).c_str(), nullptr); // most already exist
    }
    CreateDirectoryW(kDataFolder, nullptr);
}

std::string ReadFileBytes(const std::wstring& path, bool* exists, size_t from) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (exists != nullptr) {
        *exists = file != nullptr;
    }
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

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file != nullptr) {
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
}

std::string ReadDataFile(const wchar_t* name, size_t from) {
    return ReadFileBytes(DataPath(name), nullptr, from);
}

void WriteDataFile(const wchar_t* name, const std::string& bytes) {
    WriteFileBytes(DataPath(name), bytes);
}

void WritePanelConfig(const std::string& content) {
    const std::wstring folder = kPanelConfigFolder;
    (void)CreateDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str(), nullptr);
    (void)CreateDirectoryW(kPanelConfigFolder, nullptr); // both usually exist
    WriteFileBytes(kPanelConfigPath, content);
}

void DeletePanelConfig() {
    (void)DeleteFileW(kPanelConfigPath); // usually absent
}

bool KeyExists(const wchar_t* keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::optional<std::string> ReadValueText(const wchar_t* keyPath, const wchar_t* name) {
    BYTE data[512] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = REG_NONE;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, name, RRF_RT_REG_DWORD | RRF_RT_REG_SZ, &type,
                     data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type == REG_DWORD) {
        DWORD number = 0;
        memcpy(&number, data, sizeof number);
        return std::to_string(number);
    }
    std::string text;
    for (const wchar_t* c = reinterpret_cast<const wchar_t*>(data); *c != 0; ++c) {
        text += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    return text;
}

namespace {

// The product key, created when missing, as a test or tool that prepares the notebook needs it.
HKEY CreateProductKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

} // namespace

bool SetProductValue(const wchar_t* name, DWORD value) {
    HKEY key = CreateProductKey();
    if (key == nullptr) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool ReadProductValue(const wchar_t* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, kProductKeyPath, name, RRF_RT_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

bool DeleteProductValue(const wchar_t* name) {
    HKEY key = CreateProductKey();
    if (key == nullptr) {
        return false;
    }
    const LSTATUS status = RegDeleteValueW(key, name);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace notebookfiles
