#include "agent/decision/host_notice.h"

#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/state/agent_state.h"
#include "agent/state/time_marks.h"

#include <windows.h>

#include <cstdlib>
#include <exception>

void Notify_Helmbay_ODIcon(const std::wstring& OD_Status) {
    currentODIcon = OD_Status;
    WriteLog(L"Notify_Helmbay_ODIcon: temp_OD_Icon: " + temp_OD_Icon + L", OD_Status: " +
             OD_Status);
    std::wstring iconPath = DataFilePath(kIconFileName);
    if (!WriteStateValue(iconPath, OD_Status)) {
        // The host still hears of the change; it reads whatever Icon.txt holds.
        WriteLog(L"Notify_Helmbay_ODIcon: cannot write " + iconPath);
    }
    MarkTime(TimeMark::IconWritten);
    const bool changed = temp_OD_Icon != OD_Status;
    // Set before the broadcast: a cycle nested inside it (the sending thread answers sent
    // messages) must find this value, and its own must not be overwritten afterwards.
    temp_OD_Icon = OD_Status;
    if (changed) {
        try {
            NotifyIconChange();
        } catch (const std::exception& e) {
            WriteLog(L"SetODIcon: Exception: " + ToWide(e.what()));
        }
    }
}

void NotifyIconChange() {
    FileToken read = ReadFileToken(DataFilePath(kIconFileName), 3);
    long value = std::strtol(read.token.c_str(), nullptr, 10);
    wchar_t text[16];
    swprintf(text, 16, L"%x", static_cast<unsigned>(value));
    SendModeChangeMessage(text);
}

void SendModeChangeMessage(const std::wstring& text) {
    try {
        WriteLog(L"Send Message to Helmbay");
        // lParam carries the icon value itself: an address inside the agent would mean
        // nothing to the receivers and would disclose the agent's memory layout.
        LPARAM iconValue = static_cast<LPARAM>(std::wcstoul(text.c_str(), nullptr, 16));
        MarkTime(TimeMark::NoticeSending);
        LRESULT result =
            SendMessageTimeoutW(HWND_BROADCAST, modeChangeMessage, kModeChangeWParam, iconValue,
                                SMTO_ABORTIFHUNG, kModeChangeTimeoutMs, nullptr);
        MarkTime(TimeMark::NoticeSent);
        WriteLog(L"SendMessageTimeout Result= " + NumberText(static_cast<long long>(result)));
    } catch (const std::exception& e) {
        WriteLog(ToWide(e.what()));
    }
}
