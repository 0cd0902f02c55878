// The agent's diagnostic log, OD_Log.txt in the data folder: one line per call,
// "[ " + 24-character time text + " ] " + message + CR LF. Opened and closed per line, so
// other programs may read or delete it at any time. Never written through a link (see
// common/data_folder.h) and bounded in size.
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

// For the outermost frame of a thread or of the window procedure, called inside its catch
// block: logs head + what the exception being handled says (what() of a std::exception,
// "unknown exception" for anything else) + tail. Never throws: a line that cannot be composed
// or written is dropped, since nothing above the caller could catch it.
void LogUnexpectedException(const wchar_t* head, const wchar_t* tail) noexcept;
// The exit code of a thread that LogUnexpectedException ended.
constexpr unsigned long kThreadEndedByException = 1;

// WriteLog telling whether the line was written: false when the log or its folder is a link
// (nothing is written through one) or the file cannot be written.
bool AppendLogLine(const std::wstring& message);

// The log is kept below this size: when a line would take it past, OD_Log.txt becomes
// OD_Log.1.txt (replacing an older one; OD_Log.2.txt while that one is held open) and a new
// OD_Log.txt begins, so that a user who makes the agent log in a loop cannot fill the disk.
constexpr unsigned long long kLogLimitBytes = 4ull * 1024 * 1024;
