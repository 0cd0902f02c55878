// Several users may be logged on at once, each with an agent in their own session, but there
// is one panel, one BIOS switch and one data folder. Only the agent of the session at the
// physical console acts; the others leave the panel, the BIOS, the shared files and the host
// alone until their session is the console again.
#pragma once

#include <windows.h>

// ProcessIdToSessionId of this process; machine::kNoSession when it cannot be read.
DWORD ReadOwnSessionId();

// True when this process's session is the active console session. A session that cannot be
// read counts as the console: one user at one console must never lose the agent.
bool IsConsoleSession();

// IsConsoleSession(); when it is false, logs that `what` was left to the console's agent, so
// the log tells why an event had no effect, and notes the agent as away (NoteAwayFromConsole).
bool ActsForConsole(const wchar_t* what);

// While this agent was away another session's agent may have written the shared files and
// told its own host: the agent notes that it was away (a refused action, another session
// taking the console), and on its return takes the files and the host back once.
void NoteAwayFromConsole();
// True once after the agent was noted away; clears the note.
bool TakeReturnToConsole();
