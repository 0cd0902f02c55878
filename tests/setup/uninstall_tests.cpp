// "/Uninstall": ending the agent's processes, deleting the task, sweeping the named folder,
// and removing the data folder only after both last-state files went.
#include "tests/setup/agent_stub_protocol.h"
#include "tests/setup/setup_harness.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/taskdouble/taskdouble_client.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>

using notebookfiles::DataPath;
using notebookfiles::WriteFileBytes;
using setuptest::FileExists;
using setuptest::FolderExists;
using setuptest::Narrow;
using setuptest::RunStagehand;
using setuptest::TempFolder;

namespace {

const wchar_t kTaskName[] = L"Lumivane";
const wchar_t kDataFolder[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane";
constexpr DWORD kEndTimeoutMs = 20000;

std::string UninstallOutput(const std::wstring& folder) {
    return "Uninstall Setup\nPath: " + Narrow(folder) + "Lumivane.exe\n";
}

class SetupUninstall : public ::testing::Test {
  protected:
    void SetUp() override {
        taskdouble::ResetTaskDouble();
        notebookfiles::ResetDataFolder();
    }
    void TearDown() override {
        taskdouble::ResetTaskDouble();
        notebookfiles::ResetDataFolder();
    }
};

TEST_F(SetupUninstall, WithoutATaskPrintsOnlyItsOwnLines) {
    TempFolder installFolder;

    const setuptest::ChildResult result = RunStagehand({L"/Uninstall", installFolder.path()});

    ASSERT_TRUE(result.started);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(UninstallOutput(installFolder.path()), result.output);
    const std::vector<std::wstring> expectedCalls = {
        L"TaskScheduler::CreateInstance -> 0x00000000",
        L"ITaskService::Connect 0 0 0 0 -> 0x00000000",
        L"ITaskService::GetFolder \\ -> 0x00000000",
        L"ITaskFolder::DeleteTask Lumivane 0 -> 0x80070002",
    };
    EXPECT_EQ(expectedCalls, taskdouble::ReadCalls());
    EXPECT_EQ(0u, taskdouble::ReadLiveObjects()) << "interfaces left unreleased";
}

TEST_F(SetupUninstall, DeletesTheTaskInAnyLetterCase) {
    for (const wchar_t* command : {L"/Uninstall", L"/uninstall", L"/UNINSTALL"}) {
        SCOPED_TRACE(Narrow(command));
        TempFolder installFolder;
        taskdouble::PlantTask(kTaskName, {{L"Name", kTaskName}});

        const setuptest::ChildResult result = RunStagehand({command, installFolder.path()});

        EXPECT_EQ(UninstallOutput(installFolder.path()), result.output);
        EXPECT_FALSE(taskdouble::TaskExists(kTaskName));
    }
}

TEST_F(SetupUninstall, EndsEveryRunningAgentWithExitCodeNine) {
    TempFolder agentFolder;
    TempFolder otherFolder;
    TempFolder installFolder;
    const std::wstring firstAgent = agentFolder.Child(L"Lumivane.exe");
    const std::wstring secondAgent = otherFolder.Child(L"Lumivane.exe");
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), firstAgent.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), secondAgent.c_str(), FALSE));
    // Names are compared exactly: a program of another name is none of the tool's business.
    const std::wstring otherProgram = agentFolder.Child(L"Lumivane2.exe");
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), otherProgram.c_str(), FALSE));

    // One at a time: the started signal is one event, and two stubs setting it before the
    // test waits would count once.
    setuptest::AgentStubs stubs;
    HANDLE first = stubs.Start(firstAgent);
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(stubs.WaitStarted());
    HANDLE second = stubs.Start(secondAgent);
    ASSERT_NE(nullptr, second);
    ASSERT_TRUE(stubs.WaitStarted());
    HANDLE bystander = stubs.Start(otherProgram);
    ASSERT_NE(nullptr, bystander);
    ASSERT_TRUE(stubs.WaitStarted());

    const setuptest::ChildResult result = RunStagehand({L"/Uninstall", installFolder.path()});
    EXPECT_EQ(UninstallOutput(installFolder.path()), result.output);

    for (HANDLE process : {first, second}) {
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kEndTimeoutMs));
        DWORD exitCode = 0xdeadbeef;
        ASSERT_TRUE(GetExitCodeProcess(process, &exitCode));
        EXPECT_EQ(9u, exitCode);
        CloseHandle(process);
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(bystander, 0))
        << "a program of another name was ended";
    CloseHandle(bystander);
}

