// The state-file watcher: one thread watching the data folder, which hands every batch of
// change records to a sink its starter supplies and knows nothing of what the sink does with
// them (agent/events/state_file_events.h decides). The sink runs on the watcher's thread, one
// call at a time; the next read is pending while it runs, so no change is missed meanwhile.
//
// Traps: one rewrite of a file may give one or two modification records depending on the
// platform; records come several per batch, not always aligned; a batch can be lost
// (overflow), which means "look at everything again", and so does a folder found again after
// an outage. A data folder that a user replaced with a link is not watched: the thread waits
// for a real folder in its place; one that cannot be opened (held without sharing) is tried
// again until it can. Every wait also ends on the stop event, so the thread can be joined.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ChangeRecord {
    DWORD action = 0;
    std::wstring fileName;
};

// Follows NextEntryOffset through the bytes the platform returned; reads each field without
// assuming alignment and never past byteCount. A malformed record ends the list.
std::vector<ChangeRecord> ParseChangeRecords(const BYTE* buffer, DWORD byteCount);

// What the watcher hands on. Both are called on the watcher's thread.
struct FolderWatchSink {
    // One batch of records, in the platform's order.
    void (*changes)(const std::vector<ChangeRecord>& records) = nullptr;
    // Changes may have been missed (an overflowed or empty batch, a folder found again after an
    // outage): look at everything again.
    void (*lost)() = nullptr;
};

// The thread body; StartFolderWatcher gives it its sink and stop event.
DWORD WINAPI WatchDataFolder(LPVOID watch);

// Starts WatchDataFolder and waits (about a second at most) until its first read is pending:
// a write of the choice after that is always seen, so start-up decides only after it. The
// thread ends soon after stop (a manual-reset event) is set, even inside a wait for the
// folder; the thread's handle, or null.
HANDLE StartFolderWatcher(const FolderWatchSink& sink, HANDLE stop);
