// The setup tool's questions about where it runs: the session of its own process, and the
// sessions a given user is logged on in. A test build answers with sessions of its choosing, so
// the session-0 path and other users' sessions can be tried under Wine, which runs everything in
// one user session.
#pragma once

#include <windows.h>

#include <vector>

// The tool's own session (ProcessIdToSessionId); false when it cannot be read.
bool ReadOwnSessionId(DWORD* session);

// The sessions whose logged-on user is `user`, each once, in the order the platform lists them;
// false when the sessions cannot be listed. Only the system account may read another session's
// user, so elsewhere the answer may miss sessions.
bool FindUserSessions(PSID user, std::vector<DWORD>* sessions);
