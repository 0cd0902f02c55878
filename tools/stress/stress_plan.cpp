#include "tools/stress/stress_plan.h"

#include <random>

namespace stress {

namespace {

// A number from 0 to count - 1. The modulo bias is far below anything a run can show.
uint32_t Below(std::mt19937& random, uint32_t count) {
    return static_cast<uint32_t>(random() % count);
}

char Other(char value) {
    return value == '1' ? '0' : '1';
}

// Restarts draw from their own sequence, so that changing one phase's length leaves the
// other's plan as it was.
constexpr uint32_t kRestartStream = 0x9E3779B9u;

} // namespace

std::vector<Burst> PlanWrites(uint32_t seed, int writes) {
    std::mt19937 random(seed);
    std::vector<Burst> bursts;
    int planned = 0;
    while (planned < writes) {
        Burst burst;
        const uint32_t size = 1 + Below(random, kMaxBurstWrites);
        const uint32_t maxGap = Below(random, 2) == 0 ? kMaxTightGapMs : kMaxGapMs;
        char value = Below(random, 2) == 0 ? '0' : '1';
        for (uint32_t i = 0; i < size && planned < writes; ++i, ++planned) {
            Write write;
            if (i > 0) {
                value = Below(random, 3) == 0 ? value : Other(value);
                write.gapBeforeMs = Below(random, maxGap + 1);
            }
            write.value = value;
            burst.writes.push_back(write);
        }
        bursts.push_back(burst);
    }
    return bursts;
}

std::vector<Restart> PlanRestarts(uint32_t seed, int restarts) {
    std::mt19937 random(seed ^ kRestartStream);
    std::vector<Restart> plan;
    for (int i = 0; i < restarts; ++i) {
        Restart restart;
        restart.writeDelayMs = Below(random, kMaxRestartWriteDelayMs + 1);
        restart.changesChoice = Below(random, 4) != 0;
        plan.push_back(restart);
    }
    return plan;
}

} // namespace stress
