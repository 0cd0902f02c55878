// Power, session, display and device notifications reaching a running agent.
#include "common/fixed_paths.h"
#include "tests/events/agent_fixture.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <wtsapi32.h>

namespace e2e {

namespace {

class Running : public AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        ASSERT_TRUE(agent.Start(simAgentPath));
    }
    void PowerSource(uint8_t acLineStatus) {
        simnotebook::SetACLineStatus(acLineStatus);
        agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    }
    static void ExpectLastState(const char* acdc, const char* dcRefresh) {
        EXPECT_EQ(StateFile(L"lasttimeACDC.txt"), acdc);
        EXPECT_EQ(StateFile(L"lasttimeDCRefresh.txt"), dcRefresh);
    }
};

// Every notice the host has printed; all sent so far are printed once it answers a command.
std::vector<std::string> AllNotices(refhost::RefHostProcess& host) {
    host.Send("get");
    EXPECT_TRUE(host.WaitForLine(refhost::StartsWith("get mode="), 20000));
    std::vector<std::string> notices;
    for (const std::string& line : host.Lines()) {
        if (line.rfind("notice ", 0) == 0) {
            notices.push_back(line);
        }
    }
    return notices;
}

} // namespace

TEST_F(Running, UnplugAndReplugFollowThePowerSource) {
    PowerSource(0);
    EXPECT_EQ(CurrentRate(), 60u);
    ExpectLastState("2", "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
    EXPECT_FALSE(simbios::GetODState());
    // Twice: the platform's display change, handled inside the switch to 60 Hz, is a power
    // event of its own before the power change's.
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = 0\r\n"), 2u);

    PowerSource(1);
    EXPECT_EQ(CurrentRate(), 144u);
    ExpectLastState("1", "2");
    EXPECT_EQ(StateFile(L"Icon.txt"), "1");
    EXPECT_TRUE(simbios::GetODState());
}

// A charger that bounces: the second change arrives inside the agent's rate switch for the
// first (the platform delivers it during the display-change broadcast). The notebook must end
// as if only the final source had been seen; the host hears the first change's icon on the
// way, from the display change inside the first switch.
TEST_F(Running, APowerChangeInsideTheRateSwitchHasTheLastWord) {
    struct Case {
        const char* bounce;
        uint8_t from;  // the source the agent settles on first
        uint8_t first; // the change it handles
        uint8_t inner; // the change delivered inside its rate switch
        bool locked;
        uint32_t rate;
        bool overdrive;
        const char* icon;
        const char* acdc; // "x": not recorded
        const char* dcRefresh;
        size_t notices;
        size_t modeChanges;
    } cases[] = {
        {"AC, battery, AC", 1, 0, 1, false, 144, true, "1", "1", "2", 2, 2},
        {"AC, battery, AC", 1, 0, 1, true, 144, true, "1", "x", "x", 2, 2},
        {"battery, AC, battery", 0, 1, 0, false, 60, false, "2", "2", "1", 2, 2},
        {"battery, AC, battery", 0, 1, 0, true, 60, false, "2", "x", "x", 2, 2},
        // The same source again: the change is not noted, nothing differs from one event.
        {"AC, battery, battery", 1, 0, 0, false, 60, false, "2", "2", "1", 1, 1},
    };
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    // One agent for all rows (every start is a chance for Wine to refuse a process under load):
    // each row begins where the previous one ended, brought to its start by ordinary events.
    const LPARAM own = static_cast<LPARAM>(agent.SessionId());
    bool locked = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bounce << (c.locked ? ", locked" : ""));
        if (locked) {
            agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, own);
        }
        if (simnotebook::GetACLineStatus() != c.from) {
            PowerSource(c.from);
        }
        ASSERT_EQ(CurrentRate(), c.from == 1 ? 144u : 60u);
        locked = c.locked;
        if (locked) {
            agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, own);
        }
        WriteStateFile(L"lasttimeACDC.txt", "x");
        WriteStateFile(L"lasttimeDCRefresh.txt", "x");
        const size_t noticesBefore = AllNotices(host).size();
        simnotebook::ClearRecord();

        simnotebook::ArmPowerDuringNextModeChange(c.inner);
        PowerSource(c.first);

        uint8_t armed = 0;
        EXPECT_FALSE(simnotebook::GetPowerDuringNextModeChange(&armed)) << "the double fired";
        EXPECT_EQ(simnotebook::GetACLineStatus(), c.inner);
        EXPECT_EQ(CurrentRate(), c.rate);
        EXPECT_EQ(simbios::GetODState(), c.overdrive);
        EXPECT_EQ(StateFile(L"Icon.txt"), c.icon);
        ExpectLastState(c.acdc, c.dcRefresh);
        std::vector<std::string> notices = AllNotices(host);
        EXPECT_EQ(notices.size() - noticesBefore, c.notices) << ReadLog();
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(refhost::LineField(notices.back(), "lparam"), c.icon);
        EXPECT_EQ(refhost::LineField(notices.back(), "mode"), c.icon);
        // The interrupted switch neither tries its target again nor waits: only the newest
        // switch waits for the panel.
        EXPECT_EQ(CountModeChanges(), c.modeChanges);
        size_t waits = 0;
        for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
            waits += event.kind == simnotebook::EventKind::Delay && event.milliseconds == 3000;
        }
        EXPECT_EQ(waits, 1u);
    }
    host.Stop();
}

