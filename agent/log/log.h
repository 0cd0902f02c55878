// The agent's diagnostic log, OD_Log.txt in the data folder: one line per call,
// "[ " + 24-character time text + " ] " + message + CR LF. Opened and closed per line, so
// other programs may read or delete it at any time.
#pragma once

#include <ctime>
#include <string>

// Formats a local time as the 24 characters "Mon Dec 07 03:03:26 2026" (English names,
// day of month with a leading zero).
std::string FormatLogTime(const std::tm& localTime);

// Composes one complete line as it goes to disk.
std::string FormatLogLine(const std::tm& localTime, const std::wstring& message);

// Appends one line; failures are swallowed, the caller carries on.
void WriteLog(std::wstring message);
