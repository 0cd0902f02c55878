// The fixed places on disk where the agent, the plug-in and the setup tool meet. The three
// programs share no code, but they must agree on these paths, so the paths are written once,
// here: constants only, nothing to link.
#pragma once

#include <cstddef>

// A full path built at compile time, so that code which must not allocate (the plug-in) can use
// it as it is.
template <size_t Size> struct FixedPath { wchar_t text[Size]; };

// folder + "\" + name; both sizes count the terminator, as the path's does.
template <size_t FolderSize, size_t NameSize>
constexpr FixedPath<FolderSize + NameSize> JoinPath(const wchar_t (&folder)[FolderSize],
                                                    const wchar_t (&name)[NameSize]) {
    FixedPath<FolderSize + NameSize> path = {};
    size_t at = 0;
    for (size_t i = 0; i + 1 < FolderSize; ++i) {
        path.text[at++] = folder[i];
    }
    path.text[at++] = L'\\';
    for (size_t i = 0; i < NameSize; ++i) {
        path.text[at++] = name[i];
    }
    return path;
}

// The data folder: the one-value state files and the agent's log.
inline constexpr wchar_t kDataFolder[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane";
inline constexpr wchar_t kODResultFileName[] = L"OD_Result.txt";
inline constexpr wchar_t kIconFileName[] = L"Icon.txt";
inline constexpr wchar_t kHWIDResultFileName[] = L"HWID_Result.txt";
inline constexpr wchar_t kLastACDCFileName[] = L"lasttimeACDC.txt";
inline constexpr wchar_t kLastDCRefreshFileName[] = L"lasttimeDCRefresh.txt";
inline constexpr wchar_t kLogFileName[] = L"OD_Log.txt";

inline constexpr auto kODResultPath = JoinPath(kDataFolder, kODResultFileName);
inline constexpr auto kIconPath = JoinPath(kDataFolder, kIconFileName);
inline constexpr auto kHWIDResultPath = JoinPath(kDataFolder, kHWIDResultFileName);
inline constexpr auto kLastACDCPath = JoinPath(kDataFolder, kLastACDCFileName);
inline constexpr auto kLastDCRefreshPath = JoinPath(kDataFolder, kLastDCRefreshFileName);
inline constexpr auto kLogPath = JoinPath(kDataFolder, kLogFileName);

// The panels' refresh rates, installed with the product: the folder, the file's name, the path.
inline constexpr wchar_t kPanelConfigFolder[] = L"C:\\ProgramData\\ZAVIK\\Lumivane";
inline constexpr wchar_t kPanelConfigFileName[] = L"FRQ_Config.txt";
inline constexpr wchar_t kPanelConfigPath[] = L"C:\\ProgramData\\ZAVIK\\Lumivane\\FRQ_Config.txt";

// The agent's program file name; the setup tool and PanelCheck recognise its processes by it.
inline constexpr wchar_t kAgentFileName[] = L"Lumivane.exe";

// The product's uninstall key under HKEY_LOCAL_MACHINE (64-bit view): the installer creates it,
// the agent reads RefreshFlag and keeps NeedShow there, PanelCheck reports both.
inline constexpr wchar_t kProductKeyPath[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
    L"Uninstall\\{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}";

// The package's product code, which never changes: it names the product key above.
inline constexpr wchar_t kProductCode[] = L"{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}";

// True when `text` ends with `end` (both terminated), for checks at compile time.
template <size_t TextSize, size_t EndSize>
constexpr bool EndsWith(const wchar_t (&text)[TextSize], const wchar_t (&end)[EndSize]) {
    if (EndSize > TextSize) {
        return false;
    }
    for (size_t i = 0; i < EndSize; ++i) {
        if (text[TextSize - EndSize + i] != end[i]) {
            return false;
        }
    }
    return true;
}
static_assert(EndsWith(kProductKeyPath, kProductCode), "the product key is named by the code");

// The control centre's key under HKEY_LOCAL_MACHINE, whose "DisplayVersion" the installer
// writes and the plug-in and PanelCheck report.
inline constexpr wchar_t kVersionKeyPath[] = L"SOFTWARE\\WOW6432Node\\ZAVIK\\Corvell";

// Where the setup tool remembers the sessions whose agents it ended, under HKEY_LOCAL_MACHINE in
// its 32-bit view (the WOW6432Node branch), where only administrators and the system may write.
inline constexpr wchar_t kSessionsKeyPath[] = L"SOFTWARE\\ZAVIK\\Lumivane";
