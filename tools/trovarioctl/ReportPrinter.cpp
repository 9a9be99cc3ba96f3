#include "ReportPrinter.h"

#include "agent/TROVDMessages.h"
#include "platform/Clock.h"
#include "support/JSONString.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

namespace {

std::string formatted(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof text, format, value);
    return text;
}

std::string trackName(const Delivery& delivery) {
    const std::string number = "track " + std::to_string(delivery.mTrack + 1);
    return delivery.mTitle.empty() ? number : number + " \"" + delivery.mTitle + "\"";
}

std::string deliveryLine(const Delivery& delivery) {
    if (delivery.mDelivered) return trackName(delivery) + ": delivered: " + delivery.mWhere + "\n";
    std::string line = trackName(delivery) + ": not delivered: " +
                       (delivery.mProblem.empty() ? "no reason given" : delivery.mProblem);
    if (!delivery.mWhere.empty()) line += "; it stays at " + delivery.mWhere;
    return line + "\n";
}

// The one folder the delivered files went to; "" when they went to several,
// or to the editor.
std::string libraryFolder(const AgentReport& report) {
    std::set<std::string> folders;
    for (const Delivery& delivery : report.mDeliveries) {
        if (!delivery.mDelivered) continue;
        if (delivery.mWhere.rfind('/', 0) != 0) return "";
        folders.insert(std::filesystem::path(delivery.mWhere).parent_path().string());
    }
    return folders.size() == 1 ? *folders.begin() : "";
}

size_t trackCount(const AgentReport& report) {
    return std::max(report.mDeliveries.size(), static_cast<size_t>(std::max(report.mTracksFound, 0)));
}

// Before any capture the agent reports the whole clock time since its
// reference date; a capture cannot have started that long ago.
bool capturedSinceStart(float stime) { return stime < platform::absoluteTime() - 1000.0; }

int32_t captureState(const Telemetry& telemetry, const AgentReport& report) {
    if (report.mCapture) return *report.mCapture;
    return telemetry.mState == kAgentStateCapturing ? kCaptureRecording : kCaptureIdle;
}

std::string captureLine(const Telemetry& telemetry, const AgentReport& report) {
    const int32_t capture = captureState(telemetry, report);
    if (capture == kCaptureRecording) return "capture: recording for " + clockText(telemetry.mStartTime) + "\n";
    if (capture != kCaptureIdle) return "capture: " + captureStateName(capture) + "\n";
    if (!capturedSinceStart(telemetry.mStartTime)) return "capture: none since the agent started\n";
    return "capture: none running; the last one started " + clockText(telemetry.mStartTime) + " ago\n";
}

std::string runLine(const AgentReport& report) {
    if (report.mRun == 0) return "last run: none yet\n";
    std::string line = "last run: " + std::to_string(report.mRun);
    if (!report.mRunSource.empty()) line += " (" + report.mRunSource + ")";
    line += report.mRunActive ? ", under way" : ", ended";
    line += report.mTracksFound < 0 ? ", tracks not yet found"
                                    : ", " + tracksText(static_cast<size_t>(report.mTracksFound)) + " found";
    line += ", " + std::to_string(report.deliveredCount()) + " delivered";
    if (!report.mRunError.empty()) line += "; error: " + report.mRunError;
    return line + "\n";
}

std::string numberJson(const std::optional<double>& value) {
    return value ? formatted("%.6g", *value) : "null";
}

std::string textJson(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

}  // namespace

std::string tracksText(size_t count) { return std::to_string(count) + (count == 1 ? " track" : " tracks"); }

std::string durationText(double seconds) {
    static constexpr long long kUnits[] = {86400, 3600, 60, 1};
    static constexpr const char* kNames[] = {" day", " h", " min", " s"};
    long long left = std::isfinite(seconds) ? std::llround(std::max(seconds, 0.0)) : 0;
    std::string text;
    for (size_t i = 0; i < std::size(kUnits) && left > 0; ++i) {
        const long long count = left / kUnits[i];
        left %= kUnits[i];
        if (count == 0 && text.empty()) continue;
        text += (text.empty() ? "" : " ") + std::to_string(count) + kNames[i] + (i == 0 && count != 1 ? "s" : "");
    }
    return text.empty() ? "0 s" : text;
}

