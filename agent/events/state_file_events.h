// What the agent does about a change the folder watcher saw in the data folder (the watcher
// itself, agent/files/folder_watch.h, knows nothing of this): a modification of OD_Result.txt
// runs the decision cycle (unless the value is unchanged or the notice is the expected
// duplicate of the previous one); a removed OD_Result.txt, Icon.txt or HWID_Result.txt is
// written again from the agent's own state.
//
// They run on the folder watcher's thread (RepairDeletedStateFiles also on the window thread,
// when the session is the console again), each handler under the AgentLock: the window thread
// runs decision cycles over the same state at the same time.
#pragma once

#include "agent/files/folder_watch.h"

#include <vector>

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

// The two calls above, as start-up hands them to the folder watcher.
FolderWatchSink StateFileEventsSink();
