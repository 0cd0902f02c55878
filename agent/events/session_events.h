// Session notifications on the window thread: logon, lock, unlock and the console moving to
// and from this agent's session, with the return to the console after another user's time
// there.
#pragma once

#include <windows.h>

// session: the session the event concerns (the message's lParam).
void OnSessionChange(WPARAM event, DWORD session);
