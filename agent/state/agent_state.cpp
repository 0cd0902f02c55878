#include "agent/state/agent_state.h"

namespace {

// Two rates closer than this, in Hz, are not a high and a low one.
constexpr int32_t kDualRateMargin = 3;

} // namespace

std::wstring panelIdentity;
std::wstring detectEDID;
std::wstring isODPanel;
PanelEDID panelEDID;
int32_t highRefreshRate = 0;
int32_t lowRefreshRate = 0;

std::wstring appliedODStatus;
std::wstring currentODIcon;
std::wstring temp_OD_Icon;
HANDLE acpiDevice = nullptr;
std::wstring lastCycleChoice;
std::wstring lastValidChoice;

UINT modeChangeMessage = 0;
bool reenumerateOnDeviceChange = false;
bool reenumerationIntervalRunning = false;
uint32_t deferredDeviceEvents = 0;
int identificationRetriesLeft = 0;
bool sessionNotificationPending = false;
int sessionRegistrationRetriesLeft = 0;
bool isIntelCPU = false;
int32_t lastACLineStatus = -1;
bool isSuspended = false;
bool isSessionLocked = false;
bool isChangingRefreshRate = false;
uint32_t rateDecisionCount = 0;
char lastACDC[2] = {};
char lastDCRefresh[2] = {};
uint32_t refreshFlag = 0;
int32_t monitorCount = 0;
int32_t lastMonitorCount = 0;

bool watchHWIDResultDeleted = false;
bool watchIconDeleted = false;
bool watchODResultDeleted = false;
std::atomic<bool> watchODResultChanged{false};
bool skipNextODResultChange = true;

HINSTANCE hInst = nullptr;
wchar_t windowTitle[100] = {};
wchar_t windowClassName[100] = {};
HANDLE registryWatchThread = nullptr;
HANDLE folderWatchThread = nullptr;
HPOWERNOTIFY lidSwitchNotify = nullptr;
HPOWERNOTIFY monitorPowerNotify = nullptr;
DEV_BROADCAST_DEVICEINTERFACE_W monitorInterfaceFilter = {};

HANDLE WatcherStopEvent() {
    static HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return stop;
}

void ResetAgentState() {
    panelIdentity.clear();
    detectEDID.clear();
    isODPanel.clear();
    panelEDID = PanelEDID{};
    highRefreshRate = 0;
    lowRefreshRate = 0;
    appliedODStatus.clear();
    currentODIcon.clear();
    temp_OD_Icon.clear();
    acpiDevice = nullptr;
    lastCycleChoice.clear();
    lastValidChoice.clear();
    modeChangeMessage = 0;
    reenumerateOnDeviceChange = false;
    reenumerationIntervalRunning = false;
    deferredDeviceEvents = 0;
    identificationRetriesLeft = 0;
    sessionNotificationPending = false;
    sessionRegistrationRetriesLeft = 0;
    isIntelCPU = false;
    lastACLineStatus = -1;
    isSuspended = false;
    isSessionLocked = false;
    isChangingRefreshRate = false;
    rateDecisionCount = 0;
    lastACDC[0] = lastACDC[1] = 0;
    lastDCRefresh[0] = lastDCRefresh[1] = 0;
    refreshFlag = 0;
    monitorCount = 0;
    lastMonitorCount = 0;
    watchHWIDResultDeleted = false;
    watchIconDeleted = false;
    watchODResultDeleted = false;
    watchODResultChanged = false;
    skipNextODResultChange = true;
    hInst = nullptr;
    windowTitle[0] = 0;
    windowClassName[0] = 0;
    registryWatchThread = nullptr;
    folderWatchThread = nullptr;
    (void)ResetEvent(WatcherStopEvent());
    lidSwitchNotify = nullptr;
    monitorPowerNotify = nullptr;
    monitorInterfaceFilter = {};
}

bool AreDualRates(int32_t high, int32_t low) {
    const int32_t difference = high - low;
    return difference > kDualRateMargin || difference < -kDualRateMargin;
}

bool IsDualRatePanel() {
    return AreDualRates(highRefreshRate, lowRefreshRate);
}
