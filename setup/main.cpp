// Stagehand: the setup tool the product's installer runs, one command per run.
//
// A windows-subsystem program, so that an installer action running it as the system account
// opens no console window on a user's desktop. It still prints what a console program prints:
// to the standard handles it was given (pipes, files), or else to the console of the program
// that started it, if that has one.
#include "setup/commands.h"

#include <windows.h>

#include <cstdio>

namespace {

void ConnectStandardOutput() {
    const HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    if (given != nullptr && given != INVALID_HANDLE_VALUE &&
        GetFileType(given) != FILE_TYPE_UNKNOWN) {
        return;
    }
    // Nobody listens (the installer's actions): the text goes nowhere, as it did before.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    FILE* reopened = nullptr;
    (void)freopen_s(&reopened, "CONOUT$", "w", stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ConnectStandardOutput();
    const int exitCode = RunSetupCommand(argc, argv);
    fflush(stdout);
    return exitCode;
}
