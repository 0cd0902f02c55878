// What PanelCheck gathers from the machine it runs on: everything the agent bases its
// decisions on, read without changing anything. Gathering goes through the agent's own
// functions wherever they only read; where an agent function would write (its log, the data
// folder, a BIOS set request, a mode change), the facts are read more directly instead.
#pragma once

#include "agent/machine/machine.h"
#include "agent/panel/panel_config.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_state.h"
#include "common/data_folder.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A display mode as the agent sees one.
using DisplayModeFact = PanelDisplayMode;

struct StateFileFact {
    std::wstring name;
    bool exists = false;
    std::string content; // the file's bytes, at most kStateFileReadLimit of them
};

struct RegistryNumberFact {
    bool present = false;
    uint32_t value = 0;
};

struct LogonTaskFact {
    bool known = false; // the Task Scheduler answered
    HRESULT error = S_OK;
    bool registered = false;
    std::wstring programPath;
    bool programExists = false; // a file, not a folder, is at programPath
};

struct MachineFacts {
    // Panel
    bool wmiQueried = false;
    std::vector<machine::MonitorConnection> wmiRows;
    std::wstring panelIdentity; // second component of the first internal display's name
    std::wstring panelInstance; // third component
    std::wstring edidKeyPath;   // empty without an identity
    PanelEDID edid;
    bool configFileExists = false;
    // Why the agent will not use FRQ_Config.txt (its owner or who may write it); empty when it
    // may or when there is none.
    std::wstring configRefusal;
    PanelRates configured;
    std::string configLine; // the FRQ_Config.txt line that matched, as read

    // BIOS
    bool biosOpens = false;
    std::wstring biosIdentity; // the answers to requests "2", "3" and "4"
    std::wstring biosSupport;
    std::wstring biosODState;
    bool reenumerate = false;

    // Power and display
    bool powerRead = false;
    unsigned acLineStatus = 0;
    bool adapterFound = false;
    std::wstring adapterName;
    bool currentModeRead = false;
    DisplayModeFact currentMode;
    std::vector<DisplayModeFact> modes; // the panel's adapter's mode list
    PanelDisplayMode panelMode;         // what the decision cycle reads

    // Product settings
    RegistryNumberFact refreshFlag;
    RegistryNumberFact needShow;
    bool displayVersionPresent = false;
    std::wstring displayVersion;

    // Agent
    DataPlace dataFolder = DataPlace::Unavailable; // Unavailable: missing (the agent creates it)
    std::wstring dataFolderFinalPath;              // where it resolves, when Redirected
    std::vector<std::wstring> linkedFiles;         // full paths of data-folder files that are links
    std::vector<StateFileFact> stateFiles;
    bool logExists = false;
    std::vector<std::string> logTail; // the last lines of OD_Log.txt, without line ends
    LogonTaskFact logonTask;
    std::vector<DWORD> agentProcesses;
    std::vector<std::wstring> agentProgramPaths; // each process's program file, when it tells
};

constexpr size_t kStateFileReadLimit = 256;
constexpr size_t kLogTailLines = 20;

// Reads the machine. Changes nothing: no file, registry value or display mode is written and
// the BIOS receives status queries only.
MachineFacts GatherMachineFacts();

// Task Scheduler and process list (task_query.cpp).
LogonTaskFact QueryLogonTask();
std::vector<DWORD> FindAgentProcesses();
// The program file each process runs from; a process that cannot be asked gives an empty path.
std::vector<std::wstring> FindProgramPaths(const std::vector<DWORD>& processes);
