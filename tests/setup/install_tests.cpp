// "/Install" against the Task Scheduler double: the registered definition, replacement of an
// earlier task, and what each failing step prints and leaves behind.
#include "tests/setup/setup_harness.h"
#include "tools/taskdouble/taskdouble_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using setuptest::Narrow;
using setuptest::RunStagehand;
using taskdouble::TaskRecord;

namespace {

const wchar_t kTaskName[] = L"Lumivane";
const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\";
const wchar_t kAgentPath[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\Lumivane.exe";
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);
const char kAccessDeniedDecimal[] = "-2147024891";

// The whole record of the task as the setup tool must register it: any property set beyond
// these shows up as an extra entry.
TaskRecord ExpectedRecord(const std::wstring& agentPath) {
    return TaskRecord{
        {L"Folder", L"\\"},
        {L"Name", L"Lumivane"},
        {L"Flags", L"6"},           // create or update
        {L"LogonType", L"4"},       // group
        {L"User", L"S-1-5-32-545"}, // local Users: every interactive user
        {L"UserType", L"8"},        // VT_BSTR
        {L"PasswordType", L"0"},    // VT_EMPTY: no password
        {L"PasswordPresent", L"0"},
        {L"Sddl", L""},
        {L"SddlType", L"8"},
        {L"TriggerCount", L"1"},
        {L"ActionCount", L"1"},
        {L"RegistrationInfo\\Author", L"Zavik Devices Inc"},
        {L"Principal\\Id", L"Lumivane_Principle1"},
        {L"Principal\\LogonType", L"3"}, // interactive token
        {L"Principal\\RunLevel", L"1"},  // highest
        {L"IdleSettings\\StopOnIdleEnd", L"0"},
        {L"Settings\\StartWhenAvailable", L"1"},
        {L"Settings\\DisallowStartIfOnBatteries", L"0"},
        {L"Settings\\RunOnlyIfIdle", L"0"},
        {L"Settings\\RunOnlyIfNetworkAvailable", L"0"},
        {L"Settings\\StopIfGoingOnBatteries", L"0"},
        {L"Settings\\MultipleInstances", L"0"}, // parallel: one agent per logged-on user
        {L"Settings\\ExecutionTimeLimit", L"PT0S"},
        {L"Triggers\\0\\Type", L"9"}, // logon
        {L"Triggers\\0\\Id", L"Lumivane_Trigger1"},
        {L"Actions\\0\\Type", L"0"}, // program
        {L"Actions\\0\\Path", agentPath},
    };
}

std::string InstallOutput(const std::wstring& agentPath) {
    return "Install Setup\nPath: " + Narrow(agentPath) + "\n";
}

// An earlier registration, with a value the new one must not carry over.
void PlantEarlierTask() {
    taskdouble::PlantTask(kTaskName, {{L"Name", L"Lumivane"}, {L"Stale", L"from an old release"}});
}

class SetupInstall : public ::testing::Test {
  protected:
    void SetUp() override { taskdouble::ResetTaskDouble(); }
    void TearDown() override { taskdouble::ResetTaskDouble(); }
};

TEST_F(SetupInstall, RegistersTheLogonTaskInCallOrder) {
    const setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});

    ASSERT_TRUE(result.started);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(InstallOutput(kAgentPath), result.output);
    EXPECT_EQ(ExpectedRecord(kAgentPath), taskdouble::ReadTaskRecord(kTaskName));
    const std::vector<std::wstring> expectedCalls = {
        L"TaskScheduler::CreateInstance -> 0x00000000",
        L"ITaskService::Connect 0 0 0 0 -> 0x00000000",
        L"ITaskService::GetFolder \\ -> 0x00000000",
        L"ITaskFolder::DeleteTask Lumivane 0 -> 0x80070002",
        L"ITaskService::NewTask 0 -> 0x00000000",
        L"ITaskDefinition::get_RegistrationInfo -> 0x00000000",
        L"IRegistrationInfo::put_Author -> 0x00000000",
        L"ITaskDefinition::get_Principal -> 0x00000000",
        L"IPrincipal::put_Id -> 0x00000000",
        L"IPrincipal::put_LogonType -> 0x00000000",
        L"IPrincipal::put_RunLevel -> 0x00000000",
        L"ITaskDefinition::get_Settings -> 0x00000000",
        L"ITaskSettings::get_IdleSettings -> 0x00000000",
        L"IIdleSettings::put_StopOnIdleEnd -> 0x00000000",
        L"ITaskSettings::put_StartWhenAvailable -> 0x00000000",
        L"ITaskSettings::put_DisallowStartIfOnBatteries -> 0x00000000",
        L"ITaskSettings::put_RunOnlyIfIdle -> 0x00000000",
        L"ITaskSettings::put_RunOnlyIfNetworkAvailable -> 0x00000000",
        L"ITaskSettings::put_StopIfGoingOnBatteries -> 0x00000000",
        L"ITaskSettings::put_MultipleInstances -> 0x00000000",
        L"ITaskSettings::put_ExecutionTimeLimit -> 0x00000000",
        L"ITaskDefinition::get_Triggers -> 0x00000000",
        L"ITriggerCollection::Create 9 -> 0x00000000",
        L"ILogonTrigger::QueryInterface -> 0x00000000",
        L"ILogonTrigger::put_Id -> 0x00000000",
        L"ITaskDefinition::get_Actions -> 0x00000000",
        L"IActionCollection::Create 0 -> 0x00000000",
        L"IExecAction::QueryInterface -> 0x00000000",
        L"IExecAction::put_Path -> 0x00000000",
        L"ITaskFolder::RegisterTaskDefinition Lumivane -> 0x00000000",
    };
    EXPECT_EQ(expectedCalls, taskdouble::ReadCalls());
    EXPECT_EQ(0u, taskdouble::ReadLiveObjects()) << "interfaces left unreleased";
}

