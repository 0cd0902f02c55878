#include "setup/session.h"

bool ReadOwnSessionId(DWORD* session) {
    return ProcessIdToSessionId(GetCurrentProcessId(), session) != FALSE;
}
