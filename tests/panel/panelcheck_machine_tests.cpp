// PanelCheck on the simulated notebook: its verdicts on each kind of notebook the simulation
// can be, and that running it changes nothing: the registry, the data folder, the
// configuration folder and the simulated machine stay as they were, and the simulated BIOS
// receives status queries only.
#include "agent/events/registry_watch.h"
#include "agent/panel/panel_config.h"
#include "common/owners.h"
#include "agent/state/agent_state.h"
#include "panelcheck/machine_report.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

namespace sim = simnotebook;

using notebookfiles::WritePanelConfig;

namespace {

std::wstring panelCheckPath;

const wchar_t kConfigFolder[] = L"C:\\ProgramData\\ZAVIK\\Lumivane";
const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane";
constexpr DWORD kRunTimeoutMs = 60000;
constexpr size_t kDescriptorOffset = 72;
constexpr size_t kExtensionCountOffset = 126;

// No value at all for nullptr.
void SetRefreshFlag(const DWORD* value) {
    ASSERT_TRUE(value == nullptr ? notebookfiles::DeleteProductValue(L"RefreshFlag")
                                 : notebookfiles::SetProductValue(L"RefreshFlag", *value));
}

void InstallEDID(const std::vector<uint8_t>& edid) {
    ASSERT_TRUE(
        sim::InstallPanelEDID(sim::kDefaultPanelIdentity, sim::kDefaultPanelInstanceKey, edid));
}

// The default panel with a display-name descriptor in place of its 60 Hz timing.
std::vector<uint8_t> SingleRateEDID() {
    std::vector<uint8_t> edid = sim::DefaultPanelEDID();
    for (size_t i = 0; i < 18; ++i) {
        edid[kDescriptorOffset + i] = 0;
    }
    edid[kDescriptorOffset + 3] = 0xFC;
    return edid;
}

std::vector<uint8_t> ExtendedEDID() {
    std::vector<uint8_t> edid = sim::DefaultPanelEDID();
    edid[kExtensionCountOffset] = 1;
    return edid;
}

// FRQ_Config.txt line for the default panel: its manufacturer and product words, then rates.
std::string DefaultPanelLine(const char* rates) {
    std::vector<uint8_t> b = sim::DefaultPanelEDID();
    char line[64];
    snprintf(line, sizeof line, "%02X%02X,%02X%02X,%s\r\n", b[9], b[8], b[11], b[10], rates);
    return line;
}

// The task as Stagehand registers it, in the task-scheduler double's record.
const wchar_t kAgentTaskActionKey[] = L"SOFTWARE\\LumivaneTaskDouble\\Tasks\\Lumivane\\Actions\\0";
const wchar_t kAgentTaskKey[] = L"SOFTWARE\\LumivaneTaskDouble\\Tasks\\Lumivane";
const wchar_t kAgentProgram[] = L"C:\\Program Files\\ZAVIK\\Lumivane\\Lumivane.exe";

void PlantLogonTask(const std::wstring& program) {
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentTaskActionKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.Get(), L"Path", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(program.c_str()),
                             static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t))));
}

class PanelCheckMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        (void)DeleteFileW(kPanelConfigPath);
        ASSERT_TRUE(simbios::StartSimBios()) << "the simulated BIOS driver does not run";
        EXPECT_TRUE(simbios::WaitForSimBiosOpenHandles(0)) << "a handle of an earlier test is open";
        ASSERT_TRUE(simbios::ResetSimBios());
        sim::ResetSimNotebook();
        InstallEDID(sim::DefaultPanelEDID());
        const DWORD on = 1;
        SetRefreshFlag(&on);
        ResetAgentState();
    }
    void TearDown() override {
        EXPECT_TRUE(simbios::StartSimBios());
        (void)DeleteFileW(kPanelConfigPath);
        SetRefreshFlag(nullptr);
        sim::ResetSimNotebook();
        (void)RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentTaskKey);
    }
};

const char kWillSwitchOn[] = "will switch on at AC with choice 1 at >= 120 Hz";
const char kSwitches144And60[] = "144 Hz on AC, 60 Hz on battery";

