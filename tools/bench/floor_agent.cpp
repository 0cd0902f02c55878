// FloorAgent: the floors the agent's reaction time is set against. It watches the data folder
// for a change of OD_Result.txt and broadcasts "NOTIFY_GC_MODECHANGE" as the agent does.
//
//   FloorAgent.exe          the watch floor: nothing between the read and the broadcast
//   FloorAgent.exe --work   the work floor: the input and output the agent needs for one change,
//                           and nothing else - its log lines (written by the agent's own log
//                           function), the read of the choice, the power source and the
//                           panel's current mode through the same machine boundary, the BIOS's
//                           status and set requests through the same driver, Icon.txt, one
//                           broadcast
//
// Either prints "ready" once the watch is armed and ends on "quit" or end of input.
//
// lParam carries the value read from OD_Result.txt, and a value is broadcast only when it differs
// from the one before: the plug-in's rewrite reaches the folder as more than one modification
// (truncation, then the write), and the bench pairs each Set with exactly one notice by value.
// The watch is overlapped so it is armed before "ready" is printed; changes made while a
// broadcast runs are kept by the platform for the next read.

#include "agent/bios/acpi_channel.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "common/fixed_paths.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

const wchar_t kChoiceName[] = L"OD_RESULT.TXT";
const wchar_t kModeChangeMessageName[] = L"NOTIFY_GC_MODECHANGE";

constexpr WPARAM kNoticeWParam = 0x00FFAB00;
constexpr UINT kBroadcastTimeoutMs = 5000;
constexpr DWORD kNotifyBufferSize = 4096;
constexpr DWORD kWatchFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr int kExitFailed = 2;
constexpr size_t kChoiceMaxChars = 3;

// Offsets inside a FILE_NOTIFY_INFORMATION record; read by offset, the buffer holds bytes.
constexpr DWORD kNextOffsetField = 0;
constexpr DWORD kActionField = 4;
constexpr DWORD kNameLengthField = 8;
constexpr DWORD kNameField = 12;

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    memcpy(&value, at, sizeof value);
    return value;
}

// True when a record in the batch adds or modifies the choice file. FileNameLength counts
// bytes without a terminator; nothing past byteCount is read.
bool BatchTouchesChoice(const BYTE* buffer, DWORD byteCount) {
    DWORD offset = 0;
    while (byteCount >= kNameField && offset <= byteCount - kNameField) {
        const BYTE* record = buffer + offset;
        const DWORD next = ReadDword(record + kNextOffsetField);
        const DWORD action = ReadDword(record + kActionField);
        const DWORD nameBytes = ReadDword(record + kNameLengthField);
        if (nameBytes > byteCount - offset - kNameField) {
            return false;
        }
        std::wstring name(nameBytes / sizeof(wchar_t), L'\0');
        if (!name.empty()) {
            memcpy(&name[0], record + kNameField, name.size() * sizeof(wchar_t));
        }
        const bool isChoice = CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()),
                                                   kChoiceName, -1, TRUE) == CSTR_EQUAL;
        if (isChoice && (action == FILE_ACTION_ADDED || action == FILE_ACTION_MODIFIED)) {
            return true;
        }
        if (next == 0 || next > byteCount - offset) {
            return false;
        }
        offset += next;
    }
    return false;
}

// The work of one change after the read, in the agent's order: its log lines (same texts, so the
// same lengths), the power source, the panel's current mode (the first adapter, its first
// monitor, which names the panel, and the adapter's mode: where the simulated notebook has the
// panel), the BIOS's status and set, Icon.txt, the broadcast. The floor knows the panel runs at
// 144 Hz on AC, so the icon value is the choice itself.
void DoAgentWork(const std::string& value, const std::string& lastValue, UINT modeChangeMessage) {
    const std::wstring choice = ToWide(value);
    SYSTEM_POWER_STATUS power = {};
    (void)machine::GetPowerStatus(&power);
    WriteLog(L"Detect_Notify_Fn: Power Status = " + NumberText(power.ACLineStatus));
    WriteLog(L"OD_OnOff " + choice);
    WriteLog(L"Detect_Notify_Fn: TXT file OD Status = " + choice);
    DISPLAY_DEVICEW adapter = {};
    DISPLAY_DEVICEW monitor = {};
    DEVMODEW mode = {};
    if (machine::ReadDisplayDevice(nullptr, 0, &adapter) &&
        machine::ReadDisplayDevice(adapter.DeviceName, 0, &monitor)) {
        (void)machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode);
    }
    const std::wstring rate = NumberText(mode.dmDisplayFrequency);
    WriteLog(L"Detect_Notify_Fn: Now Refresh Rate = " + rate);
    WriteLog(L"Detect_Notify_Fn: " + std::wstring(L"EDID0123") +
             L", Power Status is AC mode, Now Refresh Rate: " + rate + L" Hz");
    uint32_t status = 0;
    uint32_t answer = 0;
    if (InitializeZVKACPIDevice()) {
        (void)GetDeviceStatus(kOverdriveDevice, &status);
        (void)SetDeviceState(value == "1" ? 1 : 0, &answer);
    }
    (void)CloseZVKACPIDevice();
    WriteLog(L"Notify_Helmbay_ODIcon: temp_OD_Icon: " + ToWide(lastValue) + L", OD_Status: " +
             choice);
    (void)WriteStateValue(DataFilePath(kIconFileName), choice);
    WriteLog(L"Send Message to Helmbay");
    DWORD_PTR ignored = 0;
    const LRESULT result = SendMessageTimeoutW(HWND_BROADCAST, modeChangeMessage, kNoticeWParam,
                                               static_cast<LPARAM>(std::atoi(value.c_str())),
                                               SMTO_ABORTIFHUNG, kBroadcastTimeoutMs, &ignored);
    WriteLog(L"SendMessageTimeout Result= " + NumberText(static_cast<long long>(result)));
}

