// Start-up of the agent process on the simulated notebook.
#include "agent/events/startup.h"
#include "tests/events/agent_fixture.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <wtsapi32.h>

#include <atomic>

namespace e2e {

using StartUp = AgentTest;

namespace {

// A host that stores the user's choice "0" the moment it hears the agent's first notice, as the
// control-centre application may while it starts beside the agent at logon.
UINT hostNoticeMessage = 0;
std::atomic<bool> hostWroteChoice{false};

LRESULT CALLBACK ChoosingHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == hostNoticeMessage && !hostWroteChoice) {
        hostWroteChoice = true;
        WriteStateFile(L"OD_Result.txt", "0");
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI RunChoosingHost(LPVOID ready) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ChoosingHostProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ChoosingHostForTests";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP, 0, 0,
                                  0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return 0;
}

} // namespace

// The write lands after the first decision has read OD_Result.txt: start-up decides only once
// the folder watcher records changes, so the write is acted on.
TEST_F(StartUp, AChoiceWrittenDuringTheFirstDecisionIsActedOn) {
    hostNoticeMessage = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");
    hostWroteChoice = false;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD hostThreadId = 0;
    HANDLE host = CreateThread(nullptr, 0, RunChoosingHost, ready, 0, &hostThreadId);
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);

    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_TRUE(WaitUntil([] {
        return hostWroteChoice && StateFile(L"Icon.txt") == "0" && !simbios::GetODState();
    })) << ReadLog();
    EXPECT_EQ(StateFile(L"OD_Result.txt"), "0");

    PostThreadMessageW(hostThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(host, 10000);
    CloseHandle(host);
    CloseHandle(ready);
}

// A local user linked the data folder elsewhere before the agent started: the agent runs its
// decisions and writes nothing there; once a real folder is back, the next event fills it.
TEST_F(StartUp, ALinkedDataFolderGetsNothingAndARealOneGetsTheFilesAtTheNextEvent) {
    const wchar_t dataFolder[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane";
    const std::wstring outside = notebookfiles::ResetOutsideFolder();
    notebookfiles::RemoveDataFolder();
    ASSERT_TRUE(notebookfiles::MakeSymbolicLink(dataFolder, outside))
        << "this platform made no link";
    auto outsideIsEmpty = [&] {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((outside + L"\\*").c_str(), &entry);
        bool empty = true;
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = entry.cFileName;
                empty = empty && (name == L"." || name == L"..");
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        return empty;
    };

    ASSERT_TRUE(agent.Start(simAgentPath));
    ASSERT_TRUE(simbios::ClearRequests());
    simnotebook::SetACLineStatus(0);
    ASSERT_TRUE(agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE));
    EXPECT_TRUE(agent.Running());
    EXPECT_TRUE(outsideIsEmpty());
    // The decision ran all the same: it asked the BIOS.
    EXPECT_FALSE(simbios::ReadRequests().empty());

    ASSERT_TRUE(notebookfiles::RemoveSymbolicLink(dataFolder));
    ASSERT_TRUE(CreateDirectoryW(dataFolder, nullptr));
    simnotebook::SetACLineStatus(1);
    ASSERT_TRUE(agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE));
    EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), "1");
    bool exists = false;
    StateFile(L"Icon.txt", &exists);
    EXPECT_TRUE(exists);
    EXPECT_NE(ReadLog().find("] OnPowerEvent Power status = 1\r\n"), std::string::npos);
    // The user's choice is followed again in the real folder.
    WriteStateFile(L"OD_Result.txt", "0");
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"Icon.txt") == "0"; })) << ReadLog();
    EXPECT_TRUE(outsideIsEmpty());
    EXPECT_TRUE(agent.Running());
}

