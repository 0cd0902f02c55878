// Tessel: the plug-in the control-centre application loads to show and change the overdrive
// setting. It keeps nothing between calls and never talks to the agent: it answers identity
// questions from constants, reads the agent's state files and writes the user's choice into the
// data folder, where the agent's folder watcher picks it up.
//
// Traps this file is written around:
// - The agent opens the same files at any moment from another process. Every open here shares
//   read and write access (`_wfsopen` with `_SH_DENYNO`); the runtime's fopen_s would deny the
//   agent's writer while we read.
// - The host may call from several threads at once, so there is no static data at all.
// - Nothing here allocates or throws: no C++ exception can reach the host through an export.
// - Every output buffer the host passes holds 260 wide characters including the terminator;
//   no write goes past that.

#include "common/data_folder.h"
#include "common/fixed_paths.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <share.h>

namespace {

constexpr size_t kOutputCapacity = 260;
// The first line of a state file is read up to this many characters, so it always fits.
constexpr size_t kMaxLineChars = 255;
// Debug lines carry a prefix, a value of at most an output buffer and the " \n" ending.
constexpr size_t kDebugLineCapacity = 64 + kOutputCapacity;

const wchar_t kPluginGuid[] = L"5B81D3E07A2C4F968E1D0C47A9B3F265";
const wchar_t kDisplayName[] = L"Lumivane";
const wchar_t kVersionValue[] = L"DisplayVersion";

// Copies at most capacity - 1 characters of source and always terminates.
void CopyBounded(wchar_t* dest, size_t capacity, const wchar_t* source) {
    size_t length = 0;
    while (length + 1 < capacity && source[length] != L'\0') {
        dest[length] = source[length];
        ++length;
    }
    dest[length] = L'\0';
}

// Writes "<prefix><value> \n" to the debugger. Built by concatenation, so a percent sign in the
// value comes out literally, exactly as a "%s" argument would.
void DebugPrint(const wchar_t* prefix, const wchar_t* value) {
    wchar_t line[kDebugLineCapacity];
    size_t length = 0;
    const wchar_t* const parts[] = {prefix, value, L" \n"};
    for (const wchar_t* part : parts) {
        for (const wchar_t* c = part; *c != L'\0' && length + 1 < kDebugLineCapacity; ++c) {
            line[length++] = *c;
        }
    }
    line[length] = L'\0';
    OutputDebugStringW(line);
}

// First line of a state file: at most kMaxLineChars characters up to a line feed, read in text
// mode (so a CR before the LF goes), widened with the ANSI code page. Missing or empty file:
// empty text. `line` holds kMaxLineChars + 1 characters.
void ReadFirstLine(const wchar_t* path, wchar_t* line) {
    line[0] = L'\0';
    FILE* file = _wfsopen(path, L"r", _SH_DENYNO);
    if (file == nullptr) {
        return;
    }
    char bytes[kMaxLineChars + 1];
    const bool gotLine = fgets(bytes, static_cast<int>(sizeof bytes), file) != nullptr;
    fclose(file);
    if (!gotLine) {
        return;
    }
    size_t length = strlen(bytes);
    if (length > 0 && bytes[length - 1] == '\n') {
        --length;
    }
    if (length == 0) {
        return;
    }
    const int widened = MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), line,
                                            static_cast<int>(kMaxLineChars));
    line[widened > 0 ? widened : 0] = L'\0';
}

