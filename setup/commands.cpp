// The commands the product's installer runs. Failures are printed, and only an install that
// registered no logon task says so in its exit code: the installer rolls back on it, while the
// other commands' failures must not stop a removal or a finished installation. The folder text is
// a plain prefix of every path built from it, so paths are checked against the 260-character
// buffers before anything is done.
#include "setup/commands.h"

#include "setup/agent_start_end.h"
#include "setup/install_files.h"
#include "setup/logon_task.h"
#include "setup/session.h"
#include "setup/setup_limits.h"

#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kExitNoCommand = -1;
constexpr int kExitDone = 0;
// Services and system-account installer actions run here; no user's desktop does.
constexpr DWORD kServicesSession = 0;
// The logon task was not registered: without it the agent never starts at a logon.
constexpr int kExitTaskNotRegistered = 1;

// The agent path for a folder text: the folder prefix followed by the agent's file name; a
// folder text that would make it too long is refused with a message and false.
bool BuildAgentPath(const wchar_t* folder, std::wstring& agentPath) {
    if (wcslen(folder) > kMaxPathChars) {
        printf("The folder argument is longer than %u characters; nothing was done.\n",
               static_cast<unsigned>(kMaxPathChars));
        return false;
    }
    agentPath = std::wstring(folder) + kAgentFileName;
    if (agentPath.size() > kMaxPathChars) {
        printf("The agent path would be longer than %u characters; nothing was done.\n",
               static_cast<unsigned>(kMaxPathChars));
        return false;
    }
    return true;
}

int RunInstall(const wchar_t* folder) {
    printf("Install Setup\n");
    std::wstring agentPath;
    if (!BuildAgentPath(folder, agentPath)) {
        return kExitTaskNotRegistered;
    }
    wprintf(L"Path: %ls\n", agentPath.c_str());
    // The routine prints why it failed; the exit code lets the installer roll back.
    return RegisterLogonTask(TaskMode::Install, agentPath.c_str()) ? kExitDone
                                                                   : kExitTaskNotRegistered;
}

void RunUninstall(const wchar_t* folder) {
    printf("Uninstall Setup\n");
    std::wstring agentPath;
    // The agent path is the longest path built from the folder text alone, so this check also
    // covers the sweep's search pattern.
    if (!BuildAgentPath(folder, agentPath)) {
        return;
    }
    wprintf(L"Path: %ls\n", agentPath.c_str());
    // The agent goes first: its program file cannot be deleted while it runs.
    (void)EndAgentProcesses();
    // Nothing is started again after a removal.
    (void)TakeRememberedAgentSessions();
    (void)RegisterLogonTask(TaskMode::Uninstall, agentPath.c_str());
    // Without a named folder the sweep would fall on the current folder: it is left out.
    if (folder[0] != L'\0') {
        SweepInstallFolder(folder);
    }
    RemoveLastStateFiles();
}

// Ends the running agents of every session and remembers their sessions: the installer
// replaces their program file during a repair or an upgrade, and "/Restart" starts the new one
// in each of those sessions afterwards.
void RunStop() {
    printf("Stop Setup\n");
    (void)RememberAgentSessions(EndAgentProcesses());
}

// Runs the logon task in every session whose agent "/Stop" ended, so that each user has an
// agent again, with the rights the task gives it, not only the user who repaired.
void RunRestart() {
    printf("Restart Setup\n");
    for (DWORD session : TakeRememberedAgentSessions()) {
        // An agent in session 0 serves nobody's screen; one that runs already is enough.
        if (session == kServicesSession || AgentRunsInSession(session)) {
            continue;
        }
        if (RunLogonTask(session) == TaskRun::NotRegistered) {
            printf("No logon task is registered; Lumivane.exe is not started in session %lu.\n",
                   session);
        }
    }
}

