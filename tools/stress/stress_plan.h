// The randomised sequences the stress run plays, drawn from one seed so that a run that lost a
// choice can be played again exactly (as far as the timing of the processes allows).
//
// std::mt19937's output is fixed by the standard; the distributions of <random> are not, so
// numbers are mapped here by hand and a seed gives the same plan with every compiler.
#pragma once

#include <cstdint>
#include <vector>

namespace stress {

// Longest gap between two writes of a burst, and of a tight burst.
constexpr uint32_t kMaxGapMs = 50;
constexpr uint32_t kMaxTightGapMs = 5;
constexpr uint32_t kMaxBurstWrites = 8;
// Longest wait between the agent's window appearing and the plug-in's write.
constexpr uint32_t kMaxRestartWriteDelayMs = 50;

struct Write {
    char value = '1';         // '0' or '1'
    uint32_t gapBeforeMs = 0; // after the previous write of the burst; 0 for the first
};

struct Burst {
    std::vector<Write> writes;
};

// Bursts of 1 to kMaxBurstWrites writes, `writes` in all. Within a burst a write repeats the
// previous value one time in three (the double write of a host that sets what it shows) and
// otherwise changes it; the first write of a burst takes either value. Half the bursts are
// tight (gaps up to kMaxTightGapMs), the others spread (up to kMaxGapMs).
std::vector<Burst> PlanWrites(uint32_t seed, int writes);

struct Restart {
    uint32_t writeDelayMs = 0; // after the agent's window appears
    bool changesChoice = true; // the write holds the other value than OD_Result.txt had
};

// Three restarts in four write the other value; the rest write the value already there.
std::vector<Restart> PlanRestarts(uint32_t seed, int restarts);

} // namespace stress