TEST_F(Running, WithRefreshFlagZeroTheRateStaysButTheFilesFollowTheFixedRule) {
    // Set before the agent starts: a change while it runs is posted by its watcher, and one
    // handled after the power change below would record by its own rule.
    agent.Terminate();
    SetRefreshFlag(0);
    ASSERT_TRUE(agent.Start(simAgentPath));
    PowerSource(0);
    EXPECT_EQ(CurrentRate(), 144u);
    ExpectLastState("2", "1");
    PowerSource(1);
    ExpectLastState("1", "2");
    // An unknown line status counts as battery.
    PowerSource(255);
    ExpectLastState("2", "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
}

TEST_F(Running, APowerChangeWhileSuspendedIsActedOnAtResume) {
    agent.Send(WM_POWERBROADCAST, PBT_APMSUSPEND);
    PowerSource(0);
    EXPECT_EQ(CurrentRate(), 144u);
    ExpectLastState("1", "2");
    // Resume form: the last state was AC, so the low rate on battery.
    agent.Send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    EXPECT_EQ(CurrentRate(), 60u);
    ExpectLastState("2", "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
    // Counted once: coming back to AC now switches again.
    PowerSource(1);
    EXPECT_EQ(CurrentRate(), 144u);
}

TEST_F(Running, ResumeFormReadsTheRecordedState) {
    struct Case {
        uint8_t ac;
        const char* acdc;
        const char* dcRefresh;
        uint32_t rate;
    } cases[] = {
        {0, "x", "1", 60}, {0, "x", "2", 144}, {0, "1", "2", 60},
        {1, "1", "1", 60}, {1, "2", "1", 144},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "ac " << int(c.ac) << " files " << c.acdc << c.dcRefresh);
        simnotebook::SetCurrentMode(0, {1920, 1080, 32, c.rate == 60 ? 144u : 60u});
        simnotebook::SetACLineStatus(c.ac);
        WriteStateFile(L"lasttimeACDC.txt", c.acdc);
        WriteStateFile(L"lasttimeDCRefresh.txt", c.dcRefresh);
        agent.Send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
        EXPECT_EQ(CurrentRate(), c.rate);
    }
}

TEST_F(Running, LockedSessionSwitchesTheRateButRecordsAfterUnlock) {
    const LPARAM own = static_cast<LPARAM>(agent.SessionId());
    // Another user's session locking is not this one's lock: recording goes on.
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, own + 1);
    PowerSource(0);
    ExpectLastState("2", "1");
    PowerSource(1);
    ExpectLastState("1", "2");

    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, own);
    PowerSource(0);
    EXPECT_EQ(CurrentRate(), 60u);
    ExpectLastState("1", "2");
    size_t decisions = CountInLog("] Detect_Notify_Fn: Power Status = ");
    // Nor does another session's unlock end this one's lock.
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, own + 1);
    ExpectLastState("1", "2");
    EXPECT_EQ(CountInLog("] Detect_Notify_Fn: Power Status = "), decisions);
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, own);
    ExpectLastState("2", "1");
    EXPECT_EQ(CurrentRate(), 60u);
    EXPECT_EQ(CountInLog("] Detect_Notify_Fn: Power Status = "), decisions + 1);
}

