// MarkTime of the benchmark's build of the agent: appends the moment to the shared ring.
// Linked as an object ahead of the agent's library, whose empty MarkTime it replaces.
#include "tools/bench/time_mark_ring.h"

void MarkTime(TimeMark mark) {
    static bench::TimeMarkRing* const ring = bench::OpenTimeMarkRing();
    if (ring == nullptr) {
        return;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const LONG64 index = InterlockedIncrement64(&ring->count) - 1;
    bench::TimeMarkRecord& record =
        ring->records[static_cast<uint64_t>(index) % bench::kTimeMarkCapacity];
    record.mark = 0;
    record.counter = now.QuadPart;
    MemoryBarrier();
    record.mark = static_cast<uint32_t>(mark);
}
