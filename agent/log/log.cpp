#include "agent/log/log.h"

#include "agent/log/text.h"
#include "common/fixed_paths.h"

#include <windows.h>

#include <cstdio>

std::string FormatLogTime(const std::tm& localTime) {
    static const char* const dayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day =
        (localTime.tm_wday >= 0 && localTime.tm_wday < 7) ? dayNames[localTime.tm_wday] : "???";
    const char* month =
        (localTime.tm_mon >= 0 && localTime.tm_mon < 12) ? monthNames[localTime.tm_mon] : "???";
    char text[64];
    snprintf(text, sizeof text, "%.3s %.3s %02d %02d:%02d:%02d %04d", day, month, localTime.tm_mday,
             localTime.tm_hour, localTime.tm_min, localTime.tm_sec, localTime.tm_year + 1900);
    return text;
}

std::string FormatLogLine(const std::tm& localTime, const std::wstring& message) {
    return "[ " + FormatLogTime(localTime) + " ] " + ToNarrow(message) + "\r\n";
}

void WriteLog(std::wstring message) {
    __time64_t now = _time64(nullptr);
    std::tm localTime = {};
    if (_localtime64_s(&localTime, &now) != 0) {
        return;
    }
    std::string line = FormatLogLine(localTime, message);

    // Appending through the system keeps each line whole even when both agent threads log
    // at once; full sharing lets readers and deleters at the file while we hold it.
    HANDLE file = CreateFileW(kLogPath.text, FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    (void)WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}
