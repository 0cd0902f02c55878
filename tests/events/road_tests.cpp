// The road of one request: the control-centre application turns overdrive off through the
// plug-in, the agent's watcher runs the cycle, the BIOS switches, the host hears of it.
#include "tests/events/agent_fixture.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

namespace e2e {

using Road = AgentTest;

TEST_F(Road, TheUserTurnsOverdriveOffAndOnThroughThePlugIn) {
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {L"--plugin", pluginPath}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), 20000));
    ASSERT_TRUE(agent.Start(simAgentPath));
    ASSERT_TRUE(host.WaitForLine(refhost::NoticeWithMode("1"), 20000));
    ASSERT_TRUE(simbios::GetODState());
    simbios::ClearRequests();

    host.Send("set 0");
    EXPECT_TRUE(host.WaitForLine(refhost::StartsWith("set 0 -> 1"), 20000));
    auto notice = host.WaitForLine(refhost::NoticeWithMode("0"), 20000);
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(StateFile(L"Icon.txt"), "0");
    EXPECT_FALSE(simbios::GetODState());
    bool switchedOff = false;
    for (const simbios::Request& request : simbios::ReadRequests()) {
        switchedOff = switchedOff || (request.method == simbios::kDEVS &&
                                      request.device == 0x00050019 && request.state == 0);
    }
    EXPECT_TRUE(switchedOff);
    EXPECT_NE(ReadLog().find("] fsWatcher_OD_Result_Changed ++\r\n"), std::string::npos);

    // And back on: the next change is not swallowed by the duplicate skip.
    host.Send("set 1");
    EXPECT_TRUE(host.WaitForLine(refhost::NoticeWithMode("1"), 20000));
    EXPECT_TRUE(simbios::GetODState());
    host.Stop();
}

} // namespace e2e
