// Test programs of the agent process. Arguments after GoogleTest's own: the simulated-notebook
// agent, the production agent, the reference host and the plug-in.
#include "tests/events/agent_fixture.h"
#include "tools/refhost/refhost_process.h"

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::wstring* paths[] = {&e2e::simAgentPath, &e2e::realAgentPath, &e2e::refHostPath,
                             &e2e::pluginPath};
    for (int i = 1, p = 0; i < argc && p < 4; ++i, ++p) {
        *paths[p] = refhost::ToWindowsPath(argv[i]);
    }
    return RUN_ALL_TESTS();
}
