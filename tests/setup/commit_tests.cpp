// "/Commit": the logon task runs in the installing user's session, so the agent has the rights
// the task gives it; without a task the agent beside the setup tool is started, never one found
// elsewhere. "/Commit /User <SID>", as the system account runs it: the task runs in that user's
// sessions. "/Stop" and "/Restart": every session whose agent a repair ended gets one again.
#include "common/fixed_paths.h"
#include "tests/setup/setup_harness.h"
#include "tools/taskdouble/taskdouble_client.h"

#include <gtest/gtest.h>

#include <algorithm>

using setuptest::Narrow;
using setuptest::RunProgram;
using setuptest::TempFolder;

namespace {

const wchar_t kTaskName[] = L"Lumivane";
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);
constexpr DWORD kEndTimeoutMs = 20000;

DWORD OwnSession() {
    DWORD session = 0;
    EXPECT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    return session;
}

// The logon task as "/Install" leaves it, starting the program at agentPath.
void PlantLogonTask(const std::wstring& agentPath) {
    taskdouble::PlantTask(kTaskName, {{L"Name", kTaskName}, {L"Actions\\0\\Path", agentPath}});
}

std::vector<std::wstring> RunCalls() {
    std::vector<std::wstring> runs;
    for (const std::wstring& call : taskdouble::ReadCalls()) {
        if (call.rfind(L"IRegisteredTask::RunEx", 0) == 0) {
            runs.push_back(call);
        }
    }
    return runs;
}

// The double's record of a run with TASK_RUN_USE_SESSION_ID (4) in the session.
std::wstring RunInSession(DWORD session) {
    return L"IRegisteredTask::RunEx Lumivane 4 " + std::to_wstring(session) + L" -> 0x00000000";
}

// The sessions "/Stop" left for "/Restart", in the registry's 32-bit view; empty when none.
std::vector<std::wstring> RememberedSessions() {
    std::vector<std::wstring> sessions;
    wchar_t text[1024] = {};
    DWORD size = sizeof text - 2 * sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, L"AgentSessions",
                     RRF_RT_REG_MULTI_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, text,
                     &size) != ERROR_SUCCESS) {
        return sessions;
    }
    for (const wchar_t* entry = text; *entry != L'\0'; entry += wcslen(entry) + 1) {
        sessions.push_back(entry);
    }
    std::sort(sessions.begin(), sessions.end());
    return sessions;
}

