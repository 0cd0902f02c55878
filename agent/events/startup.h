// The agent's start-up sequence and message loop.
#pragma once

#include <windows.h>

// Runs the agent until its window is destroyed; the result is wWinMain's.
int RunAgent(HINSTANCE instance);

// Starts the registry and folder watchers into registryWatchThread and folderWatchThread; the
// window's end (WM_DESTROY) stops and joins them.
void StartWatcherThreads(HWND window);

bool IsIntelCPU();
// What CreateMutexW's answer for the single-instance mutex means: another instance runs when
// the mutex already existed, or when it exists but this process may not open it (an instance
// of another integrity level, such as an elevated one, created it).
bool AnotherInstanceHoldsMutex(HANDLE created, DWORD lastError);
// Opens the ACPI device and asks for device 0x00090016: true only for exactly 0x00010000,
// in which case the device stays open.
bool QueryReenumerateOnDeviceChange();
