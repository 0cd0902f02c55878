// Registers the agent's logon task through the Task Scheduler 2.0 COM interfaces.
//
// The routine deletes the old task before anything else, so a failed install leaves no task at
// all rather than a stale one. Most failures end the routine; the three principal settings and
// the trigger identifier are allowed to fail because the task still works without them. Every
// interface is held by an owner declared after the COM guard, so each of the many early returns
// releases them before CoUninitialize.
#include "setup/logon_task.h"

#include "common/owners.h"
#include "setup/setup_limits.h"
#include "setup/task_scheduler.h"

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kTaskName[] = L"Lumivane";
const wchar_t kRootFolder[] = L"\\";
const wchar_t kAuthor[] = L"Zavik Devices Inc";
const wchar_t kPrincipalId[] = L"Lumivane_Principle1";
const wchar_t kTriggerId[] = L"Lumivane_Trigger1";
const wchar_t kNoTimeLimit[] = L"PT0S";
// Well-known identifier of the local Users group: every interactive user's logon qualifies,
// administrators included, so a standard user gets an agent too. The highest run level keeps
// an administrator's agent elevated; a standard user's runs with that user's rights.
const wchar_t kUsersGroup[] = L"S-1-5-32-545";

// Earlier releases passed 1 rather than VARIANT_TRUE; the scheduler takes any non-zero value as
// true, and keeping 1 keeps the registered task identical across releases.
constexpr VARIANT_BOOL kStartWhenAvailable = 1;

bool RegisterTask(ITaskFolder* rootFolder, ComPtr<ITaskService>& service,
                  const wchar_t* agentPath) {
    ComPtr<ITaskDefinition> definition;
    HRESULT hr = service->NewTask(0, definition.Put());
    // The service is not needed past this point, whatever NewTask answered.
    service.Reset();
    if (FAILED(hr)) {
        printf("Failed to create a task definition: %ld\n", hr);
        return false;
    }

    {
        ComPtr<IRegistrationInfo> info;
        hr = definition->get_RegistrationInfo(info.Put());
        if (FAILED(hr)) {
            printf("Cannot get identification pointer: %ld\n", hr);
            return false;
        }
        hr = info->put_Author(Bstr(kAuthor).Get());
        if (FAILED(hr)) {
            printf("Cannot put identification info: %ld\n", hr);
            return false;
        }
    }

    {
        // Without a principal the task keeps the scheduler's defaults; that is not fatal.
        ComPtr<IPrincipal> principal;
        if (SUCCEEDED(definition->get_Principal(principal.Put()))) {
            if (FAILED(principal->put_Id(Bstr(kPrincipalId).Get()))) {
                printf("Failed to put principle id!\n");
            }
            if (FAILED(principal->put_LogonType(TASK_LOGON_INTERACTIVE_TOKEN))) {
                printf("Failed to put principle logon type!\n");
            }
            if (FAILED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) {
                printf("Failed to put principle run level!\n");
            }
        }
    }

    {
        ComPtr<ITaskSettings> settings;
        hr = definition->get_Settings(settings.Put());
        if (FAILED(hr)) {
            printf("Cannot get settings pointer: %ld\n", hr);
            return false;
        }
        {
            ComPtr<IIdleSettings> idleSettings;
            hr = settings->get_IdleSettings(idleSettings.Put());
            if (FAILED(hr)) {
                printf("Cannot get idle setting information: %ld\n", hr);
                return false;
            }
            hr = idleSettings->put_StopOnIdleEnd(VARIANT_FALSE);
            if (FAILED(hr)) {
                printf("Cannot put idle setting information: %ld\n", hr);
                return false;
            }
        }
        // The scheduler's defaults would do for these; their results are deliberately ignored.
        (void)settings->put_StartWhenAvailable(kStartWhenAvailable);
        (void)settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
        (void)settings->put_RunOnlyIfIdle(VARIANT_FALSE);
        (void)settings->put_RunOnlyIfNetworkAvailable(VARIANT_FALSE);
        (void)settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
        // Every user who logs on gets an agent of their own, even while another user's runs
        // (the scheduler's default would start none). Without it the task still serves the
        // first user, so a refusal is reported and the install goes on.
        hr = settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL);
        if (FAILED(hr)) {
            printf("Cannot put the multiple instances policy: %ld\n", hr);
        }
        hr = settings->put_ExecutionTimeLimit(Bstr(kNoTimeLimit).Get());
        if (FAILED(hr)) {
            printf("Cannot put setting info: %ld\n", hr);
            return false;
        }
    }

    {
        ComPtr<ITrigger> trigger;
        {
            ComPtr<ITriggerCollection> triggers;
            hr = definition->get_Triggers(triggers.Put());
            if (FAILED(hr)) {
                printf("Cannot get trigger collection: %ld\n", hr);
                return false;
            }
            hr = triggers->Create(TASK_TRIGGER_LOGON, trigger.Put());
            if (FAILED(hr)) {
                printf("Cannot create the trigger: %ld\n", hr);
                return false;
            }
        }
        ComPtr<ILogonTrigger> logonTrigger;
        hr = trigger->QueryInterface(kIidLogonTrigger, logonTrigger.PutVoid());
        trigger.Reset();
        if (FAILED(hr)) {
            printf("QueryInterface call failed for ILogonTrigger: %ld\n", hr);
            return false;
        }
        // The identifier only names the trigger; the task works without it.
        hr = logonTrigger->put_Id(Bstr(kTriggerId).Get());
        if (FAILED(hr)) {
            printf("Cannot put the trigger ID: %ld\n", hr);
        }
    }

    {
        ComPtr<IAction> action;
        {
            ComPtr<IActionCollection> actions;
            hr = definition->get_Actions(actions.Put());
            if (FAILED(hr)) {
                printf("Cannot get Task collection pointer: %ld\n", hr);
                return false;
            }
            hr = actions->Create(TASK_ACTION_EXEC, action.Put());
            if (FAILED(hr)) {
                printf("Cannot create the action: %ld\n", hr);
                return false;
            }
        }
        ComPtr<IExecAction> execAction;
        hr = action->QueryInterface(kIidExecAction, execAction.PutVoid());
        action.Reset();
        if (FAILED(hr)) {
            printf("QueryInterface call failed for IExecAction: %ld\n", hr);
            return false;
        }
        hr = execAction->put_Path(Bstr(agentPath).Get());
        if (FAILED(hr)) {
            printf("Cannot set path of executable: %ld\n", hr);
            return false;
        }
    }

    ComPtr<IRegisteredTask> registeredTask;
    hr = rootFolder->RegisterTaskDefinition(Bstr(kTaskName).Get(), definition.Get(),
                                            TASK_CREATE_OR_UPDATE, Variant::Text(kUsersGroup).Get(),
                                            Variant().Get(), TASK_LOGON_GROUP,
                                            Variant::Text(L"").Get(), registeredTask.Put());
    if (FAILED(hr)) {
        const DWORD lastError = GetLastError();
        printf("Getlasterror = %d\n", static_cast<int>(lastError));
        printf("Error saving the Task : %08lX\n", static_cast<unsigned long>(hr));
        return false;
    }
    return true;
}