// Another user is at the screen: that user's agent serves the panel, this one touches nothing
// until its own session is the console again, and then catches up as after an unlock.
TEST_F(Running, AwayFromTheConsoleNothingIsDoneUntilTheSessionIsBack) {
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    const DWORD own = agent.SessionId();
    ASSERT_NE(own, 0xFFFFFFFFu);
    const std::string acdc = StateFile(L"lasttimeACDC.txt");
    const std::string dcRefresh = StateFile(L"lasttimeDCRefresh.txt");
    const std::string hwid = StateFile(L"HWID_Result.txt");
    const size_t decisions = CountInLog("] Detect_Notify_Fn: Power Status = ");
    const size_t notices = CountInLog("] Send Message to Helmbay\r\n");
    simnotebook::SetConsoleSession(own + 1);
    simnotebook::ClearRecord();
    simbios::ClearRequests();

    PowerSource(0);
    host.Send("set 0");
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("set 0 -> 1"), 20000));
    ASSERT_TRUE(WaitForLog("] fsWatcher_OD_Result_Changed: session "));
    SetRefreshFlag(0);
    ASSERT_TRUE(WaitForLog("] WM_REFRESHFLAG_CHANGED: session "));
    SetRefreshFlag(1);
    ASSERT_TRUE(WaitForLog("] WM_REFRESHFLAG_CHANGED: session ", 2));
    ASSERT_TRUE(DeleteFileW(notebookfiles::DataPath(L"Icon.txt").c_str()));
    ASSERT_TRUE(WaitForLog("] fsWatcher_Icon_Deleted: session "));

    EXPECT_EQ(CountModeChanges(), 0u);
    for (const simbios::Request& request : simbios::ReadRequests()) {
        EXPECT_NE(request.method, simbios::kDEVS) << "a BIOS set request";
    }
    EXPECT_TRUE(simbios::GetODState());
    bool iconExists = true;
    StateFile(L"Icon.txt", &iconExists);
    EXPECT_FALSE(iconExists);
    ExpectLastState(acdc.c_str(), dcRefresh.c_str());
    EXPECT_EQ(StateFile(L"HWID_Result.txt"), hwid);
    EXPECT_EQ(CountInLog("] Detect_Notify_Fn: Power Status = "), decisions);
    EXPECT_EQ(CountInLog("] Send Message to Helmbay\r\n"), notices);

    simnotebook::SetConsoleSessionSelf();
    agent.Send(WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, static_cast<LPARAM>(own));
    EXPECT_EQ(CurrentRate(), 60u);
    ExpectLastState("2", "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
    EXPECT_FALSE(simbios::GetODState());
    EXPECT_TRUE(host.WaitForLine(refhost::NoticeWithMode("2"), 20000).has_value());
    // The power source it saw last was taken afresh: back on AC the panel follows, with the
    // choice written while away.
    PowerSource(1);
    EXPECT_EQ(CurrentRate(), 144u);
    ExpectLastState("1", "2");
    EXPECT_EQ(StateFile(L"Icon.txt"), "0");
    EXPECT_FALSE(simbios::GetODState());
    host.Stop();
}

// Meanwhile another user's agent wrote the shared files from its own view (a standard user's
// agent, refused the BIOS, says "no overdrive panel") and told its own host. Back at the
// console this agent puts its own findings there at once and tells its host once, whether the
// return comes with the console's connection or with the first unlock at the console.
TEST_F(Running, BackAtTheConsoleItsOwnFindingsReplaceAnotherAgentsFiles) {
    struct Step {
        WPARAM event;
        LPARAM sessionOffset; // from the agent's own session
    };
    struct Case {
        const char* way;
        std::vector<Step> away;
        std::vector<Step> back;
        bool anotherAgent; // the console went to another session, whose agent wrote the files
        size_t notices;
    } cases[] = {
        {"the console connects to this session, then the session is unlocked",
         {{WTS_SESSION_LOCK, 0}, {WTS_CONSOLE_DISCONNECT, 0}, {WTS_CONSOLE_CONNECT, 1}},
         {{WTS_CONSOLE_CONNECT, 0}, {WTS_SESSION_UNLOCK, 0}},
         true,
         1},
        {"the session is unlocked at the console",
         {{WTS_SESSION_LOCK, 0}, {WTS_CONSOLE_CONNECT, 1}},
         {{WTS_SESSION_UNLOCK, 0}},
         true,
         1},
        // No console notice reached the agent (its session registration was late, say): the
        // files it finds at the unlock are not the ones it wrote.
        {"unheard of, the session is unlocked at the console",
         {{WTS_SESSION_LOCK, 0}},
         {{WTS_SESSION_UNLOCK, 0}},
         true,
         1},
        {"the session locks and unlocks at the console",
         {{WTS_SESSION_LOCK, 0}},
         {{WTS_SESSION_UNLOCK, 0}},
         false,
         0},
    };
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    const DWORD own = agent.SessionId();
    ASSERT_NE(own, 0xFFFFFFFFu);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        ASSERT_EQ(StateFile(L"Icon.txt"), "1");
        if (c.anotherAgent) {
            simnotebook::SetConsoleSession(own + 1);
        }
        for (const Step& step : c.away) {
            agent.Send(WM_WTSSESSION_CHANGE, step.event, own + step.sessionOffset);
        }
        if (c.anotherAgent) {
            WriteStateFile(L"HWID_Result.txt", "0");
            WriteStateFile(L"Icon.txt", "2");
        }
        const size_t noticesBefore = AllNotices(host).size();

        simnotebook::SetConsoleSessionSelf();
        for (const Step& step : c.back) {
            agent.Send(WM_WTSSESSION_CHANGE, step.event, own + step.sessionOffset);
        }
        EXPECT_EQ(StateFile(L"HWID_Result.txt"), "1");
        EXPECT_EQ(StateFile(L"Icon.txt"), "1");
        std::vector<std::string> notices = AllNotices(host);
        EXPECT_EQ(notices.size() - noticesBefore, c.notices) << ReadLog();
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(refhost::LineField(notices.back(), "mode"), "1");
    }
    host.Stop();
}

