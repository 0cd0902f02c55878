// The shared ring in which the benchmark's build of the agent (LumivaneBench) records its time
// marks and Bench.exe reads them. Both sides take the performance counter, which is one clock
// for every process of the machine, so a mark can be set against the bench's own moments.
#pragma once

#include "agent/state/time_marks.h"

#include <windows.h>

#include <cstdint>

namespace bench {

inline constexpr wchar_t kTimeMarkRingName[] = L"Local\\LumivaneBenchTimeMarks";
inline constexpr uint32_t kTimeMarkCapacity = 4096;

struct TimeMarkRecord {
    uint32_t mark; // a TimeMark; 0 while the slot is being written
    uint32_t unused;
    int64_t counter; // QueryPerformanceCounter
};

struct TimeMarkRing {
    volatile LONG64 count; // marks ever recorded; mark n lies in slot n % kTimeMarkCapacity
    TimeMarkRecord records[kTimeMarkCapacity];
};

// Creates the ring or opens the existing one; null when neither works. The mapping stays open
// for the life of the process.
inline TimeMarkRing* OpenTimeMarkRing() {
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(TimeMarkRing), kTimeMarkRingName);
    if (mapping == nullptr) {
        return nullptr;
    }
    return static_cast<TimeMarkRing*>(
        MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TimeMarkRing)));
}

} // namespace bench