TEST_F(PanelCheckMachine, VerdictsOnEachNotebook) {
    const DWORD off = 0;
    const struct {
        const char* name;
        std::function<void()> prepare;
        bool overdrive;
        const char* overdriveText;
        bool switching;
        const char* switchingText;
    } notebooks[] = {
        {"overdrive panel, dual-rate", [] {}, true, kWillSwitchOn, true, kSwitches144And60},
        {"single-rate panel", [] { InstallEDID(SingleRateEDID()); }, true, kWillSwitchOn, false,
         "panel has one refresh rate (144 Hz)"},
        {"no BIOS device", [] { ASSERT_TRUE(simbios::StopSimBios()); }, false,
         "BIOS device \\\\.\\ZVKACPI does not open", true, kSwitches144And60},
        {"panel without overdrive support",
         [] { ASSERT_TRUE(simbios::SetSimBiosValue(simbios::kSimBiosSupportAnswer, 0x00010000)); },
         false, "panel does not support overdrive (BIOS answers NO)", true, kSwitches144And60},
        {"panel only in FRQ_Config.txt",
         [] {
             InstallEDID(ExtendedEDID());
             WritePanelConfig("AF06,0000,120,60\r\n" + DefaultPanelLine("60,144"));
         },
         true, kWillSwitchOn, true, kSwitches144And60},
        {"panel only in a FRQ_Config.txt a user owns",
         [] {
             InstallEDID(ExtendedEDID());
             WritePanelConfig(DefaultPanelLine("60,144"));
             sim::SetFileSecurityText(kPanelConfigPath, L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;SY)");
         },
         true, kWillSwitchOn, false,
         "EDID has extension blocks and FRQ_Config.txt is not used "
         "(C:\\ProgramData\\ZAVIK\\Lumivane\\FRQ_Config.txt is owned by S-1-5-21-1-2-3-1001)"},
        {"panel in neither", [] { InstallEDID(ExtendedEDID()); }, true, kWillSwitchOn, false,
         "EDID has extension blocks and FRQ_Config.txt does not list the panel"},
        {"RefreshFlag 0", [&] { SetRefreshFlag(&off); }, true, kWillSwitchOn, false,
         "RefreshFlag is 0"},
        {"RefreshFlag missing", [] { SetRefreshFlag(nullptr); }, true, kWillSwitchOn, false,
         "RefreshFlag is missing"},
        {"configured rate out of range", [] { WritePanelConfig(DefaultPanelLine("-144,60")); },
         true, kWillSwitchOn, false, "rate out of range (-144 Hz)"},
        {"no internal panel in WMI",
         [] {
             sim::SetWmiRows({sim::WmiRow{L"DISPLAY\\EXT0001\\1&1_0", sim::kOutputDisplayPort}});
         },
         false, "no internal panel listed by WMI", false, "no internal panel listed by WMI"},
        {"panel at 60 Hz without switching",
         [&] {
             SetRefreshFlag(&off);
             sim::SetCurrentMode(0, sim::Mode{1920, 1080, 32, 60});
         },
         false, "panel runs at 60 Hz on AC, below 120 Hz", false, "RefreshFlag is 0"},
        {"low rate not listed",
         [] {
             sim::SetModes(0, {sim::Mode{1920, 1080, 32, 144}, sim::Mode{1280, 720, 32, 60}});
         },
         true, kWillSwitchOn, false, "the panel's adapter lists no 1920x1080x32 mode at 60 Hz"},
        {"data folder linked elsewhere",
         [] {
             notebookfiles::RemoveDataFolder();
             ASSERT_TRUE(
                 notebookfiles::MakeSymbolicLink(kDataFolder, notebookfiles::ResetOutsideFolder()));
         },
         false, "data folder redirected to C:\\LumivaneOutside", false,
         "data folder redirected to C:\\LumivaneOutside"},
        {"Icon.txt a hard link",
         [] {
             const std::wstring target = notebookfiles::ResetOutsideFolder() + L"\\Icon.txt";
             notebookfiles::WriteFileBytes(target, "1");
             ASSERT_TRUE(notebookfiles::MakeHardLink(notebookfiles::DataPath(L"Icon.txt"), target));
         },
         false, "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\Icon.txt is a link", false,
         "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\Icon.txt is a link"},
    };
    for (const auto& notebook : notebooks) {
        SCOPED_TRACE(notebook.name);
        TearDown();
        SetUp();
        notebook.prepare();
        Verdicts verdicts = JudgeMachine(GatherMachineFacts());
        EXPECT_EQ(notebook.overdrive, verdicts.overdrive.positive);
        EXPECT_EQ(notebook.overdriveText, verdicts.overdrive.text);
        EXPECT_EQ(notebook.switching, verdicts.refreshSwitching.positive);
        EXPECT_EQ(notebook.switchingText, verdicts.refreshSwitching.text);
    }
}

std::string Narrow(const std::wstring& text);

