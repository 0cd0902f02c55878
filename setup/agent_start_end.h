// Starting and ending the agent's processes.
#pragma once

#include "common/fixed_paths.h"

#include <windows.h>

#include <string>
#include <vector>

// Ends every process whose program file name is exactly "Lumivane.exe" with exit code 9 and
// waits a few seconds for each to be gone, so that its program file can be deleted afterwards.
// A process that cannot be opened, ended or waited for is left running and named in one
// printed line with its process id and error code. Returns the sessions the ended agents ran
// in, each once.
std::vector<DWORD> EndAgentProcesses();

// True when a process named "Lumivane.exe" runs in the session.
bool AgentRunsInSession(DWORD session);

// The sessions whose agents a repair or an upgrade ended, kept until it starts them again: in
// HKLM\SOFTWARE\WOW6432Node\ZAVIK\Lumivane, value "AgentSessions", which only administrators
// and the system account may write. Remembering adds to what an earlier, unfinished run left.
bool RememberAgentSessions(const std::vector<DWORD>& sessions);
// The remembered sessions, forgotten as they are read (the key goes when nothing else is in it).
std::vector<DWORD> TakeRememberedAgentSessions();

// Starts the program at agentPath without a console window and without waiting for it.
// Returns ERROR_SUCCESS or the platform's error code.
DWORD StartAgent(const std::wstring& agentPath);

// Folder of this program's own file with a trailing backslash; empty when it cannot be told.
std::wstring OwnProgramFolder();
