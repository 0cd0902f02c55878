#include "agent/events/session_events.h"

#include "agent/decision/host_notice.h"
#include "agent/decision/rate_policy.h"
#include "agent/events/power_events.h"
#include "agent/events/start_retries.h"
#include "agent/events/state_file_events.h"
#include "agent/files/product_key.h"
#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/machine/machine.h"
#include "agent/machine/power_source.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "agent/state/console_session.h"

#include <wtsapi32.h>

#include <string>

namespace {

// A panel without overdrive takes no decisions: its icon value is the "2" start-up reports,
// which an agent that started away from the console has not reported yet.
void ReportPanelWithoutOverdrive() {
    const PanelVerdict verdict = CurrentPanelVerdict();
    if (verdict == PanelVerdict::NoPanelIdentity || verdict == PanelVerdict::OverdrivePanel) {
        return;
    }
    AgentLock lock;
    Notify_Helmbay_ODIcon(L"2");
}

// Meanwhile another session's agent may have written the shared files from its own view (a
// standard user's agent, refused the BIOS, writes the verdict "0") and told its own host, and
// an agent that started away has written none of them yet. The verdict and NeedShow are
// written from this agent's findings, and the icon value that follows goes to this session's
// host even when it equals the one this agent reported last.
void TakeBackSharedFiles() {
    {
        AgentLock lock;
        WritePanelVerdict();
        temp_OD_Icon.clear();
    }
    WriteNeedShow(highRefreshRate != lowRefreshRate);
}

// The agent's session is the console again after another user's time there. While away it
// acted on nothing, so what it tracks between events is taken afresh: the power source and
// monitor count it last saw are stale, and a resume it missed would leave it suspended for
// good. Files deleted meanwhile are written again before the session's usual restore.
void ReturnToConsole() {
    (void)TakeReturnToConsole();
    WriteLog(L"OnConsoleRegained: session " + std::to_wstring(ReadOwnSessionId()) +
             L" is the console session");
    isSuspended = false;
    lastACLineStatus = ReadACLineStatus();
    monitorCount = lastMonitorCount = CountActiveMonitors();
    RepairDeletedStateFiles();
    TakeBackSharedFiles();
    RestoreForSession();
    ReportPanelWithoutOverdrive();
    OnPowerEvent();
}

// The console may have moved away and back without this agent hearing of it; the shared files
// then hold another agent's values instead of the ones this agent last wrote.
bool SharedFilesAreAnotherAgents() {
    AgentLock lock;
    const FileToken verdict = ReadFileToken(DataFilePath(kHWIDResultFileName), 3);
    const FileToken icon = ReadFileToken(DataFilePath(kIconFileName), 3);
    return ToWide(verdict.token) != PanelVerdictText() || ToWide(icon.token) != currentODIcon;
}

void OnConsoleRegained() {
    if (ActsForConsole(L"OnConsoleRegained")) {
        ReturnToConsole();
    }
}

} // namespace

// Events arrive for every session of the machine; the lock state kept is this session's own,
// and another user's logon or logoff is that user's, not a reason to move this panel (this
// session's own logoff ends the agent with it). An own session that cannot be read takes every
// event as its own, as the agent always did.
void OnSessionChange(WPARAM event, DWORD session) {
    const DWORD own = ReadOwnSessionId();
    const bool ownSession = own == machine::kNoSession || session == own;
    switch (event) {
    case WTS_SESSION_LOGON:
        if (ownSession && ActsForConsole(L"WTS_SESSION_LOGON")) {
            RestoreForSession();
            OnPowerEvent();
        }
        break;
    case WTS_SESSION_LOCK:
        if (ownSession) {
            isSessionLocked = true;
        }
        break;
    case WTS_SESSION_UNLOCK:
        if (ownSession) {
            isSessionLocked = false;
            if (ActsForConsole(L"WTS_SESSION_UNLOCK")) {
                // The first unlock at the console after time away (noted, or told by the shared
                // files) is the return to it.
                if (TakeReturnToConsole() || SharedFilesAreAnotherAgents()) {
                    ReturnToConsole();
                } else {
                    RestoreForSession();
                    OnPowerEvent();
                }
                RetryPanelIdentificationLater(L"unlock");
            }
        }
        break;
    case WTS_CONSOLE_CONNECT:
        if (ownSession) {
            OnConsoleRegained();
        } else {
            NoteAwayFromConsole(); // there is one console, and another session has it now
        }
        break;
    case WTS_CONSOLE_DISCONNECT:
        if (ownSession) {
            NoteAwayFromConsole();
        }
        break;
    default:
        break;
    }
}
