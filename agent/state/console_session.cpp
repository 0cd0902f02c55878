#include "agent/state/console_session.h"

#include "agent/log/log.h"
#include "agent/machine/machine.h"

#include <atomic>
#include <string>

namespace {

// Set on the window thread and the folder watcher's.
std::atomic<bool> awayFromConsole{false};

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
    NoteAwayFromConsole();
    return false;
}

void NoteAwayFromConsole() {
    awayFromConsole = true;
}

bool TakeReturnToConsole() {
    return awayFromConsole.exchange(false);
}