bool IsDecimalDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// The `_wtoi` rule, with its clamping made explicit so it does not depend on which runtime the
// library is linked with: leading blanks skipped, optional sign, digits up to the first other
// character, 0 without digits, clamped to the 32-bit range.
int ParseModeNumber(const wchar_t* text) {
    const wchar_t* c = text;
    while (IsBlank(*c)) {
        ++c;
    }
    bool negative = false;
    if (*c == L'+' || *c == L'-') {
        negative = *c == L'-';
        ++c;
    }
    constexpr long long kLimit = 2147483648LL; // magnitude of INT_MIN
    long long magnitude = 0;
    for (; IsDecimalDigit(*c); ++c) {
        if (magnitude <= kLimit) {
            magnitude = magnitude * 10 + (*c - L'0');
        }
    }
    if (negative) {
        return magnitude >= kLimit ? (-2147483647 - 1) : static_cast<int>(-magnitude);
    }
    return magnitude >= kLimit ? 2147483647 : static_cast<int>(magnitude);
}

// Writes the number as the whole content of OD_Result.txt, over the old value and then cut to
// its length, so the agent never reads an empty choice. False when the file could not be
// written, or was not because it or the data folder is a link: a user's link must not make the
// host's write land elsewhere (common/data_folder.h).
bool WriteChoice(int number) {
    char text[16];
    const int length = snprintf(text, sizeof text, "%d", number);
    if (length <= 0 || length >= static_cast<int>(sizeof text)) {
        return false;
    }
    FolderCheck folder;
    return WriteDataFile(kODResultFileName, text, static_cast<DWORD>(length), &folder) ==
           DataPlace::Sound;
}

bool KeyIs(const wchar_t* key, const wchar_t* name) {
    return _wcsicmp(key, name) == 0;
}

} // namespace

extern "C" {

BOOL WINAPI GetDllVersion(wchar_t* version) noexcept {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVersionKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return FALSE;
    }
    wchar_t text[kOutputCapacity] = {};
    DWORD type = REG_SZ;
    DWORD size = sizeof text;
    const LSTATUS status =
        RegQueryValueExW(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return FALSE;
    }
    // A value that fills all 260 characters carries no terminator; its last character is
    // dropped rather than reading past the buffer.
    text[kOutputCapacity - 1] = L'\0';
    DebugPrint(L"Tessel: Get Version = ", text);
    if (version != nullptr) {
        CopyBounded(version, kOutputCapacity, text);
    }
    return TRUE;
}

BOOL WINAPI IsInstalled() noexcept {
    wchar_t line[kMaxLineChars + 1];
    ReadFirstLine(kHWIDResultPath.text, line);
    return wcscmp(line, L"1") == 0 ? TRUE : FALSE;
}

bool WINAPI Get(const wchar_t* key, wchar_t* value) noexcept {
    if (value != nullptr) {
        value[0] = L'\0';
    }
    if (key == nullptr) {
        return false;
    }
    if (KeyIs(key, L"Guid")) {
        if (value != nullptr) {
            CopyBounded(value, kOutputCapacity, kPluginGuid);
        }
        return true;
    }
    if (KeyIs(key, L"Name")) {
        if (value != nullptr) {
            CopyBounded(value, kOutputCapacity, kDisplayName);
        }
        return true;
    }
    if (KeyIs(key, L"Icon") || KeyIs(key, L"ModeList")) {
        return true;
    }
    if (KeyIs(key, L"Mode")) {
        // The agent's icon state, not the choice last set.
        wchar_t line[kMaxLineChars + 1];
        ReadFirstLine(kIconPath.text, line);
        DebugPrint(L"Tessel: Get Mode = ", line);
        if (value != nullptr) {
            CopyBounded(value, kOutputCapacity, line);
        }
        return true;
    }
    return false;
}

// Returns true only when the choice reached OD_Result.txt: the host must be able to tell the
// user that the setting did not take.
bool WINAPI Set(const wchar_t* key, const wchar_t* value) noexcept {
    if (key == nullptr || !KeyIs(key, L"Mode")) {
        return false;
    }
    if (value == nullptr) {
        return false;
    }
    const int number = ParseModeNumber(value);
    DebugPrint(L"Tessel: Set Mode = ", value);
    return WriteChoice(number);
}

bool WINAPI LaunchApp() noexcept {
    return false;
}

} // extern "C"
