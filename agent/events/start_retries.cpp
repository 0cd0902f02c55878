#include "agent/events/start_retries.h"

#include "agent/decision/panel_apply.h"
#include "agent/log/log.h"
#include "agent/machine/machine.h"
#include "agent/panel/panel_identity.h"
#include "agent/state/agent_state.h"

#include <string>

namespace {

constexpr UINT kRetryIntervalMs = 2500;
// About 10 s for WMI to name the internal display; the next unlock or resume tries again.
constexpr int kIdentificationRetries = 4;
// About a minute for the session service; it is normally up long before a logon.
constexpr int kSessionRegistrationRetries = 24;

// The window whose loop runs a later identification, and what asked for it.
HWND retryWindow = nullptr;
const wchar_t* laterOccasion = L"";

bool IdentificationPending() {
    return panelIdentity.empty() && identificationRetriesLeft > 0;
}

bool SessionRegistrationPending() {
    return sessionNotificationPending && sessionRegistrationRetriesLeft > 0;
}

void RetrySessionRegistration(HWND window) {
    --sessionRegistrationRetriesLeft;
    const int attempt = kSessionRegistrationRetries - sessionRegistrationRetriesLeft;
    const std::wstring prefix = L"Session notification retry " + std::to_wstring(attempt) + L": ";
    if (machine::RegisterSessionNotification(window)) {
        sessionNotificationPending = false;
        WriteLog(prefix + L"registered");
        return;
    }
    const DWORD error = GetLastError();
    WriteLog(prefix + L"failed, error " + std::to_wstring(error));
}

} // namespace

void ScheduleStartRetries(HWND window) {
    retryWindow = window;
    identificationRetriesLeft = panelIdentity.empty() ? kIdentificationRetries : 0;
    sessionRegistrationRetriesLeft = sessionNotificationPending ? kSessionRegistrationRetries : 0;
    if (IdentificationPending() || SessionRegistrationPending()) {
        (void)SetTimer(window, kStartRetryTimer, kRetryIntervalMs, nullptr);
    }
}

void OnStartRetryTimer(HWND window) {
    if (IdentificationPending()) {
        --identificationRetriesLeft;
        const int attempt = kIdentificationRetries - identificationRetriesLeft;
        RetryPanelIdentification((L"retry " + std::to_wstring(attempt)).c_str());
    }
    if (SessionRegistrationPending()) {
        RetrySessionRegistration(window);
    }
    if (!IdentificationPending() && !SessionRegistrationPending()) {
        (void)KillTimer(window, kStartRetryTimer);
    }
}

void RetryPanelIdentification(const wchar_t* occasion) {
    if (!panelIdentity.empty()) {
        return;
    }
    const std::wstring prefix = std::wstring(L"Panel identification (") + occasion + L"): ";
    std::wstring identity = GetInternalPanelIdentity();
    if (identity.empty()) {
        WriteLog(prefix + L"internal display not found");
        return;
    }
    WriteLog(prefix + L"internal display " + identity + L" found");
    CompleteLateIdentification(identity);
}

void RetryPanelIdentificationLater(const wchar_t* occasion) {
    // Before the loop runs, start-up's own retries are still to come.
    if (!panelIdentity.empty() || retryWindow == nullptr) {
        return;
    }
    laterOccasion = occasion;
    (void)SetTimer(retryWindow, kIdentificationTimer, USER_TIMER_MINIMUM, nullptr);
}

void OnIdentificationTimer(HWND window) {
    (void)KillTimer(window, kIdentificationTimer);
    RetryPanelIdentification(laterOccasion);
}
