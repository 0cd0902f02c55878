// The agent is known only by its program file name: ended by name at removal, started by its
// full path beside the setup tool at commit time.
#include "setup/agent_start_end.h"

#include "common/fixed_paths.h"
#include "common/owners.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

// The exit code an ended agent reports; the installer's logs know it.
constexpr UINT kEndedAgentExitCode = 9;
// How long one ended agent may take to go. TerminateProcess only starts the end, and Windows
// refuses to delete a program file while its process still has it mapped.
constexpr DWORD kAgentEndTimeoutMs = 5000;
const wchar_t kSessionsValue[] = L"AgentSessions";
// The product's registry lives in the 32-bit view, like the rest of its keys.
constexpr REGSAM kSessionsView = KEY_WOW64_32KEY;
// More sessions than a machine has users logged on; a longer record is not ours.
constexpr DWORD kMaxSessionsBytes = 64 * 1024;
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

void AddSession(std::vector<DWORD>& sessions, DWORD session) {
    if (std::find(sessions.begin(), sessions.end(), session) == sessions.end()) {
        sessions.push_back(session);
    }
}

// Calls visit with the process id of every process named "Lumivane.exe".
template <typename Visit> void ForEachAgentProcess(Visit visit) {
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPALL, 0));
    if (!snapshot.Valid()) {
        return;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL found = Process32FirstW(snapshot.Get(), &entry); found;
         found = Process32NextW(snapshot.Get(), &entry)) {
        // Name only and case-sensitive: the agent is always started under this exact name.
        if (wcscmp(entry.szExeFile, kAgentFileName) == 0) {
            visit(entry.th32ProcessID);
        }
    }
}

} // namespace

std::vector<DWORD> EndAgentProcesses() {
    std::vector<DWORD> sessions;
    ForEachAgentProcess([&sessions](DWORD processId) {
        DWORD session = 0;
        const bool sessionKnown = ProcessIdToSessionId(processId, &session) != FALSE;
        const DWORD error = EndAgentProcess(processId);
        // The installer's log is where an engineer looks when the program file stays behind.
        if (error != ERROR_SUCCESS) {
            printf("Could not end Lumivane.exe process %lu (error %lu).\n", processId, error);
        } else if (sessionKnown) {
            AddSession(sessions, session);
        }
    });
    return sessions;
}

bool AgentRunsInSession(DWORD session) {
    bool found = false;
    ForEachAgentProcess([&](DWORD processId) {
        DWORD processSession = 0;
        if (ProcessIdToSessionId(processId, &processSession) && processSession == session) {
            found = true;
        }
    });
    return found;
}

bool RememberAgentSessions(const std::vector<DWORD>& sessions) {
    std::vector<DWORD> all = TakeRememberedAgentSessions();
    for (DWORD session : sessions) {
        AddSession(all, session);
    }
    if (all.empty()) {
        return true;
    }
    std::wstring record;
    for (DWORD session : all) {
        record += std::to_wstring(session);
        record.push_back(L'\0');
    }
    record.push_back(L'\0');
    HKEY opened = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, 0, nullptr, 0,
                                     KEY_SET_VALUE | kSessionsView, nullptr, &opened, nullptr);
    UniqueKey key(opened);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.Get(), kSessionsValue, 0, REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(record.data()),
                                static_cast<DWORD>(record.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) {
        printf("The sessions of the ended agents were not recorded (error %ld); their users' "
               "agents start at their next logon.\n",
               static_cast<long>(status));
        return false;
    }
    return true;
}

std::vector<DWORD> TakeRememberedAgentSessions() {
    std::vector<DWORD> sessions;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE | kSessionsView, &opened) != ERROR_SUCCESS) {
        return sessions;
    }
    UniqueKey key(opened);
    std::vector<wchar_t> record(kMaxSessionsBytes / sizeof(wchar_t) + 2, L'\0');
    DWORD size = kMaxSessionsBytes;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.Get(), kSessionsValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(record.data()), &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        // Each entry is a session number in decimal; anything else is skipped.
        for (const wchar_t* entry = record.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
            wchar_t* end = nullptr;
            const unsigned long session = wcstoul(entry, &end, 10);
            if (end != entry && *end == L'\0' && iswdigit(entry[0])) {
                AddSession(sessions, static_cast<DWORD>(session));
            }
        }
    }
    (void)RegDeleteValueW(key.Get(), kSessionsValue);
    DWORD subKeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subKeys == 0 && values == 0) {
        key.Reset();
        (void)RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, kSessionsView, 0);
    }
    return sessions;
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
