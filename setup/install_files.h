// Files the uninstall command removes: the install folder's files, the agent's two last-state
// files and, when those went, the data folder.
#pragma once

#include <string>

// Deletes every file directly inside folder (written with a trailing backslash); sub-folders
// and their contents stay. Failed deletions are passed over.
void SweepInstallFolder(const std::wstring& folder);

// Deletes lasttimeACDC.txt, then lasttimeDCRefresh.txt, and removes the data folder when both
// deletions succeeded and the folder is then empty.
void RemoveLastStateFiles();
