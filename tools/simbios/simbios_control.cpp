// Reads and writes the simulated BIOS's Parameters key and drives its service. The driver
// opens that key at every request, so plain registry writes reconfigure it at once.
#include "tools/simbios/simbios_control.h"

#include <windows.h>

namespace simbios {

namespace {

constexpr wchar_t kRequestCount[] = L"RequestCount";
constexpr wchar_t kOpenHandles[] = L"OpenHandles";
constexpr wchar_t kRequestSlotPrefix[] = L"Request";
constexpr wchar_t kDevicePath[] = L"\\\\.\\ZVKACPI";
constexpr DWORD kServiceWaitMs = 10000;
constexpr DWORD kPollMs = 50;
constexpr size_t kRecordHeaderSize = 4;
constexpr size_t kRequestHeaderSize = 8;

class RegKey {
  public:
    RegKey() = default;
    ~RegKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY get() const { return key_; }
    HKEY* put() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
        return &key_;
    }

  private:
    HKEY key_ = nullptr;
};

class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) {
            CloseServiceHandle(handle_);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return handle_; }

  private:
    SC_HANDLE handle_;
};

bool OpenParameters(RegKey& key) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSimBiosParametersKey, 0, nullptr, 0,
                           KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(),
                           nullptr) == ERROR_SUCCESS;
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD type = 0;
    DWORD size = sizeof(*value);
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(*value);
}

std::wstring SlotName(uint32_t slot) {
    return kRequestSlotPrefix + std::to_wstring(slot);
}

uint32_t WordAt(const std::string& bytes, size_t offset) {
    if (bytes.size() < offset + 4) {
        return 0;
    }
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

Request DecodeRecord(const std::string& record) {
    Request request;
    request.replyRoom = WordAt(record, 0);
    request.bytes = record.size() > kRecordHeaderSize ? record.substr(kRecordHeaderSize) : "";
    request.method = request.bytes.substr(0, 4);
    request.argumentLength = WordAt(request.bytes, 4);
    request.device = WordAt(request.bytes, kRequestHeaderSize);
    request.state = WordAt(request.bytes, kRequestHeaderSize + 4);
    return request;
}

// Polls until the device's presence equals `present`, for up to kServiceWaitMs.
bool WaitForDevice(bool present) {
    const ULONGLONG deadline = GetTickCount64() + kServiceWaitMs;
    for (;;) {
        if (CanOpenSimBiosDevice() == present) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

} // namespace

bool ResetSimBios() {
    // Deleting the key takes every configuration value and the record with it.
    const LSTATUS deleted = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSimBiosParametersKey);
    if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    return SetODState(false) && ClearRequests();
}

bool SetSimBiosValue(const wchar_t* name, uint32_t value) {
    RegKey key;
    if (!OpenParameters(key)) {
        return false;
    }
    const DWORD data = value;
    return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
}

bool RemoveSimBiosValue(const wchar_t* name) {
    RegKey key;
    if (!OpenParameters(key)) {
        return false;
    }
    const LSTATUS status = RegDeleteValueW(key.get(), name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool GetODState() {
    RegKey key;
    DWORD value = 0;
    if (!OpenParameters(key) || !ReadDword(key.get(), kSimBiosODState, &value)) {
        return false;
    }
    return value != 0;
}

bool SetODState(bool on) {
    return SetSimBiosValue(kSimBiosODState, on ? 1 : 0);
}

std::vector<Request> ReadRequests() {
    std::vector<Request> requests;
    RegKey key;
    DWORD count = 0;
    if (!OpenParameters(key) || !ReadDword(key.get(), kRequestCount, &count)) {
        return requests;
    }
    const uint32_t first = count > kSimBiosRecordSlots ? count - kSimBiosRecordSlots : 0;
    for (uint32_t i = first; i < count; ++i) {
        std::string record(kRecordHeaderSize + 64, '\0');
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(record.size());
        const std::wstring name = SlotName(i % kSimBiosRecordSlots);
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(&record[0]), &size) != ERROR_SUCCESS ||
            type != REG_BINARY) {
            continue;
        }
        record.resize(size);
        requests.push_back(DecodeRecord(record));
    }
    return requests;
}

std::vector<Request> ReadRequests(const std::string& method) {
    std::vector<Request> matching;
    for (Request& request : ReadRequests()) {
        if (request.method == method) {
            matching.push_back(std::move(request));
        }
    }
    return matching;
}

bool ClearRequests() {
    RegKey key;
    if (!OpenParameters(key)) {
        return false;
    }
    // The count first: from then on the driver reuses slot 0, and stale slots are unreachable.
    const DWORD zero = 0;
    if (RegSetValueExW(key.get(), kRequestCount, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                       sizeof(zero)) != ERROR_SUCCESS) {
        return false;
    }
    for (uint32_t slot = 0; slot < kSimBiosRecordSlots; ++slot) {
        (void)RegDeleteValueW(key.get(), SlotName(slot).c_str()); // absent slots are fine
    }
    return true;
}

uint32_t GetSimBiosOpenHandles() {
    RegKey key;
    DWORD value = 0;
    if (!OpenParameters(key) || !ReadDword(key.get(), kOpenHandles, &value)) {
        return 0;
    }
    return value;
}

bool WaitForSimBiosOpenHandles(uint32_t expected, unsigned long timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (GetSimBiosOpenHandles() == expected) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

bool StopSimBios() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.get() == nullptr) {
        return false;
    }
    ServiceHandle service(
        OpenServiceW(manager.get(), kSimBiosServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service.get() == nullptr) {
        return false;
    }
    SERVICE_STATUS status = {};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE) {
            return false;
        }
    }
    return WaitForDevice(false);
}

bool StartSimBios() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.get() == nullptr) {
        return false;
    }
    ServiceHandle service(
        OpenServiceW(manager.get(), kSimBiosServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
    if (service.get() == nullptr) {
        return false;
    }
    if (!StartServiceW(service.get(), 0, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            return false;
        }
    }
    return WaitForDevice(true);
}

bool CanOpenSimBiosDevice() {
    HANDLE device =
        CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(device);
    return true;
}

} // namespace simbios