void RememberSessions(const std::wstring& multiText) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr));
    RegSetValueExW(key, L"AgentSessions", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(multiText.data()),
                   static_cast<DWORD>(multiText.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

void ForgetSessions() {
    (void)RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSessionsKeyPath, KEY_WOW64_32KEY, 0);
}

// A copy of the setup tool in a folder of its own, as the installer lays it out, with a Task
// Scheduler that has no task yet.
std::wstring PlaceSetupTool(const TempFolder& folder) {
    const std::wstring tool = folder.Child(L"Stagehand.exe");
    CopyFileW(setuptest::StagehandPath().c_str(), tool.c_str(), FALSE);
    taskdouble::ResetTaskDouble();
    return tool;
}

bool PlaceAgent(const TempFolder& folder) {
    return CopyFileW(setuptest::AgentStubPath().c_str(), folder.Child(L"Lumivane.exe").c_str(),
                     FALSE) != FALSE;
}

// No logon task registered: the tool says so and starts the agent itself.
TEST(SetupCommit, StartsTheAgentBesideTheToolNotTheOneInTheCurrentFolder) {
    struct Case {
        const char* name;
        std::vector<std::wstring> arguments;
    };
    const Case cases[] = {
        {"plain", {L"/Commit"}},
        {"lower case", {L"/commit"}},
        {"with a folder, which plays no part", {L"/COMMIT", L"C:\\Elsewhere\\"}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder toolFolder;
        TempFolder currentFolder;
        const std::wstring tool = PlaceSetupTool(toolFolder);
        ASSERT_TRUE(PlaceAgent(toolFolder));
        ASSERT_TRUE(PlaceAgent(currentFolder));
        setuptest::AgentStubs stubs;

        const setuptest::ChildResult result =
            RunProgram(tool, testCase.arguments, currentFolder.path());

        ASSERT_TRUE(result.started);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ("Test Confirm functionNo logon task is registered; Lumivane.exe is started "
                  "directly.\n",
                  result.output);
        EXPECT_TRUE(RunCalls().empty());
        ASSERT_TRUE(stubs.WaitStarted());
        EXPECT_EQ(Narrow(toolFolder.Child(L"Lumivane.exe")), Narrow(stubs.LastStarted()));
        // Only one agent was started.
        EXPECT_EQ(1u, setuptest::ProcessesNamed(setuptest::kAgentName).size());
    }
}

TEST(SetupCommit, MissingAgentReportsFileNotFound) {
    TempFolder toolFolder;
    TempFolder currentFolder;
    const std::wstring tool = PlaceSetupTool(toolFolder);
    ASSERT_TRUE(PlaceAgent(currentFolder));
    setuptest::AgentStubs stubs;

    const setuptest::ChildResult result = RunProgram(tool, {L"/Commit"}, currentFolder.path());

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Test Confirm functionNo logon task is registered; Lumivane.exe is started "
              "directly.\nCreateProcess failed (2).\n",
              result.output);
    // A process the tool had created would be listed by the time the tool ended.
    EXPECT_TRUE(setuptest::ProcessesNamed(setuptest::kAgentName).empty());
}

TEST(SetupCommit, InSessionZeroStartsNoAgent) {
    TempFolder toolFolder;
    TempFolder currentFolder;
    const std::wstring tool = toolFolder.Child(L"Stagehand.exe");
    ASSERT_TRUE(CopyFileW((setuptest::TestProgramFolder() + L"stagehand_session0.exe").c_str(),
                          tool.c_str(), FALSE));
    ASSERT_TRUE(PlaceAgent(toolFolder));
    taskdouble::ResetTaskDouble();
    PlantLogonTask(toolFolder.Child(L"Lumivane.exe"));
    setuptest::AgentStubs stubs;

    const setuptest::ChildResult result = RunProgram(tool, {L"/Commit"}, currentFolder.path());

    ASSERT_TRUE(result.started);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(RunCalls().empty());
    EXPECT_EQ("Test Confirm functionLumivane.exe is not started in session 0; the logon task "
              "starts it at the next logon.\n",
              result.output);
    // A process the tool had created would be listed by the time the tool ended.
    EXPECT_TRUE(setuptest::ProcessesNamed(setuptest::kAgentName).empty());
    EXPECT_TRUE(stubs.LastStarted().empty());
}

// A registered task: the scheduler starts the agent as the task says, in the tool's session, and
// the tool starts nothing itself. A second "/Commit" finds the agent and starts none; a refused
// run is reported and not replaced by a start with the installer's own token.
TEST(SetupCommit, RunsTheLogonTaskInItsOwnSession) {
    TempFolder toolFolder;
    TempFolder taskFolder;
    const std::wstring tool = PlaceSetupTool(toolFolder);
    ASSERT_TRUE(PlaceAgent(toolFolder));
    ASSERT_TRUE(PlaceAgent(taskFolder));
    PlantLogonTask(taskFolder.Child(L"Lumivane.exe"));
    setuptest::AgentStubs stubs;

    setuptest::ChildResult result = RunProgram(tool, {L"/Commit"});

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Test Confirm function", result.output);
    ASSERT_TRUE(stubs.WaitStarted());
    EXPECT_EQ(Narrow(taskFolder.Child(L"Lumivane.exe")), Narrow(stubs.LastStarted()));
    EXPECT_EQ(std::vector<std::wstring>{RunInSession(OwnSession())}, RunCalls());

    taskdouble::ClearCalls();
    result = RunProgram(tool, {L"/Commit"});
    EXPECT_EQ("Test Confirm functionLumivane.exe already runs in this session.\n", result.output);
    EXPECT_TRUE(RunCalls().empty());
    EXPECT_EQ(1u, setuptest::ProcessesNamed(setuptest::kAgentName).size());
}

TEST(SetupCommit, RefusedRunStartsNoAgent) {
    TempFolder toolFolder;
    const std::wstring tool = PlaceSetupTool(toolFolder);
    ASSERT_TRUE(PlaceAgent(toolFolder));
    PlantLogonTask(toolFolder.Child(L"Lumivane.exe"));
    taskdouble::InjectFailure(L"IRegisteredTask::RunEx", kAccessDenied);
    setuptest::AgentStubs stubs;

    const setuptest::ChildResult result = RunProgram(tool, {L"/Commit"});

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Test Confirm functionCannot run the logon task in session " +
                  std::to_string(OwnSession()) + ": -2147024891\n",
              result.output);
    EXPECT_TRUE(setuptest::ProcessesNamed(setuptest::kAgentName).empty());
    taskdouble::ClearFailures();
}

