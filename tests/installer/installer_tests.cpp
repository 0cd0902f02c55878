// The product's package under Wine's own msiexec, in a prefix of its own that the simulated
// notebook, the BIOS double and the Task Scheduler double make a notebook: a silent install,
// a repair and an upgrade while the agent runs, the refusal of the same or an older build, the
// removal, and an install whose logon task the Task Scheduler refuses.
//
// The packages carry the simulated notebook's build of the agent in the agent's place. Each
// test starts from a machine without the product: whatever an earlier run left is removed
// first.
//
// Usage: installer_tests.exe --package=<msi> --older-package=<msi> --older-version=<a.b.c>
//                            --refhost=<RefHost.exe>
#include "common/fixed_paths.h"
#include "lumivane_version.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"
#include "tools/taskdouble/taskdouble_client.h"

#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring packagePath;
std::wstring olderPackagePath;
std::string olderVersion;
std::wstring refHostPath;

const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane";
const wchar_t kAgentProgram[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\Lumivane.exe";
const wchar_t kTaskName[] = L"Lumivane";
const wchar_t kConfigFolder[] = L"C:\\ProgramData\\ZAVIK\\Lumivane";
const wchar_t kConfigMakerFolder[] = L"C:\\ProgramData\\ZAVIK";
constexpr DWORD kInstallTimeoutMs = 300000;
constexpr DWORD kAgentWaitMs = 30000;
constexpr DWORD kPollMs = 50;
// Windows Installer's results: success, a fatal error, another version installed.
constexpr DWORD kSuccess = 0;
constexpr DWORD kInstallFailure = 1603;
// Wine's msiexec ends an install whose program action failed with ERROR_FUNCTION_FAILED where
// Windows reports 1603; both mean the install failed and was rolled back.
constexpr DWORD kWineActionFailure = 1627;
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

// Runs a program with the command line as given, without inheriting our handles (the agent
// that msiexec starts lives on), and waits for its exit code.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << Narrow(program) << " (" << GetLastError() << ")";
        return 0xFFFFFFFF;
    }
    DWORD exitCode = 0xFFFFFFFF;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, kInstallTimeoutMs))
        << Narrow(commandLine) << " did not end";
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return exitCode;
}

// msiexec with the arguments, silent, logging beside the temporary files.
DWORD Msiexec(const std::wstring& arguments) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return RunProgram(L"C:\\windows\\system32\\msiexec.exe",
                      arguments + L" /qn /l*v \"" + temp + L"lumivane-msiexec.log\"");
}

DWORD Install(const std::wstring& package, const std::wstring& properties = L"") {
    return Msiexec(L"/i \"" + package + L"\" " + properties);
}

using notebookfiles::KeyExists;

// A REG_DWORD as decimal text, a REG_SZ as itself; "(absent)" when there is none.
std::string ReadValue(const wchar_t* keyPath, const wchar_t* name) {
    return notebookfiles::ReadValueText(keyPath, name).value_or("(absent)");
}

bool WaitForValue(const wchar_t* keyPath, const wchar_t* name, const std::string& wanted) {
    const ULONGLONG deadline = GetTickCount64() + kAgentWaitMs;
    while (ReadValue(keyPath, name) != wanted) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

// The package's key, not one made here.
void SetRefreshFlag(DWORD value) {
    ASSERT_TRUE(KeyExists(kProductKeyPath));
    (void)notebookfiles::SetProductValue(L"RefreshFlag", value); // read back by the callers
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// a.b.c of a program's version resource; empty without one.
std::string FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (info.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        return std::string();
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS));
}

std::vector<DWORD> AgentProcesses() {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"Lumivane.exe") == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

// Waits until exactly one agent runs, a process other than `previous`, and its window answers;
// returns its process id, or 0.
DWORD WaitForOneAgent(DWORD previous = 0) {
    const ULONGLONG deadline = GetTickCount64() + kAgentWaitMs;
    for (;;) {
        std::vector<DWORD> agents = AgentProcesses();
        HWND window = FindWindowW(L"Lumivane", nullptr);
        DWORD windowProcess = 0;
        if (window != nullptr) {
            GetWindowThreadProcessId(window, &windowProcess);
        }
        if (agents.size() == 1 && agents[0] != previous && windowProcess == agents[0]) {
            return agents[0];
        }
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << agents.size() << " agent processes, window of process "
                          << windowProcess;
            return 0;
        }
        Sleep(kPollMs);
    }
}

