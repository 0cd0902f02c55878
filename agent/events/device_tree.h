// The device-tree re-enumeration that device events ask for on machines whose BIOS wants it.
// It takes seconds of the window thread and every device event asks, however unrelated the
// device (a USB stick, a mouse): it runs at most once per interval, and the events that arrive
// within an interval are folded into one re-enumeration at its end.
#pragma once

#include <windows.h>

constexpr UINT_PTR kReenumerationTimer = 2;

// WM_DEVICECHANGE for a console agent: the re-enumeration where the BIOS wants it, then the
// rate policy for a changed monitor count. Window thread.
void OnDeviceChange(HWND window);
// A device event asks for a re-enumeration. Window thread.
void RequestDeviceTreeReenumeration(HWND window);
// WM_TIMER for kReenumerationTimer: the end of an interval.
void OnReenumerationTimer(HWND window);
