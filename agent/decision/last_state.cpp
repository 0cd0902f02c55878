#include "agent/decision/last_state.h"

#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/machine/machine.h"
#include "agent/machine/power_source.h"
#include "agent/panel/refresh_rate.h"
#include "agent/state/agent_state.h"
#include "common/data_folder.h"
#include "common/owners.h"

#include <io.h>

#include <string>

namespace {

constexpr int kLastStateAttempts = 10;
constexpr DWORD kRetryWaitMs = 10;
constexpr DWORD kBetweenWritesMs = 10;
constexpr DWORD kBetweenReadsMs = 100;
const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane";

// How the second last-state digit is worked out.
enum class RateRule {
    Low,   // "1" when the panel runs at its low rate, else "2"
    High,  // "2" when the panel runs at its high rate, else "1"
    Fixed, // "1" on battery, "2" on AC, whatever the rate
};

struct Recording {
    DWORD openGapMs; // between the two opens
    RateRule rule;
};

struct EventRecording {
    LastStateEvent event;
    Recording onAC;
    Recording onBattery;
};

// Every occasion's pause and rule, on AC and on battery.
constexpr EventRecording kRecordings[] = {
    {LastStateEvent::StartUp, {100, RateRule::Low}, {100, RateRule::Low}},
    {LastStateEvent::SessionRestore, {10, RateRule::Low}, {100, RateRule::Low}},
    {LastStateEvent::Resume, {10, RateRule::Low}, {10, RateRule::Low}},
    {LastStateEvent::PowerStatusChange, {10, RateRule::Fixed}, {10, RateRule::Fixed}},
    {LastStateEvent::DisplayChange, {10, RateRule::Low}, {10, RateRule::Low}},
    {LastStateEvent::MonitorCountChange, {10, RateRule::High}, {100, RateRule::Low}},
    {LastStateEvent::RefreshFlagChange, {10, RateRule::Low}, {10, RateRule::Low}},
};

Recording RecordingFor(LastStateEvent event, bool onAC) {
    for (const EventRecording& row : kRecordings) {
        if (row.event == event) {
            return onAC ? row.onAC : row.onBattery;
        }
    }
    return {10, RateRule::Low}; // every event has its row
}

// How a site opens the pair: the wait between the two opens, and the 10 ms waits after an
// attempt that did not open both.
struct PairOpening {
    DWORD gapMs;
    int waitsAfterFailure;
    bool waitAfterLastFailure;
};

// A recording waits twice after a failed attempt and gives up at once after the tenth; the
// creation at start-up opens 2 ms apart and waits once after every failed attempt.
constexpr int kRecordWaitsAfterFailure = 2;
constexpr PairOpening kCreateOpening = {2, 1, true};

struct LastStateFiles {
    UniqueFileHandle acdc;
    UniqueFileHandle dcRefresh;
};

// The one retry loop for the pair: up to 10 attempts; a half-opened pair is closed again.
bool OpenLastStateFiles(const PairOpening& opening, LastStateFiles* files) {
    for (int attempt = 0; attempt < kLastStateAttempts; ++attempt) {
        files->acdc = OpenStateFileForWrite(DataFilePath(kLastACDCFileName));
        machine::Delay(opening.gapMs);
        files->dcRefresh = OpenStateFileForWrite(DataFilePath(kLastDCRefreshFileName));
        if (files->acdc.Valid() && files->dcRefresh.Valid()) {
            return true;
        }
        files->acdc.Reset();
        files->dcRefresh.Reset();
        if (attempt + 1 == kLastStateAttempts && !opening.waitAfterLastFailure) {
            return false;
        }
        for (int wait = 0; wait < opening.waitsAfterFailure; ++wait) {
            machine::Delay(kRetryWaitMs);
        }
    }
    return false;
}

// A token of one character is taken; a longer one empties the buffer; no token leaves it.
void ReadLastStateDigit(FILE* file, char (&buffer)[2]) {
    FileToken read = ReadStreamToken(file, 1);
    if (!read.hasToken) {
        return;
    }
    buffer[0] = read.token.empty() ? '\0' : read.token[0];
    buffer[1] = '\0';
}

void CloseIfOpen(FILE* file) {
    if (file != nullptr) {
        fclose(file);
    }
}

} // namespace

