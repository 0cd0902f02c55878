// The setup tool's one question about where it runs: the session of its own process. A test
// build answers with a session of its choosing, so the session-0 path can be tried under Wine,
// which runs everything in one user session.
#pragma once

#include <windows.h>

// The tool's own session (ProcessIdToSessionId); false when it cannot be read.
bool ReadOwnSessionId(DWORD* session);