// "/Stop", run before a repair or an upgrade replaces the program: the agent ends, the task,
// the files and the user's last state stay.
TEST_F(SetupUninstall, StopEndsTheAgentAndKeepsEverythingElse) {
    TempFolder installFolder;
    const std::wstring agent = installFolder.Child(L"Lumivane.exe");
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), agent.c_str(), FALSE));
    taskdouble::PlantTask(kTaskName, {{L"Name", kTaskName}});
    WriteFileBytes(DataPath(L"lasttimeACDC.txt"), "1");
    WriteFileBytes(DataPath(L"lasttimeDCRefresh.txt"), "1");
    setuptest::AgentStubs stubs;
    HANDLE running = stubs.Start(agent);
    ASSERT_NE(nullptr, running);
    ASSERT_TRUE(stubs.WaitStarted());

    const setuptest::ChildResult result = RunStagehand({L"/stop", installFolder.path()});

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Stop Setup\n", result.output);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(running, kEndTimeoutMs));
    DWORD exitCode = 0xdeadbeef;
    EXPECT_TRUE(GetExitCodeProcess(running, &exitCode));
    EXPECT_EQ(9u, exitCode);
    CloseHandle(running);
    EXPECT_TRUE(taskdouble::TaskExists(kTaskName));
    EXPECT_TRUE(FileExists(agent));
    EXPECT_TRUE(FileExists(DataPath(L"lasttimeACDC.txt")));
    EXPECT_TRUE(FileExists(DataPath(L"lasttimeDCRefresh.txt")));
}

// Under Wine a process is gone by the time TerminateProcess returns, so only the order shows
// here: each stand-in holds its program file as Windows holds a running program's, and the
// sweep can delete it only once its process has ended.
TEST_F(SetupUninstall, EndsTheAgentBeforeTheSweepAndNamesOneItCannotEnd) {
    TempFolder installFolder;
    TempFolder otherFolder;
    const std::wstring agent = installFolder.Child(L"Lumivane.exe");
    const std::wstring guarded = otherFolder.Child(L"Lumivane.exe");
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), agent.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(setuptest::AgentStubPath().c_str(), guarded.c_str(), FALSE));
    // Everyone may wait for the guarded one, nobody may end it: like an agent of another user
    // or integrity level.
    SECURITY_ATTRIBUTES onlyWaitable = {sizeof onlyWaitable, nullptr, FALSE};
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;0x00100000;;;WD)", SDDL_REVISION_1, &onlyWaitable.lpSecurityDescriptor, nullptr));

    setuptest::AgentStubs stubs;
    HANDLE running = stubs.Start(agent, kAgentStubHoldProgramFile);
    HANDLE unending = stubs.Start(guarded, kAgentStubHoldProgramFile, &onlyWaitable);
    LocalFree(onlyWaitable.lpSecurityDescriptor);
    ASSERT_NE(nullptr, running);
    ASSERT_NE(nullptr, unending);
    ASSERT_TRUE(stubs.WaitStarted());
    ASSERT_TRUE(stubs.WaitStarted());
    const BOOL deletedWhileRunning = DeleteFileW(agent.c_str());
    const DWORD deleteError = GetLastError();
    ASSERT_FALSE(deletedWhileRunning) << "the stand-in does not hold its program file";
    ASSERT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), deleteError);

    const setuptest::ChildResult result = RunStagehand({L"/Uninstall", installFolder.path()});

    EXPECT_EQ(UninstallOutput(installFolder.path()) + "Could not end Lumivane.exe process " +
                  std::to_string(GetProcessId(unending)) + " (error 5).\n",
              result.output);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(running, 0)) << "still running after the tool";
    DWORD exitCode = 0xdeadbeef;
    EXPECT_TRUE(GetExitCodeProcess(running, &exitCode));
    EXPECT_EQ(9u, exitCode);
    EXPECT_FALSE(FileExists(agent)) << "the sweep ran before the agent had ended";
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(unending, 0));
    CloseHandle(running);
    CloseHandle(unending);
}

