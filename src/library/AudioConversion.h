#pragma once

#include <string>

#include "library/MusicLibraryDeliverer.h"
#include "platform/Result.h"

// Conversion of an exported track into the encoder the user chose, by the
// ffmpeg program: the toolkit has neither the Apple Lossless nor the MP3
// encoder, a separate process can be stopped cleanly when the time-out
// passes, and the agent's process keeps FFmpeg's libraries out of its memory
// (the toolkit loads them only when it needs them).
class AudioConversion {
public:
    // The delivered file's extension, without the dot: "m4a" or "mp3".
    static std::string extension(DeliveryRequest::Encoder encoder);
    // An AAC export for the AAC encoder is copied, not encoded a second time.
    static platform::Status convert(const std::string& input, const std::string& output,
                                    DeliveryRequest::Encoder encoder, int timeoutSeconds);
};
