#include "tests/setup/setup_harness.h"

#include "tests/setup/agent_stub_protocol.h"

#include <tlhelp32.h>

#include <cstdio>

namespace setuptest {

namespace {

// Generous bounds: Wine starts processes slowly on a loaded machine.
constexpr DWORD kChildTimeoutMs = 60000;
constexpr DWORD kStartTimeoutMs = 20000;
// More stubs than any test starts at once.
constexpr LONG kMaxStubStarts = 64;
constexpr int kStartAttempts = 3;
constexpr DWORD kStartRetryMs = 200;
constexpr DWORD kEndTimeoutMs = 20000;

// Quotes one argument so that the runtime's parser gives it back unchanged: backslashes are
// literal except before a quote, so those before a quote (and before the closing quote)
// are doubled.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

std::string WithoutCarriageReturns(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        result.push_back(text[i]);
    }
    return result;
}

} // namespace

ChildResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                       const std::wstring& currentFolder) {
    ChildResult result;
    // Standard output goes to a file rather than a pipe: Wine gives a child started without
    // handle inheritance (the agent that "/Commit" starts) copies of its parent's standard
    // handles, and a pipe would then stay open until that agent ends.
    wchar_t tempFolder[MAX_PATH];
    wchar_t outputPath[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    GetTempFileNameW(tempFolder, L"out", 0, outputPath);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE output =
        CreateFileW(outputPath, GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return result;
    }

    std::wstring commandText = QuoteArgument(program);
    for (const std::wstring& argument : arguments) {
        commandText += L" " + QuoteArgument(argument);
    }
    std::vector<wchar_t> commandLine(commandText.begin(), commandText.end());
    commandLine.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    // A few attempts: under load Wine has been seen to refuse a start that works a moment later.
    for (int attempt = 0; attempt < kStartAttempts && !result.started; ++attempt) {
        if (attempt > 0) {
            fprintf(stderr, "process start refused (error %lu), trying again\n", GetLastError());
            Sleep(kStartRetryMs);
        }
        result.started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr,
                                        currentFolder.empty() ? nullptr : currentFolder.c_str(),
                                        &startup, &process) != FALSE;
    }
    if (!result.started) {
        CloseHandle(output);
        return result;
    }
    if (WaitForSingleObject(process.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::string text;
    SetFilePointer(output, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(output, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    CloseHandle(output);
    result.output = WithoutCarriageReturns(text);
    return result;
}

ChildResult RunStagehand(const std::vector<std::wstring>& arguments,
                         const std::wstring& currentFolder) {
    return RunProgram(StagehandPath(), arguments, currentFolder);
}

std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring StagehandPath() {
    return TestProgramFolder() + L"Stagehand.exe";
}

std::wstring AgentStubPath() {
    return TestProgramFolder() + L"lumivane_stub.exe";
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        result.push_back(static_cast<char>(c));
    }
    return result;
}

TempFolder::TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[64];
        swprintf(name, 64, L"setup-test-%lu-%u\\", GetCurrentProcessId(), ++counter);
        path_ = std::wstring(base) + name;
        if (CreateDirectoryW(path_.c_str(), nullptr)) {
            break;
        }
    }
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& folder) {
    std::wstring prefix = folder;
    if (!prefix.empty() && prefix.back() != L'\\') {
        prefix.push_back(L'\\');
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((prefix + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(prefix + name);
            } else {
                SetFileAttributesW((prefix + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW((prefix + name).c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(prefix.c_str());
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

AgentStubs::AgentStubs()
    : started_(CreateSemaphoreW(nullptr, 0, kMaxStubStarts, kAgentStubStartedSemaphore)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, kAgentStubStopEvent)) {
    // Left over from an earlier test: neither signal may leak into this one.
    while (WaitForSingleObject(started_, 0) == WAIT_OBJECT_0) {
    }
    ResetEvent(stop_);
    ForgetLastStarted();
}

AgentStubs::~AgentStubs() {
    SetEvent(stop_);
    for (DWORD id : ProcessesNamed(kAgentName)) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            WaitForSingleObject(process, kEndTimeoutMs);
            CloseHandle(process);
        }
    }
    CloseHandle(stop_);
    CloseHandle(started_);
}

HANDLE AgentStubs::Start(const std::wstring& program, const std::wstring& arguments,
                         SECURITY_ATTRIBUTES* processSecurity) {
    std::wstring commandText = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandText += L" " + arguments;
    }
    std::vector<wchar_t> commandLine(commandText.begin(), commandText.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // A few attempts: under load Wine has been seen to refuse a start that works a moment later.
    bool started = false;
    for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt) {
        if (attempt > 0) {
            Sleep(kStartRetryMs);
        }
        started =
            CreateProcessW(program.c_str(), commandLine.data(), processSecurity, nullptr, FALSE,
                           CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process) != 0;
    }
    if (!started) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

bool AgentStubs::WaitStarted() {
    return WaitForSingleObject(started_, kStartTimeoutMs) == WAIT_OBJECT_0;
}

std::wstring AgentStubs::LastStarted() const {
    wchar_t path[1024];
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_CURRENT_USER, kAgentStubKey, kAgentStubStartedValue, RRF_RT_REG_SZ,
                     nullptr, path, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return path;
}

void AgentStubs::ForgetLastStarted() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kAgentStubKey, kAgentStubStartedValue);
}

std::vector<DWORD> ProcessesNamed(const wchar_t* name) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL found = Process32FirstW(snapshot, &entry); found;
         found = Process32NextW(snapshot, &entry)) {
        if (wcscmp(entry.szExeFile, name) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

} // namespace setuptest
