#include "tools/agentprocess/agent_process.h"

namespace agentprocess {

namespace {

constexpr DWORD kSendTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr DWORD kWindowPollMs = 5;
constexpr WPARAM kCommandExit = 105;

bool MutexExists() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Lumivane");
    if (mutex == nullptr) {
        return false;
    }
    CloseHandle(mutex);
    return true;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(pollMs);
    }
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

DWORD WindowSessionId(HWND window) {
    DWORD processId = 0;
    DWORD session = 0xFFFFFFFF;
    if (GetWindowThreadProcessId(window, &processId) == 0 ||
        !ProcessIdToSessionId(processId, &session)) {
        return 0xFFFFFFFF;
    }
    return session;
}

AgentProcess::~AgentProcess() {
    Stop();
}

bool AgentProcess::Start(const std::wstring& exePath, bool waitForLoop,
                         const std::function<void(DWORD)>& beforeItRuns) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + exePath + L"\"";
    const DWORD flags = beforeItRuns ? CREATE_SUSPENDED : 0;
    if (!CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    if (beforeItRuns) {
        beforeItRuns(info.dwProcessId);
        ResumeThread(info.hThread);
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    return !waitForLoop || WaitForLoop();
}

bool AgentProcess::WaitForLoop(DWORD timeoutMs) {
    if (!WaitUntil([&] { return (window_ = FindAgentWindow(processId_)) != nullptr; }, timeoutMs,
                   kWindowPollMs) ||
        !WaitUntil(MutexExists, timeoutMs, kWindowPollMs)) {
        return false;
    }
    return Send(WM_NULL);
}

bool AgentProcess::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window_, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               &result) != 0;
}

bool AgentProcess::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
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
    return WaitForExit(kExitTimeoutMs);
}

void AgentProcess::Terminate() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, kExitTimeoutMs);
        }
        CloseHandle(process_);
        process_ = nullptr;
    }
    window_ = nullptr;
}

void AgentProcess::Stop() {
    if (Running() && window_ != nullptr) {
        (void)Exit();
    }
    Terminate();
}

} // namespace agentprocess