// The rows as the agent reads them: a row without a typed value has no technology, and an
// internal row without a name is internal, though the agent passes over it.
TEST_F(PanelCheckMachine, WmiRowsAsTheAgentSeesThem) {
    sim::SetWmiRows({
        sim::WmiRow{L"DISPLAY\\EXT0001\\1&1_0", 0, sim::kVariantNull},
        sim::WmiRow{L"", sim::kOutputInternal},
        sim::DefaultWmiRow(),
        sim::WmiRow{L"DISPLAY\\EXT0002\\2&2_0", sim::kOutputDisplayPort},
    });
    const std::vector<std::string> expected = {
        "DISPLAY\\EXT0001\\1&1_0 no value external",
        " 0x80000000 internal, empty name, not counted",
        Narrow(sim::kDefaultPanelInstanceName) + " 0x80000000 internal, the panel",
        "DISPLAY\\EXT0002\\2&2_0 0x0000000A external",
    };
    std::vector<std::string> rows;
    for (const ReportSection& section : BuildMachineReport(GatherMachineFacts())) {
        for (const ReportEntry& entry : section.entries) {
            if (entry.key == "wmi-rows") {
                rows = entry.value.items;
            }
        }
    }
    EXPECT_EQ(expected, rows);
}

// Whether the product is there to act, from the logon task and the agent's processes.
TEST(PanelCheckAgentVerdict, FirstReasonOnEachMachine) {
    const std::wstring program = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\Lumivane.exe";
    const struct {
        const char* name;
        bool known, registered, exists;
        std::vector<std::wstring> running; // program files of the agent processes
        bool positive;
        const char* text;
    } machines[] = {
        {"installed and running",
         true,
         true,
         true,
         {L"c:\\program files (x86)\\zavik\\lumivane\\LUMIVANE.EXE"},
         true,
         "runs from the logon task's program"},
        {"task scheduler unreadable",
         false,
         false,
         false,
         {program},
         false,
         "logon task cannot be read (0x80070005)"},
        {"removed", true, false, false, {}, false, "no logon task"},
        {"program file gone",
         true,
         true,
         false,
         {program},
         false,
         "the logon task starts a program that is not there (C:\\Program Files "
         "(x86)\\ZAVIK\\Lumivane\\Lumivane.exe)"},
        {"installed, not started", true, true, true, {}, false, "no agent running"},
        {"another copy running",
         true,
         true,
         true,
         {L"D:\\Lumivane.exe", L""},
         false,
         "no agent running from the logon task's program"},
    };
    for (const auto& machine : machines) {
        SCOPED_TRACE(machine.name);
        MachineFacts facts;
        facts.logonTask.known = machine.known;
        facts.logonTask.error = machine.known ? S_OK : E_ACCESSDENIED;
        facts.logonTask.registered = machine.registered;
        facts.logonTask.programPath = machine.registered ? program : L"";
        facts.logonTask.programExists = machine.exists;
        facts.agentProgramPaths = machine.running;
        facts.agentProcesses.assign(machine.running.size(), 1234);
        const Verdict verdict = JudgeMachine(facts).agent;
        EXPECT_EQ(machine.positive, verdict.positive);
        EXPECT_EQ(machine.text, verdict.text);
    }
}

// Every value below a registry key, by path, as type and bytes.
using RegistrySnapshot = std::map<std::wstring, std::string>;

void SnapshotKey(HKEY root, const std::wstring& path, RegistrySnapshot* snapshot) {
    UniqueKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.Put()) !=
        ERROR_SUCCESS) {
        return;
    }
    (*snapshot)[path + L"\\"] = "key";
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        BYTE data[65536];
        DWORD size = sizeof data;
        if (RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        (*snapshot)[path + L"\\:" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        subkeys.push_back(name);
    }
    for (const std::wstring& subkey : subkeys) {
        SnapshotKey(root, path + L"\\" + subkey, snapshot);
    }
}

// The machine-wide software settings (the product, the simulated machine and its record, the
// graphics driver, the test doubles) and the display and driver keys PanelCheck reads. The
// records the simulated BIOS and the task-scheduler double keep of the requests they receive
// are left out: they grow with every request, reading ones included, and are checked apart.
RegistrySnapshot SnapshotRegistry() {
    RegistrySnapshot snapshot;
    SnapshotKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", &snapshot);
    SnapshotKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY", &snapshot);
    SnapshotKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ZvkAcpiSim", &snapshot);
    SnapshotKey(HKEY_CURRENT_USER, L"Software", &snapshot);
    const std::wstring biosRecord = std::wstring(simbios::kSimBiosParametersKey) + L"\\:";
    for (auto it = snapshot.begin(); it != snapshot.end();) {
        const std::wstring& path = it->first;
        bool record = path == biosRecord + L"RequestCount" || path == biosRecord + L"OpenHandles" ||
                      path.compare(0, biosRecord.size() + 7, biosRecord + L"Request") == 0 ||
                      path == L"SOFTWARE\\LumivaneTaskDouble\\:Calls" ||
                      path == L"SOFTWARE\\LumivaneTaskDouble\\:LiveObjects";
        it = record ? snapshot.erase(it) : std::next(it);
    }
    return snapshot;
}

