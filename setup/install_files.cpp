// Removal of the files the product leaves behind. The data folder also holds files the
// uninstaller does not name (the user's choice, the icon state, the log), so removing the folder
// fails quietly unless it was emptied by other means.
#include "setup/install_files.h"

#include "common/data_folder.h"
#include "common/fixed_paths.h"
#include "common/owners.h"
#include "setup/setup_limits.h"

#include <cstdio>

namespace {

// Deletes one of the agent's files through a checked handle (common/data_folder.h): the setup
// tool runs elevated, and a user's link must not make it delete anything elsewhere. A refusal
// is printed; a missing file is the ordinary failure and prints nothing.
bool DeleteAgentFile(const wchar_t* name, const wchar_t* path) {
    FolderCheck folder;
    switch (DeleteDataFile(name, &folder)) {
    case DataPlace::Sound:
        return true;
    case DataPlace::Link:
        wprintf(L"%ls is a link, not deleted\n", path);
        return false;
    case DataPlace::Redirected:
        wprintf(L"%ls is in a folder redirected to %ls, not deleted\n", path,
                folder.finalPath.text[0] != L'\0' ? folder.finalPath.text : L"another place");
        return false;
    case DataPlace::Unavailable:
        break;
    }
    return false;
}

} // namespace

void SweepInstallFolder(const std::wstring& folder) {
    // The installer may name the data folder itself, which every user can write: its files go
    // only through the same checks as the agent's own.
    const bool inDataFolder =
        SamePathText(folder.c_str(), (std::wstring(kDataFolder) + L"\\").c_str());
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
        if (inDataFolder) {
            (void)DeleteAgentFile(entry.cFileName, path.c_str());
        } else {
            (void)DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search.Get(), &entry));
}

void RemoveLastStateFiles() {
    const bool acdcDeleted = DeleteAgentFile(kLastACDCFileName, kLastACDCPath.text);
    const bool refreshDeleted = DeleteAgentFile(kLastDCRefreshFileName, kLastDCRefreshPath.text);
    if (!acdcDeleted || !refreshDeleted) {
        return;
    }
    // Checked once more, by the handle that removes it: a folder replaced meanwhile is left
    // alone, and the folder removed is the folder checked.
    UniqueFileHandle folder;
    if (CheckFolderAt(kDataFolder, kDataFolderBelowPublic, DELETE, kShareAll, folder.Put()).place ==
        DataPlace::Sound) {
        // Succeeds only when nothing else is left in the folder.
        (void)DeleteByHandle(folder.Get());
    }
}
