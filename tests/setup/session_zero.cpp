// The setup tool as a system-account installer action runs it: in session 0.
#include "setup/session.h"

bool ReadOwnSessionId(DWORD* session) {
    *session = 0;
    return true;
}