TEST_F(StartUp, FreshDataFolderIsFilledWithTheAgentsFiles) {
    notebookfiles::RemoveDataFolder();
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(StateFile(L"OD_Result.txt"), "1");
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "1");
    // AC, the choice "1", 144 Hz: overdrive on.
    EXPECT_EQ(StateFile(L"Icon.txt"), "1");
    EXPECT_TRUE(simbios::GetODState());
    EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), "1");
    EXPECT_EQ(StateFile(L"lasttimeDCRefresh.txt"), "2");
    std::string log = ReadLog();
    EXPECT_NE(log.find("OD_Result.txt is not exist, create it and set default value 1.\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("] -------------------- detectEDID = AUO519D --------------------\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("] -------------------- isODPanel = YES --------------------\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("] Is OD Panel, detectEDID = AUO519D\r\n"), std::string::npos);
    EXPECT_NE(log.find("] OnStart: panel registry monitor start\r\n"), std::string::npos);
    EXPECT_NE(log.find("] Detect_Notify_Fn: AUO519D, Power Status is AC mode, Now Refresh Rate: "
                       "144 Hz\r\n"),
              std::string::npos);
    // Dual-rate panel: NeedShow, which exists, says so.
    DWORD needShow = 0;
    EXPECT_TRUE(ReadProductValue(L"NeedShow", &needShow));
    EXPECT_EQ(needShow, 1u);
    EXPECT_EQ(agent.Exit(), 0u);
}

// The platform answers start-up's power-setting registrations with each setting's current
// value: the monitor-power notice is a power event after start-up's first decision (the lid's
// is ignored), and it repeats that decision without a second notice to the host.
TEST_F(StartUp, TheMonitorPowerRegistrationIsAnsweredWithAPowerEvent) {
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    ASSERT_TRUE(agent.Start(simAgentPath));
    ASSERT_TRUE(WaitUntil([] {
        return CountInLog("] OnPowerEvent: Power_event end, Receive New Power_event\r\n") == 1;
    })) << ReadLog();
    std::string log = ReadLog();
    size_t firstDecision = log.find("] OnStart: panel registry monitor start\r\n");
    size_t powerEvent = log.find("] OnPowerEvent Power status = 1\r\n");
    ASSERT_NE(firstDecision, std::string::npos) << log;
    ASSERT_NE(powerEvent, std::string::npos) << log;
    EXPECT_LT(firstDecision, powerEvent) << log;
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), 1u);
    EXPECT_EQ(CountInLog("] Detect_Notify_Fn: Power Status = "), 2u);
    EXPECT_TRUE(host.WaitForLine(refhost::NoticeWithMode("1"), 20000));
    EXPECT_FALSE(host.WaitForLine(refhost::StartsWith("notice"), 1000));
}

TEST_F(StartUp, NoInternalPanelMeansNoDecisionAndVerdictZero) {
    simnotebook::SetWmiRows({});
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "0");
    EXPECT_EQ(CountInLog("] detectEDID Fail, BIOS not return EDID.\r\n"), 1u);
    EXPECT_EQ(CountInLog("Detect_Notify_Fn"), 0u);
    bool iconExists = true;
    StateFile(L"Icon.txt", &iconExists);
    EXPECT_FALSE(iconExists);
    EXPECT_FALSE(host.WaitForLine(refhost::StartsWith("notice"), 500));
    // The user's choice is no longer followed, but deleted files are still repaired.
    WriteStateFile(L"OD_Result.txt", "0");
    ASSERT_TRUE(DeleteFileW(notebookfiles::DataPath(L"HWID_Result.txt").c_str()));
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"HWID_Result.txt") == "0"; })) << ReadLog();
    EXPECT_EQ(CountInLog("fsWatcher_OD_Result_Changed"), 0u);
}

