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
    if (IsLink(kFolder)) {
        RemoveSymbolicLink(kFolder);
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((std::wstring(kFolder) + L"\\*").c_str(), &entry);
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
