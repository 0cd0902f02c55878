// FRQ_Config.txt: one panel per line, "manufacturer,product,rate,rate" with the words in hex
// and the rates in decimal. Lines are read in pieces of at most 1023 characters, each piece
// handled as a line of its own. The first matching line wins.
#include "agent/panel/panel_config.h"

#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/panel/components.h"
#include "common/data_folder.h"
#include "common/owners.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <share.h>

namespace {

constexpr int kLineBufferSize = 1024;
constexpr size_t kFieldCount = 4;

// Whoever holds one of these on the folder or the file can choose every user's rates: write or
// append (on a folder: add a file or a sub-folder), delete it or a child, change its
// permissions or its owner.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;
const wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsTrustedSid(PSID sid) {
    for (WELL_KNOWN_SID_TYPE type : {WinBuiltinAdministratorsSid, WinLocalSystemSid}) {
        BYTE known[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof known;
        if (CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known)) {
            return true;
        }
    }
    PSID trustedInstaller = nullptr;
    if (!ConvertStringSidToSidW(kTrustedInstallerSid, &trustedInstaller)) {
        return false;
    }
    const bool equal = EqualSid(sid, trustedInstaller) != FALSE;
    LocalFree(trustedInstaller);
    return equal;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) {
        return L"an unknown account";
    }
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// Why the folder or file behind handle may not be trusted; empty when it may.
std::wstring DistrustReason(HANDLE handle, const std::wstring& what) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = machine::ReadFileSecurity(handle, &descriptor);
    if (error != ERROR_SUCCESS) {
        return L"the permissions of " + what + L" cannot be read (error " + std::to_wstring(error) +
               L")";
    }
    std::wstring reason = PanelConfigDistrust(descriptor, what);
    LocalFree(descriptor);
    return reason;
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Why the opened object is not a real folder (wantFolder) or plain file; empty when it is.
std::wstring KindReason(HANDLE handle, bool wantFolder, const std::wstring& what) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) {
        return what + L" cannot be examined (error " + std::to_wstring(GetLastError()) + L")";
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return what + L" is a link";
    }
    const bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder != wantFolder) {
        return what + (wantFolder ? L" is not a folder" : L" is not a plain file");
    }
    return std::wstring();
}

// Why the opened folder (wantFolder) or file may not be used: what it is, then who may change it.
std::wstring JudgeObject(HANDLE handle, bool wantFolder, const std::wstring& what) {
    std::wstring reason = KindReason(handle, wantFolder, what);
    return reason.empty() ? DistrustReason(handle, what) : reason;
}

PanelRates ReadPanelConfigStream(FILE* file, uint8_t edidByte8, uint8_t edidByte9,
                                 uint8_t edidByte10, uint8_t edidByte11) {
    uint32_t manufacturerWord = edidByte9 * 256u + edidByte8;
    uint32_t productWord = edidByte11 * 256u + edidByte10;
    PanelRates result;
    char line[kLineBufferSize];
    while (fgets(line, kLineBufferSize, file) != nullptr) {
        PanelRates rates;
        if (MatchPanelConfigLine(ToWide(line), manufacturerWord, productWord, &rates)) {
            result = rates;
            break;
        }
    }
    return result;
}

// As wcstol and _wtoi read them: leading white space, a sign, digits (base 16 takes a 0x
// prefix); no digits gives 0. A value out of range saturates and so never matches a word.
long ReadNumber(const std::wstring& field, int base) {
    return wcstol(field.c_str(), nullptr, base);
}

} // namespace

std::wstring PanelConfigDistrust(PSECURITY_DESCRIPTOR descriptor, const std::wstring& what) {
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    BOOL daclPresent = FALSE;
    PACL dacl = nullptr;
    BOOL daclDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted)) {
        return L"the permissions of " + what + L" cannot be read";
    }
    if (owner == nullptr || !IsTrustedSid(owner)) {
        return what + L" is owned by " + SidText(owner);
    }
    if (!daclPresent || dacl == nullptr) {
        return what + L" has no access list, so everyone may change it";
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            return L"the permissions of " + what + L" cannot be read";
        }
        // Inherit-only entries do not apply to the object itself; what they give a new child is
        // checked on that child. Denials take nothing from the trusted accounts that matters.
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 ||
            (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
             header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)) {
            continue;
        }
        // Both types keep the mask and the SID at the same places.
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID grantee = &allowed->SidStart;
        if ((allowed->Mask & kChangeRights) != 0 && !IsTrustedSid(grantee)) {
            return SidText(grantee) + L" may change " + what;
        }
    }
    return std::wstring();
}

