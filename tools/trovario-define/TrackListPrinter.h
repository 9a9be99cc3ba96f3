#pragma once

#include <string>

#include "tracks/ZORTrackAutoDefiner.h"
#include "platform/AudioConstants.h"

// What trovario-define prints for a list of tracks.
struct TrackListReport {
    std::string path;
    double sampleRate = platform::kCaptureSampleRate;
    uint32_t lengthInFrames = 0;
    float sensitivity = 0;
    float silenceMs = 0;
    const ZORTrackAutoDefiner::Tracks* tracks = nullptr;
};

// One line per track: number, start, stop and duration as clock texts with hundredths.
std::string trackLines(const TrackListReport& report);
// The same as a JSON document, with the frame numbers beside the texts.
std::string trackJson(const TrackListReport& report);
