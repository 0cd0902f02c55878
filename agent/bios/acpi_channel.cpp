// The BIOS channel. Every request is one synchronous DeviceIoControl exchange on the handle
// kept in acpiDevice. Notify_BIOS_SetOD opens the device, makes its request and closes the
// device again, so acpiDevice is none between calls; start-up keeps its own handle open for
// one query, which is why InitializeZVKACPIDevice closes a stored handle before replacing it.
//
// Trap: Notify_BIOS_SetOD logs "InitializeZVKACPIDevice Fail" not only when the device is
// missing but for every request without an answer (an unknown request, a "DEVS" that answered
// other than 1). The text is fixed; tools that read the log depend on it.
#include "agent/bios/acpi_channel.h"

#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/state/agent_state.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr wchar_t kDevicePath[] = L"\\\\.\\ZVKACPI";
constexpr DWORD kReplyAreaSize = 1024;
constexpr size_t kRequestHeaderSize = 8; // tag word + argument length word
constexpr uint32_t kAnswerOverdriveOn = 0x00010001;
constexpr uint32_t kAnswerOverdriveOff = 0x00010000;
constexpr uint32_t kAnswerPanelSupportsOverdrive = 0x00010001;
constexpr uint32_t kAnswerStateSet = 1;
constexpr uint32_t kStateOn = 1;
constexpr uint32_t kStateOff = 0;

constexpr wchar_t kInitializeFailLogLine[] = L"Notify_BIOS_SetOD: InitializeZVKACPIDevice Fail";
constexpr wchar_t kFailText[] = L"FAIL";
constexpr wchar_t kUnexpectedAnswerText[] = L"Fail ,ulResult = ";

// The answers' fixed texts, which the log and the field tool show.
struct StatusText {
    BiosStatus status;
    const wchar_t* text;
};
constexpr StatusText kStatusTexts[] = {
    {BiosStatus::DeviceNotOpened, L"InitializeZVKACPIDevice Fail"},
    {BiosStatus::Fail, kFailText},
    {BiosStatus::OverdriveOnNow, L"OD_ON Now"},
    {BiosStatus::OverdriveOffNow, L"OD_off Now"},
    {BiosStatus::OverdriveOnFail, L"OD_On Fail"},
    {BiosStatus::OverdriveOffFail, L"OD_Off Fail"},
    {BiosStatus::OverdriveOnSuccess, L"OD_On Success"},
    {BiosStatus::OverdriveOffSuccess, L"OD_Off Success"},
    {BiosStatus::PanelSupported, L"YES"},
    {BiosStatus::PanelNotSupported, L"NO"},
    {BiosStatus::OverdriveIsOn, L"1"},
    {BiosStatus::OverdriveIsOff, L"0"},
};

bool IsUsableHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void PutWord(uint8_t* at, uint32_t word) {
    at[0] = static_cast<uint8_t>(word);
    at[1] = static_cast<uint8_t>(word >> 8);
    at[2] = static_cast<uint8_t>(word >> 16);
    at[3] = static_cast<uint8_t>(word >> 24);
}

uint32_t GetWord(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// One request whose answer is a single word; a reply shorter than a word reads as 0.
bool QueryAnswerWord(uint32_t tag, const uint32_t* arguments, uint32_t argumentCount,
                     uint32_t* answer) {
    if (!IsUsableHandle(acpiDevice)) {
        return false;
    }
    uint8_t argumentBytes[2 * sizeof(uint32_t)] = {};
    for (uint32_t i = 0; i < argumentCount; ++i) {
        PutWord(argumentBytes + i * sizeof(uint32_t), arguments[i]);
    }
    uint8_t reply[sizeof(uint32_t)] = {};
    DWORD replyLength = sizeof(reply);
    if (!CallACPIMethod(tag, argumentBytes, argumentCount * sizeof(uint32_t), reply,
                        &replyLength)) {
        return false;
    }
    *answer = replyLength >= sizeof(reply) ? GetWord(reply) : 0;
    return true;
}

BiosAnswer Answer(BiosStatus status) {
    return {status, 0, std::wstring()};
}

BiosAnswer UnexpectedAnswer(uint32_t answer) {
    return {BiosStatus::UnexpectedAnswer, answer, std::wstring()};
}

// Requests "1" and "0": the state is read first, and "DEVS" goes out only to change it.
BiosAnswer SwitchOverdrive(bool switchOn) {
    uint32_t status = 0;
    if (!GetDeviceStatus(kOverdriveDevice, &status) || (status & kDevicePresentBit) == 0) {
        return Answer(BiosStatus::Fail);
    }
    const bool isOn = status == kAnswerOverdriveOn;
    if (!isOn && status != kAnswerOverdriveOff) {
        return UnexpectedAnswer(status);
    }
    if (isOn == switchOn) {
        return Answer(switchOn ? BiosStatus::OverdriveOnNow : BiosStatus::OverdriveOffNow);
    }
    uint32_t answer = 0;
    if (!SetDeviceState(switchOn ? kStateOn : kStateOff, &answer)) {
        return Answer(switchOn ? BiosStatus::OverdriveOnFail : BiosStatus::OverdriveOffFail);
    }
    if (answer != kAnswerStateSet) {
        return Answer(BiosStatus::NoAnswer); // logged and answered Fail by the caller
    }
    return Answer(switchOn ? BiosStatus::OverdriveOnSuccess : BiosStatus::OverdriveOffSuccess);
}

BiosAnswer QueryPanelSupport() {
    uint32_t status = 0;
    if (!GetDeviceStatus(kODPanelSupportDevice, &status) || (status & kDevicePresentBit) == 0) {
        return Answer(BiosStatus::Fail);
    }
    return Answer(status == kAnswerPanelSupportsOverdrive ? BiosStatus::PanelSupported
                                                          : BiosStatus::PanelNotSupported);
}

BiosAnswer QueryOverdriveState() {
    uint32_t status = 0;
    if (!GetDeviceStatus(kOverdriveDevice, &status) || (status & kDevicePresentBit) == 0) {
        return Answer(BiosStatus::Fail);
    }
    if (status == kAnswerOverdriveOn) {
        return Answer(BiosStatus::OverdriveIsOn);
    }
    if (status == kAnswerOverdriveOff) {
        return Answer(BiosStatus::OverdriveIsOff);
    }
    return UnexpectedAnswer(status);
}

} // namespace