TEST_F(SetupUninstall, SweepsTheNamedFolderButKeepsSubFolders) {
    TempFolder installFolder;
    const wchar_t* files[] = {L"Lumivane.exe", L"Tessel.dll", L"readme.txt", L"no extension"};
    for (const wchar_t* file : files) {
        WriteFileBytes(installFolder.Child(file), "x");
    }
    const std::wstring subFolder = installFolder.Child(L"Resources");
    ASSERT_TRUE(CreateDirectoryW(subFolder.c_str(), nullptr));
    WriteFileBytes(subFolder + L"\\inner.txt", "x");

    const setuptest::ChildResult result = RunStagehand({L"/Uninstall", installFolder.path()});

    EXPECT_EQ(UninstallOutput(installFolder.path()), result.output);
    for (const wchar_t* file : files) {
        SCOPED_TRACE(Narrow(file));
        EXPECT_FALSE(FileExists(installFolder.Child(file)));
    }
    EXPECT_TRUE(FolderExists(subFolder));
    EXPECT_TRUE(FileExists(subFolder + L"\\inner.txt"));
}

struct DataFolderCase {
    const char* name;
    bool acdc;
    bool dcRefresh;
    bool otherFile;
    bool folderRemoved;
};

TEST_F(SetupUninstall, RemovesTheDataFolderOnlyWhenBothLastStateFilesWereDeleted) {
    const DataFolderCase cases[] = {
        {"both files, nothing else", true, true, false, true},
        {"lasttimeACDC.txt missing", false, true, false, false},
        {"lasttimeDCRefresh.txt missing", true, false, false, false},
        {"neither file", false, false, false, false},
        {"both files and the user's choice", true, true, true, false},
    };
    for (const DataFolderCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        notebookfiles::ResetDataFolder();
        if (testCase.acdc) {
            notebookfiles::WriteFileBytes(DataPath(L"lasttimeACDC.txt"), "1");
        }
        if (testCase.dcRefresh) {
            notebookfiles::WriteFileBytes(DataPath(L"lasttimeDCRefresh.txt"), "2");
        }
        if (testCase.otherFile) {
            notebookfiles::WriteFileBytes(DataPath(L"OD_Result.txt"), "1");
        }
        TempFolder installFolder;

        const setuptest::ChildResult result = RunStagehand({L"/Uninstall", installFolder.path()});

        EXPECT_EQ(UninstallOutput(installFolder.path()), result.output);
        // Each last-state file goes whenever it exists, whatever happened to the other.
        EXPECT_FALSE(FileExists(DataPath(L"lasttimeACDC.txt")));
        EXPECT_FALSE(FileExists(DataPath(L"lasttimeDCRefresh.txt")));
        EXPECT_EQ(!testCase.folderRemoved, FolderExists(kDataFolder));
        EXPECT_EQ(testCase.otherFile, FileExists(DataPath(L"OD_Result.txt")));
    }
}

