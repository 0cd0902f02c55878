// Runs the setup tool as a child process and prepares what its commands act on: temporary
// folders, copies of the tool and of the agent stand-in, and the stand-in's processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace setuptest {

struct ChildResult {
    bool started = false;
    DWORD exitCode = 0xdeadbeef;
    // Standard output with CR LF turned into LF.
    std::string output;
};

// Runs program with the arguments (quoted as the runtime's parser expects) in currentFolder
// (the test's own when empty) and waits for it to end.
ChildResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                       const std::wstring& currentFolder = L"");
// The setup tool built beside this test program.
ChildResult RunStagehand(const std::vector<std::wstring>& arguments,
                         const std::wstring& currentFolder = L"");

// This test program's folder, with a trailing backslash.
std::wstring TestProgramFolder();
std::wstring StagehandPath();
std::wstring AgentStubPath();

std::string Narrow(const std::wstring& text);

// A fresh folder under the temporary folder, removed with its contents when the owner goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring Child(const wchar_t* name) const { return path_ + name; }

  private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& folder);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);

// Names the agent's processes are found by.
constexpr wchar_t kAgentName[] = L"Lumivane.exe";

// The agent stand-in's events, created for one test; the destructor stops every stand-in
// that still runs and waits for it to end.
class AgentStubs {
  public:
    AgentStubs();
    ~AgentStubs();
    AgentStubs(const AgentStubs&) = delete;
    AgentStubs& operator=(const AgentStubs&) = delete;

    // Starts a copy of the stand-in with the given arguments and, when given, the process's
    // security (who may open it); returns its process handle (owned by the caller) or NULL.
    HANDLE Start(const std::wstring& program, const std::wstring& arguments = L"",
                 SECURITY_ATTRIBUTES* processSecurity = nullptr);
    // True when a stand-in signalled its start within a few seconds.
    bool WaitStarted();
    // Path the stand-in started last recorded; empty when none did.
    std::wstring LastStarted() const;
    void ForgetLastStarted();

  private:
    HANDLE started_;
    HANDLE stop_;
};

// Process identifiers of every running process whose program file name is exactly name.
std::vector<DWORD> ProcessesNamed(const wchar_t* name);

} // namespace setuptest
