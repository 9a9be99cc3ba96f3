#include "AudioFileCheck.h"

#include "frameworks/ZORExtAudioFile.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

platform::Result<std::string> readableFile(const std::string& given) {
    std::error_code error;
    const std::string path = std::filesystem::absolute(given, error).lexically_normal().string();
    if (error || !std::filesystem::exists(path, error))
        return platform::Status::failure("cannot read " + given + ": no such file");
    if (!std::filesystem::is_regular_file(path, error))
        return platform::Status::failure("cannot read " + given + ": not a regular file");
    if (access(path.c_str(), R_OK) != 0 || !std::ifstream(path))
        return platform::Status::failure("cannot read " + given + ": permission denied");
    return path;
}

// One block is enough to tell audio from anything else, without decoding
// a long file to its end.
bool deliversFrames(ZORExtAudioFile& file) {
    constexpr uint32_t kFrames = 4096;
    std::vector<float> samples(size_t{kFrames} * std::max(file.channelsPerFrame(), 1u));
    AudioBufferList list{1, {{file.channelsPerFrame(), static_cast<uint32_t>(samples.size() * sizeof(float)),
                              samples.data()}}};
    uint32_t frames = kFrames;
    return file.read(&list, frames) == 0 && frames > 0;
}

}  // namespace

platform::Result<std::string> checkAudioFile(const std::string& given) {
    platform::Result<std::string> path = readableFile(given);
    if (!path) return path;
    auto file = ZORExtAudioFile::initForReading(*path);
    if (file->open() != 0)
        return platform::Status::failure("cannot read " + given + ": not audio (" + file->lastErrorMessage() + ")");
    const bool audio = deliversFrames(*file);
    file->close();
    if (!audio) return platform::Status::failure("cannot read " + given + ": not audio (no audio frames in it)");
    return path;
}
