// The agent as a process, driven the way the system drives it: started, sent window
// notifications, ended through its menu command. Used by the end-to-end tests, the soak test
// and the benchmark.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace agentprocess {

// Polls a condition every pollMs until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000, DWORD pollMs = 10);

// The agent's window of the given process (class "Lumivane"), or null.
HWND FindAgentWindow(DWORD processId);

// The session of the process that owns a window; WM_WTSSESSION_CHANGE carries it in lParam,
// and the agent keeps only its own session's lock state. 0xFFFFFFFF when it cannot be read.
DWORD WindowSessionId(HWND window);

class AgentProcess {
  public:
    AgentProcess() = default;
    // Ends the agent as Stop() does.
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // Starts the agent and, unless waitForLoop is false, waits until start-up has reached
    // the message loop. beforeItRuns, when given, gets the new process's id before the
    // process runs its first instruction (to refuse it the BIOS device, for example).
    bool Start(const std::wstring& exePath, bool waitForLoop = true,
               const std::function<void(DWORD)>& beforeItRuns = {});
    // The window answers sent messages already while start-up waits in its first decision,
    // so an answer alone proves little. Once the single-instance mutex exists, start-up does
    // not answer again before its message loop, so the next answer comes from the loop -
    // unless its restore switches the rate: the platform's display-change broadcast lets it
    // answer inside the switch. Start with a rate the restore keeps when that matters.
    bool WaitForLoop(DWORD timeoutMs = 60000);
    // Sends a notification and waits until the window procedure has handled it.
    bool Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    bool Running() const;
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 20000);
    // Ends the agent through its menu command; the exit code.
    std::optional<DWORD> Exit();
    void Terminate();
    // Through the menu command when the window exists, else (or when that fails) terminated.
    void Stop();

    HWND Window() const { return window_; }
    DWORD SessionId() const { return WindowSessionId(window_); }
    HANDLE Process() const { return process_; }
    DWORD ProcessId() const { return processId_; }

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

} // namespace agentprocess
