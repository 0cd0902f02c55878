// The hidden main window's procedure: it hands session, power, display, device and RefreshFlag
// notifications to their handlers, and keeps the About box and the window's end. Runs on the
// window thread only.
#pragma once

#include <windows.h>

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