// The service, connected, and its root folder; false after printing why not. The caller holds
// the COM initialisation for as long as it holds the two.
bool OpenRootFolder(ComPtr<ITaskService>& service, ComPtr<ITaskFolder>& rootFolder) {
    HRESULT hr = CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  kIidTaskService, service.PutVoid());
    if (FAILED(hr)) {
        printf("Failed to create an instance of ITaskService: %ld\n", hr);
        return false;
    }
    // Empty variants: this machine, the current user, no domain, no password.
    hr = service->Connect(Variant().Get(), Variant().Get(), Variant().Get(), Variant().Get());
    if (FAILED(hr)) {
        printf("ITaskService::Connect failed: %ld\n", hr);
        return false;
    }
    hr = service->GetFolder(Bstr(kRootFolder).Get(), rootFolder.Put());
    if (FAILED(hr)) {
        printf("Cannot get Root Folder pointer: %ld\n", hr);
        return false;
    }
    return true;
}

} // namespace

bool RegisterLogonTask(TaskMode mode, const wchar_t* agentPath) {
    // The command checks its paths first; this guards the 260-character limit for any caller.
    if (wcslen(agentPath) > kMaxPathChars) {
        printf("The agent path is longer than %u characters; the task was not changed.\n",
               static_cast<unsigned>(kMaxPathChars));
        return false;
    }

    // Declared first so that it is destroyed last, after every interface below.
    ComInitialization com = InitializeCom();
    if (FAILED(com.Result())) {
        printf("AgingScheduler: CoInitialize failed: %ld\n", com.Result());
        return false;
    }

    wchar_t path[kMaxPathChars + 1];
    wmemcpy(path, agentPath, wcslen(agentPath) + 1);

    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> rootFolder;
    if (!OpenRootFolder(service, rootFolder)) {
        return false;
    }

    // The task may not exist; either way the name is free afterwards or the registration below
    // replaces it.
    (void)rootFolder->DeleteTask(Bstr(kTaskName).Get(), 0);

    if (mode == TaskMode::Uninstall) {
        return true;
    }
    return RegisterTask(rootFolder.Get(), service, path);
}

TaskRun RunLogonTask(DWORD session) {
    ComInitialization com = InitializeCom();
    if (FAILED(com.Result())) {
        printf("AgingScheduler: CoInitialize failed: %ld\n", com.Result());
        return TaskRun::Failed;
    }
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> rootFolder;
    if (!OpenRootFolder(service, rootFolder)) {
        return TaskRun::Failed;
    }
    ComPtr<IRegisteredTask> task;
    HRESULT hr = rootFolder->GetTask(Bstr(kTaskName).Get(), task.Put());
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return TaskRun::NotRegistered;
    }
    if (FAILED(hr)) {
        printf("Cannot get the logon task: %ld\n", hr);
        return TaskRun::Failed;
    }
    // The task's own principal decides the rights (the highest run level, the session's user),
    // exactly as at a logon; the session says whose desktop the agent serves.
    ComPtr<IRunningTask> running;
    hr = task->RunEx(Variant().Get(), kTaskRunUseSessionId, static_cast<LONG>(session), nullptr,
                     running.Put());
    if (FAILED(hr)) {
        printf("Cannot run the logon task in session %lu: %ld\n", session, hr);
        return TaskRun::Failed;
    }
    return TaskRun::Started;
}
