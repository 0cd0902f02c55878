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
// - the file is opened by its name relative to the handle the folder was checked by, so the
//   folder written into is the folder checked, whatever happened to the path meanwhile;
// - the file is opened without following a link and without truncating, and its handle must be
//   no reparse point, have exactly one link and lie, by its final path, in that folder.
// Reading is not guarded: a reader only learns what a user could have written anyway.
//
// Templates and inline functions only, nothing to link, and nothing that allocates or throws:
// the plug-in uses them inside its exports.
#pragma once

#include "common/fixed_paths.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>
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
inline constexpr const wchar_t* kDataFolderName =
    kDataFolder + sizeof kDataFolderParent / sizeof(wchar_t);
static_assert(kDataFolder[sizeof kDataFolderParent / sizeof(wchar_t) - 1] == L'\\',
              "the data folder's name follows its parent's path");

// A check's own handle takes no part in sharing checks (attributes only), so a user who holds
// the folder without sharing cannot shut a writer out; names open relative to it all the same.
inline constexpr DWORD kCheckAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
    // The handle the folder was checked by, while its owner keeps it open (a fresh check's
    // caller, or the agent's hold); files are opened relative to it. Not owned here.
    HANDLE folder = INVALID_HANDLE_VALUE;
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

// Checks one folder below C:\Users\Public through a handle with `access` (kCheckAccess at
// least); `share` is what the handle, kept in *held (and check.folder) when held is not null and
// the folder is sound, lets others do meanwhile.
inline FolderCheck CheckFolderAt(const wchar_t* folder, const wchar_t* belowPublic, DWORD access,
                                 DWORD share, HANDLE* held) {
    FolderCheck check;
    if (held != nullptr) {
        *held = INVALID_HANDLE_VALUE;
    }
    // The path's own attributes too: some platforms resolve a link even when asked not to, and
    // only the attributes of the name tell it is one.
    const DWORD attributes = GetFileAttributesW(folder);
    HANDLE handle = CreateFileW(folder, access | kCheckAccess, share, nullptr, OPEN_EXISTING,
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
        check.folder = handle;
    } else {
        CloseHandle(handle);
    }
    return check;
}

// What the check tells, without a handle to write through.
inline FolderCheck CheckDataFolder() {
    return CheckFolderAt(kDataFolder, kDataFolderBelowPublic, kCheckAccess, kShareAll, nullptr);
}

// The calls that open and rename a name relative to a folder handle, which the Win32 calls
// cannot do. From ntdll, which every process has loaded: nothing to link.
using NtCreateFileCall = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                      PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
// The information class as its number: some headers' enumeration lists only its first value.
using NtSetInformationFileCall = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using NtStatusToErrorCall = ULONG(NTAPI*)(LONG);
inline constexpr ULONG kFileRenameInformation = 10;

template <typename Call> Call NtdllCall(const char* name) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr
               ? nullptr
               : reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

inline DWORD ErrorOfStatus(LONG status) {
    const auto toError = NtdllCall<NtStatusToErrorCall>("RtlNtStatusToDosError");
    return toError == nullptr ? ERROR_GEN_FAILURE : static_cast<DWORD>(toError(status));
}

// A plain name of the folder: no path, no stream, no "." or "..".
inline bool IsPlainName(const wchar_t* name) {
    const size_t length = wcslen(name);
    return length > 0 && length < MAX_PATH && wcspbrk(name, L"\\/:") == nullptr &&
           wcscmp(name, L".") != 0 && wcscmp(name, L"..") != 0;
}

