// Shared set-up of the BIOS tests: the simulated BIOS running with its defaults, an empty
// data folder (the log lives there) and the agent state as at process start.
#pragma once

#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

#include <string>

class SimBiosTest : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        // An earlier test may have stopped the driver and failed before starting it again.
        ASSERT_TRUE(simbios::StartSimBios()) << "the simulated BIOS driver does not run";
        // Lets the driver count the closes still under way before the count is reset.
        EXPECT_TRUE(simbios::WaitForSimBiosOpenHandles(0)) << "a handle of an earlier test is open";
        ASSERT_TRUE(simbios::ResetSimBios());
        ResetAgentState();
    }
    void TearDown() override {
        if (acpiDevice != nullptr && acpiDevice != INVALID_HANDLE_VALUE) {
            CloseHandle(acpiDevice);
        }
        acpiDevice = nullptr;
        EXPECT_TRUE(simbios::StartSimBios());
    }
};

inline std::string LogText() {
    return notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Log.txt"));
}

inline int CountOccurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}
