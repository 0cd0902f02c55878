// The double's side of its record: the call log, injected failures, the live-object count and
// the property bags written for a registered task.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace taskdouble {

// Runs work unless the test asked this call to fail; logs the call with its detail and result.
// An injected failure also sets the configured last error, as the last thing before returning.
HRESULT RecordCall(const wchar_t* call, const std::wstring& detail,
                   const std::function<HRESULT()>& work);

// Counts the double's objects; the count is written at every change so a test can check that
// the caller released everything it obtained.
void AdjustLiveObjects(int delta);
long LiveObjects();

struct Property {
    std::wstring name;
    bool isNumber = false;
    DWORD number = 0;
    std::wstring text;
};
using PropertyBag = std::vector<Property>;

void SetText(PropertyBag& bag, const wchar_t* name, const wchar_t* text);
void SetNumber(PropertyBag& bag, const wchar_t* name, DWORD number);

// Writes the bag's properties as values of parent\subKey (created).
void WriteBag(HKEY parent, const std::wstring& subKey, const PropertyBag& bag);

std::wstring TaskKeyPath(const std::wstring& name);
bool TaskExists(const std::wstring& name);
bool DeleteTaskKey(const std::wstring& name);

} // namespace taskdouble
