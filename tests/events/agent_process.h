// The agent as a process under Wine, driven the way the system drives it: the test changes
// the simulated machine, then sends the matching notification to the agent's window.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace e2e {

// Polls a condition every few milliseconds until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000);

std::string ReadLog();
size_t CountInLog(const std::string& text);
// Waits until the log holds `text` at least `count` times.
bool WaitForLog(const std::string& text, size_t count = 1, DWORD timeoutMs = 20000);

class AgentProcess {
  public:
    AgentProcess() = default;
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // Starts the agent and, unless waitForLoop is false, waits until its window exists and
    // start-up has reached the message loop.
    bool Start(const std::wstring& exePath, bool waitForLoop = true);
    HWND Window() const { return window_; }
    // Sends a notification and waits until the window procedure has handled it.
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = 20000);
    // Ends the agent through its menu command; the exit code.
    std::optional<DWORD> Exit();
    void Terminate();
    HANDLE Process() const { return process_; }

  private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HWND window_ = nullptr;
};

// The agent's window of the given process (class "Lumivane"), or null.
HWND FindAgentWindow(DWORD processId);

} // namespace e2e
