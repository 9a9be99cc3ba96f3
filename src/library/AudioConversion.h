#pragma once

#include <string>

#include "library/MusicLibraryDeliverer.h"
#include "platform/Result.h"

// Conversion of an exported track into the encoder the user chose, by the
// ffmpeg program: the toolkit has neither a stream copy nor the Apple Lossless
// and MP3 encoders, and a separate process can be stopped cleanly when the
// time-out passes.
class AudioConversion {
public:
    // The delivered file's extension, without the dot: "m4a" or "mp3".
    static std::string extension(DeliveryRequest::Encoder encoder);
    // AAC is copied as it is (an AAC export is not encoded a second time).
    static platform::Status convert(const std::string& input, const std::string& output,
                                    DeliveryRequest::Encoder encoder, int timeoutSeconds);
};
