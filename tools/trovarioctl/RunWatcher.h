#pragma once

#include "AgentClient.h"
#include "AgentReport.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Follows, through the agent's report, what a command has set going: a
// capture being set up, or a processing run. Each wait returns the exit code
// of the command, having said what happened; an agent that goes away
// meanwhile gives kExitNotRunning.
class RunWatcher {
public:
    explicit RunWatcher(const AgentClient& agent) : mAgent(agent) {}

    // After 'stSC': until the capture records (or could not start).
    int waitForRecording() const;
    // After 'spSC' or 'pFil' started `run`: until the run knows its tracks,
    // or has ended.
    int waitForTracks(int32_t run) const;
    // Until `run` has ended, showing its progress; then what it delivered.
    int followRun(int32_t run) const;

private:
    using Clock = std::chrono::steady_clock;
    using Done = std::function<bool(const AgentReport&)>;

    // Asks for the report every `interval` until `done` holds or `deadline`
    // passes; `onReport` sees each report.
    int poll(std::chrono::milliseconds interval, Clock::time_point deadline, const Done& done,
             AgentReport* report, const std::function<void(const AgentReport&)>& onReport = {}) const;
    // Whether the report is about `run`: the report of another run cannot tell
    // how `run` went.
    int checkRun(const AgentReport& report, int32_t run) const;
    int showOutcome(const AgentReport& report) const;
    int fail(const std::string& message) const;

    const AgentClient& mAgent;
};

// The progress of a run on `out`: one line rewritten in place on a terminal,
// else a line each time the text changes.
class ProgressDisplay {
public:
    explicit ProgressDisplay(FILE* out);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void show(const std::string& text);

private:
    FILE* mOut;
    const bool mTerminal;
    std::string mShown;
};
