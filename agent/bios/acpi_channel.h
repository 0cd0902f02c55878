// The BIOS, reached through the maker's ACPI driver at "\\.\ZVKACPI": one DeviceIoControl
// exchange per request, naming a BIOS method ("DSTS" reads a device's status, "DEVS" sets
// it) with 32-bit argument words; the answer is one 32-bit word.
//
// Callers serialise every use of acpiDevice with the AgentLock; nothing here locks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr DWORD kAcpiControlCode = 0x0022240C;
constexpr uint32_t kMethodDSTS = 0x53545344; // "DSTS"
constexpr uint32_t kMethodDEVS = 0x53564544; // "DEVS"
constexpr uint32_t kOverdriveDevice = 0x00050019;
constexpr uint32_t kODPanelSupportDevice = 0x00050020;
constexpr uint32_t kReenumerateDevice = 0x00090016;
constexpr uint32_t kDevicePresentBit = 0x00010000;

// Opens the device into acpiDevice (closing a handle still stored there first).
bool InitializeZVKACPIDevice();
// Closes acpiDevice when it holds a usable handle; true when it closed one.
bool CloseZVKACPIDevice();
// One exchange. replyLength: room in reply on entry, bytes copied on success.
bool CallACPIMethod(uint32_t tag, const void* arguments, uint32_t argumentLength, void* reply,
                    DWORD* replyLength);
bool GetDeviceStatus(uint32_t deviceId, uint32_t* answer);
bool SetDeviceState(uint32_t state, uint32_t* answer);

// What a request answered. The texts are the ones the log and the callers have always read
// (BiosAnswerText); callers decide on the status, never on the text.
enum class BiosStatus {
    DeviceNotOpened,  // "InitializeZVKACPIDevice Fail" (AskBIOS only)
    NoAnswer,         // "": unknown request, or a "DEVS" that answered other than 1 (AskBIOS only)
    Fail,             // "FAIL"
    UnexpectedAnswer, // "Fail ,ulResult = " + number
    OverdriveOnNow,   // "OD_ON Now"
    OverdriveOffNow,  // "OD_off Now"
    OverdriveOnFail,  // "OD_On Fail"
    OverdriveOffFail, // "OD_Off Fail"
    OverdriveOnSuccess,  // "OD_On Success"
    OverdriveOffSuccess, // "OD_Off Success"
    PanelIdentity,       // the identity itself
    PanelSupported,      // "YES"
    PanelNotSupported,   // "NO"
    OverdriveIsOn,       // "1"
    OverdriveIsOff,      // "0"
};
struct BiosAnswer {
    BiosStatus status = BiosStatus::Fail;
    uint32_t number = 0;   // UnexpectedAnswer: the status word the BIOS gave
    std::wstring identity; // PanelIdentity: the panel's identity
};
// The answer's text, exactly as logged.
std::wstring BiosAnswerText(const BiosAnswer& answer);
// The switch answers that leave the panel in the state asked for.
bool SwitchSucceeded(const BiosAnswer& answer);

// The channel's request texts: "1"/"0" switch overdrive, "2" panel identity, "3" overdrive
// support, "4" overdrive state. Answers Fail on every failure.
BiosAnswer Notify_BIOS_SetOD(const std::wstring& request);
// Notify_BIOS_SetOD without its log line: answers DeviceNotOpened when the device does not
// open and NoAnswer where Notify_BIOS_SetOD logs and answers Fail. For field tools that must
// leave the log alone.
BiosAnswer AskBIOS(const std::wstring& request);
// What Notify_BIOS_SetOD makes of an answer of AskBIOS: Fail for DeviceNotOpened and NoAnswer,
// any other answer as it is. For field tools that report what the agent would have read.
BiosAnswer AnswerAsNotified(const BiosAnswer& asked);
