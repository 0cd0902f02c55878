#include "tests/events/agent_process.h"

#include "tests/support/test_support.h"

namespace e2e {

namespace {

constexpr DWORD kPollMs = 10;
constexpr DWORD kSendTimeoutMs = 60000;
constexpr WPARAM kCommandExit = 105;

} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

std::string ReadLog() {
    return testsupport::ReadFileBytes(testsupport::DataPath(L"OD_Log.txt"));
}

size_t CountInLog(const std::string& text) {
    std::string log = ReadLog();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

bool WaitForLog(const std::string& text, size_t count, DWORD timeoutMs) {
    return WaitUntil([&] { return CountInLog(text) >= count; }, timeoutMs);
}

HWND FindAgentWindow(DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"Lumivane", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) {
            return window;
        }
    }
    return nullptr;
}

AgentProcess::~AgentProcess() {
    Terminate();
}

bool AgentProcess::Start(const std::wstring& exePath, bool waitForLoop) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    if (!waitForLoop) {
        return true;
    }
    if (!WaitUntil([&] { return (window_ = FindAgentWindow(processId_)) != nullptr; })) {
        return false;
    }
    // The window answers sent messages already while start-up waits in its first decision, so
    // an answer alone proves little. Once the single-instance mutex exists, start-up does not
    // pump messages again before its message loop: the next answer comes from the loop.
    if (!WaitUntil([] {
            HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Lumivane");
            if (mutex == nullptr) {
                return false;
            }
            CloseHandle(mutex);
            return true;
        })) {
        return false;
    }
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

LRESULT AgentProcess::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::optional<DWORD> AgentProcess::WaitForExit(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

std::optional<DWORD> AgentProcess::Exit() {
    PostMessageW(window_, WM_COMMAND, kCommandExit, 0);
    return WaitForExit();
}

void AgentProcess::Terminate() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 10000);
        }
        CloseHandle(process_);
        process_ = nullptr;
    }
    window_ = nullptr;
}

} // namespace e2e
