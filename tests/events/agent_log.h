// The agent's log as the end-to-end tests read it.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

std::string ReadLog();
size_t CountInLog(const std::string& text);
// Waits until the log holds `text` at least `count` times.
bool WaitForLog(const std::string& text, size_t count = 1, DWORD timeoutMs = 20000);

} // namespace e2e
