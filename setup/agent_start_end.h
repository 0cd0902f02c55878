// Starting and ending the agent's processes.
#pragma once

#include "common/fixed_paths.h"

#include <windows.h>

#include <string>

// Ends every process whose program file name is exactly "Lumivane.exe" with exit code 9 and
// waits a few seconds for each to be gone, so that its program file can be deleted afterwards.
// A process that cannot be opened, ended or waited for is left running and named in one
// printed line with its process id and error code.
void EndAgentProcesses();

// Starts the program at agentPath without a console window and without waiting for it.
// Returns ERROR_SUCCESS or the platform's error code.
DWORD StartAgent(const std::wstring& agentPath);

// Folder of this program's own file with a trailing backslash; empty when it cannot be told.
std::wstring OwnProgramFolder();
