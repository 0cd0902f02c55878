// Keeps the OD icon value in Icon.txt, where the control-centre application reads it through
// the plug-in, and tells the application of a change with the broadcast message
// "NOTIFY_GC_MODECHANGE". Callers hold the AgentLock.
#pragma once

#include <string>

constexpr unsigned long long kModeChangeWParam = 0x00FFAB00;
constexpr unsigned kModeChangeTimeoutMs = 5000;

void Notify_Helmbay_ODIcon(const std::wstring& OD_Status);
// Reads the value back from Icon.txt and broadcasts it.
void NotifyIconChange();
// text: the icon value as lower-case hexadecimal.
void SendModeChangeMessage(const std::wstring& text);
