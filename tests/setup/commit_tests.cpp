// "/Commit": the agent beside the setup tool is started, never one found elsewhere.
#include "tests/setup/setup_harness.h"

#include <gtest/gtest.h>

using setuptest::Narrow;
using setuptest::RunProgram;
using setuptest::TempFolder;

namespace {

// A copy of the setup tool in a folder of its own, as the installer lays it out.
std::wstring PlaceSetupTool(const TempFolder& folder) {
    const std::wstring tool = folder.Child(L"Stagehand.exe");
    CopyFileW(setuptest::StagehandPath().c_str(), tool.c_str(), FALSE);
    return tool;
}

bool PlaceAgent(const TempFolder& folder) {
    return CopyFileW(setuptest::AgentStubPath().c_str(), folder.Child(L"Lumivane.exe").c_str(),
                     FALSE) != FALSE;
}

TEST(SetupCommit, StartsTheAgentBesideTheToolNotTheOneInTheCurrentFolder) {
    struct Case {
        const char* name;
        std::vector<std::wstring> arguments;
    };
    const Case cases[] = {
        {"plain", {L"/Commit"}},
        {"lower case", {L"/commit"}},
        {"with a folder, which plays no part", {L"/COMMIT", L"C:\\Elsewhere\\"}},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        TempFolder toolFolder;
        TempFolder currentFolder;
        const std::wstring tool = PlaceSetupTool(toolFolder);
        ASSERT_TRUE(PlaceAgent(toolFolder));
        ASSERT_TRUE(PlaceAgent(currentFolder));
        setuptest::AgentStubs stubs;

        const setuptest::ChildResult result =
            RunProgram(tool, testCase.arguments, currentFolder.path());

        ASSERT_TRUE(result.started);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ("Test Confirm function", result.output);
        ASSERT_TRUE(stubs.WaitStarted());
        EXPECT_EQ(Narrow(toolFolder.Child(L"Lumivane.exe")), Narrow(stubs.LastStarted()));
        // Only one agent was started.
        EXPECT_EQ(1u, setuptest::ProcessesNamed(setuptest::kAgentName).size());
    }
}

TEST(SetupCommit, MissingAgentReportsFileNotFound) {
    TempFolder toolFolder;
    TempFolder currentFolder;
    const std::wstring tool = PlaceSetupTool(toolFolder);
    ASSERT_TRUE(PlaceAgent(currentFolder));
    setuptest::AgentStubs stubs;

    const setuptest::ChildResult result = RunProgram(tool, {L"/Commit"}, currentFolder.path());

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Test Confirm functionCreateProcess failed (2).\n", result.output);
    // A process the tool had created would be listed by the time the tool ended.
    EXPECT_TRUE(setuptest::ProcessesNamed(setuptest::kAgentName).empty());
}

TEST(SetupCommit, InSessionZeroStartsNoAgent) {
    TempFolder toolFolder;
    TempFolder currentFolder;
    const std::wstring tool = toolFolder.Child(L"Stagehand.exe");
    ASSERT_TRUE(CopyFileW((setuptest::TestProgramFolder() + L"stagehand_session0.exe").c_str(),
                          tool.c_str(), FALSE));
    ASSERT_TRUE(PlaceAgent(toolFolder));
    setuptest::AgentStubs stubs;

    const setuptest::ChildResult result = RunProgram(tool, {L"/Commit"}, currentFolder.path());

    ASSERT_TRUE(result.started);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Test Confirm functionLumivane.exe is not started in session 0; the logon task "
              "starts it at the next logon.\n",
              result.output);
    // A process the tool had created would be listed by the time the tool ended.
    EXPECT_TRUE(setuptest::ProcessesNamed(setuptest::kAgentName).empty());
    EXPECT_TRUE(stubs.LastStarted().empty());
}

} // namespace
