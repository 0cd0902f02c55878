// A simulated notebook in its default state, ready for an agent process: the 144/60 Hz
// internal panel with overdrive support on AC power, the product key with RefreshFlag 1 and
// NeedShow, an empty data folder.
#pragma once

#include "tests/events/agent_log.h"
#include "tools/agentprocess/agent_process.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simnotebook/simnotebook.h"

#include <gtest/gtest.h>

#include <string>

namespace e2e {

using agentprocess::AgentProcess;
using agentprocess::WaitUntil;

// Paths of the programs under test, given on the command line.
extern std::wstring simAgentPath;
extern std::wstring realAgentPath;
extern std::wstring refHostPath;
extern std::wstring pluginPath;

using notebookfiles::DeletePanelConfig;
using notebookfiles::DeleteProductValue;
using notebookfiles::ReadProductValue;
using notebookfiles::WritePanelConfig;

void SetRefreshFlag(DWORD value);
void SetNeedShow(DWORD value);

std::string StateFile(const wchar_t* name, bool* exists = nullptr);
void WriteStateFile(const wchar_t* name, const std::string& bytes);
uint32_t CurrentRate();
size_t CountModeChanges();

class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    AgentProcess agent;
};

} // namespace e2e
