// PanelCheck's report on the machine: the facts in sections, what the agent will do with
// them (the verdicts), and the same report as text or as one JSON object. Pure: it works
// on gathered facts only.
#pragma once

#include "panelcheck/machine_facts.h"

#include <string>
#include <vector>

struct Verdict {
    bool positive = false;
    std::string text; // what the agent will do, or the first reason it will not
};
struct Verdicts {
    Verdict overdrive;
    Verdict refreshSwitching;
    Verdict agent; // whether the product is there to act: logon task, program, process
};
Verdicts JudgeMachine(const MachineFacts& facts);

// One value of the report. Text is UTF-8; Bytes are a file's raw content, shown quoted.
struct ReportValue {
    enum class Kind { Text, Bytes, Number, Flag, Absent, List };
    Kind kind = Kind::Absent;
    std::string text;
    long long number = 0;
    bool flag = false;
    std::vector<std::string> items;
};
struct ReportEntry {
    std::string key;
    ReportValue value;
    bool jsonOnly = false; // the verdicts' flags: the text form says it in words
};
struct ReportSection {
    std::string title;   // "Power and display"
    std::string jsonKey; // "power-and-display"
    std::vector<ReportEntry> entries;
};

std::vector<ReportSection> BuildMachineReport(const MachineFacts& facts);
// Sections as "Title" lines followed by "  key: value" lines; a list's items follow its key,
// one a line, indented further.
std::string FormatReportText(const std::vector<ReportSection>& sections);
// {"panel": {"key": value, ...}, ...}
std::string FormatReportJson(const std::vector<ReportSection>& sections);