bool WaitForNoAgent() {
    const ULONGLONG deadline = GetTickCount64() + kAgentWaitMs;
    while (!AgentProcesses().empty()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

void EndAgents() {
    for (DWORD id : AgentProcesses()) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, kAgentWaitMs);
            CloseHandle(process);
        }
    }
}

// The Task Scheduler double's record of the logon task run in this process's session with
// TASK_RUN_USE_SESSION_ID (4): how the package starts an agent.
size_t RunsInOwnSession() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const std::wstring run =
        L"IRegisteredTask::RunEx Lumivane 4 " + std::to_wstring(session) + L" -> 0x00000000";
    size_t count = 0;
    for (const std::wstring& call : taskdouble::ReadCalls()) {
        count += call == run ? 1 : 0;
    }
    return count;
}

std::wstring InstalledFile(const wchar_t* name) {
    return std::wstring(kInstallFolder) + L"\\" + name;
}

// What the machine shows of the product, for "nothing changed" comparisons.
struct ProductState {
    std::string agentVersion, displayVersion, productVersion, refreshFlag, odResult;
    bool operator==(const ProductState& other) const {
        return agentVersion == other.agentVersion && displayVersion == other.displayVersion &&
               productVersion == other.productVersion && refreshFlag == other.refreshFlag &&
               odResult == other.odResult;
    }
};

ProductState ReadProductState() {
    return ProductState{FileVersion(kAgentProgram), ReadValue(kVersionKeyPath, L"DisplayVersion"),
                        ReadValue(kProductKeyPath, L"DisplayVersion"),
                        ReadValue(kProductKeyPath, L"RefreshFlag"),
                        notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Result.txt"))};
}

class Installer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(packagePath.empty() || olderPackagePath.empty() || refHostPath.empty())
            << "usage: --package= --older-package= --older-version= --refhost=";
        ASSERT_TRUE(FileExists(packagePath)) << "no package " << Narrow(packagePath);
        RemoveProduct();
        taskdouble::ResetTaskDouble();
        notebookfiles::RemoveDataFolder();
        simnotebook::ResetSimNotebook();
        ASSERT_TRUE(simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                                  simnotebook::kDefaultPanelInstanceKey,
                                                  simnotebook::DefaultPanelEDID()));
        ASSERT_TRUE(simbios::StartSimBios()) << "the simulated BIOS driver does not run";
        ASSERT_TRUE(simbios::ResetSimBios());
    }
    void TearDown() override {
        RemoveProduct();
        taskdouble::ResetTaskDouble();
    }

    // Whatever an earlier run left: the registered product first, then anything it missed.
    static void RemoveProduct() {
        if (KeyExists(kProductKeyPath)) {
            (void)Msiexec(std::wstring(L"/x ") + kProductCode);
        }
        EndAgents();
        for (const wchar_t* name :
             {L"Lumivane.exe", L"Tessel.dll", L"Stagehand.exe", L"PanelCheck.exe"}) {
            (void)DeleteFileW(InstalledFile(name).c_str());
        }
        (void)RemoveDirectoryW(kInstallFolder);
        (void)RemoveDirectoryW(kConfigFolder);
        (void)RemoveDirectoryW(kConfigMakerFolder);
        (void)RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKeyPath);
        HKEY corvell;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVersionKeyPath, 0, KEY_SET_VALUE, &corvell) ==
            ERROR_SUCCESS) {
            (void)RegDeleteValueW(corvell, L"DisplayVersion");
            RegCloseKey(corvell);
        }
    }
};

