#include "tools/taskdouble/double_record.h"

#include "tools/taskdouble/record_layout.h"

#include <atomic>
#include <cstdio>

namespace taskdouble {

namespace {

std::atomic<long> liveObjects{0};

std::vector<wchar_t> ReadMultiString(HKEY key, const wchar_t* value) {
    DWORD size = 0;
    if (RegQueryValueExW(key, value, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS) {
        return {};
    }
    text.resize(size / sizeof(wchar_t));
    // Drop the list terminator; entries keep their own.
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    if (!text.empty()) {
        text.push_back(L'\0');
    }
    return text;
}

void AppendCall(const std::wstring& entry) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRootKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> list = ReadMultiString(key, kCallsValue);
    list.insert(list.end(), entry.begin(), entry.end());
    list.push_back(L'\0');
    list.push_back(L'\0');
    RegSetValueExW(key, kCallsValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                   static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    RegCloseKey(key);
}

bool ReadDword(const wchar_t* keyPath, const wchar_t* value, DWORD& number) {
    DWORD size = sizeof number;
    return RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, value, RRF_RT_REG_DWORD, nullptr, &number,
                        &size) == ERROR_SUCCESS;
}

void WriteDword(const wchar_t* keyPath, const wchar_t* value, DWORD number) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                       sizeof number);
        RegCloseKey(key);
    }
}

} // namespace

HRESULT RecordCall(const wchar_t* call, const std::wstring& detail,
                   const std::function<HRESULT()>& work) {
    DWORD injected = 0;
    const bool fail = ReadDword(kFailKey, call, injected);
    const HRESULT hr = fail ? static_cast<HRESULT>(injected) : work();
    wchar_t result[32];
    swprintf(result, sizeof result / sizeof result[0], L" -> 0x%08lX",
             static_cast<unsigned long>(hr));
    std::wstring entry = call;
    if (!detail.empty()) {
        entry += L" " + detail;
    }
    AppendCall(entry + result);
    DWORD lastError = 0;
    if (fail && ReadDword(kRootKey, kFailLastErrorValue, lastError)) {
        SetLastError(lastError);
    }
    return hr;
}

void AdjustLiveObjects(int delta) {
    const long count = liveObjects += delta;
    WriteDword(kRootKey, kLiveObjectsValue, static_cast<DWORD>(count));
}

long LiveObjects() {
    return liveObjects;
}

void SetText(PropertyBag& bag, const wchar_t* name, const wchar_t* text) {
    for (Property& property : bag) {
        if (property.name == name) {
            property = Property{name, false, 0, text != nullptr ? text : L""};
            return;
        }
    }
    bag.push_back(Property{name, false, 0, text != nullptr ? text : L""});
}

void SetNumber(PropertyBag& bag, const wchar_t* name, DWORD number) {
    for (Property& property : bag) {
        if (property.name == name) {
            property = Property{name, true, number, L""};
            return;
        }
    }
    bag.push_back(Property{name, true, number, L""});
}

void WriteBag(HKEY parent, const std::wstring& subKey, const PropertyBag& bag) {
    HKEY key;
    if (RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const Property& property : bag) {
        if (property.isNumber) {
            RegSetValueExW(key, property.name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&property.number), sizeof property.number);
        } else {
            RegSetValueExW(key, property.name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(property.text.c_str()),
                           static_cast<DWORD>((property.text.size() + 1) * sizeof(wchar_t)));
        }
    }
    RegCloseKey(key);
}

std::wstring TaskKeyPath(const std::wstring& name) {
    return std::wstring(kTasksKey) + L"\\" + name;
}

bool TaskExists(const std::wstring& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TaskKeyPath(name).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool DeleteTaskKey(const std::wstring& name) {
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, TaskKeyPath(name).c_str()) == ERROR_SUCCESS;
}

} // namespace taskdouble