// The installer's deferred start, as the system account: the task runs in each session of the
// named user that has no agent, and nothing is started directly (it would run as the system
// account). A build of the tool that answers the sessions the test names stands in for the
// platform's session list, which Wine cannot fill with other users.
TEST(SetupCommit, ForAUserRunsTheTaskInThatUsersSessionsOnly) {
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const std::wstring own = std::to_wstring(OwnSession());
    const std::wstring sessions = user + L":5," + own + L";S-1-5-21-1-2-3-1002:9";
    const std::string prefix = "Test Confirm function";
    const std::string notASid = prefix + "The user argument is not a SID; Lumivane.exe is not "
                                         "started.\n";
    struct Case {
        const char* name;
        std::vector<std::wstring> arguments;
        std::wstring chosenSessions;
        bool agentInOwnSession;
        bool taskRegistered;
        std::vector<DWORD> runs;
        std::string output;
    };
    const Case cases[] = {
        {"the user's sessions, not another user's",
         {L"/Commit", L"/User", user},
         sessions,
         false,
         true,
         {5, OwnSession()},
         prefix},
        {"written in lower case",
         {L"/commit", L"/user", L"s-1-5-21-1-2-3-1001"},
         sessions,
         false,
         true,
         {5, OwnSession()},
         prefix},
        {"not in session 0",
         {L"/Commit", L"/User", user},
         user + L":0,5",
         false,
         true,
         {5},
         prefix},
        {"not where an agent runs",
         {L"/Commit", L"/User", user},
         user + L":" + own + L",7",
         true,
         true,
         {7},
         prefix},
        {"no SID", {L"/Commit", L"/User"}, sessions, false, true, {}, notASid},
        {"not a SID",
         {L"/Commit", L"/User", L"C:\\Elsewhere\\"},
         sessions,
         false,
         true,
         {},
         notASid},
        {"an SDDL alias", {L"/Commit", L"/User", L"BA"}, sessions, false, true, {}, notASid},
        {"a SID spelt with a leading zero",
         {L"/Commit", L"/User", L"S-1-5-21-1-2-3-01001"},
         sessions,
         false,
         true,
         {},
         notASid},
        {"a user without a session",
         {L"/Commit", L"/User", L"S-1-5-21-1-2-3-1003"},
         sessions,
         false,
         true,
         {},
         prefix + "No session of user S-1-5-21-1-2-3-1003 was found; Lumivane.exe is not "
                  "started for that user.\n"},
        {"sessions that cannot be listed",
         {L"/Commit", L"/User", user},
         L"",
         false,
         true,
         {},
         prefix + "The sessions could not be listed (error 203); Lumivane.exe is not started "
                  "for user S-1-5-21-1-2-3-1001.\n"},
        {"no task",
         {L"/Commit", L"/User", user},
         user + L":5",
         false,
         false,
         {},
         prefix + "No logon task is registered; Lumivane.exe is not started in session 5.\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder toolFolder;
        const std::wstring tool = toolFolder.Child(L"Stagehand.exe");
        ASSERT_TRUE(
            CopyFileW((setuptest::TestProgramFolder() + L"stagehand_user_sessions.exe").c_str(),
                      tool.c_str(), FALSE));
        const std::wstring agent = toolFolder.Child(L"Lumivane.exe");
        ASSERT_TRUE(PlaceAgent(toolFolder));
        taskdouble::ResetTaskDouble();
        if (testCase.taskRegistered) {
            PlantLogonTask(agent);
        }
        setuptest::AgentStubs stubs;
        HANDLE running = nullptr;
        if (testCase.agentInOwnSession) {
            running = stubs.Start(agent);
            ASSERT_NE(nullptr, running);
            ASSERT_TRUE(stubs.WaitStarted());
            stubs.ForgetLastStarted();
        }
        SetEnvironmentVariableW(L"STAGEHAND_TEST_USER_SESSIONS",
                                testCase.chosenSessions.empty() ? nullptr
                                                                : testCase.chosenSessions.c_str());

        const setuptest::ChildResult result = RunProgram(tool, testCase.arguments);
        SetEnvironmentVariableW(L"STAGEHAND_TEST_USER_SESSIONS", nullptr);

        ASSERT_TRUE(result.started);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(testCase.output, result.output);
        std::vector<std::wstring> expected;
        for (DWORD session : testCase.runs) {
            expected.push_back(RunInSession(session));
        }
        EXPECT_EQ(expected, RunCalls());
        // The double starts the task's program for a run in its own session only; the tool
        // starts none itself.
        const size_t started = static_cast<size_t>(
            std::count(testCase.runs.begin(), testCase.runs.end(), OwnSession()));
        for (size_t i = 0; i < started; ++i) {
            EXPECT_TRUE(stubs.WaitStarted());
        }
        EXPECT_EQ(started + (running != nullptr ? 1 : 0),
                  setuptest::ProcessesNamed(setuptest::kAgentName).size());
        if (running != nullptr) {
            CloseHandle(running);
        }
    }
}

// A repair as the system account ends every session's agent. "/Stop" remembers their sessions,
// adding to what an unfinished earlier run left (session 7 stands for another user's, which
// Wine cannot have), and "/Restart" runs the task in each of them once and forgets them.
TEST(SetupCommit, RestartRunsTheTaskInEverySessionStopEnded) {
    TempFolder toolFolder;
    const std::wstring tool = PlaceSetupTool(toolFolder);
    const std::wstring agent = toolFolder.Child(L"Lumivane.exe");
    ASSERT_TRUE(PlaceAgent(toolFolder));
    PlantLogonTask(agent);
    ForgetSessions();
    RememberSessions(std::wstring(L"7\0", 2) + L'\0');
    setuptest::AgentStubs stubs;
    HANDLE first = stubs.Start(agent);
    HANDLE second = stubs.Start(agent);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);

    setuptest::ChildResult result = RunProgram(tool, {L"/Stop"});

    EXPECT_EQ("Stop Setup\n", result.output);
    for (HANDLE process : {first, second}) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kEndTimeoutMs));
        CloseHandle(process);
    }
    std::vector<std::wstring> expected = {std::to_wstring(OwnSession()), L"7"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, RememberedSessions());
    EXPECT_TRUE(RunCalls().empty());

    stubs.ForgetLastStarted();
    result = RunProgram(tool, {L"/Restart"});

    EXPECT_EQ("Restart Setup\n", result.output);
    std::vector<std::wstring> runs = RunCalls();
    std::sort(runs.begin(), runs.end());
    std::vector<std::wstring> expectedRuns = {RunInSession(OwnSession()), RunInSession(7)};
    std::sort(expectedRuns.begin(), expectedRuns.end());
    EXPECT_EQ(expectedRuns, runs);
    EXPECT_TRUE(stubs.WaitStarted());
    EXPECT_TRUE(RememberedSessions().empty());

    // Nothing remembered: nothing runs.
    taskdouble::ClearCalls();
    result = RunProgram(tool, {L"/Restart"});
    EXPECT_TRUE(RunCalls().empty());
    ForgetSessions();
}

} // namespace