void RunCommit() {
    printf("Test Confirm function");
    // An agent in session 0 would serve nobody's screen and compete with the user's agent
    // until the next reboot; the user's logon starts the right one.
    DWORD session = 0;
    if (!ReadOwnSessionId(&session)) {
        printf("The session of this process is unknown; the logon task starts Lumivane.exe at "
               "the next logon.\n");
        return;
    }
    if (session == kServicesSession) {
        printf("Lumivane.exe is not started in session 0; the logon task starts it at the next "
               "logon.\n");
        return;
    }
    if (AgentRunsInSession(session)) {
        printf("Lumivane.exe already runs in this session.\n");
        return;
    }
    // As the logon task starts it, elevated where the task is: this tool runs with the
    // installing user's filtered token, which could not write the product's machine-wide values.
    const TaskRun run = RunLogonTask(session);
    if (run != TaskRun::NotRegistered) {
        return;
    }
    printf("No logon task is registered; Lumivane.exe is started directly.\n");
    // The agent beside this tool, by its full path: the platform's search for a bare name
    // would also look in the current folder.
    const std::wstring folder = OwnProgramFolder();
    const std::wstring agentPath = folder + kAgentFileName;
    if (folder.empty() || agentPath.size() > kMaxPathChars) {
        printf("The agent path is unknown or longer than %u characters; the agent was not "
               "started.\n",
               static_cast<unsigned>(kMaxPathChars));
        return;
    }
    const DWORD error = StartAgent(agentPath);
    if (error != ERROR_SUCCESS) {
        printf("CreateProcess failed (%d).\n", static_cast<int>(error));
    }
}

// The user's SID as bytes; empty unless the text is a SID in the platform's own text form.
// ConvertStringSidToSidW also takes SDDL's two-letter aliases ("BA", "SY") and looser spellings,
// so the text must also come back unchanged from the SID it made.
std::vector<BYTE> ParseUserSid(const wchar_t* text) {
    std::vector<BYTE> bytes;
    PSID sid = nullptr;
    if (_wcsnicmp(text, L"S-1-", 4) != 0 || !ConvertStringSidToSidW(text, &sid)) {
        return bytes;
    }
    wchar_t* again = nullptr;
    if (ConvertSidToStringSidW(sid, &again)) {
        if (_wcsicmp(again, text) == 0) {
            const BYTE* first = static_cast<const BYTE*>(sid);
            bytes.assign(first, first + GetLengthSid(sid));
        }
        LocalFree(again);
    }
    LocalFree(sid);
    return bytes;
}

// "/Commit /User <SID>": the installer's deferred action, run as the system account, which may
// run the logon task that the installing administrator's filtered token may not even see. It
// runs the task in every session of that user that has no agent yet; the installer's later
// "/Commit" as the user then finds the agent and starts none. Nothing is started directly here:
// a program this tool started would run as the system account.
void RunCommitForUser(const wchar_t* sidText) {
    printf("Test Confirm function");
    std::vector<BYTE> sid = ParseUserSid(sidText);
    if (sid.empty()) {
        printf("The user argument is not a SID; Lumivane.exe is not started.\n");
        return;
    }
    std::vector<DWORD> sessions;
    if (!FindUserSessions(sid.data(), &sessions)) {
        printf("The sessions could not be listed (error %lu); Lumivane.exe is not started for "
               "user %ls.\n",
               GetLastError(), sidText);
        return;
    }
    bool found = false;
    for (DWORD session : sessions) {
        // Session 0 serves nobody's screen, and one agent in a session is enough.
        if (session == kServicesSession) {
            continue;
        }
        found = true;
        if (AgentRunsInSession(session)) {
            continue;
        }
        if (RunLogonTask(session) == TaskRun::NotRegistered) {
            printf("No logon task is registered; Lumivane.exe is not started in session %lu.\n",
                   session);
        }
    }
    if (!found) {
        printf("No session of user %ls was found; Lumivane.exe is not started for that user.\n",
               sidText);
    }
}

} // namespace

int RunSetupCommand(int argc, wchar_t** argv) {
    if (argc < 2) {
        return kExitNoCommand;
    }
    const wchar_t* command = argv[1];
    const wchar_t* folder = argc > 2 ? argv[2] : L"";
    if (_wcsicmp(command, L"/Install") == 0) {
        return RunInstall(folder);
    } else if (_wcsicmp(command, L"/Stop") == 0) {
        RunStop();
    } else if (_wcsicmp(command, L"/Restart") == 0) {
        RunRestart();
    } else if (_wcsicmp(command, L"/Uninstall") == 0) {
        RunUninstall(folder);
    } else if (_wcsicmp(command, L"/Commit") == 0) {
        // A folder argument plays no part here: the agent lies beside this tool.
        if (argc > 2 && _wcsicmp(argv[2], L"/User") == 0) {
            RunCommitForUser(argc > 3 ? argv[3] : L"");
        } else {
            RunCommit();
        }
    }
    return kExitDone;
}