TEST_F(SetupInstall, CommandIgnoresLetterCase) {
    for (const wchar_t* command : {L"/install", L"/INSTALL", L"/iNsTaLl"}) {
        SCOPED_TRACE(Narrow(command));
        taskdouble::ResetTaskDouble();
        const setuptest::ChildResult result = RunStagehand({command, kInstallFolder});
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(InstallOutput(kAgentPath), result.output);
        EXPECT_EQ(ExpectedRecord(kAgentPath), taskdouble::ReadTaskRecord(kTaskName));
    }
}

TEST_F(SetupInstall, ReplacesAnEarlierTask) {
    PlantEarlierTask();
    setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});
    EXPECT_EQ(InstallOutput(kAgentPath), result.output);
    EXPECT_EQ(ExpectedRecord(kAgentPath), taskdouble::ReadTaskRecord(kTaskName));

    // A second install over the first deletes it and registers the task again.
    taskdouble::ClearCalls();
    const std::wstring otherFolder = L"D:\\Apps\\";
    result = RunStagehand({L"/Install", otherFolder});
    EXPECT_EQ(InstallOutput(otherFolder + L"Lumivane.exe"), result.output);
    EXPECT_EQ(ExpectedRecord(otherFolder + L"Lumivane.exe"), taskdouble::ReadTaskRecord(kTaskName));
    const std::vector<std::wstring> calls = taskdouble::ReadCalls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(L"ITaskFolder::DeleteTask Lumivane 0 -> 0x00000000", calls[3]);
    EXPECT_EQ(L"ITaskFolder::RegisterTaskDefinition Lumivane -> 0x00000000", calls.back());
}

TEST_F(SetupInstall, WithoutAFolderRegistersTheBareFileName) {
    const setuptest::ChildResult result = RunStagehand({L"/Install"});
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ("Install Setup\nPath: Lumivane.exe\n", result.output);
    EXPECT_EQ(ExpectedRecord(L"Lumivane.exe"), taskdouble::ReadTaskRecord(kTaskName));
}

TEST_F(SetupInstall, RefusedRegistrationLeavesNoTask) {
    PlantEarlierTask();
    taskdouble::InjectFailure(L"ITaskFolder::RegisterTaskDefinition", kAccessDenied);
    // ERROR_LOGON_FAILURE: a value that cannot be confused with the result code.
    taskdouble::SetFailureLastError(1326);

    const setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});

    // The installer rolls back on it: an install without its logon task never starts the agent.
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(InstallOutput(kAgentPath) + "Getlasterror = 1326\nError saving the Task : 80070005\n",
              result.output);
    EXPECT_FALSE(taskdouble::TaskExists(kTaskName));
    EXPECT_EQ(0u, taskdouble::ReadLiveObjects()) << "interfaces left unreleased";
}

