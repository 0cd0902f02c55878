// Stagehand: the console setup tool the product's installer runs, one command per run.
#include "setup/commands.h"

int wmain(int argc, wchar_t** argv) {
    return RunSetupCommand(argc, argv);
}
