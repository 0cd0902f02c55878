// The panel verdict at start-up: the BIOS names the panel and says whether it supports
// overdrive; the answer goes to the log and to HWID_Result.txt for the plug-in, which reads it.
// Kept apart from the identity code because it needs the BIOS channel.
#include "agent/panel/panel_identity.h"

#include "agent/bios/acpi_channel.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/state/console_session.h"

void RecordODPanelVerdict(std::wstring detectEDIDCopy, std::wstring isODPanelCopy) {
    if (TextEquals(detectEDIDCopy, L"FAIL")) {
        return; // start-up writes the verdict for an unidentified panel
    }
    const wchar_t* verdict = L"0";
    if (TextEquals(isODPanelCopy, L"YES")) {
        WriteLog(L"Is OD Panel, detectEDID = " + detectEDIDCopy);
        verdict = L"1";
    } else if (TextEquals(isODPanelCopy, L"NO")) {
        WriteLog(L"Not OD Panel, detectEDID = " + detectEDIDCopy);
    } else {
        WriteLog(L"OD Panel detect Fail, detectEDID = " + detectEDIDCopy);
    }
    // Away from the console the verdict is only logged: the file is the console agent's, and
    // this agent writes its own verdict once its session is the console.
    if (ActsForConsole(L"RecordODPanelVerdict")) {
        (void)WriteStateValue(DataFilePath(kHWIDResultFileName), verdict);
    }
}

const wchar_t* PanelVerdictText() {
    return !TextEquals(detectEDID, L"FAIL") && TextEquals(isODPanel, L"YES") ? L"1" : L"0";
}

void WritePanelVerdict() {
    (void)WriteStateValue(DataFilePath(kHWIDResultFileName), PanelVerdictText());
}

void DetectODPanel() {
    watchHWIDResultDeleted = true;
    watchIconDeleted = true;
    watchODResultDeleted = true;
    watchODResultChanged = true;
    PrepareDataFolder();
    IdentifyODPanel();
}

void IdentifyODPanel() {
    detectEDID = Notify_BIOS_SetOD(L"2");
    if (!TextEquals(detectEDID, L"FAIL")) {
        WriteLog(L"-------------------- detectEDID = " + detectEDID + L" --------------------");
    }
    isODPanel = Notify_BIOS_SetOD(L"3");
    WriteLog(L"-------------------- isODPanel = " + isODPanel + L" --------------------");
    RecordODPanelVerdict(detectEDID, isODPanel);
}
