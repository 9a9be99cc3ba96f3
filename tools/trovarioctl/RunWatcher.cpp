#include "RunWatcher.h"

#include "ReportPrinter.h"
#include "agent/TROVDMessages.h"

#include <unistd.h>

#include <thread>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Setting up the recorder takes well under a second; ten covers a loaded machine.
constexpr auto kStartWait = seconds(10);
constexpr auto kStartInterval = milliseconds(50);
// Defining tracks is quick next to exporting them; past this the command
// leaves the run to `status`.
constexpr auto kTracksWait = seconds(60);
constexpr auto kRunInterval = milliseconds(200);

}  // namespace

int RunWatcher::poll(milliseconds interval, Clock::time_point deadline, const Done& done, AgentReport* report,
                     const std::function<void(const AgentReport&)>& onReport) const {
    for (;;) {
        if (const int result = mAgent.report(report); result != kExitSuccess) return result;
        if (onReport) onReport(*report);
        if (done(*report) || Clock::now() >= deadline) return kExitSuccess;
        std::this_thread::sleep_for(interval);
    }
}

int RunWatcher::fail(const std::string& message) const {
    fprintf(stderr, "trovarioctl %s: %s\n", mAgent.command().c_str(), message.c_str());
    return kExitAgentFailed;
}

int RunWatcher::waitForRecording() const {
    AgentReport report;
    const auto starting = [](const AgentReport& r) { return r.mCapture == kCaptureStarting; };
    if (const int result = poll(kStartInterval, Clock::now() + kStartWait, std::not_fn(starting), &report))
        return result;
    if (!report.mCapture) return fail("the agent does not report whether its capture started");
    if (starting(report)) return fail("the capture is still being set up after 10 s; see `trovarioctl status`");
    if (*report.mCapture != kCaptureRecording)
        return fail("the capture did not start: " +
                    (report.mCaptureError.empty() ? "it is " + captureStateName(*report.mCapture) : report.mCaptureError));
    printf("capture recording");
    if (report.mTimeLimit) printf("; it stops by itself after %s", durationText(*report.mTimeLimit).c_str());
    printf(" (`trovarioctl stop` ends it sooner)\n");
    return kExitSuccess;
}

int RunWatcher::checkRun(const AgentReport& report, int32_t run) const {
    if (report.mRun == run) return kExitSuccess;
    if (report.mRun < run) return fail("the agent's report does not show run " + std::to_string(run) + " it started");
    return fail("run " + std::to_string(run) + " has ended and run " + std::to_string(report.mRun) +
                " has started since; what run " + std::to_string(run) + " delivered is no longer reported");
}

int RunWatcher::waitForTracks(int32_t run) const {
    AgentReport report;
    const auto known = [run](const AgentReport& r) {
        return r.mRun != run || r.mTracksFound >= 0 || !r.mRunActive;
    };
    if (const int result = poll(kRunInterval, Clock::now() + kTracksWait, known, &report)) return result;
    if (const int result = checkRun(report, run)) return result;
    if (!report.mRunActive) return showOutcome(report);
    const std::string source = report.mRunSource.empty() ? "" : " in " + report.mRunSource;
    if (report.mTracksFound < 0)
        printf("run %d is still finding tracks%s", run, source.c_str());
    else
        printf("run %d found %s%s", run, tracksText(static_cast<size_t>(report.mTracksFound)).c_str(), source.c_str());
    printf("; processing goes on (follow it with `trovarioctl status`)\n");
    return kExitSuccess;
}

int RunWatcher::followRun(int32_t run) const {
    AgentReport report;
    const auto ended = [run](const AgentReport& r) { return r.mRun != run || !r.mRunActive; };
    int result;
    {
        ProgressDisplay progress(stdout);
        result = poll(kRunInterval, Clock::time_point::max(), ended, &report, [&](const AgentReport& r) {
            if (!ended(r)) progress.show(progressText(r));
        });
    }
    if (result == kExitSuccess) result = checkRun(report, run);
    return result == kExitSuccess ? showOutcome(report) : result;
}

int RunWatcher::showOutcome(const AgentReport& report) const {
    printf("%s", deliveriesText(report).c_str());
    if (report.runFailed()) {
        fflush(stdout);
        return fail(runSummary(report));
    }
    printf("%s\n", runSummary(report).c_str());
    return kExitSuccess;
}

ProgressDisplay::ProgressDisplay(FILE* out) : mOut(out), mTerminal(isatty(fileno(out))) {}

ProgressDisplay::~ProgressDisplay() {
    if (mTerminal && !mShown.empty()) fputs("\r\033[K", mOut);
    fflush(mOut);
}

void ProgressDisplay::show(const std::string& text) {
    if (text == mShown) return;
    mShown = text;
    fprintf(mOut, mTerminal ? "\r\033[K%s" : "%s\n", text.c_str());
    fflush(mOut);
}
