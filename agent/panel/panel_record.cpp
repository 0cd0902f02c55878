// The verdict's traces: a log line and HWID_Result.txt, which the plug-in reads.
#include "agent/panel/panel_identity.h"

#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"

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
    (void)WriteStateValue(DataFilePath(kHWIDResultFileName), verdict);
}
