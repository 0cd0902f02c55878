// The command line itself: what runs without a command or with one the tool does not know.
#include "tests/setup/setup_harness.h"

#include <gtest/gtest.h>

using setuptest::RunStagehand;

namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::wstring> arguments;
    DWORD exitCode;
};

TEST(SetupCommandLine, NothingIsPrintedWithoutAKnownCommand) {
    const CommandLineCase cases[] = {
        {"no argument at all", {}, static_cast<DWORD>(-1)},
        {"a bare folder path", {L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\"}, 0},
        {"a command without its slash", {L"Install"}, 0},
        {"a command with a typo", {L"/Instal"}, 0},
        {"a command with a trailing letter", {L"/Commits"}, 0},
        {"an empty argument", {L""}, 0},
        {"the folder before the command", {L"C:\\Lumivane\\", L"/Install"}, 0},
    };
    for (const CommandLineCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const setuptest::ChildResult result = RunStagehand(testCase.arguments);
        ASSERT_TRUE(result.started);
        EXPECT_EQ(testCase.exitCode, result.exitCode);
        EXPECT_EQ("", result.output);
    }
}

} // namespace
