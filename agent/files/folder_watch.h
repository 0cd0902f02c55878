// The state-file watcher: one thread watching the data folder. A modification of
// OD_Result.txt runs the decision cycle (unless the value is unchanged or the notice is the
// expected duplicate of the previous one); a removed OD_Result.txt, Icon.txt or
// HWID_Result.txt is written again from the agent's own state.
//
// Traps: one rewrite of a file may give one or two modification records depending on the
// platform, so the duplicate skip only applies while the file still holds the value last
// acted on; records come several per batch, not always aligned; a batch can be lost
// (overflow), which means "look at everything again"; and a notice may arrive between the
// writer's truncation and its write, when the file reads empty for a moment. A data folder that
// a user replaced with a link is not watched: the thread waits for a real folder in its place;
// one that cannot be opened (held without sharing) is tried again until it can.
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

// The thread body; the parameter is not used.
DWORD WINAPI WatchDataFolder(LPVOID parameter);

// Starts WatchDataFolder and waits (about a second at most) until its first read is pending:
// a write of the choice after that is always seen, so start-up decides only after it.
HANDLE StartFolderWatcher(LPVOID parameter);

void fsWatcher_OD_Result_Changed();
void fsWatcher_HWID_Result_Deleted();
void fsWatcher_Icon_Deleted();
void fsWatcher_OD_Result_Deleted();
// Only the agent of the console session repairs or decides (console_session.h): each handler
// above does nothing elsewhere. Writes again each watched state file that is missing.
void RepairDeletedStateFiles();

// Handles one batch of records in order, as the thread does; lost changes (an empty batch)
// count as a modification of OD_Result.txt plus a check of the three files.
void HandleChangeRecords(const std::vector<ChangeRecord>& records);
void HandleLostChanges();