std::string clockText(double seconds) {
    const long long whole = static_cast<long long>(std::max(0.0, std::floor(seconds)));
    char text[32];
    snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::string agentStateName(int32_t state) {
    switch (state) {
        case kAgentStateIdle: return "idle";
        case kAgentStateCapturing: return "capturing";
        case kAgentStateProcessing: return "processing";
        default: return "unknown (" + std::to_string(state) + ")";
    }
}

std::string captureStateName(int32_t capture) {
    switch (capture) {
        case kCaptureIdle: return "idle";
        case kCaptureStarting: return "starting";
        case kCaptureRecording: return "recording";
        case kCaptureStopping: return "stopping";
        default: return "unknown (" + std::to_string(capture) + ")";
    }
}

std::string progressText(const AgentReport& report) {
    if (report.mTracksFound < 0) return "finding tracks";
    if (report.mTracksFound == 0) return "no tracks found";
    const size_t current = std::min(report.mDeliveries.size() + 1, static_cast<size_t>(report.mTracksFound));
    return "track " + std::to_string(current) + " of " + std::to_string(report.mTracksFound);
}

std::string deliveriesText(const AgentReport& report) {
    std::string text;
    for (const Delivery& delivery : report.mDeliveries) text += deliveryLine(delivery);
    const std::string folder = libraryFolder(report);
    return folder.empty() ? text : text + "library folder: " + folder + "\n";
}

std::string runSummary(const AgentReport& report) {
    const std::string run = "run " + std::to_string(report.mRun);
    const size_t tracks = trackCount(report), delivered = report.deliveredCount();
    if (!report.mRunError.empty())
        return run + " failed: " + report.mRunError + " (" + std::to_string(delivered) + " of " +
               tracksText(tracks) + " delivered)";
    if (report.undeliveredCount() > 0)
        return run + ": " + std::to_string(report.undeliveredCount()) + " of " + tracksText(tracks) + " not delivered";
    if (tracks == 0) return run + ": no tracks found";
    return run + ": " + tracksText(tracks) + " found, " + (tracks == 1 ? "delivered" : "all delivered");
}

std::string statusText(const Telemetry& telemetry, const AgentReport& report) {
    std::string text = "state: " + agentStateName(telemetry.mState) + "\n" + captureLine(telemetry, report);
    if (!report.mCaptureError.empty()) text += "capture error: " + report.mCaptureError + "\n";
    if (telemetry.mCurrentTrack && telemetry.mTotalTracks)
        text += "processing: track " + std::to_string(*telemetry.mCurrentTrack + 1) + " of " +
                std::to_string(*telemetry.mTotalTracks) + "\n";
    if (report.mSilenceThreshold && report.mLengthOfSilence)
        text += "silence: threshold " + formatted("%g", *report.mSilenceThreshold) + ", length " +
                formatted("%g", *report.mLengthOfSilence) + " s\n";
    if (report.mTimeLimit) text += "time limit: " + durationText(*report.mTimeLimit) + "\n";
    if (report.mMinTrackDuration) text += "minimum track duration: " + durationText(*report.mMinTrackDuration) + "\n";
    return report.mCapture ? text + runLine(report) : text;
}

std::string statusJson(const Telemetry& telemetry, const AgentReport& report) {
    const bool captured = capturedSinceStart(telemetry.mStartTime);
    std::string json = "{\"state\": " + std::to_string(telemetry.mState) +
                       ", \"state_name\": " + jsonString(agentStateName(telemetry.mState)) +
                       ", \"stime\": " + formatted("%.3f", telemetry.mStartTime) +
                       ", \"since_capture_start\": " + (captured ? jsonString(clockText(telemetry.mStartTime)) : "null");
    if (telemetry.mCurrentTrack && telemetry.mTotalTracks)
        json += ", \"current_track\": " + std::to_string(*telemetry.mCurrentTrack) +
                ", \"total_tracks\": " + std::to_string(*telemetry.mTotalTracks);
    if (!report.mCapture) return json + "}\n";
    json += ", \"capture\": " + jsonString(captureStateName(*report.mCapture)) +
            ", \"capture_error\": " + textJson(report.mCaptureError) +
            ", \"time_limit\": " + numberJson(report.mTimeLimit) +
            ", \"silence_threshold\": " + numberJson(report.mSilenceThreshold) +
            ", \"silence_length\": " + numberJson(report.mLengthOfSilence) +
            ", \"min_track_duration\": " + numberJson(report.mMinTrackDuration) +
            ", \"run\": " + std::to_string(report.mRun) + ", \"run_active\": " + (report.mRunActive ? "true" : "false") +
            ", \"run_source\": " + textJson(report.mRunSource) + ", \"tracks_found\": " +
            std::to_string(report.mTracksFound) + ", \"delivered\": " + std::to_string(report.deliveredCount()) +
            ", \"run_error\": " + textJson(report.mRunError);
    return json + "}\n";
}
