// Writing and deleting in the data folder without being led elsewhere by a link.
//
// Every local user may write the data folder (the plug-in runs in the user's process), while the
// agent and the setup tool run elevated. A user could replace the folder, or a file in it, by a
// directory junction, a symbolic link or a hard link, and have the elevated program create,
// overwrite, append to or delete whatever the link names. So before anything is written or
// deleted here:
// - the folder must be no reparse point, and the final path of a handle to it must be the final
//   path of C:\Users\Public (which only administrators can replace; resolving it keeps machines
//   whose user folders were moved working) followed by \Roaming\ZAVIK\Lumivane;
// - the file is opened without following a link and without truncating, and its handle must be
//   no reparse point, have exactly one link and lie, by its final path, in that folder.
// Reading is not guarded: a reader only learns what a user could have written anyway.
//
// Templates and inline functions only, nothing to link, and nothing that allocates or throws:
// the plug-in uses them inside its exports.
#pragma once

#include "common/fixed_paths.h"

#include <windows.h>

#include <cwchar>

// The folder whose final path anchors the data folder's, and the rest of the data folder's path.
inline constexpr wchar_t kPublicFolder[] = L"C:\\Users\\Public";
inline constexpr const wchar_t* kDataFolderBelowPublic =
    kDataFolder + (sizeof kPublicFolder / sizeof(wchar_t)) - 1;
inline constexpr wchar_t kDataFolderParent[] = L"C:\\Users\\Public\\Roaming\\ZAVIK";
inline constexpr const wchar_t* kDataFolderParentBelowPublic =
    kDataFolderParent + (sizeof kPublicFolder / sizeof(wchar_t)) - 1;

constexpr bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text != *prefix) {
            return false;
        }
    }
    return true;
}
static_assert(StartsWith(kDataFolder, kPublicFolder), "the data folder lies below Public");
static_assert(StartsWith(kDataFolder, kDataFolderParent), "the parent is the data folder's");

// Room for any path the platform reports for a file in the data folder.
inline constexpr DWORD kPathCapacity = 1024;

struct PathText {
    wchar_t text[kPathCapacity];
};

// What a check or a guarded write or deletion found.
enum class DataPlace {
    Sound,       // what it says it is; the write or deletion was done
    Redirected,  // the folder is a link, or resolves elsewhere
    Link,        // the file is a link (reparse point, hard link, or resolves elsewhere)
    Unavailable, // it could not be opened or written: an ordinary failure, no refusal
};

struct FolderCheck {
    DataPlace place = DataPlace::Unavailable;
    DWORD error = ERROR_SUCCESS; // when Unavailable
    PathText finalPath = {};     // where the folder really is, when it could be opened
};

// Appends text; false (and the path left as it was) when it would not fit.
inline bool AppendPathText(PathText* path, const wchar_t* text) {
    const size_t length = wcslen(path->text);
    const size_t more = wcslen(text);
    if (length + more + 1 > kPathCapacity) {
        return false;
    }
    wmemcpy(path->text + length, text, more + 1);
    return true;
}

inline bool JoinPathText(PathText* path, const wchar_t* folder, const wchar_t* name) {
    path->text[0] = L'\0';
    return AppendPathText(path, folder) && AppendPathText(path, L"\\") &&
           AppendPathText(path, name);
}

inline bool SamePathText(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

inline bool ReadFinalPath(HANDLE handle, PathText* path) {
    const DWORD length = GetFinalPathNameByHandleW(handle, path->text, kPathCapacity,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kPathCapacity) {
        path->text[0] = L'\0';
        return false;
    }
    return true;
}

// What the checks need to know of an open handle. Asked for one by one: the all-in-one query
// also asks the volume for its serial number, which costs some platforms a round trip to
// another process on every log line.
struct HandleFacts {
    DWORD attributes = 0;
    DWORD links = 0;
};

inline bool ReadHandleFacts(HANDLE handle, HandleFacts* facts) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return false;
    }
    facts->attributes = tag.FileAttributes;
    facts->links = standard.NumberOfLinks;
    return true;
}

// Where a folder below C:\Users\Public must resolve to.
inline bool ExpectedFinalPath(const wchar_t* belowPublic, PathText* path) {
    HANDLE publicFolder = CreateFileW(kPublicFolder, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (publicFolder == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool resolved = ReadFinalPath(publicFolder, path);
    CloseHandle(publicFolder);
    return resolved && AppendPathText(path, belowPublic);
}

// Checks one folder below C:\Users\Public; `share` is what the handle, kept in *held when held
// is not null, lets others do meanwhile.
inline FolderCheck CheckFolderAt(const wchar_t* folder, const wchar_t* belowPublic, DWORD share,
                                 HANDLE* held) {
    FolderCheck check;
    if (held != nullptr) {
        *held = INVALID_HANDLE_VALUE;
    }
    // The path's own attributes too: some platforms resolve a link even when asked not to, and
    // only the attributes of the name tell it is one.
    const DWORD attributes = GetFileAttributesW(folder);
    HANDLE handle = CreateFileW(folder, FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        check.error = GetLastError();
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            check.place = DataPlace::Redirected; // a link to nothing
        }
        return check;
    }
    HandleFacts facts;
    PathText expected;
    if (!ReadHandleFacts(handle, &facts) || !ReadFinalPath(handle, &check.finalPath) ||
        !ExpectedFinalPath(belowPublic, &expected)) {
        check.error = GetLastError();
    } else if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        check.error = ERROR_DIRECTORY;
    } else if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
               (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) ||
               !SamePathText(check.finalPath.text, expected.text)) {
        check.place = DataPlace::Redirected;
    } else {
        check.place = DataPlace::Sound;
    }
    if (check.place == DataPlace::Sound && held != nullptr) {
        *held = handle;
    } else {
        CloseHandle(handle);
    }
    return check;
}