TEST_F(Installer, SilentInstallRegistersAndStartsTheAgent) {
    refhost::RefHostProcess host;
    ASSERT_TRUE(host.Start(refHostPath, {}));
    ASSERT_TRUE(host.WaitForLine(refhost::StartsWith("ready"), kAgentWaitMs));

    ASSERT_EQ(kSuccess, Install(packagePath));

    for (const wchar_t* name :
         {L"Lumivane.exe", L"Tessel.dll", L"Stagehand.exe", L"PanelCheck.exe"}) {
        EXPECT_TRUE(FileExists(InstalledFile(name))) << Narrow(name);
    }
    EXPECT_EQ(Narrow(kAgentProgram),
              Narrow(taskdouble::ReadTaskRecord(kTaskName)[L"Actions\\0\\Path"]));
    EXPECT_NE(0u, WaitForOneAgent());
    // Started as the logon task starts it, in the installing user's session, once. On Windows
    // the system account's StartAgentForUser runs the task there and the immediate StartAgent
    // finds the agent. Wine 8's WTSEnumerateSessionsW is a stub that lists no session, so
    // there StartAgentForUser finds none and this run is the fallback's, StartAgent's.
    EXPECT_EQ(1u, RunsInOwnSession());
    EXPECT_TRUE(FileExists(kConfigFolder)) << "no folder for FRQ_Config.txt";
    EXPECT_TRUE(host.WaitForLine(refhost::NoticeWithMode("1"), kAgentWaitMs))
        << "the agent's first notice did not reach the host";
    EXPECT_EQ("1", ReadValue(kProductKeyPath, L"RefreshFlag"));
    // The installer writes 0; the agent, later in its start-up, states that this panel has
    // two rates.
    EXPECT_TRUE(WaitForValue(kProductKeyPath, L"NeedShow", "1"))
        << "NeedShow " << ReadValue(kProductKeyPath, L"NeedShow");
    EXPECT_EQ(LUMIVANE_VERSION_TEXT, ReadValue(kVersionKeyPath, L"DisplayVersion"));
    EXPECT_EQ(LUMIVANE_VERSION_TEXT, ReadValue(kProductKeyPath, L"DisplayVersion"));
    for (const wchar_t* name : {L"Lumivane.exe", L"Tessel.dll", L"Stagehand.exe"}) {
        EXPECT_EQ(LUMIVANE_VERSION_TEXT, FileVersion(InstalledFile(name))) << Narrow(name);
    }

    // The field check finds the installed agent where the logon task starts it.
    refhost::RefHostProcess check;
    ASSERT_TRUE(check.Start(InstalledFile(L"PanelCheck.exe"), {}));
    EXPECT_TRUE(check.WaitForLine(
        refhost::StartsWith("  agent: runs from the logon task's program"), kAgentWaitMs))
        << "PanelCheck does not see the installed agent";
    EXPECT_TRUE(check.WaitForExit(kAgentWaitMs).has_value());
}

