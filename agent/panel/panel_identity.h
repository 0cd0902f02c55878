// Which display is the built-in panel (WMI), whether it supports overdrive (BIOS), and its
// EDID (display registry keys). Runs on the window thread during start-up.
#pragma once

#include "agent/machine/machine.h"
#include "agent/state/agent_state.h"

#include <cstddef>
#include <string>
#include <vector>

// Pure part of the WMI search: component `component` (0-based) of the InstanceName of the first
// internal display (a VT_I4 of 0x80000000 or 11; a name without components is no display), or "".
std::wstring SelectInternalPanelComponent(const std::vector<machine::MonitorConnection>& rows,
                                          size_t component);
// Second component of the first internal display's WMI InstanceName, or "".
std::wstring GetInternalPanelIdentity();
// Third component of the same InstanceName, or "".
std::wstring GetInternalPanelInstance();
// The EDID under HKLM\SYSTEM\CurrentControlSet\Enum\DISPLAY\<identity>\<instance>\Device
// Parameters; an instance key without "Device Parameters" is searched in its first subkey.
PanelEDID ReadPanelEDID(const std::wstring& identity);
// Sets the watch flags, prepares the data folder, asks the BIOS for the panel identity and
// overdrive support into detectEDID and isODPanel, and records the verdict.
void DetectODPanel();
// The BIOS part of DetectODPanel: detectEDID, isODPanel, their log lines and the verdict. Also
// run for a panel identified after start-up, with the AgentLock held.
void IdentifyODPanel();
// Logs the verdict and, for the console's agent, writes it to HWID_Result.txt.
void RecordODPanelVerdict(std::wstring detectEDIDCopy, std::wstring isODPanelCopy);
// What the BIOS said of the panel, taken from the texts detectEDID and isODPanel hold (the
// texts the log shows and that tests and tools set): the one place that reads them.
enum class PanelVerdict {
    NoPanelIdentity,   // detectEDID "FAIL": the BIOS named no panel
    OverdrivePanel,    // isODPanel "YES"
    NotOverdrivePanel, // isODPanel "NO"
    DetectionFailed,   // any other answer to the support question
};
PanelVerdict ReadPanelVerdict(const std::wstring& detectEDIDText,
                              const std::wstring& isODPanelText);
// The answer to the support question alone, whatever the BIOS said of the identity: never
// NoPanelIdentity.
PanelVerdict ReadSupportVerdict(const std::wstring& isODPanelText);
// The verdict of detectEDID and isODPanel as they stand.
PanelVerdict CurrentPanelVerdict();
// The verdict's log line for the panel detectEDIDText names; empty for NoPanelIdentity, which
// start-up reports in its own words.
std::wstring PanelVerdictLogLine(PanelVerdict verdict, const std::wstring& detectEDIDText);
// Its digit in HWID_Result.txt: "1" for an overdrive panel, else "0".
const wchar_t* PanelVerdictDigit(PanelVerdict verdict);
// HWID_Result.txt from this agent's own findings, as start-up writes it: "1" for an identified
// panel with overdrive support, else "0". Callers hold the AgentLock and act for the console.
const wchar_t* PanelVerdictText();
void WritePanelVerdict();
