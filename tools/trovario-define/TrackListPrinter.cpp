#include "TrackListPrinter.h"

#include <cstdio>

#include "support/JSONString.h"
#include "support/ZORTimeFormatter.h"

namespace {

std::string clockText(int64_t frames, double rate) {
    return ZORTimeFormatter::stringForUInt32Value(uint32_t(frames), int32_t(rate), 2, false);
}

}  // namespace

std::string trackLines(const TrackListReport& report) {
    std::string text;
    int number = 0;
    for (const auto& track : *report.tracks) {
        char line[160];
        snprintf(line, sizeof line, "%3d  %s  %s  %s\n", ++number,
                 clockText(track->startTime(), report.sampleRate).c_str(),
                 clockText(track->stopTime(), report.sampleRate).c_str(),
                 clockText(track->duration(), report.sampleRate).c_str());
        text += line;
    }
    return text;
}

std::string trackJson(const TrackListReport& report) {
    char header[256];
    snprintf(header, sizeof header,
             "  \"sampleRate\": %.0f,\n  \"lengthInFrames\": %u,\n  \"sensitivity\": %g,\n  \"silenceMs\": %g,\n",
             report.sampleRate, report.lengthInFrames, double(report.sensitivity), double(report.silenceMs));
    std::string text = "{\n  \"file\": " + jsonString(report.path) + ",\n" + header + "  \"tracks\": [";
    int number = 0;
    for (const auto& track : *report.tracks) {
        char entry[320];
        snprintf(entry, sizeof entry,
                 "%s\n    {\"number\": %d, \"startFrame\": %lld, \"stopFrame\": %lld, \"start\": \"%s\", "
                 "\"stop\": \"%s\", \"duration\": \"%s\"}",
                 number ? "," : "", number + 1, static_cast<long long>(track->startTime()),
                 static_cast<long long>(track->stopTime()), clockText(track->startTime(), report.sampleRate).c_str(),
                 clockText(track->stopTime(), report.sampleRate).c_str(),
                 clockText(track->duration(), report.sampleRate).c_str());
        text += entry;
        ++number;
    }
    return text + (number ? "\n  ]\n}\n" : "]\n}\n");
}
