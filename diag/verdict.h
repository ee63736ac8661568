// The conclusion of a report (what "quickboot.exe /g" answers here, why, and what to do, as one
// line under 300 bytes that a management tool can show as it stands) and the text form of the
// report.
#pragma once

#include <cstddef>
#include <string>

#include "diag/report.h"

constexpr size_t kMaxVerdictBytes = 299;
// The control key as reports and reg add lines name it.
constexpr char kControlKeyName[] = "HKLM\\SOFTWARE\\Vantrel\\ZKT05B9";
// The text report stays under this whatever the registry holds.
constexpr size_t kMaxReportBytes = 8000;

// Sets exitCode, cause, what, fix, fixCommands and verdict from the facts.
void Conclude(Report* report);

// The cause's token, as the verdict and the JSON key "cause" spell it.
const char* CauseName(Cause cause);
// The outcome's name in both report forms: "ok", "failed", "crashed" or "not_reached".
const char* OutcomeName(Outcome outcome);
// How the probe ended, as the JSON spells it: "finished", "hung", "exited" and the like.
const char* ProbeEndName(ProbeEnd end);

// The verdict line, then one line or more per step.
std::string RenderText(const Report& report);
