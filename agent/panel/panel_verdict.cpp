// The panel verdict at start-up: the BIOS names the panel and says whether it supports
// overdrive; the answer goes to the log and to HWID_Result.txt for the plug-in, which reads it.
// Kept apart from the identity code because it needs the BIOS channel.
#include "agent/panel/panel_identity.h"

#include "agent/bios/acpi_channel.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/state/console_session.h"

namespace {

// The state keeps the BIOS's answers as the texts the log shows; compared whole and exactly.
bool IsAnswerText(const std::wstring& text, BiosStatus status) {
    return text == BiosAnswerText({status, 0, std::wstring()});
}

} // namespace

PanelVerdict ReadPanelVerdict(const std::wstring& detectEDIDText,
                              const std::wstring& isODPanelText) {
    if (IsAnswerText(detectEDIDText, BiosStatus::Fail)) {
        return PanelVerdict::NoPanelIdentity;
    }
    return ReadSupportVerdict(isODPanelText);
}

PanelVerdict ReadSupportVerdict(const std::wstring& isODPanelText) {
    if (IsAnswerText(isODPanelText, BiosStatus::PanelSupported)) {
        return PanelVerdict::OverdrivePanel;
    }
    if (IsAnswerText(isODPanelText, BiosStatus::PanelNotSupported)) {
        return PanelVerdict::NotOverdrivePanel;
    }
    return PanelVerdict::DetectionFailed;
}

PanelVerdict CurrentPanelVerdict() {
    return ReadPanelVerdict(detectEDID, isODPanel);
}

std::wstring PanelVerdictLogLine(PanelVerdict verdict, const std::wstring& detectEDIDText) {
    switch (verdict) {
    case PanelVerdict::NoPanelIdentity:
        break;
    case PanelVerdict::OverdrivePanel:
        return L"Is OD Panel, detectEDID = " + detectEDIDText;
    case PanelVerdict::NotOverdrivePanel:
        return L"Not OD Panel, detectEDID = " + detectEDIDText;
    case PanelVerdict::DetectionFailed:
        return L"OD Panel detect Fail, detectEDID = " + detectEDIDText;
    }
    return std::wstring();
}

const wchar_t* PanelVerdictDigit(PanelVerdict verdict) {
    return verdict == PanelVerdict::OverdrivePanel ? L"1" : L"0";
}

void RecordODPanelVerdict(std::wstring detectEDIDCopy, std::wstring isODPanelCopy) {
    const PanelVerdict verdict = ReadPanelVerdict(detectEDIDCopy, isODPanelCopy);
    if (verdict == PanelVerdict::NoPanelIdentity) {
        return; // start-up writes the verdict for an unidentified panel
    }
    WriteLog(PanelVerdictLogLine(verdict, detectEDIDCopy));
    // Away from the console the verdict is only logged: the file is the console agent's, and
    // this agent writes its own verdict once its session is the console.
    if (ActsForConsole(L"RecordODPanelVerdict")) {
        (void)WriteStateValue(DataFilePath(kHWIDResultFileName), PanelVerdictDigit(verdict));
    }
}

const wchar_t* PanelVerdictText() {
    return PanelVerdictDigit(CurrentPanelVerdict());
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
    const BiosAnswer identity = Notify_BIOS_SetOD(L"2");
    detectEDID = BiosAnswerText(identity);
    if (identity.status != BiosStatus::Fail) {
        WriteLog(L"-------------------- detectEDID = " + detectEDID + L" --------------------");
    }
    isODPanel = BiosAnswerText(Notify_BIOS_SetOD(L"3"));
    WriteLog(L"-------------------- isODPanel = " + isODPanel + L" --------------------");
    RecordODPanelVerdict(detectEDID, isODPanel);
}
