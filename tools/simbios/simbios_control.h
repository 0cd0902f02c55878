// Control of the simulated BIOS (the ZvkAcpiSim kernel driver) from test programs, the
// demonstration and end-to-end tests running in the same Wine prefix.
//
// The driver provides "\\.\ZVKACPI" exactly as the notebook's ACPI driver does, so the agent
// talks to it through its unchanged CreateFileW/DeviceIoControl code. What the driver answers
// is configured, and what it received is recorded, in registry values under
//     HKLM\SYSTEM\CurrentControlSet\Services\ZvkAcpiSim\Parameters
// which the driver reads at every request: a value written here applies to the very next
// request, no restart needed.
//
// Installing: tools/simbios/install-simbios.sh <prefix> <sys-file> [wine-loader], or in CTest
// the fixture "simbios" (test simbios_setup). Every test that uses the driver passes
// `FIXTURES simbios` and `LOCKS simbios` to lumivane_add_wine_test: the configuration and the
// record are shared by the whole prefix, and StopSimBios removes the device for everyone.
// Start each test with ResetSimBios().
//
// Configuration values (REG_DWORD; an absent value means its default):
//   ODState            overdrive state, 0 off / 1 on (default 0). A "DEVS" that answers 1
//                      writes the new state here, so a test sees what the agent switched.
//   ODStatusAnswer     if present, the "DSTS" answer for the overdrive device 0x00050019
//                      instead of 0x00010001 (on) / 0x00010000 (off) derived from ODState.
//   SupportAnswer      "DSTS" answer for the panel support device 0x00050020
//                      (default 0x00010001: supported).
//   ReenumerateAnswer  "DSTS" answer for device 0x00090016 (default 0).
//   DEVSAnswer         "DEVS" answer (default 1 = done). Any other answer leaves ODState as
//                      it was. A "DEVS" for another device than 0x00050019 answers 0.
//   ReplyLength        bytes of reply the driver returns (default 4; 2 sends a short reply;
//                      never more than the caller's output room, at most 64, the answer word
//                      first, zeros after it).
//   FailDSTS, FailDEVS nonzero: that method's exchange fails (the driver completes the
//                      request with an error status, DeviceIoControl returns FALSE). The
//                      request is still recorded.
//   RefuseProcessId    if present, the id of one process that is refused the device, as a
//                      standard user's process is: every request it sends fails with
//                      ERROR_ACCESS_DENIED and is not recorded. (Wine's driver host cannot
//                      refuse the open itself.) Other processes are served as before.
// Written by the driver, for leak checks:
//   OpenHandles        handles open on "\\.\ZVKACPI" (create minus close requests). Wine
//                      delivers the close of a handle to the driver after CloseHandle has
//                      returned: wait for the count with WaitForSimBiosOpenHandles.
// A "DSTS" for an unknown device answers 0. A malformed request (shorter than its length
// word says, an unknown method, more than 64 bytes) fails the exchange. Control codes other
// than 0x0022240C fail and are not recorded.
//
// Record of requests: RequestCount (REG_DWORD) counts the requests received since the record
// was cleared; request number i (from 0) is kept in the REG_BINARY value "Request<i % 256>",
// so the last 256 requests are available. Each record is one little-endian word with the
// output room the caller offered, followed by the request bytes exactly as received (at most
// 64). ReadRequests() decodes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simbios {

// Names fixed by the driver and the installer.
constexpr wchar_t kSimBiosServiceName[] = L"ZvkAcpiSim";
constexpr wchar_t kSimBiosParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\ZvkAcpiSim\\Parameters";

// Configuration value names (see the top of this file).
constexpr wchar_t kSimBiosODState[] = L"ODState";
constexpr wchar_t kSimBiosODStatusAnswer[] = L"ODStatusAnswer";
constexpr wchar_t kSimBiosSupportAnswer[] = L"SupportAnswer";
constexpr wchar_t kSimBiosReenumerateAnswer[] = L"ReenumerateAnswer";
constexpr wchar_t kSimBiosDEVSAnswer[] = L"DEVSAnswer";
constexpr wchar_t kSimBiosReplyLength[] = L"ReplyLength";
constexpr wchar_t kSimBiosFailDSTS[] = L"FailDSTS";
constexpr wchar_t kSimBiosFailDEVS[] = L"FailDEVS";
constexpr wchar_t kSimBiosRefuseProcessId[] = L"RefuseProcessId";

// How many requests the record keeps.
constexpr uint32_t kSimBiosRecordSlots = 256;

// Request::method of the two BIOS methods.
constexpr char kDSTS[] = "DSTS";
constexpr char kDEVS[] = "DEVS";

// One request as the driver received it.
struct Request {
    std::string method;          // the four tag bytes as text: "DSTS", "DEVS" (or whatever came)
    uint32_t argumentLength = 0; // the length word n
    uint32_t device = 0;         // first argument word (0 when absent)
    uint32_t state = 0;          // second argument word, the state of a "DEVS" (0 when absent)
    uint32_t replyRoom = 0;      // output buffer length the caller offered
    std::string bytes;           // the request buffer byte for byte
};

// Default answers, overdrive off, record cleared: removes every configuration value and the
// record, then writes ODState 0 and RequestCount 0. True on success. Call it while no handle
// is open on the device: it also sets OpenHandles back to 0.
bool ResetSimBios();

// Writes one configuration value (REG_DWORD). True on success.
bool SetSimBiosValue(const wchar_t* name, uint32_t value);
// Removes one configuration value, so its default applies again. True when it is gone.
bool RemoveSimBiosValue(const wchar_t* name);

// Whether overdrive is on as the driver sees it (ODState nonzero; absent or unreadable: off).
// SetODState writes ODState 1 or 0.
bool GetODState();
bool SetODState(bool on);

// The recorded requests, oldest first (at most the last kSimBiosRecordSlots).
std::vector<Request> ReadRequests();
// Empties the record. True on success.
bool ClearRequests();
// The recorded requests of one method ("DSTS" or "DEVS").
std::vector<Request> ReadRequests(const std::string& method);

// OpenHandles as last written by the driver (0 when absent).
uint32_t GetSimBiosOpenHandles();
// Waits until OpenHandles equals `expected`, polling for up to timeoutMs. True when it did;
// a leaked handle keeps the count above the expected value and gives false.
bool WaitForSimBiosOpenHandles(uint32_t expected, unsigned long timeoutMs = 5000);

// Stops the service through the service control manager and waits (up to 10 s) until
// "\\.\ZVKACPI" no longer opens. True when the device is gone.
bool StopSimBios();
// Starts the service and waits (up to 10 s) until "\\.\ZVKACPI" opens. True when it opens;
// also true when it was running already.
bool StartSimBios();
// Whether "\\.\ZVKACPI" opens right now (the handle is closed again).
bool CanOpenSimBiosDevice();

} // namespace simbios
