// The data folder as the agent writes into it. Every write checks the folder (common/
// data_folder.h) and opens its file relative to the handle it was checked by. Once the agent
// runs, the folder found sound stays open with data access and without delete sharing, so it
// can be neither moved nor deleted, and its check need not be made again for every log line.
// Each file is still checked on every write.
#pragma once

#include "common/data_folder.h"
#include "common/owners.h"

// From now on the data folder, once found sound, stays open for the life of the process.
// Start-up calls it; the tests that remove the folder between cases do not.
void KeepDataFolderOpen();

// The folder check to write under: the held folder's while it is held, else a fresh one (which
// takes the hold when it was asked for and the folder is sound). A fresh check's handle is kept
// in *fresh for the caller's writes, the held one by the hold.
FolderCheck DataFolderForWriting(UniqueFileHandle* fresh);
