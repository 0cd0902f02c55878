#include "tests/events/agent_fixture.h"

#include "tools/simbios/simbios_control.h"

#include <windows.h>

namespace e2e {

std::wstring simAgentPath;
std::wstring realAgentPath;
std::wstring refHostPath;
std::wstring pluginPath;

void SetRefreshFlag(DWORD value) {
    (void)notebookfiles::SetProductValue(L"RefreshFlag", value); // the tests read back what counts
}
void SetNeedShow(DWORD value) {
    (void)notebookfiles::SetProductValue(L"NeedShow", value);
}

std::string StateFile(const wchar_t* name, bool* exists) {
    return notebookfiles::ReadFileBytes(notebookfiles::DataPath(name), exists);
}

void WriteStateFile(const wchar_t* name, const std::string& bytes) {
    notebookfiles::WriteFileBytes(notebookfiles::DataPath(name), bytes);
}

uint32_t CurrentRate() {
    simnotebook::Mode mode;
    return simnotebook::GetCurrentMode(0, &mode) ? mode.frequency : 0;
}

size_t CountModeChanges() {
    size_t count = 0;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        count += event.kind == simnotebook::EventKind::ModeChange ? 1 : 0;
    }
    return count;
}

void AgentTest::SetUp() {
    notebookfiles::ResetDataFolder();
    simnotebook::ResetSimNotebook();
    simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                  simnotebook::kDefaultPanelInstanceKey,
                                  simnotebook::DefaultPanelEDID());
    simbios::ResetSimBios();
    DeletePanelConfig();
    SetRefreshFlag(1);
    SetNeedShow(0);
}

void AgentTest::TearDown() {
    agent.Terminate();
}

} // namespace e2e
