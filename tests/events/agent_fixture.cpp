#include "tests/events/agent_fixture.h"

#include "tests/support/test_support.h"
#include "tools/simbios/simbios_control.h"

#include <windows.h>

namespace e2e {

std::wstring simAgentPath;
std::wstring realAgentPath;
std::wstring refHostPath;
std::wstring pluginPath;

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                              L"Uninstall\\{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}";
const wchar_t kPanelConfig[] = L"C:\\ProgramData\\ZAVIK\\Lumivane\\FRQ_Config.txt";

HKEY OpenProductKey() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    return key;
}

void SetProductValue(const wchar_t* name, DWORD value) {
    HKEY key = OpenProductKey();
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

} // namespace

void SetRefreshFlag(DWORD value) {
    SetProductValue(L"RefreshFlag", value);
}
void SetNeedShow(DWORD value) {
    SetProductValue(L"NeedShow", value);
}

void DeleteProductValue(const wchar_t* name) {
    HKEY key = OpenProductKey();
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

bool ReadProductValue(const wchar_t* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey, name, RRF_RT_DWORD, nullptr, value,
                        &size) == ERROR_SUCCESS;
}

void WritePanelConfig(const std::string& content) {
    CreateDirectoryW(L"C:\\ProgramData\\ZAVIK", nullptr);
    CreateDirectoryW(L"C:\\ProgramData\\ZAVIK\\Lumivane", nullptr);
    testsupport::WriteFileBytes(kPanelConfig, content);
}

void DeletePanelConfig() {
    DeleteFileW(kPanelConfig);
}

std::string StateFile(const wchar_t* name, bool* exists) {
    return testsupport::ReadFileBytes(testsupport::DataPath(name), exists);
}

void WriteStateFile(const wchar_t* name, const std::string& bytes) {
    testsupport::WriteFileBytes(testsupport::DataPath(name), bytes);
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
    testsupport::ResetDataFolder();
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
