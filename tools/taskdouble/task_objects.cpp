// In-process stand-in for the Task Scheduler's ITaskService and the objects reached from it.
//
// Definitions are kept in memory while the caller builds them; RegisterTaskDefinition writes
// everything that was put into the registry record (record_layout.h) and DeleteTask removes it,
// so registered tasks outlive the process that registered them, like real ones. Every call the
// setup tool makes goes through RecordCall, which logs it and answers an injected failure when
// a test asked for one.
#include "tools/taskdouble/task_objects.h"

#include "tools/taskdouble/double_record.h"

#include <oleauto.h>

#include <string>
#include <vector>

using taskdouble::AdjustLiveObjects;
using taskdouble::PropertyBag;
using taskdouble::RecordCall;
using taskdouble::SetNumber;
using taskdouble::SetText;

namespace {

// Lets RegisterTaskDefinition recognise a definition that this double made.
// {5A1E0D2C-7B1D-4C5E-9F0A-3D2B6C8E4F11}
constexpr IID kIidDoubleDefinition = {
    0x5a1e0d2c, 0x7b1d, 0x4c5e, {0x9f, 0x0a, 0x3d, 0x2b, 0x6c, 0x8e, 0x4f, 0x11}};

std::wstring Number(long value) {
    return std::to_wstring(value);
}

std::wstring TextOf(BSTR text) {
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// IUnknown and IDispatch for one interface I (and its base interface, if any). The double
// counts its live objects so a test can tell that every pointer it handed out was released.
template <class I> class DispatchObject : public I {
  public:
    DispatchObject(const IID& primary, const IID* secondary, const wchar_t* queryFailName)
        : primary_(primary), secondary_(secondary), queryFailName_(queryFailName) {
        AdjustLiveObjects(+1);
    }
    virtual ~DispatchObject() { AdjustLiveObjects(-1); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                           IsEqualIID(riid, primary_) ||
                           (secondary_ != nullptr && IsEqualIID(riid, *secondary_));
        if (!known) {
            return E_NOINTERFACE;
        }
        // The caller's query for the specific interface can be made to fail on request.
        if (queryFailName_ != nullptr && IsEqualIID(riid, primary_)) {
            const HRESULT hr = RecordCall(queryFailName_, L"", [] { return S_OK; });
            if (FAILED(hr)) {
                return hr;
            }
        }
        this->AddRef();
        *object = static_cast<I*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG count = --references_;
        if (count == 0) {
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

  private:
    ULONG references_ = 1;
    IID primary_;
    const IID* secondary_;
    const wchar_t* queryFailName_;
};

// Property setters that record their value in the object's bag under the property's name.
#define DOUBLE_PUT_TEXT(Interface, Name)                                                           \
    HRESULT STDMETHODCALLTYPE put_##Name(BSTR value) override {                                    \
        return RecordCall(L"" #Interface "::put_" #Name, L"", [&] {                                \
            SetText(bag, L"" #Name, value);                                                        \
            return S_OK;                                                                           \
        });                                                                                        \
    }
#define DOUBLE_PUT_NUMBER(Interface, Name, Type)                                                   \
    HRESULT STDMETHODCALLTYPE put_##Name(Type value) override {                                    \
        return RecordCall(L"" #Interface "::put_" #Name, L"", [&] {                                \
            SetNumber(bag, L"" #Name, static_cast<DWORD>(value));                                  \
            return S_OK;                                                                           \
        });                                                                                        \
    }
// Booleans keep their raw bits, so 1 and VARIANT_TRUE stay distinguishable.
#define DOUBLE_PUT_BOOL(Interface, Name)                                                           \
    HRESULT STDMETHODCALLTYPE put_##Name(VARIANT_BOOL value) override {                            \
        return RecordCall(L"" #Interface "::put_" #Name, L"", [&] {                                \
            SetNumber(bag, L"" #Name, static_cast<DWORD>(static_cast<USHORT>(value)));             \
            return S_OK;                                                                           \
        });                                                                                        \
    }
#define DOUBLE_NOT_IMPLEMENTED(Method, ...)                                                        \
    HRESULT STDMETHODCALLTYPE Method(__VA_ARGS__) override {                                       \
        return E_NOTIMPL;                                                                          \
    }

class RegistrationInfo : public DispatchObject<IRegistrationInfo> {
  public:
    RegistrationInfo() : DispatchObject(__uuidof(IRegistrationInfo), nullptr, nullptr) {}
    PropertyBag bag;

