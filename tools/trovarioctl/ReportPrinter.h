#pragma once

#include "AgentReport.h"

#include <cstdint>
#include <string>

// What trovarioctl shows of the agent's telemetry and report.

// A duration from its largest unit to its smallest that is not 0, in whole
// seconds: "2 h", "5 min", "1 day 0 h 30 min", "1 min 30 s"; "0 s" for none.
std::string durationText(double seconds);
// "1 track", "3 tracks".
std::string tracksText(size_t count);
// HH:MM:SS.
std::string clockText(double seconds);
// "idle", "capturing", "processing" or "unknown (N)".
std::string agentStateName(int32_t state);
// "idle", "starting", "recording", "stopping" or "unknown (N)".
std::string captureStateName(int32_t capture);

// Where the run stands: "finding tracks", "no tracks found" or "track 3 of 12".
std::string progressText(const AgentReport& report);
// One line per track handled (delivered and where, or not and why), then
// the library folder when the delivered files share one.
std::string deliveriesText(const AgentReport& report);
// One line: how the run ended, e.g. "run 4: all 12 tracks delivered".
std::string runSummary(const AgentReport& report);

// The `status` command's lines, and the same as one JSON object.
std::string statusText(const Telemetry& telemetry, const AgentReport& report);
std::string statusJson(const Telemetry& telemetry, const AgentReport& report);