bool ReadLastPowerState() {
    FILE* acdc = OpenStateFile(DataFilePath(kLastACDCFileName), L"r");
    machine::Delay(kBetweenReadsMs);
    FILE* dcRefresh = OpenStateFile(DataFilePath(kLastDCRefreshFileName), L"r");
    if (acdc == nullptr || dcRefresh == nullptr) {
        CloseIfOpen(acdc);
        CloseIfOpen(dcRefresh);
        return false;
    }
    ReadLastStateDigit(acdc, lastACDC);
    machine::Delay(kBetweenReadsMs);
    ReadLastStateDigit(dcRefresh, lastDCRefresh);
    fclose(acdc);
    fclose(dcRefresh);
    return true;
}

void RecordLastPowerState(LastStateEvent event, bool onAC, uint32_t currentRate) {
    ++rateDecisionCount;
    const Recording recording = RecordingFor(event, onAC);
    const char acdcDigit = onAC ? '1' : '2';
    // The last state describes the panel. While no active monitor is the panel (lid closed
    // while docked) it stays as it was, and it is never taken from another display's rate; so
    // the panel is looked for before the files are touched.
    uint32_t rate = currentRate;
    bool panelActive = false;
    if (recording.rule == RateRule::Fixed) {
        DISPLAY_DEVICEW adapter;
        panelActive = FindPanelAdapter(&adapter);
    } else {
        if (rate == kRateNotRead) {
            rate = ReadCurrentRefreshRate();
        }
        panelActive = rate != 0;
    }
    if (!panelActive) {
        WriteLog(L"RecordLastPowerState: panel not active, last state kept");
        return;
    }
    LastStateFiles files;
    if (!OpenLastStateFiles({recording.openGapMs, kRecordWaitsAfterFailure, false}, &files)) {
        return;
    }
    (void)WriteOverStateFile(files.acdc.Get(), std::string(1, acdcDigit));
    machine::Delay(kBetweenWritesMs);

    char rateDigit = '2';
    if (recording.rule == RateRule::Fixed) {
        rateDigit = acdcDigit == '2' ? '1' : '2';
    } else if (recording.rule == RateRule::Low) {
        rateDigit = rate == static_cast<uint32_t>(lowRefreshRate) ? '1' : '2';
    } else {
        rateDigit = rate == static_cast<uint32_t>(highRefreshRate) ? '2' : '1';
    }
    machine::Delay(kBetweenWritesMs);
    (void)WriteOverStateFile(files.dcRefresh.Get(), std::string(1, rateDigit));
}

void CreateLastStateFiles(uint32_t startRate) {
    // Without the panel's rate (no active monitor is the panel) there is no state to record.
    if (startRate == 0) {
        return;
    }
    if (_waccess(DataFilePath(kLastACDCFileName).c_str(), 0) != -1 ||
        _waccess(DataFilePath(kLastDCRefreshFileName).c_str(), 0) != -1) {
        return;
    }
    (void)CreateDirectoryW(kInstallFolder, nullptr);
    (void)CreateDataFolder();
    LastStateFiles files;
    if (!OpenLastStateFiles(kCreateOpening, &files)) {
        return;
    }
    (void)WriteOverStateFile(files.acdc.Get(), ReadOnACPower() ? "1" : "2");
    machine::Delay(kBetweenWritesMs);
    (void)WriteOverStateFile(files.dcRefresh.Get(),
                             startRate == static_cast<uint32_t>(lowRefreshRate) ? "1" : "2");
}
