#include "library/AudioConversion.h"

#include <taglib/mp4file.h>

#include <filesystem>
#include <vector>

#include "library/ProgramRunner.h"

namespace {

// For files a user keeps: what music stores sell for AAC, and the highest
// constant bit rate MP3 has.
constexpr const char* kAACBitRate = "256k";
constexpr const char* kMP3BitRate = "320k";

std::vector<std::string> codecArguments(DeliveryRequest::Encoder encoder) {
    switch (encoder) {
        case DeliveryRequest::kAAC:
            return {"-c:a", "aac", "-b:a", kAACBitRate, "-f", "ipod"};
        case DeliveryRequest::kAppleLossless:
            return {"-c:a", "alac", "-f", "ipod"};
        default:
            return {"-c:a", "libmp3lame", "-b:a", kMP3BitRate, "-f", "mp3"};
    }
}

bool isMP4(DeliveryRequest::Encoder encoder) {
    return encoder == DeliveryRequest::kAAC || encoder == DeliveryRequest::kAppleLossless;
}

bool isAACInMP4(const std::string& path) {
    TagLib::MP4::File file(path.c_str());
    return file.isValid() && file.audioProperties() &&
           file.audioProperties()->codec() == TagLib::MP4::Properties::AAC;
}

// The stream as it is, byte for byte: the export's own container holds
// nothing but the audio and the tags, which are written anew afterwards.
platform::Status copyStream(const std::string& input, const std::string& output) {
    std::error_code error;
    std::filesystem::copy_file(input, output, std::filesystem::copy_options::overwrite_existing, error);
    if (error) return platform::Status::failure("cannot copy " + input + " to " + output + ": " + error.message());
    return platform::Status::success();
}

}  // namespace

std::string AudioConversion::extension(DeliveryRequest::Encoder encoder) { return isMP4(encoder) ? "m4a" : "mp3"; }

platform::Status AudioConversion::convert(const std::string& input, const std::string& output,
                                          DeliveryRequest::Encoder encoder, int timeoutSeconds) {
    if (encoder == DeliveryRequest::kAAC && isAACInMP4(input)) return copyStream(input, output);
    // Tags and cover are written afterwards from the track, so none are carried
    // over; "file:" keeps a name from being read as another protocol.
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y", "-i", "file:" + input,
                                       "-map", "0:a:0", "-map_metadata", "-1"};
    for (std::string& argument : codecArguments(encoder)) arguments.push_back(std::move(argument));
    arguments.push_back("file:" + output);
    return ProgramRunner::run(arguments, timeoutSeconds);
}