// Another user is at the screen when this user's agent starts (a second logon, a remote
// session): the agent identifies the panel and logs what it found, but the shared files, NeedShow
// and the host are the console agent's until this session is the console. A standard user's
// agent, refused the BIOS, finds no overdrive support: it must not tell the console's user so.
TEST_F(StartUp, AnAgentStartedAwayFromTheConsoleLeavesTheSharedFilesAlone) {
    struct Case {
        const char* agent;
        bool refusedBios;
        bool panelNamed;  // WMI names the internal display
        const char* hwid; // both as the console's agent left them
        const char* icon;
        const char* found; // the log line of this agent's own finding
        const char* hwidAtConsole;
        const char* iconAtConsole;
        DWORD needShowAtConsole;
    } cases[] = {
        {"an administrator's agent", false, true, "0", "2",
         "] Is OD Panel, detectEDID = AUO519D\r\n", "1", "1", 1},
        // The rates come from the EDID, with or without the BIOS.
        {"a standard user's agent", true, true, "1", "1",
         "] OD Panel detect Fail, detectEDID = AUO519D\r\n", "0", "2", 1},
        // Without an identified panel there is no icon value and no pair of rates.
        {"an agent that finds no internal display", false, false, "1", "1",
         "] detectEDID Fail, BIOS not return EDID.\r\n", "0", "1", 0},
    };
    DWORD own = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &own));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.agent);
        agent.Terminate();
        notebookfiles::ResetDataFolder();
        WriteStateFile(L"HWID_Result.txt", c.hwid);
        WriteStateFile(L"Icon.txt", c.icon);
        SetNeedShow(0);
        simnotebook::SetConsoleSession(own + 1);
        simnotebook::SetWmiRows(c.panelNamed
                                    ? std::vector<simnotebook::WmiRow>{simnotebook::DefaultWmiRow()}
                                    : std::vector<simnotebook::WmiRow>{});
        simnotebook::ClearRecord();
        ASSERT_TRUE(simbios::RemoveSimBiosValue(simbios::kSimBiosRefuseProcessId));
        ASSERT_TRUE(agent.Start(simAgentPath, true, [&c](DWORD processId) {
            if (c.refusedBios) {
                ASSERT_TRUE(simbios::SetSimBiosValue(simbios::kSimBiosRefuseProcessId, processId));
            }
        }));

        EXPECT_EQ(CountInLog(c.found), 1u) << ReadLog();
        EXPECT_EQ(StateFile(L"HWID_Result.txt"), c.hwid);
        EXPECT_EQ(StateFile(L"Icon.txt"), c.icon);
        DWORD needShow = 7;
        EXPECT_TRUE(ReadProductValue(L"NeedShow", &needShow));
        EXPECT_EQ(needShow, 0u);
        for (const wchar_t* name : {L"lasttimeACDC.txt", L"lasttimeDCRefresh.txt"}) {
            bool exists = true;
            StateFile(name, &exists);
            EXPECT_FALSE(exists) << testing::PrintToString(std::wstring(name));
        }
        EXPECT_EQ(CountModeChanges(), 0u);
        EXPECT_EQ(CountInLog("] Send Message to Helmbay\r\n"), 0u);

        // Its session is the console now: its own findings go to the files.
        simnotebook::SetConsoleSessionSelf();
        agent.Send(WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, static_cast<LPARAM>(own));
        EXPECT_EQ(StateFile(L"HWID_Result.txt"), c.hwidAtConsole);
        EXPECT_EQ(StateFile(L"Icon.txt"), c.iconAtConsole);
        EXPECT_TRUE(ReadProductValue(L"NeedShow", &needShow));
        EXPECT_EQ(needShow, c.needShowAtConsole);
    }
    EXPECT_TRUE(simbios::RemoveSimBiosValue(simbios::kSimBiosRefuseProcessId));
}

// A user who opened the data folder without sharing before the agent started shuts the folder
// watcher out for a while: it says so once, tries again, and follows the choice once the folder
// is let go, without a restart.
TEST_F(StartUp, AWatcherShutOutOfTheDataFolderFollowsTheChoiceOnceItIsLetGo) {
    HANDLE held = CreateFileW(L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane", FILE_LIST_DIRECTORY,
                              0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_TRUE(WaitForLog("] WatchDataFolder: CreateFile error:32\r\n")) << ReadLog();
    EXPECT_EQ(StateFile(L"Icon.txt"), "1");
    WriteStateFile(L"OD_Result.txt", "0");
    CloseHandle(held);
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"Icon.txt") == "0" && !simbios::GetODState(); }))
        << ReadLog();
    WriteStateFile(L"OD_Result.txt", "1");
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"Icon.txt") == "1" && simbios::GetODState(); }))
        << ReadLog();
    EXPECT_EQ(CountInLog("] WatchDataFolder: CreateFile error:"), 1u);
}

