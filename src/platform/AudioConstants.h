#pragma once

#include <cstdint>

namespace platform {

// The agent's one sample rate. The capture stream carries no rate of its own,
// so every stream, file format and frame count assumes this one.
inline constexpr uint32_t kCaptureSampleRate = 44100;
// Less audio than a second is what is left of a cut-off file, not a
// recording that could hold a track.
inline constexpr int64_t kShortestRecordingFrames = kCaptureSampleRate;

}  // namespace platform
