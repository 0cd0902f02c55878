// RefreshFlag and NeedShow in the product's uninstall key, and the thread that notices a
// change of RefreshFlag and hands it to the window thread as WM_REFRESHFLAG_CHANGED.
#pragma once

#include <windows.h>

#include <cstdint>

extern const wchar_t kProductKeyPath[];

// The agent's only private window message; posted with wParam 0 and lParam 0.
constexpr UINT WM_REFRESHFLAG_CHANGED = WM_USER + 0x101;

// RefreshFlag as a 4-byte value; 0 when the key or value is missing or of another type.
uint32_t ReadRefreshFlag();
// Overwrites an existing NeedShow with 1 or 0; never creates it.
void WriteNeedShow(bool show);
// Thread body; the parameter is the main window.
DWORD WINAPI RegistryWatchThread(LPVOID window);