    DOUBLE_NOT_IMPLEMENTED(get_Description, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Description)
    DOUBLE_NOT_IMPLEMENTED(get_Author, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Author)
    DOUBLE_NOT_IMPLEMENTED(get_Version, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Version)
    DOUBLE_NOT_IMPLEMENTED(get_Date, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Date)
    DOUBLE_NOT_IMPLEMENTED(get_Documentation, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Documentation)
    DOUBLE_NOT_IMPLEMENTED(get_XmlText, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_XmlText, BSTR)
    DOUBLE_NOT_IMPLEMENTED(get_URI, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, URI)
    DOUBLE_NOT_IMPLEMENTED(get_SecurityDescriptor, VARIANT*)
    DOUBLE_NOT_IMPLEMENTED(put_SecurityDescriptor, VARIANT)
    DOUBLE_NOT_IMPLEMENTED(get_Source, BSTR*)
    DOUBLE_PUT_TEXT(IRegistrationInfo, Source)
};

class Principal : public DispatchObject<IPrincipal> {
  public:
    Principal() : DispatchObject(__uuidof(IPrincipal), nullptr, nullptr) {}
    PropertyBag bag;

    DOUBLE_NOT_IMPLEMENTED(get_Id, BSTR*)
    DOUBLE_PUT_TEXT(IPrincipal, Id)
    DOUBLE_NOT_IMPLEMENTED(get_DisplayName, BSTR*)
    DOUBLE_PUT_TEXT(IPrincipal, DisplayName)
    DOUBLE_NOT_IMPLEMENTED(get_UserId, BSTR*)
    DOUBLE_PUT_TEXT(IPrincipal, UserId)
    DOUBLE_NOT_IMPLEMENTED(get_LogonType, TASK_LOGON_TYPE*)
    DOUBLE_PUT_NUMBER(IPrincipal, LogonType, TASK_LOGON_TYPE)
    DOUBLE_NOT_IMPLEMENTED(get_GroupId, BSTR*)
    DOUBLE_PUT_TEXT(IPrincipal, GroupId)
    DOUBLE_NOT_IMPLEMENTED(get_RunLevel, TASK_RUNLEVEL_TYPE*)
    DOUBLE_PUT_NUMBER(IPrincipal, RunLevel, TASK_RUNLEVEL_TYPE)
};

class IdleSettings : public DispatchObject<IIdleSettings> {
  public:
    IdleSettings() : DispatchObject(__uuidof(IIdleSettings), nullptr, nullptr) {}
    PropertyBag bag;

