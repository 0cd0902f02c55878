#include "tests/events/agent_log.h"

#include "tools/agentprocess/agent_process.h"
#include "tools/notebookfiles/notebook_files.h"

namespace e2e {

std::string ReadLog() {
    return notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Log.txt"));
}

size_t CountInLog(const std::string& text) {
    std::string log = ReadLog();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

bool WaitForLog(const std::string& text, size_t count, DWORD timeoutMs) {
    return agentprocess::WaitUntil([&] { return CountInLog(text) >= count; }, timeoutMs);
}

} // namespace e2e
