// The panel verdict at start-up: the BIOS names the panel and says whether it supports
// overdrive; the answer goes to the log and to HWID_Result.txt for the plug-in. Kept apart
// from the identity code because it needs the BIOS channel.
#include "agent/panel/panel_identity.h"

#include "agent/bios/acpi_channel.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"

void DetectODPanel() {
    watchHWIDResultDeleted = true;
    watchIconDeleted = true;
    watchODResultDeleted = true;
    watchODResultChanged = true;
    PrepareDataFolder();
    detectEDID = Notify_BIOS_SetOD(L"2");
    if (!TextEquals(detectEDID, L"FAIL")) {
        WriteLog(L"-------------------- detectEDID = " + detectEDID + L" --------------------");
    }
    isODPanel = Notify_BIOS_SetOD(L"3");
    WriteLog(L"-------------------- isODPanel = " + isODPanel + L" --------------------");
    RecordODPanelVerdict(detectEDID, isODPanel);
}
