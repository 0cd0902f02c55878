#include "agent/log/held_folder.h"

#include "common/owners.h"

namespace {

// Both agent threads write; the hold is taken once.
SRWLOCK holdLock = SRWLOCK_INIT;
bool keepOpen = false;
UniqueFileHandle heldFolder;
FolderCheck heldCheck;

} // namespace

void KeepDataFolderOpen() {
    AcquireSRWLockExclusive(&holdLock);
    keepOpen = true;
    ReleaseSRWLockExclusive(&holdLock);
    (void)DataFolderForWriting();
}

FolderCheck DataFolderForWriting() {
    AcquireSRWLockExclusive(&holdLock);
    if (heldFolder.Valid()) {
        FolderCheck held = heldCheck;
        ReleaseSRWLockExclusive(&holdLock);
        return held;
    }
    if (!keepOpen) {
        ReleaseSRWLockExclusive(&holdLock);
        return CheckDataFolder();
    }
    HANDLE folder = INVALID_HANDLE_VALUE;
    // No delete sharing: while held, the folder can be neither renamed nor deleted.
    FolderCheck check = CheckFolderAt(kDataFolder, kDataFolderBelowPublic,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &folder);
    if (check.place == DataPlace::Sound) {
        heldFolder.Reset(folder);
        heldCheck = check;
    } else if (check.place == DataPlace::Unavailable && check.error == ERROR_SHARING_VIOLATION) {
        // Someone holds it with delete access just now: write under a plain check, hold later.
        check = CheckDataFolder();
    }
    ReleaseSRWLockExclusive(&holdLock);
    return check;
}