// At an early logon WMI may name no internal display yet: it is asked again while the window
// runs, and a late answer gets what start-up gives an identified panel.
TEST_F(StartUp, AnInternalDisplayNamedLateIsIdentifiedThen) {
    simnotebook::SetWmiQueryFails(true);
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "0");
    ASSERT_TRUE(WaitForLog("] Panel identification (retry 1): internal display not found\r\n"))
        << ReadLog();
    simnotebook::SetWmiQueryFails(false);
    // The last-state files come last, after the verdict, the decision, the rates and NeedShow.
    EXPECT_TRUE(WaitUntil([] {
        DWORD needShow = 0;
        bool filesExist = false;
        StateFile(L"lasttimeACDC.txt", &filesExist);
        return filesExist && ReadProductValue(L"NeedShow", &needShow) && needShow == 1;
    })) << ReadLog();
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "1");
    EXPECT_TRUE(simbios::GetODState());
    // Found at the second retry (or a later one on a slow machine), and only once.
    EXPECT_EQ(CountInLog("): internal display AUO519D found\r\n"), 1u);
    EXPECT_EQ(CountInLog("] Is OD Panel, detectEDID = AUO519D\r\n"), 1u);
    // The panel's rates are known now.
    simnotebook::SetACLineStatus(0);
    agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_EQ(CurrentRate(), 60u);
}

// WMI back only after the start retries were spent: the next resume or unlock, sent from
// another thread as the platform sends it, identifies the panel from the message loop (COM
// refuses the query inside the sent message) and overdrive follows the choice from then on.
struct LateOccasion {
    const char* name;
    UINT message;
    WPARAM event;
};

class IdentifiedAtLaterEvent : public AgentTest,
                               public testing::WithParamInterface<LateOccasion> {};

TEST_P(IdentifiedAtLaterEvent, AfterTheStartRetriesWereSpent) {
    const LateOccasion& occasion = GetParam();
    simnotebook::SetWmiQueryFails(true);
    ASSERT_TRUE(agent.Start(simAgentPath));
    ASSERT_TRUE(WaitForLog("] Panel identification (retry 4): internal display not found\r\n"))
        << ReadLog();
    simnotebook::SetWmiQueryFails(false);
    const LPARAM own = static_cast<LPARAM>(agent.SessionId());
    if (occasion.message == WM_WTSSESSION_CHANGE) {
        ASSERT_TRUE(agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, own));
    } else {
        ASSERT_TRUE(agent.Send(WM_POWERBROADCAST, PBT_APMSUSPEND));
    }
    ASSERT_TRUE(agent.Send(occasion.message, occasion.event, own));
    EXPECT_TRUE(WaitUntil([] {
        return StateFile(L"HWID_Result.txt") == "1" && StateFile(L"Icon.txt") == "1" &&
               simbios::GetODState();
    })) << ReadLog();
    EXPECT_EQ(CountInLog(std::string("] Panel identification (") + occasion.name +
                         "): internal display AUO519D found\r\n"),
              1u)
        << ReadLog();
    WriteStateFile(L"OD_Result.txt", "0");
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"Icon.txt") == "0" && !simbios::GetODState(); }))
        << ReadLog();
}

INSTANTIATE_TEST_SUITE_P(
    Occasions, IdentifiedAtLaterEvent,
    testing::Values(LateOccasion{"resume", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND},
                    LateOccasion{"unlock", WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK}),
    [](const testing::TestParamInfo<LateOccasion>& info) { return std::string(info.param.name); });

