// Power, session, display and device notifications reaching a running agent.
#include "tests/events/agent_fixture.h"
#include "tests/support/test_support.h"
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
    ASSERT_TRUE(DeleteFileW(testsupport::DataPath(L"Icon.txt").c_str()));
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

TEST_F(Running, StartFormAtLogonKeepsTheUsersLowRateOnAC) {
    WriteStateFile(L"lasttimeACDC.txt", "1");
    WriteStateFile(L"lasttimeDCRefresh.txt", "1");
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON);
    EXPECT_EQ(CurrentRate(), 60u);
    // Battery, last state "x": the start form changes nothing.
    simnotebook::SetACLineStatus(0);
    simnotebook::SetCurrentMode(0, {1920, 1080, 32, 144});
    WriteStateFile(L"lasttimeACDC.txt", "x");
    WriteStateFile(L"lasttimeDCRefresh.txt", "1");
    agent.Send(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON);
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
    std::wstring command =
        L"reg.exe add "
        L"\"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
        L"{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}\" /v RefreshFlag /t REG_DWORD /d 1 /f";
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
    size_t before = CountInLog("] OnPowerEvent Power status = ");
    agent.Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), before);
    agent.Send(WM_DISPLAYCHANGE);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), before + 1);
}

} // namespace e2e
