// The logon task that starts the agent at every user logon, in the Task Scheduler's root folder.
#pragma once

#include <windows.h>

// One-byte mode flag: 0 registers the task anew, 1 only deletes it.
enum class TaskMode : unsigned char { Install = 0, Uninstall = 1 };

// Deletes any task named "Lumivane" and, in install mode, registers it again with an action
// that runs agentPath (at most 259 characters). Prints a message for every failing step.
// Returns true when the task was registered (install) or the deletion was requested
// (uninstall).
bool RegisterLogonTask(TaskMode mode, const wchar_t* agentPath);

enum class TaskRun { Started, NotRegistered, Failed };

// Asks the Task Scheduler to run the registered logon task now in the given session, as a logon
// there would run it. NotRegistered when there is no such task; Failed after printing why.
TaskRun RunLogonTask(DWORD session);