bool MatchPanelConfigLine(const std::wstring& line, uint32_t manufacturerWord, uint32_t productWord,
                          PanelRates* rates) {
    std::vector<std::wstring> fields = SplitComponents(line, L',', kFieldCount);
    // A line with fewer than four fields names no rates; it never borrows another line's.
    if (fields.size() < kFieldCount) {
        return false;
    }
    if (ReadNumber(fields[0], 16) != static_cast<long>(manufacturerWord) ||
        ReadNumber(fields[1], 16) != static_cast<long>(productWord)) {
        return false;
    }
    rates->firstRate = static_cast<int32_t>(ReadNumber(fields[2], 10));
    rates->secondRate = static_cast<int32_t>(ReadNumber(fields[3], 10));
    rates->found = true;
    return true;
}

PanelRates ReadPanelConfigFile(const std::wstring& path, uint8_t edidByte8, uint8_t edidByte9,
                               uint8_t edidByte10, uint8_t edidByte11) {
    UniqueFile file(_wfsopen(path.c_str(), L"rt", _SH_DENYNO));
    if (file == nullptr) {
        return PanelRates();
    }
    return ReadPanelConfigStream(file.get(), edidByte8, edidByte9, edidByte10, edidByte11);
}

TrustedPanelConfig OpenTrustedPanelConfig(const std::wstring& folder, const wchar_t* fileName,
                                          const char* mode) {
    TrustedPanelConfig result;
    const std::wstring folderText = L"the folder " + folder;
    const std::wstring path = folder + L"\\" + fileName;
    // With data access and without delete sharing, so that the folder can be neither renamed
    // nor replaced while it is open: a handle for attributes alone takes no part in sharing.
    UniqueFileHandle folderHandle(
        CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folderHandle.Valid()) {
        const DWORD error = GetLastError();
        if (!IsMissing(error)) {
            result.refusal =
                folderText + L" cannot be opened (error " + std::to_wstring(error) + L")";
        }
        return result;
    }
    // Opened before the folder is judged, so that a folder without the file, whoever owns it,
    // is simply no configuration: only a file that would be used is refused. By its name in the
    // folder just opened, not by its path, so that what is judged is what lies in that folder.
    HANDLE opened = INVALID_HANDLE_VALUE;
    const DWORD fileError = OpenInFolder(folderHandle.Get(), fileName, GENERIC_READ | READ_CONTROL,
                                         kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &opened);
    UniqueFileHandle fileHandle(opened);
    if (IsMissing(fileError)) {
        return result;
    }
    result.refusal = JudgeObject(folderHandle.Get(), true, folderText);
    if (!result.refusal.empty()) {
        return result;
    }
    if (!fileHandle.Valid()) {
        result.refusal = path + L" cannot be opened (error " + std::to_wstring(fileError) + L")";
        return result;
    }
    result.refusal = JudgeObject(fileHandle.Get(), false, path);
    if (!result.refusal.empty()) {
        return result;
    }
    // The handle that was checked is the one that is read.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(fileHandle.Get()),
                                           _O_RDONLY | (mode[1] == 't' ? _O_TEXT : _O_BINARY));
    if (descriptor == -1) {
        return result;
    }
    (void)fileHandle.Release();
    result.file.reset(_fdopen(descriptor, mode));
    if (result.file == nullptr) {
        _close(descriptor);
    }
    return result;
}

PanelRates ReadPanelConfig(uint8_t edidByte8, uint8_t edidByte9, uint8_t edidByte10,
                           uint8_t edidByte11) {
    TrustedPanelConfig config =
        OpenTrustedPanelConfig(kPanelConfigFolder, kPanelConfigFileName, "rt");
    if (!config.refusal.empty()) {
        WriteLog(L"FRQ_Config.txt not used, the rates come from the EDID: " + config.refusal);
        return PanelRates();
    }
    if (config.file == nullptr) {
        return PanelRates();
    }
    return ReadPanelConfigStream(config.file.get(), edidByte8, edidByte9, edidByte10, edidByte11);
}
