#include "agent/state/console_session.h"

#include "agent/log/log.h"
#include "agent/machine/machine.h"

#include <string>

namespace {

std::wstring SessionText(DWORD session) {
    return session == machine::kNoSession ? std::wstring(L"none") : std::to_wstring(session);
}

} // namespace

DWORD ReadOwnSessionId() {
    DWORD session = machine::kNoSession;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : machine::kNoSession;
}

bool IsConsoleSession() {
    const DWORD own = ReadOwnSessionId();
    return own == machine::kNoSession || own == machine::ReadConsoleSessionId();
}

bool ActsForConsole(const wchar_t* what) {
    const DWORD own = ReadOwnSessionId();
    if (own == machine::kNoSession) {
        return true;
    }
    const DWORD console = machine::ReadConsoleSessionId();
    if (own == console) {
        return true;
    }
    WriteLog(std::wstring(what) + L": session " + SessionText(own) +
             L" is not the console session (" + SessionText(console) +
             L"), left to the console's agent");
    return false;
}