// Until the platform's session service is up the registration fails: it is tried again while
// the window runs, or the agent would never see a lock or an unlock.
TEST_F(StartUp, ASessionRegistrationRefusedAtLogonIsTriedAgain) {
    simnotebook::SetSessionRegistrationFailures(2);
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_TRUE(WaitForLog("] Session notification retry 2: registered\r\n")) << ReadLog();
    EXPECT_EQ(CountInLog("] OnStart: WTSRegisterSessionNotification failed, error 1702\r\n"), 1u);
    EXPECT_EQ(CountInLog("] Session notification retry 1: failed, error 1702\r\n"), 1u);
    EXPECT_EQ(CountInLog("] Session notification retry "), 2u);
}

TEST_F(StartUp, PanelWithoutOverdriveShowsIconTwo) {
    simbios::SetSimBiosValue(L"SupportAnswer", 0x00010000);
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_TRUE(host.WaitForLine(refhost::NoticeWithMode("2"), 20000));
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "0");
    EXPECT_EQ(CountInLog("] Not OD Panel, detectEDID = AUO519D\r\n"), 1u);
    EXPECT_EQ(CountInLog("] OnStart: isODPanel is No or fail, so not support OD function\r\n"), 1u);
    EXPECT_EQ(CountInLog("Detect_Notify_Fn"), 0u);
}

TEST_F(StartUp, RatesComeFromTheConfigurationFileFirst) {
    // The EDID says 144/60, the file 120/48: the file wins.
    simnotebook::SetModes(0, {{1920, 1080, 32, 120}, {1920, 1080, 32, 48}});
    simnotebook::SetCurrentMode(0, {1920, 1080, 32, 120});
    WritePanelConfig("AF06,519E,1,2\r\nAF06,519D,48,120\r\n");
    ASSERT_TRUE(agent.Start(simAgentPath));
    simnotebook::SetACLineStatus(0);
    agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_EQ(CurrentRate(), 48u);
}

TEST_F(StartUp, RatesComeFromTheEdidWhenTheFileDoesNotListThePanel) {
    WritePanelConfig("E509,0A1B,165,60\r\n");
    ASSERT_TRUE(agent.Start(simAgentPath));
    simnotebook::SetACLineStatus(0);
    agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_EQ(CurrentRate(), 60u);
    EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), "2");
    EXPECT_EQ(StateFile(L"lasttimeDCRefresh.txt"), "1");
}

TEST_F(StartUp, SingleRatePanelLeavesTheRateAloneAndNeedShowZero) {
    WritePanelConfig("AF06,519D,60,62\r\n");
    SetNeedShow(1);
    ASSERT_TRUE(agent.Start(simAgentPath));
    DWORD needShow = 7;
    EXPECT_TRUE(ReadProductValue(L"NeedShow", &needShow));
    EXPECT_EQ(needShow, 0u);
    simnotebook::ClearRecord();
    simnotebook::SetACLineStatus(0);
    agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_EQ(CountModeChanges(), 0u);
    EXPECT_EQ(CurrentRate(), 144u);
}

TEST_F(StartUp, NeedShowIsNeverCreated) {
    DeleteProductValue(L"NeedShow");
    ASSERT_TRUE(agent.Start(simAgentPath));
    DWORD needShow = 0;
    EXPECT_FALSE(ReadProductValue(L"NeedShow", &needShow));
}

