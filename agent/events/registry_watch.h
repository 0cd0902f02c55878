// RefreshFlag and NeedShow in the product's uninstall key, and the thread that notices a
// change of RefreshFlag and hands it to the window thread as WM_REFRESHFLAG_CHANGED.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/fixed_paths.h"

// The agent's only private window message; posted with wParam 0 and lParam 0.
constexpr UINT WM_REFRESHFLAG_CHANGED = WM_USER + 0x101;

// RefreshFlag as a 4-byte value; 0 when the key or value is missing or of another type.
uint32_t ReadRefreshFlag();
// Overwrites an existing NeedShow with 1 or 0; never creates it.
void WriteNeedShow(bool show);
// Thread body; the parameter is the main window. Ends when WatcherStopEvent is set, and, with a
// line in the log, when the product key cannot be opened or the notification can no longer be
// armed.
DWORD WINAPI RegistryWatchThread(LPVOID window);
// The thread's loop on an open key and a manual-reset event: arm, read, wait, until arming
// fails or WatcherStopEvent is set. readFlag reads RefreshFlag (ReadRefreshFlag; tests pass their
// own); a value that differs from refreshFlag is stored there and announced to window.
void WatchRefreshFlag(HKEY key, HANDLE changed, HWND window, uint32_t (*readFlag)());
