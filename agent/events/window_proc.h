// The hidden main window's procedure: session, power, display, device and RefreshFlag
// notifications, the About box and the window's end. Runs on the window thread only.
#pragma once

#include <windows.h>

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// session: the session the event concerns (the message's lParam).
void OnSessionChange(WPARAM event, DWORD session);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
