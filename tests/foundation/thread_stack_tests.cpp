#include "common/thread_stack.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstddef>

namespace {

constexpr size_t kDeepBytes = 512 * 1024;
constexpr size_t kFrameBytes = 8 * 1024;

// A deep call, as the panel's identification makes during start-up.
char TouchDeepStack() {
    volatile char deep[kDeepBytes];
    for (size_t i = 0; i < kDeepBytes; i += kStackPageSize) {
        deep[i] = 1;
    }
    return deep[0];
}

size_t WorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.WorkingSetSize
               : 0;
}

struct StackProbe {
    size_t afterDeepCall = 0;
    size_t afterRelease = 0;
    bool frameKept = false;
};

unsigned char FramePattern(size_t i) {
    return static_cast<unsigned char>(i * 7 + 1);
}

DWORD WINAPI ReleaseAfterDeepCall(void* parameter) {
    auto* probe = static_cast<StackProbe*>(parameter);
    volatile unsigned char frame[kFrameBytes];
    for (size_t i = 0; i < kFrameBytes; ++i) {
        frame[i] = FramePattern(i);
    }
    // Through a pointer, so that the deep array is never part of this frame.
    char (*volatile deepCall)() = TouchDeepStack;
    (void)deepCall();
    probe->afterDeepCall = WorkingSet();
    ReleaseStackBelowFrame();
    probe->afterRelease = WorkingSet();
    probe->frameKept = true;
    for (size_t i = 0; i < kFrameBytes; ++i) {
        probe->frameKept = probe->frameKept && frame[i] == FramePattern(i);
    }
    return 0;
}

} // namespace

TEST(ThreadStack, HandsBackWhatLiesBelowTheFrameAndKeepsTheFrame) {
    StackProbe probe;
    HANDLE thread = CreateThread(nullptr, 0, ReleaseAfterDeepCall, &probe, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    CloseHandle(thread);

    EXPECT_TRUE(probe.frameKept);
    ASSERT_GT(probe.afterDeepCall, probe.afterRelease);
    EXPECT_GE(probe.afterDeepCall - probe.afterRelease, kDeepBytes / 2);
}