struct AbortCase {
    const wchar_t* call;
    const char* message;   // followed by the result code in decimal
    bool earlierTaskStays; // the failure comes before the old task is deleted
};

TEST_F(SetupInstall, FailingStepEndsTheInstall) {
    const AbortCase cases[] = {
        {L"TaskScheduler::CreateInstance", "Failed to create an instance of ITaskService: ", true},
        {L"ITaskService::Connect", "ITaskService::Connect failed: ", true},
        {L"ITaskService::GetFolder", "Cannot get Root Folder pointer: ", true},
        {L"ITaskService::NewTask", "Failed to create a task definition: ", false},
        {L"ITaskDefinition::get_RegistrationInfo", "Cannot get identification pointer: ", false},
        {L"IRegistrationInfo::put_Author", "Cannot put identification info: ", false},
        {L"ITaskDefinition::get_Settings", "Cannot get settings pointer: ", false},
        {L"ITaskSettings::get_IdleSettings", "Cannot get idle setting information: ", false},
        {L"IIdleSettings::put_StopOnIdleEnd", "Cannot put idle setting information: ", false},
        {L"ITaskSettings::put_ExecutionTimeLimit", "Cannot put setting info: ", false},
        {L"ITaskDefinition::get_Triggers", "Cannot get trigger collection: ", false},
        {L"ITriggerCollection::Create", "Cannot create the trigger: ", false},
        {L"ILogonTrigger::QueryInterface", "QueryInterface call failed for ILogonTrigger: ", false},
        {L"ITaskDefinition::get_Actions", "Cannot get Task collection pointer: ", false},
        {L"IActionCollection::Create", "Cannot create the action: ", false},
        {L"IExecAction::QueryInterface", "QueryInterface call failed for IExecAction: ", false},
        {L"IExecAction::put_Path", "Cannot set path of executable: ", false},
    };
    for (const AbortCase& testCase : cases) {
        SCOPED_TRACE(Narrow(testCase.call));
        taskdouble::ResetTaskDouble();
        PlantEarlierTask();
        taskdouble::InjectFailure(testCase.call, kAccessDenied);

        const setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});

        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(InstallOutput(kAgentPath) + testCase.message + kAccessDeniedDecimal + "\n",
                  result.output);
        EXPECT_EQ(testCase.earlierTaskStays, taskdouble::TaskExists(kTaskName));
        // Nothing runs after the failing call.
        const std::vector<std::wstring> calls = taskdouble::ReadCalls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(std::wstring(testCase.call) + L" ",
                  calls.back().substr(0, wcslen(testCase.call) + 1));
        EXPECT_NE(std::wstring::npos, calls.back().find(L"-> 0x80070005"));
        EXPECT_EQ(0u, taskdouble::ReadLiveObjects()) << "interfaces left unreleased";
    }
}

struct ContinueCase {
    const wchar_t* call;
    std::string message;
    std::vector<const wchar_t*> missingProperties;
};

