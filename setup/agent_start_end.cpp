// The agent is known only by its program file name: ended by name at removal, started by its
// full path beside the setup tool at commit time.
#include "setup/agent_start_end.h"

#include "common/owners.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

// The exit code an ended agent reports; the installer's logs know it.
constexpr UINT kEndedAgentExitCode = 9;
// How long one ended agent may take to go. TerminateProcess only starts the end, and Windows
// refuses to delete a program file while its process still has it mapped.
constexpr DWORD kAgentEndTimeoutMs = 5000;
// Longest path the platform hands out, so that a long install path is seen whole rather than
// cut at MAX_PATH and then mistaken for a shorter one.
constexpr DWORD kLongestModulePath = 32768;

// Ends one agent process and waits until it is gone; returns ERROR_SUCCESS, or the error code
// that says why it may still run (WAIT_TIMEOUT when it outlived the bound).
DWORD EndAgentProcess(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process.Valid()) {
        const DWORD error = GetLastError();
        // No such process any more: it ended by itself after the snapshot was taken.
        return error == ERROR_INVALID_PARAMETER ? ERROR_SUCCESS : error;
    }
    const BOOL ended = TerminateProcess(process.Get(), kEndedAgentExitCode);
    const DWORD endError = ended ? ERROR_SUCCESS : GetLastError();
    // Waited for even when the end was refused: a process already on its way out refuses it.
    const DWORD waited = WaitForSingleObject(process.Get(), kAgentEndTimeoutMs);
    if (waited == WAIT_OBJECT_0) {
        return ERROR_SUCCESS;
    }
    if (!ended) {
        return endError;
    }
    return waited == WAIT_TIMEOUT ? static_cast<DWORD>(WAIT_TIMEOUT) : GetLastError();
}

} // namespace

void EndAgentProcesses() {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
    if (!snapshot.Valid()) {
        return;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL found = Process32FirstW(snapshot.Get(), &entry); found;
         found = Process32NextW(snapshot.Get(), &entry)) {
        // Name only and case-sensitive: the agent is always started under this exact name.
        if (wcscmp(entry.szExeFile, kAgentFileName) != 0) {
            continue;
        }
        const DWORD error = EndAgentProcess(entry.th32ProcessID);
        // The installer's log is where an engineer looks when the program file stays behind.
        if (error != ERROR_SUCCESS) {
            printf("Could not end Lumivane.exe process %lu (error %lu).\n", entry.th32ProcessID,
                   error);
        }
    }
}

DWORD StartAgent(const std::wstring& agentPath) {
    // The program is named explicitly so that no search runs: a Lumivane.exe in the current
    // folder or on the path is never started in place of the one beside this tool. The command
    // line quotes it because install folders usually contain spaces.
    std::wstring commandText = L"\"" + agentPath + L"\"";
    std::vector<wchar_t> commandLine(commandText.begin(), commandText.end());
    commandLine.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(agentPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
        return GetLastError();
    }
    // Not waited for: the agent runs on after the setup tool ends.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ERROR_SUCCESS;
}

std::wstring OwnProgramFolder() {
    std::vector<wchar_t> buffer(kLongestModulePath);
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return std::wstring();
    }
    std::wstring path(buffer.data(), length);
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    return path.substr(0, separator + 1);
}
