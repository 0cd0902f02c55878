#include "agent/events/state_file_events.h"

#include "agent/decision/decision_cycle.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/panel/panel_identity.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"
#include "agent/state/time_marks.h"

#include <string>

namespace {

bool PanelTakesDecisions() {
    return CurrentPanelVerdict() == PanelVerdict::OverdrivePanel;
}

// A removed state file that its writer has not put back meanwhile gets the agent's value.
// AgentLock held.
void WriteAgainUnlessBack(const std::wstring& path, const std::wstring& value) {
    WriteLog(path + L" is Deleted");
    if (StateFileExists(path)) {
        return;
    }
    WriteLog(path + L" not exist, Create it");
    (void)WriteStateValue(path, value);
}

} // namespace

void fsWatcher_OD_Result_Changed() {
    if (!ActsForConsole(L"fsWatcher_OD_Result_Changed")) {
        return;
    }
    AgentLock lock;
    WriteLog(L"fsWatcher_OD_Result_Changed ++");
    std::wstring checked; // what the duplicate check read, when it ran
    if (skipNextODResultChange) {
        skipNextODResultChange = false;
        // The expected duplicate of a rewrite already handled: only counted. A notice that
        // finds another value than the last cycle read is a real change and is handled.
        checked = ReadODChoice();
        if (checked == lastCycleChoice) {
            return;
        }
    }
    WriteLog(DataFilePath(kODResultFileName) + L" is changed");
    // The check has just read the file: a second read would only cost time (a value written
    // meanwhile brings its own notice, which is handled).
    std::wstring value = checked.empty() ? OD_OnOff() : LogODChoice(checked);
    MarkTime(TimeMark::ChoiceRead);
    // Compared with what the last cycle read, not with appliedODStatus: the applied state is
    // the agent's decision ("0" on battery with the choice "1"), so comparing with it would
    // take a real change of choice for a duplicate.
    if (value != lastCycleChoice) {
        if (PanelTakesDecisions()) {
            (void)Detect_Notify_Fn(value);
        }
        skipNextODResultChange = true;
        return;
    }
    WriteLog(L"fsWatcher_OD_Result_Changed: Same OD_Result = " + appliedODStatus +
             L" no need change.");
}

void fsWatcher_HWID_Result_Deleted() {
    if (!ActsForConsole(L"fsWatcher_HWID_Result_Deleted")) {
        return;
    }
    AgentLock lock;
    std::wstring path = DataFilePath(kHWIDResultFileName);
    WriteLog(path + L" is deleted.");
    switch (ReadSupportVerdict(isODPanel)) {
    case PanelVerdict::OverdrivePanel:
        WriteLog(L"OD Panel ,detectEDID = " + detectEDID);
        break;
    case PanelVerdict::NotOverdrivePanel:
        WriteLog(L"Not OD Panel ,detectEDID = " + detectEDID);
        break;
    default:
        WriteLog(L"fsWatcher_HWID_Result_Deleted = Else");
        break;
    }
    // The same verdict start-up wrote: a panel that was never identified is no overdrive
    // panel, whatever the BIOS said about overdrive support.
    (void)WriteStateValue(path, PanelTakesDecisions() ? L"1" : L"0");
}

void fsWatcher_Icon_Deleted() {
    if (!ActsForConsole(L"fsWatcher_Icon_Deleted")) {
        return;
    }
    AgentLock lock;
    WriteAgainUnlessBack(DataFilePath(kIconFileName), currentODIcon);
}

void fsWatcher_OD_Result_Deleted() {
    if (!ActsForConsole(L"fsWatcher_OD_Result_Deleted")) {
        return;
    }
    AgentLock lock;
    // The user's choice comes back, not the state the agent applied for the moment.
    WriteAgainUnlessBack(DataFilePath(kODResultFileName),
                         lastValidChoice.empty() ? appliedODStatus : lastValidChoice);
}

void HandleChangeRecords(const std::vector<ChangeRecord>& records) {
    for (const ChangeRecord& change : records) {
        std::wstring name = ToUpperAscii(change.fileName);
        if (change.action == FILE_ACTION_REMOVED) {
            if (name == L"HWID_RESULT.TXT" && watchHWIDResultDeleted) {
                fsWatcher_HWID_Result_Deleted();
            } else if (name == L"ICON.TXT" && watchIconDeleted) {
                fsWatcher_Icon_Deleted();
            } else if (name == L"OD_RESULT.TXT" && watchODResultDeleted) {
                fsWatcher_OD_Result_Deleted();
            }
        } else if (change.action == FILE_ACTION_MODIFIED) {
            if (name == L"OD_RESULT.TXT" && watchODResultChanged) {
                fsWatcher_OD_Result_Changed();
            }
        }
    }
}

void RepairDeletedStateFiles() {
    if (watchHWIDResultDeleted && !StateFileExists(DataFilePath(kHWIDResultFileName))) {
        fsWatcher_HWID_Result_Deleted();
    }
    if (watchIconDeleted && !StateFileExists(DataFilePath(kIconFileName))) {
        fsWatcher_Icon_Deleted();
    }
    if (watchODResultDeleted && !StateFileExists(DataFilePath(kODResultFileName))) {
        fsWatcher_OD_Result_Deleted();
    }
}

void HandleLostChanges() {
    RepairDeletedStateFiles();
    if (watchODResultChanged) {
        fsWatcher_OD_Result_Changed();
    }
}

FolderWatchSink StateFileEventsSink() {
    FolderWatchSink sink;
    sink.changes = HandleChangeRecords;
    sink.lost = HandleLostChanges;
    return sink;
}
