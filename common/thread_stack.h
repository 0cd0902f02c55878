// Hands back the pages of the calling thread's stack that lie below the running frame. Nothing
// there will be read again, and a thread that waits for months should not keep pages its start
// touched: Wine's thread start zeroes 960 KiB of every new stack, and on Windows the pages
// start-up's deeper calls committed stay in the working set until the system trims it. The
// pages stay committed; touched again, they read as zero or as their old contents, either of
// which is fine for memory below the stack pointer.
//
// Header only, like owners.h: the agent and the simulated notebook's threads both use it.
#pragma once

#include <windows.h>

#include <cstdint>

// Left in place below the caller's local: room for the rest of the caller's frame and for the
// frames of the two calls made here. The agent's frames are far smaller.
constexpr uintptr_t kStackKeptBelowFrame = 16 * 1024;
constexpr uintptr_t kStackPageSize = 4096;

inline void ReleaseStackBelowFrame() {
    volatile char frameMarker = 0;
    const auto here = reinterpret_cast<uintptr_t>(&frameMarker);
    if (here < kStackKeptBelowFrame) {
        return;
    }
    const uintptr_t end = (here - kStackKeptBelowFrame) & ~(kStackPageSize - 1);
    ULONG_PTR lowest = 0;
    ULONG_PTR highest = 0;
    GetCurrentThreadStackLimits(&lowest, &highest);
    // Up from the bottom of the reservation past what is not committed and writable (the
    // reserved pages and the guard page on Windows, Wine's two guard pages) to the run of
    // committed pages that reaches up through this frame.
    uintptr_t first = lowest;
    MEMORY_BASIC_INFORMATION run = {};
    while (first < end && VirtualQuery(reinterpret_cast<void*>(first), &run, sizeof run) != 0 &&
           (run.State != MEM_COMMIT || run.Protect != PAGE_READWRITE)) {
        first = reinterpret_cast<uintptr_t>(run.BaseAddress) + run.RegionSize;
    }
    if (first < end) {
        // A failure only leaves the pages where they are.
        (void)VirtualAlloc(reinterpret_cast<void*>(first), end - first, MEM_RESET, PAGE_READWRITE);
    }
}
