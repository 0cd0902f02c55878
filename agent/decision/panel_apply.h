// What the agent does once it knows its panel: the first decision, the panel's two rates,
// NeedShow, the last-state files and the restore of the rate. Start-up runs it for the panel it
// identified, and the retries for a panel that WMI named only after start-up. Window thread.
#pragma once

#include <string>

// Start-up's own steps between those of applying the panel, in start-up's order; a late
// identification has none of them.
struct StartUpSteps {
    // After the first decision; false ends start-up there (another instance runs).
    bool (*claimSingleInstance)();
    // After the rates, before NeedShow.
    void (*afterRates)();
    // After NeedShow, before the last state.
    void (*beforeLastState)();
};

// The decision start-up takes for the panel it found: a decision cycle for an overdrive panel,
// the icon value "2" for any other, nothing but a verdict for a panel the BIOS did not name.
void FirstDecision();
// panelEDID, highRefreshRate and lowRefreshRate for the panel identified.
void DeterminePanelRefreshRates();
// startUp: start-up's steps, or nullptr for a late identification. The last state and the
// restore are the console agent's alone. False when start-up's claim of the single instance
// failed; the rest is then not done.
bool ApplyIdentifiedPanel(const StartUpSteps* startUp);
// For a panel that WMI named only after start-up: the verdict and HWID_Result.txt, then
// ApplyIdentifiedPanel.
void CompleteLateIdentification(const std::wstring& identity);
