// Test-side access to the Task Scheduler double's record (record_layout.h): what was
// registered and deleted, which calls were made, and failures to inject.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace taskdouble {

// Every value of a task's record, keyed by its path below the task's key ("Name",
// "Principal\\Id", "Triggers\\0\\Type"); numbers as decimal text.
using TaskRecord = std::map<std::wstring, std::wstring>;

// Forgets every task, the call log, the live-object count and the injected failures.
void ResetTaskDouble();
// Forgets the call log only.
void ClearCalls();

bool TaskExists(const std::wstring& name);
TaskRecord ReadTaskRecord(const std::wstring& name);
// Leaves a task as an earlier registration would have, with the given values in its key (a name
// with a path, "Actions\0\Path", goes to that subkey).
void PlantTask(const std::wstring& name, const TaskRecord& values);

// Entries "<Interface>::<method>[ <detail>] -> 0x%08X", oldest first.
std::vector<std::wstring> ReadCalls();
// Objects of the double still alive when the last process that used it stopped using it.
DWORD ReadLiveObjects();

// Makes the call named "<Interface>::<method>" answer hr instead of working; with lastError
// given, the double also sets that as the thread's last error.
void InjectFailure(const std::wstring& call, HRESULT hr);
void SetFailureLastError(DWORD lastError);
void ClearFailures();

} // namespace taskdouble
