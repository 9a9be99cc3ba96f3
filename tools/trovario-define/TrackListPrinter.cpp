#include "TrackListPrinter.h"

#include <glib.h>

#include <cstdio>
#include <memory>

#include "support/ZORTimeFormatter.h"

namespace {

std::string clockText(int64_t frames, double rate) {
    return ZORTimeFormatter::stringForUInt32Value(uint32_t(frames), int32_t(rate), 2, false);
}

// A JSON string; bytes that are not UTF-8 (possible in file names) become U+FFFD.
std::string jsonString(const std::string& text) {
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(text.data(), gssize(text.size())), g_free);
    std::string quoted = "\"";
    for (const char* c = valid.get(); *c; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += char(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += char(byte);
        }
    }
    return quoted + "\"";
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
