// The thread that notices a change of RefreshFlag (agent/files/product_key.h) in the product's
// uninstall key and hands it to the window thread as WM_REFRESHFLAG_CHANGED.
#pragma once

#include <windows.h>

#include <cstdint>

#include "agent/files/product_key.h"
#include "common/fixed_paths.h"

// The agent's only private window message; posted with wParam 0 and lParam 0.
constexpr UINT WM_REFRESHFLAG_CHANGED = WM_USER + 0x101;

// Thread body; the parameter is the main window. Ends when WatcherStopEvent is set, and, with a
// line in the log, when the product key cannot be opened or the notification can no longer be
// armed.
DWORD WINAPI RegistryWatchThread(LPVOID window);
// The thread's loop on an open key and a manual-reset event: arm, read, wait, until arming
// fails or WatcherStopEvent is set. readFlag reads RefreshFlag (ReadRefreshFlag; tests pass their
// own); a value that differs from refreshFlag is stored there and announced to window.
void WatchRefreshFlag(HKEY key, HANDLE changed, HWND window, uint32_t (*readFlag)());