inline FolderCheck CheckDataFolder() {
    return CheckFolderAt(kDataFolder, kDataFolderBelowPublic,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr);
}

// Creates the data folder when it is missing and its parent is sound; the check of the result.
inline FolderCheck CreateDataFolder() {
    FolderCheck check = CheckDataFolder();
    if (check.place != DataPlace::Unavailable) {
        return check;
    }
    FolderCheck parent =
        CheckFolderAt(kDataFolderParent, kDataFolderParentBelowPublic,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr);
    if (parent.place != DataPlace::Sound) {
        // A redirected parent is told as the folder's own redirection.
        return parent;
    }
    (void)CreateDirectoryW(kDataFolder, nullptr); // an existing folder is checked below
    return CheckDataFolder();
}

// The checks on an open file handle in a sound folder.
inline DataPlace CheckOpenDataFile(HANDLE file, const FolderCheck& folder, const wchar_t* name) {
    HandleFacts facts;
    PathText actual;
    PathText expected;
    if (!ReadHandleFacts(file, &facts) || !ReadFinalPath(file, &actual) ||
        !JoinPathText(&expected, folder.finalPath.text, name)) {
        return DataPlace::Unavailable;
    }
    if ((facts.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        facts.links != 1 || !SamePathText(actual.text, expected.text)) {
        return DataPlace::Link;
    }
    return DataPlace::Sound;
}

// Opens a file of a sound data folder for writing or deleting, creating it when `create` is set,
// never through a link and never truncating. *file is a valid handle only when the result is
// Sound.
inline DataPlace OpenDataFileIn(const FolderCheck& folder, const wchar_t* name, DWORD access,
                                DWORD share, bool create, HANDLE* file) {
    *file = INVALID_HANDLE_VALUE;
    PathText path;
    if (folder.place != DataPlace::Sound || !JoinPathText(&path, kDataFolder, name)) {
        return folder.place == DataPlace::Sound ? DataPlace::Unavailable : folder.place;
    }
    const DWORD attributes = GetFileAttributesW(path.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return DataPlace::Link;
    }
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    access |= FILE_READ_ATTRIBUTES;
    HANDLE handle = CreateFileW(path.text, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    bool created = false;
    // Created only where nothing is, not even a link that names a missing file: opening
    // "always" would create that file wherever the link points.
    if (handle == INVALID_HANDLE_VALUE && create && GetLastError() == ERROR_FILE_NOT_FOUND) {
        // With the right to take back a file created in a folder replaced meanwhile.
        handle =
            CreateFileW(path.text, access | DELETE, share, nullptr, CREATE_NEW, flags, nullptr);
        created = handle != INVALID_HANDLE_VALUE;
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
            handle = CreateFileW(path.text, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return DataPlace::Unavailable;
    }
    const DataPlace place = CheckOpenDataFile(handle, folder, name);
    if (place != DataPlace::Sound) {
        if (created) {
            FILE_DISPOSITION_INFO disposition = {};
            disposition.DeleteFile = TRUE;
            (void)SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                             sizeof disposition);
        }
        CloseHandle(handle);
        return place;
    }
    *file = handle;
    return DataPlace::Sound;
}

// OpenDataFileIn after a fresh check of the folder; *folder tells what that check found.
inline DataPlace OpenDataFile(const wchar_t* name, DWORD access, DWORD share, bool create,
                              HANDLE* file, FolderCheck* folder) {
    *folder = CheckDataFolder();
    return OpenDataFileIn(*folder, name, access, share, create, file);
}

// Writes bytes over the file's old content from its start, then cuts the file to their length:
// a reader at any moment finds the old value or the new one, never an empty file.
inline bool WriteOver(HANDLE file, const char* bytes, DWORD length) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    DWORD written = 0;
    if (length > 0 && (!WriteFile(file, bytes, length, &written, nullptr) || written != length)) {
        return false;
    }
    return SetEndOfFile(file) != FALSE;
}

// The whole content of one state file, as the agent and the plug-in write it.
inline DataPlace WriteDataFile(const wchar_t* name, const char* bytes, DWORD length,
                               FolderCheck* folder) {
    HANDLE file = INVALID_HANDLE_VALUE;
    DataPlace place =
        OpenDataFile(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true, &file, folder);
    if (place != DataPlace::Sound) {
        return place;
    }
    if (!WriteOver(file, bytes, length)) {
        place = DataPlace::Unavailable;
    }
    CloseHandle(file);
    return place;
}

// Deletes one file of the data folder through a checked handle; a missing file is Unavailable.
inline DataPlace DeleteDataFile(const wchar_t* name, FolderCheck* folder) {
    HANDLE file = INVALID_HANDLE_VALUE;
    DataPlace place = OpenDataFile(
        name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false, &file, folder);
    if (place != DataPlace::Sound) {
        return place;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) {
        place = DataPlace::Unavailable;
    }
    CloseHandle(file);
    return place;
}