bool InitializeZVKACPIDevice() {
    // Start-up may leave its handle stored; replacing it unclosed would leak it.
    (void)CloseZVKACPIDevice();
    acpiDevice =
        CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return acpiDevice != INVALID_HANDLE_VALUE;
}

bool CloseZVKACPIDevice() {
    if (!IsUsableHandle(acpiDevice)) {
        return false;
    }
    CloseHandle(acpiDevice);
    acpiDevice = nullptr;
    return true;
}

bool CallACPIMethod(uint32_t tag, const void* arguments, uint32_t argumentLength, void* reply,
                    DWORD* replyLength) {
    const size_t requestLength = kRequestHeaderSize + static_cast<size_t>(argumentLength);
    if (requestLength > MAXDWORD) {
        return false;
    }
    std::unique_ptr<uint8_t[]> request(new (std::nothrow) uint8_t[requestLength]);
    std::unique_ptr<uint8_t[]> replyArea(new (std::nothrow) uint8_t[kReplyAreaSize]);
    if (!request || !replyArea) {
        return false;
    }
    PutWord(request.get(), tag);
    PutWord(request.get() + 4, argumentLength);
    if (argumentLength != 0) {
        std::memcpy(request.get() + kRequestHeaderSize, arguments, argumentLength);
    }
    DWORD bytesReturned = 0;
    const BOOL succeeded = DeviceIoControl(acpiDevice, kAcpiControlCode, request.get(),
                                           static_cast<DWORD>(requestLength), replyArea.get(),
                                           kReplyAreaSize, &bytesReturned, nullptr);
    if (succeeded && replyLength != nullptr) {
        DWORD copied = *replyLength < bytesReturned ? *replyLength : bytesReturned;
        if (copied > kReplyAreaSize) {
            copied = kReplyAreaSize;
        }
        if (copied != 0) {
            std::memcpy(reply, replyArea.get(), copied);
        }
        *replyLength = copied;
    }
    return succeeded != FALSE;
}

bool GetDeviceStatus(uint32_t deviceId, uint32_t* answer) {
    return QueryAnswerWord(kMethodDSTS, &deviceId, 1, answer);
}

bool SetDeviceState(uint32_t state, uint32_t* answer) {
    const uint32_t arguments[] = {kOverdriveDevice, state};
    return QueryAnswerWord(kMethodDEVS, arguments, 2, answer);
}

std::wstring BiosAnswerText(const BiosAnswer& answer) {
    switch (answer.status) {
    case BiosStatus::NoAnswer:
        return std::wstring();
    case BiosStatus::UnexpectedAnswer:
        return kUnexpectedAnswerText + NumberText(static_cast<int32_t>(answer.number));
    case BiosStatus::PanelIdentity:
        return answer.identity;
    default:
        break;
    }
    for (const StatusText& row : kStatusTexts) {
        if (row.status == answer.status) {
            return row.text;
        }
    }
    return kFailText;
}

bool SwitchSucceeded(const BiosAnswer& answer) {
    switch (answer.status) {
    case BiosStatus::OverdriveOnNow:
    case BiosStatus::OverdriveOffNow:
    case BiosStatus::OverdriveOnSuccess:
    case BiosStatus::OverdriveOffSuccess:
        return true;
    default:
        return false;
    }
}

BiosAnswer AskBIOS(const std::wstring& request) {
    BiosAnswer result = Answer(BiosStatus::NoAnswer);
    if (!InitializeZVKACPIDevice()) {
        result = Answer(BiosStatus::DeviceNotOpened);
    } else {
        if (TextEquals(request, L"1") || TextEquals(request, L"0")) {
            result = SwitchOverdrive(TextEquals(request, L"1"));
        } else if (TextEquals(request, L"2")) {
            // Known since start-up; the device is opened only so that an absent driver
            // still answers Fail.
            result = panelIdentity.empty()
                         ? Answer(BiosStatus::Fail)
                         : BiosAnswer{BiosStatus::PanelIdentity, 0, panelIdentity};
        } else if (TextEquals(request, L"3")) {
            result = QueryPanelSupport();
        } else if (TextEquals(request, L"4")) {
            result = QueryOverdriveState();
        }
        (void)CloseZVKACPIDevice();
    }
    return result;
}

BiosAnswer AnswerAsNotified(const BiosAnswer& asked) {
    if (asked.status == BiosStatus::NoAnswer || asked.status == BiosStatus::DeviceNotOpened) {
        return Answer(BiosStatus::Fail);
    }
    return asked;
}

BiosAnswer Notify_BIOS_SetOD(const std::wstring& request) {
    const BiosAnswer asked = AskBIOS(request);
    BiosAnswer result = AnswerAsNotified(asked);
    if (result.status != asked.status) {
        WriteLog(kInitializeFailLogLine);
    }
    return result;
}