// Opens `name` in the folder open as `folder`, never following a link. disposition: FILE_OPEN or
// FILE_CREATE; options: FILE_NON_DIRECTORY_FILE or FILE_DIRECTORY_FILE. ERROR_SUCCESS and
// *file, or the reason.
inline DWORD OpenInFolder(HANDLE folder, const wchar_t* name, DWORD access, DWORD share,
                          ULONG disposition, ULONG options, HANDLE* file) {
    *file = INVALID_HANDLE_VALUE;
    const auto create = NtdllCall<NtCreateFileCall>("NtCreateFile");
    if (!IsPlainName(name)) {
        return ERROR_INVALID_NAME;
    }
    if (create == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name);
    text.Length = static_cast<USHORT>(wcslen(name) * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE handle = nullptr;
    const LONG status = create(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (status < 0) {
        return ErrorOfStatus(status);
    }
    *file = handle;
    return ERROR_SUCCESS;
}

// Renames the open file (opened with DELETE access) to `name` in the folder open as `folder`.
inline DWORD RenameInFolder(HANDLE file, HANDLE folder, const wchar_t* name, bool replace) {
    const auto setInformation = NtdllCall<NtSetInformationFileCall>("NtSetInformationFile");
    if (!IsPlainName(name)) {
        return ERROR_INVALID_NAME;
    }
    if (setInformation == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    const size_t nameBytes = wcslen(name) * sizeof(wchar_t);
    alignas(FILE_RENAME_INFO)
        BYTE buffer[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(wchar_t)] = {};
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(rename->FileName, name, nameBytes);
    IO_STATUS_BLOCK io = {};
    const LONG status =
        setInformation(file, &io, rename, static_cast<ULONG>(sizeof(FILE_RENAME_INFO) + nameBytes),
                       kFileRenameInformation);
    return status < 0 ? ErrorOfStatus(status) : ERROR_SUCCESS;
}

inline bool DeleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// Creates the data folder when it is missing and its parent is sound, inside the parent as
// checked; the check of the result.
inline FolderCheck CreateDataFolder() {
    FolderCheck check = CheckDataFolder();
    if (check.place != DataPlace::Unavailable) {
        return check;
    }
    HANDLE parentFolder = INVALID_HANDLE_VALUE;
    FolderCheck parent = CheckFolderAt(kDataFolderParent, kDataFolderParentBelowPublic,
                                       kCheckAccess, kShareAll, &parentFolder);
    if (parent.place != DataPlace::Sound) {
        // A redirected parent is told as the folder's own redirection.
        return parent;
    }
    HANDLE created = INVALID_HANDLE_VALUE;
    // An existing folder is checked below.
    if (OpenInFolder(parentFolder, kDataFolderName, kCheckAccess, kShareAll, FILE_CREATE,
                     FILE_DIRECTORY_FILE, &created) == ERROR_SUCCESS) {
        CloseHandle(created);
    }
    CloseHandle(parentFolder);
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
    if (folder.place != DataPlace::Sound || folder.folder == INVALID_HANDLE_VALUE ||
        !JoinPathText(&path, kDataFolder, name)) {
        return folder.place == DataPlace::Sound ? DataPlace::Unavailable : folder.place;
    }
    const DWORD attributes = GetFileAttributesW(path.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return DataPlace::Link;
    }
    access |= FILE_READ_ATTRIBUTES;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = OpenInFolder(folder.folder, name, access, share, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, &handle);
    bool created = false;
    // Created only where nothing is, not even a link that names a missing file: opening
    // "always" would create that file wherever the link points.
    if (error == ERROR_FILE_NOT_FOUND && create) {
        // With the right to take back a file created in a folder replaced meanwhile.
        error = OpenInFolder(folder.folder, name, access | DELETE, share, FILE_CREATE,
                             FILE_NON_DIRECTORY_FILE, &handle);
        created = error == ERROR_SUCCESS;
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            error = OpenInFolder(folder.folder, name, access, share, FILE_OPEN,
                                 FILE_NON_DIRECTORY_FILE, &handle);
        }
    }
    if (error != ERROR_SUCCESS) {
        return DataPlace::Unavailable;
    }
    const DataPlace place = CheckOpenDataFile(handle, folder, name);
    if (place != DataPlace::Sound) {
        if (created) {
            (void)DeleteByHandle(handle);
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
    HANDLE checked = INVALID_HANDLE_VALUE;
    *folder = CheckFolderAt(kDataFolder, kDataFolderBelowPublic, kCheckAccess, kShareAll, &checked);
    const DataPlace place = OpenDataFileIn(*folder, name, access, share, create, file);
    if (checked != INVALID_HANDLE_VALUE) {
        CloseHandle(checked);
    }
    folder->folder = INVALID_HANDLE_VALUE;
    return place;
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
    DataPlace place = OpenDataFile(name, DELETE, kShareAll, false, &file, folder);
    if (place != DataPlace::Sound) {
        return place;
    }
    if (!DeleteByHandle(file)) {
        place = DataPlace::Unavailable;
    }
    CloseHandle(file);
    return place;
}
