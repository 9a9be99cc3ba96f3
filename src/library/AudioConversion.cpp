#include "library/AudioConversion.h"

#include <vector>

#include "library/ProgramRunner.h"

namespace {

// MP3 for keeping: the highest constant bit rate the format has.
constexpr const char* kMP3BitRate = "320k";

std::vector<std::string> codecArguments(DeliveryRequest::Encoder encoder) {
    switch (encoder) {
        case DeliveryRequest::kAAC:
            return {"-c:a", "copy", "-f", "ipod"};
        case DeliveryRequest::kAppleLossless:
            return {"-c:a", "alac", "-f", "ipod"};
        default:
            return {"-c:a", "libmp3lame", "-b:a", kMP3BitRate, "-f", "mp3"};
    }
}

bool isMP4(DeliveryRequest::Encoder encoder) {
    return encoder == DeliveryRequest::kAAC || encoder == DeliveryRequest::kAppleLossless;
}

}  // namespace

std::string AudioConversion::extension(DeliveryRequest::Encoder encoder) { return isMP4(encoder) ? "m4a" : "mp3"; }

platform::Status AudioConversion::convert(const std::string& input, const std::string& output,
                                          DeliveryRequest::Encoder encoder, int timeoutSeconds) {
    // Tags and cover are written afterwards from the track, so none are carried
    // over; "file:" keeps a name from being read as another protocol.
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y", "-i", "file:" + input,
                                       "-map", "0:a:0", "-map_metadata", "-1"};
    for (std::string& argument : codecArguments(encoder)) arguments.push_back(std::move(argument));
    arguments.push_back("file:" + output);
    return ProgramRunner::run(arguments, timeoutSeconds);
}
