// Test-side handle on a RefHost.exe child: starts it with its standard input and output on
// pipes, sends command lines and waits, with a bound, for output lines matching a predicate.
//
// Each output line can be matched once: a wait takes the first line not yet taken that
// matches, so lines that arrive in an unexpected order (a notice before a command's answer) are
// still found by a later wait. Lines are kept without their line end.
//
//   refhost::RefHostProcess host;
//   ASSERT_TRUE(host.Start(refhost::ToWindowsPath(exe), {L"--plugin", dll}));
//   ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 10000));
//   host.Send("set 0");
//   auto answer = host.WaitForLine(refhost::StartsWith("set 0 -> "), 10000);
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace refhost {

using LineMatch = std::function<bool(const std::string&)>;

LineMatch StartsWith(std::string prefix);
LineMatch Contains(std::string text);
// A notice line ("notice ...") whose mode field is exactly `mode`.
LineMatch NoticeWithMode(std::string mode);

// The value of "name=value" in a line, up to the next space; nullopt when the field is absent.
std::optional<std::string> LineField(const std::string& line, const std::string& name);

// A path as the build names it: a Linux absolute path ("/work/...") becomes the Wine drive path
// ("Z:\work\..."); anything else only has its slashes turned into backslashes.
std::wstring ToWindowsPath(const std::wstring& path);

class RefHostProcess {
  public:
    RefHostProcess() = default;
    ~RefHostProcess();
    RefHostProcess(const RefHostProcess&) = delete;
    RefHostProcess& operator=(const RefHostProcess&) = delete;

    // Starts the program with the arguments (quoted here). False when it could not be started.
    bool Start(const std::wstring& exePath, const std::vector<std::wstring>& args);
    // Writes one command line. False when the child's input is closed.
    bool Send(const std::string& command);
    // Closes the child's standard input (the host treats that as "quit").
    void CloseInput();
    // The first line not taken before that matches, taken now; nullopt after timeoutMs or
    // once the child's output has ended without a match.
    std::optional<std::string> WaitForLine(const LineMatch& match, DWORD timeoutMs);
    // Marks every line received so far as taken, so the next wait sees only newer lines.
    void SkipReceived();
    // Every line received so far, taken or not.
    std::vector<std::string> Lines() const;
    // Waits up to timeoutMs for the child to end by itself; its exit code, or nullopt.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs);
    // Sends "quit", waits up to timeoutMs, terminates the child if it is still running, and
    // collects the output thread. The exit code when it ended by itself, nullopt when it had to
    // be terminated or was not running. Safe to call more than once.
    std::optional<DWORD> Stop(DWORD timeoutMs = 5000);
    DWORD ProcessId() const { return processId_; }

  private:
    void ReadOutput();
    bool ReadSome(char* buffer, DWORD size, DWORD* count);
    static constexpr DWORD kOutputPollMs = 5;

    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    HANDLE input_ = nullptr;  // our end of the child's standard input
    HANDLE output_ = nullptr; // our end of the child's standard output and error
    std::thread reader_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<bool> taken_;
    bool outputEnded_ = false;
};

} // namespace refhost
