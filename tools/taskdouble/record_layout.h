// Where the Task Scheduler double keeps its record, shared by the double and the test-side
// client. Everything lives under HKLM\SOFTWARE\LumivaneTaskDouble of the test prefix:
//   Calls          REG_MULTI_SZ  one entry per call: "<Interface>::<method>[ <detail>] -> 0x%08X"
//   LiveObjects    REG_DWORD     objects of the double alive in the last process that used it
//   FailLastError  REG_DWORD     optional: last error set when an injected failure is answered
//   Fail\<Interface>::<method>   REG_DWORD  the HRESULT that call answers instead of working
//   Tasks\<name>   one key per registered task: the registration's arguments as values, and
//                  sub-keys RegistrationInfo, Principal, Settings, IdleSettings, Triggers\<n>,
//                  Actions\<n> holding each property that was put (text as REG_SZ, Booleans as
//                  the raw VARIANT_BOOL bits, numbers and enumerations as REG_DWORD).
#pragma once

namespace taskdouble {

constexpr wchar_t kRootKey[] = L"SOFTWARE\\LumivaneTaskDouble";
constexpr wchar_t kTasksKey[] = L"SOFTWARE\\LumivaneTaskDouble\\Tasks";
constexpr wchar_t kFailKey[] = L"SOFTWARE\\LumivaneTaskDouble\\Fail";
constexpr wchar_t kCallsValue[] = L"Calls";
constexpr wchar_t kLiveObjectsValue[] = L"LiveObjects";
constexpr wchar_t kFailLastErrorValue[] = L"FailLastError";

} // namespace taskdouble
