// A few thousand mixed events against a running agent: nothing it allocates per event may
// stay behind. Wine reports neither handle counts nor private bytes, so the probes are the
// value of a handle freshly opened in the agent (it grows when handles leak) and the working
// set.
#include "tests/events/agent_fixture.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <dbt.h>
#include <wtsapi32.h>

namespace e2e {

namespace {

constexpr int kRounds = 400; // each round sends five events

uintptr_t FreshHandleValue(HANDLE agentProcess) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE remote = nullptr;
    DuplicateHandle(GetCurrentProcess(), event, agentProcess, &remote, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    uintptr_t value = reinterpret_cast<uintptr_t>(remote);
    DuplicateHandle(agentProcess, remote, nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
    CloseHandle(event);
    return value;
}

SIZE_T WorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return counters.WorkingSetSize;
}

} // namespace

using Soak = AgentTest;

TEST_F(Soak, ThousandsOfEventsLeaveNothingBehind) {
    ASSERT_TRUE(agent.Start(simAgentPath));
    auto round = [&](int i) {
        simnotebook::SetACLineStatus(i % 2 == 0 ? 0 : 1);
        agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
        agent.Send(WM_DISPLAYCHANGE);
        agent.Send(WM_WTSSESSION_CHANGE, i % 2 == 0 ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK);
        simnotebook::SetActiveDisplayCount(i % 3 == 0 ? 2 : 1);
        agent.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED);
        WriteStateFile(L"OD_Result.txt", i % 4 < 2 ? "0" : "1");
        agent.Send(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    };
    // Warm up: first-time allocations of the runtime and the platform are not leaks.
    for (int i = 0; i < 40; ++i) {
        round(i);
    }
    uintptr_t handleBefore = FreshHandleValue(agent.Process());
    SIZE_T workingSetBefore = WorkingSet(agent.Process());
    for (int i = 0; i < kRounds; ++i) {
        round(i);
    }
    uintptr_t handleAfter = FreshHandleValue(agent.Process());
    SIZE_T workingSetAfter = WorkingSet(agent.Process());
    std::printf("fresh handle %#llx -> %#llx, working set %zu KiB -> %zu KiB\n",
                static_cast<unsigned long long>(handleBefore),
                static_cast<unsigned long long>(handleAfter), workingSetBefore / 1024,
                workingSetAfter / 1024);
    // A leak of one handle per event would move the value by thousands of slots.
    EXPECT_LE(handleAfter, handleBefore + 16 * 4);
    EXPECT_LE(workingSetAfter, workingSetBefore + 2 * 1024 * 1024);
    EXPECT_EQ(agent.Exit(), 0u);
}

} // namespace e2e