    DOUBLE_NOT_IMPLEMENTED(get_IdleDuration, BSTR*)
    DOUBLE_PUT_TEXT(IIdleSettings, IdleDuration)
    DOUBLE_NOT_IMPLEMENTED(get_WaitTimeout, BSTR*)
    DOUBLE_PUT_TEXT(IIdleSettings, WaitTimeout)
    DOUBLE_NOT_IMPLEMENTED(get_StopOnIdleEnd, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(IIdleSettings, StopOnIdleEnd)
    DOUBLE_NOT_IMPLEMENTED(get_RestartOnIdle, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(IIdleSettings, RestartOnIdle)
};

class TaskSettings : public DispatchObject<ITaskSettings> {
  public:
    TaskSettings() : DispatchObject(__uuidof(ITaskSettings), nullptr, nullptr) {
        idle = new IdleSettings();
    }
    ~TaskSettings() override { idle->Release(); }
    PropertyBag bag;
    IdleSettings* idle;

    DOUBLE_NOT_IMPLEMENTED(get_AllowDemandStart, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, AllowDemandStart)
    DOUBLE_NOT_IMPLEMENTED(get_RestartInterval, BSTR*)
    DOUBLE_PUT_TEXT(ITaskSettings, RestartInterval)
    DOUBLE_NOT_IMPLEMENTED(get_RestartCount, INT*)
    DOUBLE_PUT_NUMBER(ITaskSettings, RestartCount, INT)
    DOUBLE_NOT_IMPLEMENTED(get_MultipleInstances, TASK_INSTANCES_POLICY*)
    DOUBLE_PUT_NUMBER(ITaskSettings, MultipleInstances, TASK_INSTANCES_POLICY)
    DOUBLE_NOT_IMPLEMENTED(get_StopIfGoingOnBatteries, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, StopIfGoingOnBatteries)
    DOUBLE_NOT_IMPLEMENTED(get_DisallowStartIfOnBatteries, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, DisallowStartIfOnBatteries)
    DOUBLE_NOT_IMPLEMENTED(get_AllowHardTerminate, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, AllowHardTerminate)
    DOUBLE_NOT_IMPLEMENTED(get_StartWhenAvailable, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, StartWhenAvailable)
    DOUBLE_NOT_IMPLEMENTED(get_XmlText, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_XmlText, BSTR)
    DOUBLE_NOT_IMPLEMENTED(get_RunOnlyIfNetworkAvailable, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, RunOnlyIfNetworkAvailable)
    DOUBLE_NOT_IMPLEMENTED(get_ExecutionTimeLimit, BSTR*)
    DOUBLE_PUT_TEXT(ITaskSettings, ExecutionTimeLimit)
    DOUBLE_NOT_IMPLEMENTED(get_Enabled, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, Enabled)
    DOUBLE_NOT_IMPLEMENTED(get_DeleteExpiredTaskAfter, BSTR*)
    DOUBLE_PUT_TEXT(ITaskSettings, DeleteExpiredTaskAfter)
    DOUBLE_NOT_IMPLEMENTED(get_Priority, INT*)
    DOUBLE_PUT_NUMBER(ITaskSettings, Priority, INT)
    DOUBLE_NOT_IMPLEMENTED(get_Compatibility, TASK_COMPATIBILITY*)
    DOUBLE_PUT_NUMBER(ITaskSettings, Compatibility, TASK_COMPATIBILITY)
    DOUBLE_NOT_IMPLEMENTED(get_Hidden, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, Hidden)
    HRESULT STDMETHODCALLTYPE get_IdleSettings(IIdleSettings** settings) override {
        return RecordCall(L"ITaskSettings::get_IdleSettings", L"", [&] {
            if (settings == nullptr) {
                return E_POINTER;
            }
            idle->AddRef();
            *settings = idle;
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(put_IdleSettings, IIdleSettings*)
    DOUBLE_NOT_IMPLEMENTED(get_RunOnlyIfIdle, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, RunOnlyIfIdle)
    DOUBLE_NOT_IMPLEMENTED(get_WakeToRun, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ITaskSettings, WakeToRun)
    DOUBLE_NOT_IMPLEMENTED(get_NetworkSettings, INetworkSettings**)
    DOUBLE_NOT_IMPLEMENTED(put_NetworkSettings, INetworkSettings*)
};

class LogonTrigger : public DispatchObject<ILogonTrigger> {
  public:
    LogonTrigger()
        : DispatchObject(__uuidof(ILogonTrigger), &__uuidof(ITrigger),
                         L"ILogonTrigger::QueryInterface") {}
    PropertyBag bag;

    HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* type) override {
        if (type == nullptr) {
            return E_POINTER;
        }
        *type = TASK_TRIGGER_LOGON;
        return S_OK;
    }
    DOUBLE_NOT_IMPLEMENTED(get_Id, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, Id)
    DOUBLE_NOT_IMPLEMENTED(get_Repetition, IRepetitionPattern**)
    DOUBLE_NOT_IMPLEMENTED(put_Repetition, IRepetitionPattern*)
    DOUBLE_NOT_IMPLEMENTED(get_ExecutionTimeLimit, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, ExecutionTimeLimit)
    DOUBLE_NOT_IMPLEMENTED(get_StartBoundary, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, StartBoundary)
    DOUBLE_NOT_IMPLEMENTED(get_EndBoundary, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, EndBoundary)
    DOUBLE_NOT_IMPLEMENTED(get_Enabled, VARIANT_BOOL*)
    DOUBLE_PUT_BOOL(ILogonTrigger, Enabled)
    DOUBLE_NOT_IMPLEMENTED(get_Delay, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, Delay)
    DOUBLE_NOT_IMPLEMENTED(get_UserId, BSTR*)
    DOUBLE_PUT_TEXT(ILogonTrigger, UserId)
};

class TriggerCollection : public DispatchObject<ITriggerCollection> {
  public:
    TriggerCollection() : DispatchObject(__uuidof(ITriggerCollection), nullptr, nullptr) {}
    ~TriggerCollection() override {
        for (LogonTrigger* trigger : triggers) {
            trigger->Release();
        }
    }
    std::vector<LogonTrigger*> triggers;

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = static_cast<LONG>(triggers.size());
        return S_OK;
    }
    DOUBLE_NOT_IMPLEMENTED(get_Item, LONG, ITrigger**)
    DOUBLE_NOT_IMPLEMENTED(get__NewEnum, IUnknown**)
    HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override {
        if (trigger != nullptr) {
            *trigger = nullptr;
        }
        return RecordCall(L"ITriggerCollection::Create", Number(type), [&] {
            if (trigger == nullptr) {
                return E_POINTER;
            }
            // Only the logon trigger is modelled.
            if (type != TASK_TRIGGER_LOGON) {
                return E_NOTIMPL;
            }
            LogonTrigger* created = new LogonTrigger();
            triggers.push_back(created);
            created->AddRef();
            *trigger = created;
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(Remove, VARIANT)
    DOUBLE_NOT_IMPLEMENTED(Clear)
};

class ExecAction : public DispatchObject<IExecAction> {
  public:
    ExecAction()
        : DispatchObject(__uuidof(IExecAction), &__uuidof(IAction),
                         L"IExecAction::QueryInterface") {}
    PropertyBag bag;

    DOUBLE_NOT_IMPLEMENTED(get_Id, BSTR*)
    DOUBLE_PUT_TEXT(IExecAction, Id)
    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
        if (type == nullptr) {
            return E_POINTER;
        }
        *type = TASK_ACTION_EXEC;
        return S_OK;
    }
    // Read back by PanelCheck from a registered task.
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override {
        if (path == nullptr) {
            return E_POINTER;
        }
        *path = nullptr;
        for (const taskdouble::Property& property : bag) {
            if (property.name == L"Path" && !property.isNumber) {
                *path = SysAllocString(property.text.c_str());
                return *path != nullptr ? S_OK : E_OUTOFMEMORY;
            }
        }
        return S_FALSE;
    }
    DOUBLE_PUT_TEXT(IExecAction, Path)
    DOUBLE_NOT_IMPLEMENTED(get_Arguments, BSTR*)
    DOUBLE_PUT_TEXT(IExecAction, Arguments)
    DOUBLE_NOT_IMPLEMENTED(get_WorkingDirectory, BSTR*)
    DOUBLE_PUT_TEXT(IExecAction, WorkingDirectory)
};

class ActionCollection : public DispatchObject<IActionCollection> {
  public:
    ActionCollection() : DispatchObject(__uuidof(IActionCollection), nullptr, nullptr) {}
    ~ActionCollection() override {
        for (ExecAction* action : actions) {
            action->Release();
        }
    }
    std::vector<ExecAction*> actions;

    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = static_cast<LONG>(actions.size());
        return S_OK;
    }
    // 1-based, as the scheduler counts.
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) override {
        if (action == nullptr) {
            return E_POINTER;
        }
        *action = nullptr;
        if (index < 1 || static_cast<size_t>(index) > actions.size()) {
            return E_INVALIDARG;
        }
        actions[static_cast<size_t>(index) - 1]->AddRef();
        *action = actions[static_cast<size_t>(index) - 1];
        return S_OK;
    }
    DOUBLE_NOT_IMPLEMENTED(get__NewEnum, IUnknown**)
    DOUBLE_NOT_IMPLEMENTED(get_XmlText, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_XmlText, BSTR)
    HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type, IAction** action) override {
        if (action != nullptr) {
            *action = nullptr;
        }
        return RecordCall(L"IActionCollection::Create", Number(type), [&] {
            if (action == nullptr) {
                return E_POINTER;
            }
            // Only the program-starting action is modelled.
            if (type != TASK_ACTION_EXEC) {
                return E_NOTIMPL;
            }
            ExecAction* created = new ExecAction();
            actions.push_back(created);
            created->AddRef();
            *action = created;
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(Remove, VARIANT)
    DOUBLE_NOT_IMPLEMENTED(Clear)
    DOUBLE_NOT_IMPLEMENTED(get_Context, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_Context, BSTR)
};

// Hands out one of the definition's parts with a reference for the caller.
template <class Interface, class Part>
HRESULT HandOut(const wchar_t* call, Part* part, Interface** out) {
    if (out != nullptr) {
        *out = nullptr;
    }
    return RecordCall(call, L"", [&] {
        if (out == nullptr) {
            return E_POINTER;
        }
        part->AddRef();
        *out = part;
        return S_OK;
    });
}

class TaskDefinition : public DispatchObject<ITaskDefinition> {
  public:
    TaskDefinition() : DispatchObject(__uuidof(ITaskDefinition), &kIidDoubleDefinition, nullptr) {
        info = new RegistrationInfo();
        principal = new Principal();
        settings = new TaskSettings();
        triggers = new TriggerCollection();
        actions = new ActionCollection();
    }
    ~TaskDefinition() override {
        info->Release();
        principal->Release();
        settings->Release();
        triggers->Release();
        actions->Release();
    }
    RegistrationInfo* info;
    Principal* principal;
    TaskSettings* settings;
    TriggerCollection* triggers;
    ActionCollection* actions;

    HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** out) override {
        return HandOut(L"ITaskDefinition::get_RegistrationInfo", info, out);
    }
    DOUBLE_NOT_IMPLEMENTED(put_RegistrationInfo, IRegistrationInfo*)
    HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** out) override {
        return HandOut(L"ITaskDefinition::get_Triggers", triggers, out);
    }
    DOUBLE_NOT_IMPLEMENTED(put_Triggers, ITriggerCollection*)
    HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** out) override {
        return HandOut(L"ITaskDefinition::get_Settings", settings, out);
    }
    DOUBLE_NOT_IMPLEMENTED(put_Settings, ITaskSettings*)
    DOUBLE_NOT_IMPLEMENTED(get_Data, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_Data, BSTR)
    HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** out) override {
        return HandOut(L"ITaskDefinition::get_Principal", principal, out);
    }
    DOUBLE_NOT_IMPLEMENTED(put_Principal, IPrincipal*)
    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** out) override {
        return HandOut(L"ITaskDefinition::get_Actions", actions, out);
    }
    DOUBLE_NOT_IMPLEMENTED(put_Actions, IActionCollection*)
    DOUBLE_NOT_IMPLEMENTED(get_XmlText, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(put_XmlText, BSTR)
};

class RegisteredTask : public DispatchObject<IRegisteredTask> {
  public:
    explicit RegisteredTask(const std::wstring& name)
        : DispatchObject(__uuidof(IRegisteredTask), nullptr, nullptr), name_(name) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        if (name == nullptr) {
            return E_POINTER;
        }
        *name = SysAllocString(name_.c_str());
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override {
        if (path == nullptr) {
            return E_POINTER;
        }
        *path = SysAllocString((L"\\" + name_).c_str());
        return *path != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    DOUBLE_NOT_IMPLEMENTED(get_State, TASK_STATE*)
    DOUBLE_NOT_IMPLEMENTED(get_Enabled, VARIANT_BOOL*)
    DOUBLE_NOT_IMPLEMENTED(put_Enabled, VARIANT_BOOL)
    DOUBLE_NOT_IMPLEMENTED(Run, VARIANT, IRunningTask**)
    // Records the flags and the session and starts the task's program at once, without a
    // window, when the session is the caller's own; a program started in another session is
    // not seen from this one, and Wine has no other. No running-task object is handed out.
    HRESULT STDMETHODCALLTYPE RunEx(VARIANT, LONG flags, LONG session, BSTR,
                                    IRunningTask** running) override {
        if (running != nullptr) {
            *running = nullptr;
        }
        return RecordCall(
            L"IRegisteredTask::RunEx", name_ + L" " + Number(flags) + L" " + Number(session), [&] {
                wchar_t path[MAX_PATH + 1] = {};
                DWORD size = sizeof path - sizeof(wchar_t);
                if (RegGetValueW(HKEY_LOCAL_MACHINE,
                                 (taskdouble::TaskKeyPath(name_) + L"\\Actions\\0").c_str(),
                                 L"Path", RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) {
                    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
                }
                DWORD own = 0;
                if ((flags & kTaskRunUseSessionId) != 0 &&
                    (!ProcessIdToSessionId(GetCurrentProcessId(), &own) ||
                     own != static_cast<DWORD>(session))) {
                    return S_OK;
                }
                std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
                STARTUPINFOW startup = {};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION process = {};
                if (!CreateProcessW(path, &commandLine[0], nullptr, nullptr, FALSE,
                                    CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
                    return HRESULT_FROM_WIN32(GetLastError());
                }
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
                return S_OK;
            });
    }
    DOUBLE_NOT_IMPLEMENTED(GetInstances, LONG, IRunningTaskCollection**)
    DOUBLE_NOT_IMPLEMENTED(get_LastRunTime, DATE*)
    DOUBLE_NOT_IMPLEMENTED(get_LastTaskResult, LONG*)
    DOUBLE_NOT_IMPLEMENTED(get_NumberOfMissedRuns, LONG*)
    DOUBLE_NOT_IMPLEMENTED(get_NextRunTime, DATE*)
    // A definition holding the recorded actions' program paths, which is all a reader of a
    // registered task asks for here.
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return RecordCall(L"IRegisteredTask::get_Definition", name_, [&] {
            if (out == nullptr) {
                return E_POINTER;
            }
            TaskDefinition* definition = new TaskDefinition();
            const std::wstring actionsKey = taskdouble::TaskKeyPath(name_) + L"\\Actions\\";
            for (size_t index = 0;; ++index) {
                wchar_t path[MAX_PATH + 1] = {};
                DWORD size = sizeof path - sizeof(wchar_t);
                if (RegGetValueW(HKEY_LOCAL_MACHINE, (actionsKey + std::to_wstring(index)).c_str(),
                                 L"Path", RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) {
                    break;
                }
                ExecAction* action = new ExecAction();
                SetText(action->bag, L"Path", path);
                definition->actions->actions.push_back(action);
            }
            *out = definition;
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(get_Xml, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(GetSecurityDescriptor, LONG, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(SetSecurityDescriptor, BSTR, LONG)
    DOUBLE_NOT_IMPLEMENTED(Stop, LONG)
    DOUBLE_NOT_IMPLEMENTED(GetRunTimes, const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*,
                           LPSYSTEMTIME*)

  private:
    std::wstring name_;
};

// Records a VARIANT argument of the registration: its type, and its text when it is one.
void RecordVariant(PropertyBag& bag, const wchar_t* name, const VARIANT& value) {
    SetNumber(bag, (std::wstring(name) + L"Type").c_str(), value.vt);
    if (value.vt == VT_BSTR) {
        SetText(bag, name, value.bstrVal != nullptr ? value.bstrVal : L"");
    }
}

void WriteTaskRecord(const std::wstring& name, TaskDefinition& definition, LONG flags,
                     const VARIANT& user, const VARIANT& password, TASK_LOGON_TYPE logonType,
                     const VARIANT& sddl) {
    PropertyBag registration;
    SetText(registration, L"Folder", L"\\");
    SetText(registration, L"Name", name.c_str());
    SetNumber(registration, L"Flags", static_cast<DWORD>(flags));
    SetNumber(registration, L"LogonType", static_cast<DWORD>(logonType));
    RecordVariant(registration, L"User", user);
    RecordVariant(registration, L"Sddl", sddl);
    // Only whether a password was given; its text is nobody's business.
    SetNumber(registration, L"PasswordType", password.vt);
    const bool passwordGiven =
        password.vt == VT_BSTR && password.bstrVal != nullptr && password.bstrVal[0] != L'\0';
    SetNumber(registration, L"PasswordPresent", passwordGiven ? 1 : 0);
    SetNumber(registration, L"TriggerCount",
              static_cast<DWORD>(definition.triggers->triggers.size()));
    SetNumber(registration, L"ActionCount", static_cast<DWORD>(definition.actions->actions.size()));

    const std::wstring key = taskdouble::TaskKeyPath(name);
    taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key, registration);
    taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\RegistrationInfo", definition.info->bag);
    taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\Principal", definition.principal->bag);
    taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\Settings", definition.settings->bag);
    taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\IdleSettings",
                         definition.settings->idle->bag);
    for (size_t index = 0; index < definition.triggers->triggers.size(); ++index) {
        PropertyBag bag = definition.triggers->triggers[index]->bag;
        SetNumber(bag, L"Type", TASK_TRIGGER_LOGON);
        taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\Triggers\\" + std::to_wstring(index),
                             bag);
    }
    for (size_t index = 0; index < definition.actions->actions.size(); ++index) {
        PropertyBag bag = definition.actions->actions[index]->bag;
        SetNumber(bag, L"Type", TASK_ACTION_EXEC);
        taskdouble::WriteBag(HKEY_LOCAL_MACHINE, key + L"\\Actions\\" + std::to_wstring(index),
                             bag);
    }
}

class TaskFolder : public DispatchObject<ITaskFolder> {
  public:
    TaskFolder() : DispatchObject(__uuidof(ITaskFolder), nullptr, nullptr) {}

    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
        if (name == nullptr) {
            return E_POINTER;
        }
        *name = SysAllocString(L"\\");
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override { return get_Name(path); }
    DOUBLE_NOT_IMPLEMENTED(GetFolder, BSTR, ITaskFolder**)
    DOUBLE_NOT_IMPLEMENTED(GetFolders, LONG, ITaskFolderCollection**)
    DOUBLE_NOT_IMPLEMENTED(CreateFolder, BSTR, VARIANT, ITaskFolder**)
    DOUBLE_NOT_IMPLEMENTED(DeleteFolder, BSTR, LONG)
    HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** task) override {
        if (task != nullptr) {
            *task = nullptr;
        }
        const std::wstring name = TextOf(path);
        return RecordCall(L"ITaskFolder::GetTask", name, [&] {
            if (task == nullptr) {
                return E_POINTER;
            }
            if (name.empty() || !taskdouble::TaskExists(name)) {
                return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            }
            *task = new RegisteredTask(name);
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(GetTasks, LONG, IRegisteredTaskCollection**)
    HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG flags) override {
        const std::wstring taskName = TextOf(name);
        return RecordCall(L"ITaskFolder::DeleteTask", taskName + L" " + Number(flags), [&] {
            if (taskName.empty()) {
                return E_INVALIDARG;
            }
            return taskdouble::DeleteTaskKey(taskName) ? S_OK
                                                       : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        });
    }
    DOUBLE_NOT_IMPLEMENTED(RegisterTask, BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE,
                           VARIANT, IRegisteredTask**)
    HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition,
                                                     LONG flags, VARIANT user, VARIANT password,
                                                     TASK_LOGON_TYPE logonType, VARIANT sddl,
                                                     IRegisteredTask** task) override {
        if (task != nullptr) {
            *task = nullptr;
        }
        const std::wstring name = TextOf(path);
        return RecordCall(L"ITaskFolder::RegisterTaskDefinition", name, [&] {
            if (name.empty() || definition == nullptr) {
                return E_INVALIDARG;
            }
            ITaskDefinition* ours = nullptr;
            if (FAILED(definition->QueryInterface(kIidDoubleDefinition,
                                                  reinterpret_cast<void**>(&ours)))) {
                return E_INVALIDARG;
            }
            const bool exists = taskdouble::TaskExists(name);
            HRESULT hr = S_OK;
            if (exists && (flags & TASK_UPDATE) == 0) {
                hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            } else if (!exists && (flags & TASK_CREATE) == 0) {
                hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            } else {
                // An update replaces the whole definition, as the scheduler does.
                (void)taskdouble::DeleteTaskKey(name);
                WriteTaskRecord(name, *static_cast<TaskDefinition*>(ours), flags, user, password,
                                logonType, sddl);
                if (task != nullptr) {
                    *task = new RegisteredTask(name);
                }
            }
            ours->Release();
            return hr;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(GetSecurityDescriptor, LONG, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(SetSecurityDescriptor, BSTR, LONG)
};

class TaskService : public DispatchObject<ITaskService> {
  public:
    TaskService() : DispatchObject(__uuidof(ITaskService), nullptr, nullptr) {}

    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** folder) override {
        if (folder != nullptr) {
            *folder = nullptr;
        }
        const std::wstring folderPath = TextOf(path);
        return RecordCall(L"ITaskService::GetFolder", folderPath, [&] {
            if (folder == nullptr) {
                return E_POINTER;
            }
            if (!connected_) {
                return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
            }
            // Only the root folder exists here.
            if (folderPath != L"\\") {
                return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
            }
            *folder = new TaskFolder();
            return S_OK;
        });
    }
    DOUBLE_NOT_IMPLEMENTED(GetRunningTasks, LONG, IRunningTaskCollection**)
    HRESULT STDMETHODCALLTYPE NewTask(DWORD flags, ITaskDefinition** definition) override {
        if (definition != nullptr) {
            *definition = nullptr;
        }
        return RecordCall(L"ITaskService::NewTask", Number(static_cast<long>(flags)), [&] {
            if (definition == nullptr) {
                return E_POINTER;
            }
            if (!connected_) {
                return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
            }
            *definition = new TaskDefinition();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Connect(VARIANT server, VARIANT user, VARIANT domain,
                                      VARIANT password) override {
        const std::wstring types = Number(server.vt) + L" " + Number(user.vt) + L" " +
                                   Number(domain.vt) + L" " + Number(password.vt);
        return RecordCall(L"ITaskService::Connect", types, [&] {
            connected_ = true;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Connected(VARIANT_BOOL* connected) override {
        if (connected == nullptr) {
            return E_POINTER;
        }
        *connected = connected_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    DOUBLE_NOT_IMPLEMENTED(get_TargetServer, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(get_ConnectedUser, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(get_ConnectedDomain, BSTR*)
    DOUBLE_NOT_IMPLEMENTED(get_HighestVersion, DWORD*)

  private:
    bool connected_ = false;
};

} // namespace

HRESULT CreateTaskService(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    return RecordCall(L"TaskScheduler::CreateInstance", L"", [&] {
        TaskService* service = new TaskService();
        const HRESULT hr = service->QueryInterface(riid, object);
        service->Release();
        return hr;
    });
}
