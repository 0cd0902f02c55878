#include "agent/log/held_folder.h"

namespace {

// Data access puts the handle into the sharing checks, so that its missing delete sharing
// refuses others a rename or a deletion of the folder; an attributes-only handle would not.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | kCheckAccess;

// Both agent threads write; the hold is taken once.
SRWLOCK holdLock = SRWLOCK_INIT;
bool keepOpen = false;
UniqueFileHandle heldFolder;
FolderCheck heldCheck;

FolderCheck FreshCheck(UniqueFileHandle* fresh) {
    return CheckFolderAt(kDataFolder, kDataFolderBelowPublic, kCheckAccess, kShareAll,
                         fresh->Put());
}

} // namespace

void KeepDataFolderOpen() {
    AcquireSRWLockExclusive(&holdLock);
    keepOpen = true;
    ReleaseSRWLockExclusive(&holdLock);
    UniqueFileHandle fresh;
    (void)DataFolderForWriting(&fresh);
}

FolderCheck DataFolderForWriting(UniqueFileHandle* fresh) {
    AcquireSRWLockExclusive(&holdLock);
    if (heldFolder.Valid()) {
        FolderCheck held = heldCheck;
        ReleaseSRWLockExclusive(&holdLock);
        return held;
    }
    if (!keepOpen) {
        ReleaseSRWLockExclusive(&holdLock);
        return FreshCheck(fresh);
    }
    HANDLE folder = INVALID_HANDLE_VALUE;
    // Sharing read and write, as the folder watcher and the plug-in open it; no delete sharing.
    FolderCheck check = CheckFolderAt(kDataFolder, kDataFolderBelowPublic, kHoldAccess,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &folder);
    if (check.place == DataPlace::Sound) {
        heldFolder.Reset(folder);
        heldCheck = check;
    } else if (check.place == DataPlace::Unavailable && check.error == ERROR_SHARING_VIOLATION) {
        // Someone holds it without sharing, or with delete access, just now: write under a
        // fresh check, hold later.
        check = FreshCheck(fresh);
    }
    ReleaseSRWLockExclusive(&holdLock);
    return check;
}