// A user's link in the data folder's place, or in a last-state file's: nothing is deleted
// where it points, and the refusal is printed.
TEST_F(SetupUninstall, DeletesNothingThroughALink) {
    enum class Planted { FolderLink, FileLink, HardLink };
    const struct Case {
        const char* name;
        Planted planted;
        const char* printed;
        bool sweepDataFolder = false;
    } cases[] = {
        {"data folder a symbolic link", Planted::FolderLink,
         "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\lasttimeACDC.txt is in a folder redirected "
         "to "},
        {"lasttimeACDC.txt a symbolic link", Planted::FileLink,
         "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\lasttimeACDC.txt is a link, not deleted\n"},
        {"lasttimeACDC.txt a hard link", Planted::HardLink,
         "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\lasttimeACDC.txt is a link, not deleted\n"},
        {"the data folder named for the sweep, lasttimeACDC.txt a hard link", Planted::HardLink,
         "C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\lasttimeACDC.txt is a link, not deleted\n",
         true},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        notebookfiles::ResetDataFolder();
        const std::wstring outside = notebookfiles::ResetOutsideFolder();
        const std::wstring target = outside + L"\\lasttimeACDC.txt";
        notebookfiles::WriteFileBytes(target, "not yours");
        notebookfiles::WriteFileBytes(outside + L"\\lasttimeDCRefresh.txt", "not yours");
        bool made = false;
        if (testCase.planted == Planted::FolderLink) {
            notebookfiles::RemoveDataFolder();
            made = notebookfiles::MakeSymbolicLink(kDataFolder, outside);
        } else {
            notebookfiles::WriteFileBytes(DataPath(L"lasttimeDCRefresh.txt"), "2");
            made = testCase.planted == Planted::FileLink
                       ? notebookfiles::MakeSymbolicLink(DataPath(L"lasttimeACDC.txt"), target)
                       : notebookfiles::MakeHardLink(DataPath(L"lasttimeACDC.txt"), target);
        }
        ASSERT_TRUE(made) << "this platform made no link";
        TempFolder installFolder;
        const std::wstring named =
            testCase.sweepDataFolder ? std::wstring(kDataFolder) + L"\\" : installFolder.path();

        const setuptest::ChildResult result = RunStagehand({L"/Uninstall", named});

        EXPECT_NE(result.output.find(testCase.printed), std::string::npos) << result.output;
        EXPECT_EQ(notebookfiles::ReadFileBytes(target), "not yours");
        EXPECT_EQ(notebookfiles::ReadFileBytes(outside + L"\\lasttimeDCRefresh.txt"), "not yours");
        EXPECT_TRUE(FolderExists(outside));
    }
}

TEST_F(SetupUninstall, WithoutAFolderSweepsNothing) {
    TempFolder currentFolder;
    WriteFileBytes(currentFolder.Child(L"Lumivane.exe"), "x");
    WriteFileBytes(currentFolder.Child(L"unrelated.txt"), "x");
    notebookfiles::WriteFileBytes(DataPath(L"lasttimeACDC.txt"), "1");
    notebookfiles::WriteFileBytes(DataPath(L"lasttimeDCRefresh.txt"), "1");
    taskdouble::PlantTask(kTaskName, {{L"Name", kTaskName}});

    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"/Uninstall"},
          std::vector<std::wstring>{L"/Uninstall", L""}}) {
        SCOPED_TRACE(arguments.size());
        const setuptest::ChildResult result = RunStagehand(arguments, currentFolder.path());

        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ("Uninstall Setup\nPath: Lumivane.exe\n", result.output);
        EXPECT_TRUE(FileExists(currentFolder.Child(L"Lumivane.exe")));
        EXPECT_TRUE(FileExists(currentFolder.Child(L"unrelated.txt")));
    }
    // The rest of the removal still happens.
    EXPECT_FALSE(taskdouble::TaskExists(kTaskName));
    EXPECT_FALSE(FolderExists(kDataFolder));
}

TEST_F(SetupUninstall, TooLongAFolderIsRefusedAndNothingIsDone) {
    notebookfiles::WriteFileBytes(DataPath(L"lasttimeACDC.txt"), "1");
    notebookfiles::WriteFileBytes(DataPath(L"lasttimeDCRefresh.txt"), "1");
    taskdouble::PlantTask(kTaskName, {{L"Name", kTaskName}});
    const std::wstring folder = L"C:\\" + std::wstring(250, L'a') + L"\\";

    const setuptest::ChildResult result = RunStagehand({L"/Uninstall", folder});

    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Uninstall Setup\n"
              "The agent path would be longer than 259 characters; nothing was done.\n",
              result.output);
    EXPECT_TRUE(taskdouble::TaskExists(kTaskName));
    EXPECT_TRUE(taskdouble::ReadCalls().empty());
    EXPECT_TRUE(FileExists(DataPath(L"lasttimeACDC.txt")));
    EXPECT_TRUE(FileExists(DataPath(L"lasttimeDCRefresh.txt")));
}

} // namespace
