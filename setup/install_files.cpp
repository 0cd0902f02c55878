// Removal of the files the product leaves behind. The data folder also holds files the
// uninstaller does not name (the user's choice, the icon state, the log), so removing the folder
// fails quietly unless it was emptied by other means.
#include "setup/install_files.h"

#include "common/fixed_paths.h"
#include "common/owners.h"
#include "setup/setup_limits.h"

#include <cstdio>

void SweepInstallFolder(const std::wstring& folder) {
    const std::wstring pattern = folder + L"*.*";
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &entry));
    if (!search.Valid()) {
        return;
    }
    do {
        // Sub-folders (and "." and "..") stay; only the folder's own files go.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        const std::wstring path = folder + entry.cFileName;
        if (path.size() > kMaxPathChars) {
            wprintf(L"Not deleted, the path is longer than %u characters: %ls\n",
                    static_cast<unsigned>(kMaxPathChars), path.c_str());
            continue;
        }
        // A file in use (the agent that could not be ended) stays; the sweep goes on.
        (void)DeleteFileW(path.c_str());
    } while (FindNextFileW(search.Get(), &entry));
}

void RemoveLastStateFiles() {
    const bool acdcDeleted = DeleteFileW(kLastACDCPath.text) != FALSE;
    const bool refreshDeleted = DeleteFileW(kLastDCRefreshPath.text) != FALSE;
    if (acdcDeleted && refreshDeleted) {
        // Succeeds only when nothing else is left in the folder.
        (void)RemoveDirectoryW(kDataFolder);
    }
}