TEST_F(StartUp, ASecondInstanceDecidesOnceAndLeaves) {
    ASSERT_TRUE(agent.Start(simAgentPath));
    AgentProcess second;
    ASSERT_TRUE(second.Start(simAgentPath, false));
    EXPECT_EQ(second.WaitForExit(), 0u);
    EXPECT_EQ(CountInLog("] OnStart: panel registry monitor start\r\n"), 2u);
    // The first one still runs.
    EXPECT_EQ(WaitForSingleObject(agent.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// CreateMutexW's real answers in the situations a starting agent can meet, as the agent reads
// them. An elevated instance's mutex stands out only here: it exists, but may not be opened.
TEST(SingleInstance, MutexAnswersMeanWhatTheAgentTakesThemFor) {
    SECURITY_ATTRIBUTES nobody = {sizeof nobody, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:", SDDL_REVISION_1, &nobody.lpSecurityDescriptor, nullptr));
    HANDLE instance = CreateMutexW(nullptr, TRUE, L"LumivaneTestInstance");
    HANDLE guarded = CreateMutexW(&nobody, TRUE, L"LumivaneTestGuarded");
    HANDLE other = CreateEventW(nullptr, TRUE, FALSE, L"LumivaneTestOtherKind");
    LocalFree(nobody.lpSecurityDescriptor);
    ASSERT_NE(nullptr, instance);
    ASSERT_NE(nullptr, guarded);
    ASSERT_NE(nullptr, other);

    struct MutexCase {
        const char* situation;
        const wchar_t* name;
        bool anotherInstance;
    };
    const MutexCase cases[] = {
        {"no object of that name", L"LumivaneTestFree", false},
        {"a running instance's mutex", L"LumivaneTestInstance", true},
        {"a mutex this process may not open", L"LumivaneTestGuarded", true},
        {"an object of another kind", L"LumivaneTestOtherKind", false},
    };
    for (const MutexCase& testCase : cases) {
        SCOPED_TRACE(testCase.situation);
        SetLastError(0xdeadbeef);
        HANDLE created = CreateMutexW(nullptr, TRUE, testCase.name);
        const DWORD error = GetLastError();
        EXPECT_EQ(testCase.anotherInstance, AnotherInstanceHoldsMutex(created, error))
            << "CreateMutexW gave " << created << ", error " << error;
        if (created != nullptr) {
            CloseHandle(created);
        }
    }
    CloseHandle(other);
    CloseHandle(guarded);
    CloseHandle(instance);
}

TEST_F(StartUp, BothLastStateFilesPresentAreRestoredAndRewritten) {
    // On battery the user had kept the high rate: it stays.
    simnotebook::SetACLineStatus(0);
    WriteStateFile(L"lasttimeACDC.txt", "2");
    WriteStateFile(L"lasttimeDCRefresh.txt", "2");
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(CurrentRate(), 144u);
    EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), "2");
    EXPECT_EQ(StateFile(L"lasttimeDCRefresh.txt"), "2");
}

TEST_F(StartUp, LastStateFilesAreCreatedOnlyWhenBothAreMissing) {
    // A single-rate panel: nothing but the creation step touches the files.
    WritePanelConfig("AF06,519D,144,144\r\n");
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), "1");
    // The panel starts at its (only) low rate.
    EXPECT_EQ(StateFile(L"lasttimeDCRefresh.txt"), "1");
    agent.Terminate();

    DeleteFileW(notebookfiles::DataPath(L"lasttimeDCRefresh.txt").c_str());
    ASSERT_TRUE(agent.Start(simAgentPath));
    bool exists = true;
    StateFile(L"lasttimeDCRefresh.txt", &exists);
    EXPECT_FALSE(exists);
}

TEST_F(StartUp, MenuCommandExitEndsTheProcessWithZero) {
    ASSERT_TRUE(agent.Start(simAgentPath));
    EXPECT_EQ(agent.Exit(), 0u);
}

// The production build on Wine's own machine: Wine lists no internal display.
TEST_F(StartUp, ProductionBuildTakesTheNoPanelPathOnWine) {
    ASSERT_TRUE(agent.Start(realAgentPath));
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), "0");
    EXPECT_EQ(CountInLog("] detectEDID Fail, BIOS not return EDID.\r\n"), 1u);
    DeleteFileW(notebookfiles::DataPath(L"HWID_Result.txt").c_str());
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"HWID_Result.txt") == "0"; }));
    EXPECT_EQ(agent.Exit(), 0u);
}

} // namespace e2e
