// The setup tool's command line: "/Install", "/Uninstall", "/Commit", "/Stop" or "/Restart",
// then optionally the install folder written with a trailing backslash; or "/Commit /User" and
// a user's SID, which runs the logon task in that user's sessions.
#pragma once

// Runs the command named by argv[1]; returns the process exit code: -1 without a command, 1 when
// "/Install" registered no logon task, 0 otherwise whatever the outcome (failures are printed).
int RunSetupCommand(int argc, wchar_t** argv);
