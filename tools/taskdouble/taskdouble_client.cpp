#include "tools/taskdouble/taskdouble_client.h"

#include "tools/taskdouble/record_layout.h"

namespace taskdouble {

namespace {

void SetDword(const wchar_t* keyPath, const std::wstring& value, DWORD number) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                       sizeof number);
        RegCloseKey(key);
    }
}

void ReadKeyInto(HKEY key, const std::wstring& prefix, TaskRecord& record) {
    wchar_t name[256];
    BYTE data[2048];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name / sizeof name[0];
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        if (type == REG_DWORD) {
            DWORD number;
            memcpy(&number, data, sizeof number);
            record[prefix + name] = std::to_wstring(number);
        } else {
            data[dataSize] = 0;
            data[dataSize + 1] = 0;
            record[prefix + name] = reinterpret_cast<const wchar_t*>(data);
        }
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = sizeof name / sizeof name[0];
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        HKEY child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            ReadKeyInto(child, prefix + name + L"\\", record);
            RegCloseKey(child);
        }
    }
}

std::wstring TaskKey(const std::wstring& name) {
    return std::wstring(kTasksKey) + L"\\" + name;
}

} // namespace

void ResetTaskDouble() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kRootKey);
}

void ClearCalls() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRootKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kCallsValue);
        RegCloseKey(key);
    }
}

bool TaskExists(const std::wstring& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TaskKey(name).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

TaskRecord ReadTaskRecord(const std::wstring& name) {
    TaskRecord record;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TaskKey(name).c_str(), 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        ReadKeyInto(key, L"", record);
        RegCloseKey(key);
    }
    return record;
}

void PlantTask(const std::wstring& name, const TaskRecord& values) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, TaskKey(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const auto& value : values) {
        // "Actions\0\Path" is the value Path of the subkey Actions\0, as ReadTaskRecord names it.
        const size_t separator = value.first.rfind(L'\\');
        HKEY target = key;
        if (separator != std::wstring::npos &&
            RegCreateKeyExW(key, value.first.substr(0, separator).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &target, nullptr) != ERROR_SUCCESS) {
            continue;
        }
        const std::wstring name =
            separator == std::wstring::npos ? value.first : value.first.substr(separator + 1);
        RegSetValueExW(target, name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.second.c_str()),
                       static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t)));
        if (target != key) {
            RegCloseKey(target);
        }
    }
    RegCloseKey(key);
}

std::vector<std::wstring> ReadCalls() {
    std::vector<std::wstring> calls;
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRootKey, kCallsValue, RRF_RT_REG_MULTI_SZ, nullptr,
                     nullptr, &size) != ERROR_SUCCESS) {
        return calls;
    }
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRootKey, kCallsValue, RRF_RT_REG_MULTI_SZ, nullptr,
                     text.data(), &size) != ERROR_SUCCESS) {
        return calls;
    }
    for (const wchar_t* entry = text.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
        calls.emplace_back(entry);
    }
    return calls;
}

DWORD ReadLiveObjects() {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRootKey, kLiveObjectsValue, RRF_RT_REG_DWORD, nullptr,
                     &number, &size) != ERROR_SUCCESS) {
        return 0;
    }
    return number;
}

void InjectFailure(const std::wstring& call, HRESULT hr) {
    SetDword(kFailKey, call, static_cast<DWORD>(hr));
}

void SetFailureLastError(DWORD lastError) {
    SetDword(kRootKey, kFailLastErrorValue, lastError);
}

void ClearFailures() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kFailKey);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRootKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kFailLastErrorValue);
        RegCloseKey(key);
    }
}

} // namespace taskdouble
