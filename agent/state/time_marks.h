// Moments in the handling of one change of the user's choice, for the benchmark's breakdown of
// the reaction into its stages. The agent itself links the empty MarkTime of time_marks.cpp;
// only the benchmark's build of the agent (LumivaneBench) links one that records the moment,
// so the deliverable pays one call to an empty function per mark.
#pragma once

#include <cstdint>

enum class TimeMark : uint32_t {
    FolderNotice = 1, // the folder watcher woke with a batch of changes
    ChoiceRead,       // the watcher has read OD_Result.txt
    Decided,          // the decision cycle has logged its decision
    BIOSAnswered,     // the BIOS request returned
    IconWritten,      // Icon.txt holds the new value
    NoticeSending,    // the broadcast starts
    NoticeSent,       // the broadcast returned
};

void MarkTime(TimeMark mark);