// File names and contents of a folder (not recursive); absent folder: empty.
std::map<std::wstring, std::string> SnapshotFolder(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            files[name] = notebookfiles::ReadFileBytes(folder + L"\\" + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

// Runs PanelCheck to its end; its output lines and exit code.
std::vector<std::string> RunPanelCheck(const std::vector<std::wstring>& args, DWORD* exitCode) {
    refhost::RefHostProcess process;
    EXPECT_TRUE(process.Start(panelCheckPath, args));
    std::optional<DWORD> code = process.WaitForExit(kRunTimeoutMs);
    EXPECT_TRUE(code.has_value()) << "PanelCheck did not end";
    *exitCode = code.value_or(0xFFFFFFFF);
    process.Stop();
    return process.Lines();
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
    for (const std::string& line : lines) {
        if (line == wanted) {
            return true;
        }
    }
    return false;
}

TEST_F(PanelCheckMachine, ChangesNothing) {
    ASSERT_FALSE(panelCheckPath.empty()) << "no --panelcheck=<path> given";
    // A notebook the agent has run on: its files, a configuration line, its log.
    WritePanelConfig(DefaultPanelLine("144,60"));
    for (const wchar_t* name : {L"OD_Result.txt", L"Icon.txt", L"HWID_Result.txt",
                                L"lasttimeACDC.txt", L"lasttimeDCRefresh.txt"}) {
        notebookfiles::WriteFileBytes(notebookfiles::DataPath(name), "1");
    }
    notebookfiles::WriteFileBytes(notebookfiles::DataPath(L"OD_Log.txt"),
                                  "[ Mon Dec 07 03:03:26 2026 ] OD_OnOff 1\r\n");
    PlantLogonTask(kAgentProgram);
    const bool installFolderBefore = GetFileAttributesW(kInstallFolder) != INVALID_FILE_ATTRIBUTES;
    RegistrySnapshot registryBefore = SnapshotRegistry();
    auto dataBefore = SnapshotFolder(L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane");
    auto configBefore = SnapshotFolder(kConfigFolder);

    DWORD exitCode = 0;
    std::vector<std::string> text = RunPanelCheck({}, &exitCode);
    // No agent is installed: the third verdict says so, and the exit code with it.
    EXPECT_EQ(1u, exitCode);
    EXPECT_TRUE(HasLine(text, std::string("  agent: the logon task starts a program that is not "
                                          "there (") +
                                  Narrow(kAgentProgram) + ")"));
    EXPECT_TRUE(HasLine(text, std::string("  overdrive: ") + kWillSwitchOn));
    EXPECT_TRUE(HasLine(text, std::string("  refresh-switching: ") + kSwitches144And60));
    EXPECT_TRUE(HasLine(text, "    [ Mon Dec 07 03:03:26 2026 ] OD_OnOff 1"));
    EXPECT_TRUE(HasLine(text, "  logon-task: registered"));
    EXPECT_TRUE(HasLine(text, std::string("  logon-task-program: ") + Narrow(kAgentProgram)));
    std::vector<std::string> json = RunPanelCheck({L"--json"}, &exitCode);
    EXPECT_EQ(1u, exitCode);
    ASSERT_FALSE(json.empty());
    EXPECT_EQ("{", json.front());
    EXPECT_EQ("}", json.back());
    EXPECT_TRUE(HasLine(json, "    \"overdrive-positive\": true,"));
    EXPECT_TRUE(HasLine(json, "    \"refresh-switching-positive\": true,"));
    EXPECT_TRUE(HasLine(json, "    \"agent-positive\": false"));

    EXPECT_TRUE(simbios::WaitForSimBiosOpenHandles(0)) << "PanelCheck left the device open";
    for (const simbios::Request& request : simbios::ReadRequests()) {
        EXPECT_EQ(simbios::kDSTS, request.method) << "device " << request.device;
    }
    EXPECT_FALSE(simbios::ReadRequests(simbios::kDSTS).empty());
    RegistrySnapshot registryAfter = SnapshotRegistry();
    for (const auto& entry : registryAfter) {
        auto before = registryBefore.find(entry.first);
        EXPECT_TRUE(before != registryBefore.end() && before->second == entry.second)
            << "written: " << Narrow(entry.first);
    }
    for (const auto& entry : registryBefore) {
        EXPECT_TRUE(registryAfter.count(entry.first) == 1) << "removed: " << Narrow(entry.first);
    }
    EXPECT_TRUE(dataBefore == SnapshotFolder(L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane"));
    EXPECT_TRUE(configBefore == SnapshotFolder(kConfigFolder));
    EXPECT_EQ(installFolderBefore, GetFileAttributesW(kInstallFolder) != INVALID_FILE_ATTRIBUTES);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.compare(0, 13, L"--panelcheck=") == 0) {
            panelCheckPath = refhost::ToWindowsPath(arg.substr(13));
        } else {
            fwprintf(stderr, L"unknown argument %ls\n", arg.c_str());
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