// The logon of this session restores the start form; another user's logon or logoff (a second
// user, a remote session) is that user's and leaves the rate and the recorded state alone.
TEST_F(Running, StartFormAtLogonKeepsTheUsersLowRateOnAC) {
    const LPARAM own = static_cast<LPARAM>(agent.SessionId());
    WriteStateFile(L"lasttimeACDC.txt", "1");
    WriteStateFile(L"lasttimeDCRefresh.txt", "1");
    simnotebook::ClearRecord();
    const size_t decisions = CountInLog("] Detect_Notify_Fn: Power Status = ");
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, own + 1);
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGOFF, own + 1);
    EXPECT_EQ(CountModeChanges(), 0u);
    ExpectLastState("1", "1");
    EXPECT_EQ(CountInLog("] Detect_Notify_Fn: Power Status = "), decisions);
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, own);
    EXPECT_EQ(CurrentRate(), 60u);
    // Battery, last state "x": the start form changes nothing.
    simnotebook::SetACLineStatus(0);
    simnotebook::SetCurrentMode(0, {1920, 1080, 32, 144});
    WriteStateFile(L"lasttimeACDC.txt", "x");
    WriteStateFile(L"lasttimeDCRefresh.txt", "1");
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, own);
    EXPECT_EQ(CurrentRate(), 144u);
}

TEST_F(Running, DisplayChangeRecordsWithoutSwitching) {
    simnotebook::SetCurrentMode(0, {1920, 1080, 32, 60});
    simnotebook::ClearRecord();
    agent.Send(WM_DISPLAYCHANGE);
    EXPECT_EQ(CountModeChanges(), 0u);
    ExpectLastState("1", "1");
    // 60 Hz: overdrive refused for the rate.
    EXPECT_EQ(StateFile(L"Icon.txt"), "2");
}

TEST_F(Running, ASecondMonitorOnACPutsThePanelAtItsHighRate) {
    simnotebook::SetCurrentMode(0, {1920, 1080, 32, 60});
    simnotebook::ClearRecord();
    agent.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED);
    EXPECT_EQ(CountModeChanges(), 0u); // the count did not change
    simnotebook::SetActiveDisplayCount(2);
    agent.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED);
    EXPECT_EQ(CurrentRate(), 144u);
    ExpectLastState("1", "2");
}

TEST_F(Running, RefreshFlagChangesMatterOnBatteryOnly) {
    PowerSource(0);
    ASSERT_EQ(CurrentRate(), 60u);
    SetRefreshFlag(0);
    EXPECT_TRUE(WaitUntil([] { return CurrentRate() == 144u; }));
    // Written with the platform's own tool this time.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring command = L"reg.exe add \"HKLM\\" + std::wstring(kProductKeyPath) +
                           L"\" /v RefreshFlag /t REG_DWORD /d 1 /f";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &info));
    WaitForSingleObject(info.hProcess, 20000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    EXPECT_TRUE(WaitUntil([] { return CurrentRate() == 60u; }));
    // Recorded: the handler has left its switch, inside which a sent message would nest.
    EXPECT_TRUE(WaitUntil([] { return StateFile(L"lasttimeDCRefresh.txt") == "1"; }));

    // On AC a change of the flag does nothing.
    PowerSource(1);
    ASSERT_EQ(CurrentRate(), 144u);
    simnotebook::ClearRecord();
    SetRefreshFlag(0);
    SetRefreshFlag(1);
    agent.Send(WM_NULL); // anything posted meanwhile has been handled before this returns
    EXPECT_EQ(CountModeChanges(), 0u);
}