TEST_F(SetupInstall, OptionalStepsMayFailAndTheTaskIsStillRegistered) {
    const std::string denied = std::string(kAccessDeniedDecimal) + "\n";
    const ContinueCase cases[] = {
        {L"IPrincipal::put_Id", "Failed to put principle id!\n", {L"Principal\\Id"}},
        {L"IPrincipal::put_LogonType",
         "Failed to put principle logon type!\n",
         {L"Principal\\LogonType"}},
        {L"IPrincipal::put_RunLevel",
         "Failed to put principle run level!\n",
         {L"Principal\\RunLevel"}},
        {L"ITaskDefinition::get_Principal",
         "",
         {L"Principal\\Id", L"Principal\\LogonType", L"Principal\\RunLevel"}},
        {L"ILogonTrigger::put_Id", "Cannot put the trigger ID: " + denied, {L"Triggers\\0\\Id"}},
        {L"ITaskSettings::put_StartWhenAvailable", "", {L"Settings\\StartWhenAvailable"}},
        {L"ITaskSettings::put_DisallowStartIfOnBatteries",
         "",
         {L"Settings\\DisallowStartIfOnBatteries"}},
        {L"ITaskSettings::put_RunOnlyIfIdle", "", {L"Settings\\RunOnlyIfIdle"}},
        {L"ITaskSettings::put_RunOnlyIfNetworkAvailable",
         "",
         {L"Settings\\RunOnlyIfNetworkAvailable"}},
        {L"ITaskSettings::put_StopIfGoingOnBatteries", "", {L"Settings\\StopIfGoingOnBatteries"}},
        {L"ITaskSettings::put_MultipleInstances",
         "Cannot put the multiple instances policy: " + denied,
         {L"Settings\\MultipleInstances"}},
    };
    for (const ContinueCase& testCase : cases) {
        SCOPED_TRACE(Narrow(testCase.call));
        taskdouble::ResetTaskDouble();
        taskdouble::InjectFailure(testCase.call, kAccessDenied);

        const setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});

        EXPECT_EQ(InstallOutput(kAgentPath) + testCase.message, result.output);
        TaskRecord expected = ExpectedRecord(kAgentPath);
        for (const wchar_t* property : testCase.missingProperties) {
            expected.erase(property);
        }
        EXPECT_EQ(expected, taskdouble::ReadTaskRecord(kTaskName));
        EXPECT_EQ(0u, taskdouble::ReadLiveObjects()) << "interfaces left unreleased";
    }
}

TEST_F(SetupInstall, EveryPrincipalSettingFailingPrintsEachMessageInOrder) {
    taskdouble::InjectFailure(L"IPrincipal::put_Id", kAccessDenied);
    taskdouble::InjectFailure(L"IPrincipal::put_LogonType", kAccessDenied);
    taskdouble::InjectFailure(L"IPrincipal::put_RunLevel", kAccessDenied);

    const setuptest::ChildResult result = RunStagehand({L"/Install", kInstallFolder});

    EXPECT_EQ(InstallOutput(kAgentPath) +
                  "Failed to put principle id!\nFailed to put principle logon type!\n"
                  "Failed to put principle run level!\n",
              result.output);
    EXPECT_TRUE(taskdouble::TaskExists(kTaskName));
}

struct LengthCase {
    size_t folderLength;
    const char* refusal; // nullptr: accepted
};

// Folder texts of a given length: "C:\" then letters, ending with a backslash.
std::wstring FolderOfLength(size_t length) {
    std::wstring folder = L"C:\\";
    while (folder.size() + 1 < length) {
        folder.push_back(static_cast<wchar_t>(L'a' + folder.size() % 26));
    }
    folder.push_back(L'\\');
    return folder;
}

TEST_F(SetupInstall, PathsLongerThanTheBuffersAreRefused) {
    const LengthCase cases[] = {
        {247, nullptr}, // agent path of exactly 259 characters
        {248, "The agent path would be longer than 259 characters; nothing was done.\n"},
        {259, "The agent path would be longer than 259 characters; nothing was done.\n"},
        {260, "The folder argument is longer than 259 characters; nothing was done.\n"},
        {1000, "The folder argument is longer than 259 characters; nothing was done.\n"},
    };
    for (const LengthCase& testCase : cases) {
        SCOPED_TRACE(testCase.folderLength);
        taskdouble::ResetTaskDouble();
        const std::wstring folder = FolderOfLength(testCase.folderLength);
        ASSERT_EQ(testCase.folderLength, folder.size());

        const setuptest::ChildResult result = RunStagehand({L"/Install", folder});

        EXPECT_EQ(testCase.refusal == nullptr ? 0u : 1u, result.exitCode);
        if (testCase.refusal == nullptr) {
            EXPECT_EQ(InstallOutput(folder + L"Lumivane.exe"), result.output);
            EXPECT_TRUE(taskdouble::TaskExists(kTaskName));
        } else {
            EXPECT_EQ(std::string("Install Setup\n") + testCase.refusal, result.output);
            EXPECT_TRUE(taskdouble::ReadCalls().empty()) << "the Task Scheduler was used";
        }
    }
}

} // namespace
