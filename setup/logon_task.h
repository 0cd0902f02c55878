// The logon task that starts the agent at every user logon, in the Task Scheduler's root folder.
#pragma once

// One-byte mode flag: 0 registers the task anew, 1 only deletes it.
enum class TaskMode : unsigned char { Install = 0, Uninstall = 1 };

// Deletes any task named "Lumivane" and, in install mode, registers it again with an action
// that runs agentPath (at most 259 characters). Prints a message for every failing step.
// Returns true when the task was registered (install) or the deletion was requested
// (uninstall).
bool RegisterLogonTask(TaskMode mode, const wchar_t* agentPath);