TEST_F(Installer, RepairAndUpgradeKeepOneAgentAndTheUsersChoices) {
    ASSERT_EQ(kSuccess, Install(olderPackagePath));
    DWORD agent = WaitForOneAgent();
    ASSERT_NE(0u, agent);
    ASSERT_EQ(olderVersion, FileVersion(kAgentProgram));
    // The user turned overdrive off, the control centre switched rate changes off.
    notebookfiles::WriteFileBytes(notebookfiles::DataPath(L"OD_Result.txt"), "0");
    SetRefreshFlag(0);

    // A repair of the same build in the default mode replaces no program file (Windows
    // Installer keeps a versioned file of equal version unless the mode has "a" or "e"), so
    // it ends no agent.
    taskdouble::ClearCalls();
    EXPECT_EQ(kSuccess, Install(olderPackagePath, L"REINSTALL=ALL REINSTALLMODE=omus"));
    EXPECT_EQ(std::vector<DWORD>{agent}, AgentProcesses()) << "the plain repair ended the agent";
    EXPECT_EQ(0u, RunsInOwnSession());

    // Wine's msiexec does not implement /fa; these are the properties it stands for.
    EXPECT_EQ(kSuccess, Install(olderPackagePath, L"REINSTALL=ALL REINSTALLMODE=amus"));
    agent = WaitForOneAgent(agent);
    EXPECT_NE(0u, agent) << "the repair did not start the agent again";
    // Through the logon task, in the session whose agent the repair ended.
    EXPECT_EQ(1u, RunsInOwnSession());
    EXPECT_EQ("0", notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Result.txt")));
    EXPECT_EQ("0", ReadValue(kProductKeyPath, L"RefreshFlag"));
    EXPECT_TRUE(WaitForValue(kProductKeyPath, L"NeedShow", "1"));

    EXPECT_EQ(kSuccess, Install(packagePath, L"REINSTALL=ALL REINSTALLMODE=vomus"));
    agent = WaitForOneAgent(agent);
    EXPECT_NE(0u, agent) << "the upgrade did not start the new agent";
    EXPECT_EQ(LUMIVANE_VERSION_TEXT, FileVersion(kAgentProgram));
    EXPECT_EQ(LUMIVANE_VERSION_TEXT, ReadValue(kVersionKeyPath, L"DisplayVersion"));
    EXPECT_EQ("0", notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Result.txt")));
    EXPECT_EQ("0", ReadValue(kProductKeyPath, L"RefreshFlag"));
    EXPECT_TRUE(taskdouble::TaskExists(kTaskName));

    // The same build again, and the older one over the newer, are refused and change nothing.
    const ProductState before = ReadProductState();
    EXPECT_EQ(kInstallFailure, Install(packagePath));
    EXPECT_EQ(kInstallFailure, Install(olderPackagePath, L"REINSTALL=ALL REINSTALLMODE=vomus"));
    EXPECT_TRUE(before == ReadProductState());
    std::vector<DWORD> agents = AgentProcesses();
    EXPECT_EQ(std::vector<DWORD>{agent}, agents) << "the agent was ended or started";
}

TEST_F(Installer, RemovalLeavesOnlyTheUsersLog) {
    ASSERT_EQ(kSuccess, Install(packagePath));
    ASSERT_NE(0u, WaitForOneAgent());

    EXPECT_EQ(kSuccess, Msiexec(L"/x \"" + packagePath + L"\""));

    EXPECT_TRUE(WaitForNoAgent());
    EXPECT_FALSE(taskdouble::TaskExists(kTaskName));
    EXPECT_FALSE(FileExists(kInstallFolder));
    EXPECT_FALSE(KeyExists(kProductKeyPath));
    EXPECT_EQ("(absent)", ReadValue(kVersionKeyPath, L"DisplayVersion"));
    EXPECT_FALSE(FileExists(notebookfiles::DataPath(L"lasttimeACDC.txt")));
    EXPECT_FALSE(FileExists(notebookfiles::DataPath(L"lasttimeDCRefresh.txt")));
    EXPECT_TRUE(FileExists(notebookfiles::DataPath(L"OD_Log.txt")));
    EXPECT_FALSE(FileExists(kConfigFolder)) << "the empty configuration folder stayed";
    EXPECT_FALSE(FileExists(kConfigMakerFolder));

    // A configuration someone put there stays, with its folder.
    ASSERT_EQ(kSuccess, Install(packagePath));
    const std::wstring config = std::wstring(kConfigFolder) + L"\\FRQ_Config.txt";
    notebookfiles::WriteFileBytes(config, "E509,0A1B,165,60\r\n");
    EXPECT_EQ(kSuccess, Msiexec(std::wstring(L"/x ") + kProductCode));
    EXPECT_TRUE(FileExists(config)) << "the removal deleted FRQ_Config.txt";
    (void)DeleteFileW(config.c_str());
}

TEST_F(Installer, RefusedLogonTaskRollsTheInstallBack) {
    taskdouble::InjectFailure(L"ITaskFolder::RegisterTaskDefinition", kAccessDenied);

    const DWORD result = Install(packagePath);

    EXPECT_TRUE(result == kInstallFailure || result == kWineActionFailure) << result;
    EXPECT_FALSE(FileExists(kInstallFolder));
    EXPECT_FALSE(KeyExists(kProductKeyPath));
    EXPECT_EQ("(absent)", ReadValue(kVersionKeyPath, L"DisplayVersion"));
    EXPECT_FALSE(taskdouble::TaskExists(kTaskName));
    EXPECT_TRUE(AgentProcesses().empty());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const size_t equals = arg.find(L'=');
        const std::wstring name = arg.substr(0, equals);
        const std::wstring value = equals == std::wstring::npos ? L"" : arg.substr(equals + 1);
        if (name == L"--package") {
            packagePath = refhost::ToWindowsPath(value);
        } else if (name == L"--older-package") {
            olderPackagePath = refhost::ToWindowsPath(value);
        } else if (name == L"--older-version") {
            olderVersion = Narrow(value);
        } else if (name == L"--refhost") {
            refHostPath = refhost::ToWindowsPath(value);
        } else {
            fwprintf(stderr, L"unknown argument %ls\n", arg.c_str());
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