// The first word of the choice file; empty while the writer is between truncation and write.
std::string ReadChoice() {
    HANDLE file = CreateFileW(kODResultPath.text, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    char bytes[16] = {};
    DWORD count = 0;
    (void)ReadFile(file, bytes, sizeof bytes - 1, &count, nullptr); // a failed read is "empty"
    CloseHandle(file);
    std::string word;
    for (DWORD i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!word.empty()) {
                break;
            }
            continue;
        }
        word += c;
    }
    return word;
}

bool ArmWatch(HANDLE folder, BYTE* buffer, OVERLAPPED* overlapped) {
    (void)ResetEvent(overlapped->hEvent);
    return ReadDirectoryChangesW(folder, buffer, kNotifyBufferSize, FALSE, kWatchFilter, nullptr,
                                 overlapped, nullptr) != 0;
}

// Ends the process on "quit" or when the parent closes our input.
DWORD WINAPI WatchInput(void*) {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "quit" || line == "quit\r") {
            break;
        }
    }
    std::fflush(stdout);
    ExitProcess(0);
}

int Fail(const char* what) {
    const DWORD error = GetLastError();
    std::printf("error %s (%lu)\n", what, static_cast<unsigned long>(error));
    std::fflush(stdout);
    return kExitFailed;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool work = argc > 1 && std::wstring(argv[1]) == L"--work";
    const UINT modeChangeMessage = RegisterWindowMessageW(kModeChangeMessageName);
    if (modeChangeMessage == 0) {
        return Fail("RegisterWindowMessageW");
    }
    HANDLE folder = CreateFileW(
        kDataFolder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return Fail("cannot open the data folder");
    }
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return Fail("CreateEventW");
    }
    // DWORD alignment is what the platform requires of the buffer.
    static DWORD buffer[kNotifyBufferSize / sizeof(DWORD)];
    BYTE* bytes = reinterpret_cast<BYTE*>(buffer);
    if (!ArmWatch(folder, bytes, &overlapped)) {
        return Fail("ReadDirectoryChangesW");
    }
    HANDLE input = CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
    if (input == nullptr) {
        return Fail("CreateThread");
    }
    CloseHandle(input);
    std::printf("ready\n");
    std::fflush(stdout);

    std::string lastValue;
    for (;;) {
        DWORD count = 0;
        if (!GetOverlappedResult(folder, &overlapped, &count, TRUE)) {
            return Fail("GetOverlappedResult");
        }
        // A zero-byte batch means changes were lost: look at the file all the same.
        const bool touched = count == 0 || BatchTouchesChoice(bytes, count);
        if (!ArmWatch(folder, bytes, &overlapped)) {
            return Fail("ReadDirectoryChangesW");
        }
        if (!touched) {
            continue;
        }
        if (work) {
            // Every notice costs the agent a log line and a read, the same one it uses.
            WriteLog(L"fsWatcher_OD_Result_Changed ++");
            const FileToken read = ReadFileToken(DataFilePath(kODResultFileName), kChoiceMaxChars);
            if (!read.hasToken || read.token == lastValue) {
                continue;
            }
            WriteLog(DataFilePath(kODResultFileName) + L" is changed");
            WriteLog(L"OD_OnOff " + ToWide(read.token));
            DoAgentWork(read.token, lastValue, modeChangeMessage);
            lastValue = read.token;
            continue;
        }
        const std::string value = ReadChoice();
        if (value.empty() || value == lastValue) {
            continue;
        }
        lastValue = value;
        DWORD_PTR ignored = 0;
        (void)SendMessageTimeoutW(HWND_BROADCAST, modeChangeMessage, kNoticeWParam,
                                  static_cast<LPARAM>(std::atoi(value.c_str())), SMTO_ABORTIFHUNG,
                                  kBroadcastTimeoutMs, &ignored);
    }
}