TEST_F(Running, SameValueWritePostsNothing) {
    PowerSource(0);
    ASSERT_EQ(CurrentRate(), 60u);
    simnotebook::ClearRecord();
    SetRefreshFlag(1); // the same value
    SetNeedShow(1);    // another value under the key
    SetRefreshFlag(0); // a change: exactly one message
    ASSERT_TRUE(WaitUntil([] { return CurrentRate() == 144u; }));
    // The window answers sent messages inside the switch (the platform's display-change
    // broadcast waits), so a sent message proves nothing until the handler has recorded.
    ASSERT_TRUE(WaitUntil([] { return StateFile(L"lasttimeDCRefresh.txt") == "2"; }));
    agent.Send(WM_NULL);
    size_t recordings = 0;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        recordings += event.kind == simnotebook::EventKind::Delay && event.milliseconds == 3000;
    }
    EXPECT_EQ(recordings, 1u);
    EXPECT_EQ(CountModeChanges(), 1u);
}

TEST_F(Running, AnAutomaticResumeAloneIsNoPowerEvent) {
    // A remote wake: the suspend ends without the user's PBT_APMRESUMESUSPEND.
    agent.Send(WM_POWERBROADCAST, PBT_APMSUSPEND);
    size_t before = CountInLog("] OnPowerEvent Power status = ");
    simnotebook::ClearRecord();
    agent.Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), before);
    EXPECT_EQ(CountModeChanges(), 0u); // no restore either
    agent.Send(WM_DISPLAYCHANGE);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), before + 1);
    // The panel follows the power source again.
    PowerSource(0);
    EXPECT_EQ(CurrentRate(), 60u);
    ExpectLastState("2", "1");
}

namespace {

uint32_t AdapterRate(size_t adapter) {
    simnotebook::Mode mode;
    return simnotebook::GetCurrentMode(adapter, &mode) ? mode.frequency : 0;
}

// The panel on adapter 1; adapter 0 drives an external monitor at 75 Hz that also lists 60 Hz.
class PanelOnSecondAdapter : public Running {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        simnotebook::SetPanelAdapter(1);
        ASSERT_TRUE(agent.Start(simAgentPath));
    }
};

} // namespace

TEST_F(PanelOnSecondAdapter, RatesAreReadAndSwitchedOnThePanelsAdapterOnly) {
    simnotebook::ClearRecord();
    PowerSource(0);
    EXPECT_EQ(AdapterRate(1), 60u);
    PowerSource(1);
    EXPECT_EQ(AdapterRate(1), 144u);
    EXPECT_EQ(AdapterRate(0), 75u);
    size_t changes = 0;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        if (event.kind == simnotebook::EventKind::ModeChange) {
            ++changes;
            EXPECT_EQ(event.adapter, 1);
        }
    }
    EXPECT_EQ(changes, 2u);
    // Recorded from the panel's rate, not from the external monitor's.
    simnotebook::SetCurrentMode(1, {1920, 1080, 32, 60});
    agent.Send(WM_DISPLAYCHANGE);
    ExpectLastState("1", "1");
    EXPECT_EQ(StateFile(L"Icon.txt"), "2"); // 60 Hz: no overdrive
}

// Docked with the lid closed: the panel is attached but not active.
TEST_F(PanelOnSecondAdapter, WithThePanelDarkNothingIsSwitchedOrRecorded) {
    agent.Terminate();
    notebookfiles::ResetDataFolder();
    simnotebook::SetPanelAdapter(1);
    std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
    adapters[1].monitors[0].stateFlags = DISPLAY_DEVICE_ATTACHED;
    simnotebook::SetMonitors(1, adapters[1].monitors);
    ASSERT_TRUE(agent.Start(simAgentPath));
    bool exists = true;
    StateFile(L"lasttimeACDC.txt", &exists);
    EXPECT_FALSE(exists); // start-up had no panel rate to create them from
    WriteStateFile(L"lasttimeACDC.txt", "1");
    WriteStateFile(L"lasttimeDCRefresh.txt", "2");
    simnotebook::ClearRecord();
    PowerSource(0);
    agent.Send(WM_DISPLAYCHANGE);
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK);
    simnotebook::SetActiveDisplayCount(3); // a device event with a new monitor count
    agent.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED);
    EXPECT_EQ(CountModeChanges(), 0u);
    EXPECT_EQ(AdapterRate(0), 75u);
    ExpectLastState("1", "2");
    EXPECT_GE(CountInLog("] RecordLastPowerState: panel not active, last state kept\r\n"), 3u);
}

} // namespace e2e
