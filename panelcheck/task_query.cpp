// The logon task and the agent's processes, as Stagehand leaves and starts them. Read only:
// the task is looked up, never registered or changed.
#include "panelcheck/machine_facts.h"

#include "common/owners.h"
#include "common/fixed_paths.h"
#include "setup/task_scheduler.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <taskschd.h>
#include <tlhelp32.h>

#include <cwchar>
#include <vector>

namespace {

const wchar_t kTaskName[] = L"Lumivane";
// Longest path the platform hands out.
constexpr DWORD kLongestProgramPath = 32768;

LogonTaskFact Unknown(HRESULT error) {
    LogonTaskFact fact;
    fact.error = error;
    return fact;
}

} // namespace

LogonTaskFact QueryLogonTask() {
    // Declared first, so that it outlives every COM owner below.
    ComInitialization com = InitializeCom();
    ComPtr<ITaskService> service;
    HRESULT hr = CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  kIidTaskService, service.PutVoid());
    if (FAILED(hr)) {
        return Unknown(hr);
    }
    VARIANT none;
    VariantInit(&none);
    hr = service->Connect(none, none, none, none);
    if (FAILED(hr)) {
        return Unknown(hr);
    }
    ComPtr<ITaskFolder> root;
    Bstr rootPath(L"\\");
    hr = service->GetFolder(rootPath.Get(), root.Put());
    if (FAILED(hr)) {
        return Unknown(hr);
    }
    ComPtr<IRegisteredTask> task;
    Bstr taskName(kTaskName);
    hr = root->GetTask(taskName.Get(), task.Put());
    LogonTaskFact fact;
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        fact.known = true;
        return fact;
    }
    if (FAILED(hr)) {
        return Unknown(hr);
    }
    fact.known = true;
    fact.registered = true;
    // The program path is a detail: a task that cannot show it is still registered.
    ComPtr<ITaskDefinition> definition;
    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    Bstr path;
    if (FAILED(hr = task->get_Definition(definition.Put())) ||
        FAILED(hr = definition->get_Actions(actions.Put())) ||
        FAILED(hr = actions->get_Item(1, action.Put())) ||
        FAILED(hr = action->QueryInterface(kIidExecAction, exec.PutVoid())) ||
        FAILED(hr = exec->get_Path(path.Put()))) {
        fact.error = hr;
        return fact;
    }
    fact.programPath = path.Get() != nullptr ? path.Get() : L"";
    const DWORD attributes = GetFileAttributesW(fact.programPath.c_str());
    fact.programExists = !fact.programPath.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return fact;
}

std::vector<DWORD> FindAgentProcesses() {
    std::vector<DWORD> found;
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) {
        return found;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, kAgentFileName) == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    return found;
}

std::vector<std::wstring> FindProgramPaths(const std::vector<DWORD>& processes) {
    std::vector<std::wstring> paths;
    for (DWORD id : processes) {
        // Limited rights: an agent of another user, started with the highest rights, still
        // tells where it runs from.
        UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        std::wstring path;
        if (process.Valid()) {
            std::vector<wchar_t> buffer(kLongestProgramPath);
            DWORD length = static_cast<DWORD>(buffer.size());
            if (QueryFullProcessImageNameW(process.Get(), 0, buffer.data(), &length)) {
                path.assign(buffer.data(), length);
            }
        }
        paths.push_back(path);
    }
    return paths;
}
