#include "agent/TrackExporter.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "frameworks/AudioFormatQueries.h"
#include "frameworks/ZORAudioBufferList.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "library/SafeFileName.h"
#include "platform/Log.h"
#include "segmentation/AudioSlice.h"
#include "tracks/TROVTrack.h"

namespace {

constexpr uint32_t kCopyBufferBytes = 65536;
constexpr int kMaxMovedAsideNames = 100;

// A status as the log prints it: its 32 bits read unsigned.
unsigned long statusNumber(int32_t status) { return uint32_t(status); }

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool somethingAt(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Renames the file at `path` to the first free "<path>.moved-aside[-N]";
// the rename never replaces anything already there.
void moveAside(const std::string& path) {
    for (int attempt = 1; attempt <= kMaxMovedAsideNames; ++attempt) {
        std::string target = path + ".moved-aside";
        if (attempt > 1) target += "-" + std::to_string(attempt);
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            platform::Log::warning("moved the file %s aside to %s: a folder belongs in its place", path.c_str(),
                                   target.c_str());
            return;
        }
        if (errno != EEXIST) break;
    }
    platform::Log::error("could not move the file %s aside for a folder: %s", path.c_str(), std::strerror(errno));
}

std::string labelOf(const char* kind, const std::optional<std::string>& title) {
    return std::string(kind) + " \"" + title.value_or("") + "\"";
}

// The AAC description of the destination, completed by the format query,
// once the container is known to be writable; false after logging why not.
bool destinationFormat(const AudioStreamBasicDescription& recording, AudioStreamBasicDescription& format) {
    format = {};
    format.mSampleRate = recording.mSampleRate;
    format.mChannelsPerFrame = recording.mChannelsPerFrame;
    format.mFormatID = kAudioFormatMPEG4AAC;
    if (int32_t status = AudioFormatQueries::formatInfo(format)) {
        platform::Log::error("failed to find audio format: %lu", statusNumber(status));
        return false;
    }
    std::vector<std::string> extensions;
    if (int32_t status = AudioFormatQueries::extensionsForFileType(kAudioFileM4AType, extensions)) {
        platform::Log::error("failed to find audio format extensions: %lu", statusNumber(status));
        return false;
    }
    return true;
}

// Copies whole chunks from the reader's position until `remaining` frames
// are written or the recording ends. The reason of a failure, or "" after a
// copy of at least one frame.
std::string copyFrames(ZORExtAudioFile& reader, ZORExtAudioFile& writer, const AudioStreamBasicDescription& client,
                       int64_t remaining) {
    ZORAudioBufferList::Owned buffer(ZORAudioBufferList::allocateBuffers(1, client.mChannelsPerFrame, kCopyBufferBytes));
    if (!buffer) return "no memory for the copy buffer";
    const uint32_t chunkFrames = kCopyBufferBytes / client.mBytesPerFrame;
    int64_t copied = 0;
    while (remaining > 0) {
        uint32_t frames = chunkFrames;
        buffer->mBuffers[0].mDataByteSize = kCopyBufferBytes;
        if (reader.read(buffer.get(), frames) != 0) return "reading the recording: " + reader.lastErrorMessage();
        if (frames == 0) break;
        if (writer.writeSynch(buffer.get(), frames) != 0) return "writing: " + writer.lastErrorMessage();
        remaining -= frames;
        copied += frames;
    }
    return copied > 0 ? "" : "the recording holds no frames of it";
}

}  // namespace

TrackExporter::TrackExporter(HandOff handOff, std::string sourcePath)
    : mHandOff(std::move(handOff)), mSourcePath(std::move(sourcePath)) {}

std::string TrackExporter::libraryPath() {
    std::string path = platform::exportFolder();
    createDirectoryIfNeeded(path);
    return path;
}

std::string TrackExporter::exportPathFor(const std::string& name) {
    return libraryPath() + "/" + safeFileName(name, ".m4a", "Unknown Track");
}

void TrackExporter::createDirectoryIfNeeded(const std::string& path) {
    if (path.empty() || isDirectory(path)) return;
    if (somethingAt(path)) {
        moveAside(path);
    } else {
        const std::string parent = std::filesystem::path(path).parent_path().string();
        if (parent != path) createDirectoryIfNeeded(parent);
    }
    mkdir(path.c_str(), platform::kDocumentFolderMode);  // an ordinary document folder
}

TrackExporter::Delivered TrackExporter::exportTrack(const TROVTrack& track, const std::string& path) {
    const Span span{track.startTime(), track.stopTime() - track.startTime(), labelOf("track", track.trackName()), true};
    platform::Status exported = exportSpan(span, track.duration(), path);
    if (!exported) return exported;
    return mHandOff.mTrack ? mHandOff.mTrack(path, track) : Delivered(path);
}

TrackExporter::Delivered TrackExporter::exportSlice(const AudioSlice& slice, const std::string& path) {
    const Span span{int64_t(slice.startTime()), int64_t(slice.endTime() - slice.startTime()),
                    labelOf("slice", slice.title()), false};
    platform::Status exported = exportSpan(span, 0, path);
    if (!exported) return exported;
    return mHandOff.mSlice ? mHandOff.mSlice(path, slice) : Delivered(path);
}

platform::Status TrackExporter::exportSpan(const Span& span, int64_t loggedDuration, const std::string& path) const {
    const AudioStreamBasicDescription client =
        *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
    std::remove(path.c_str());  // an older export of the name is replaced

    auto reader = ZORExtAudioFile::initForReading(mSourcePath);
    if (int32_t status = reader->open()) {
        platform::Log::error("%s: failed to find open input file: %lu", span.mIsTrack ? "exportTrack" : "exportSlice",
                             statusNumber(status));
        return platform::Status::failure("cannot open the recording " + mSourcePath + ": " + reader->lastErrorMessage());
    }
    if (span.mIsTrack) platform::Log::info("Export Track Duration %ld\n", (long)loggedDuration);
    if (span.mFrames <= 0) return platform::Status::failure(span.mLabel + " holds no frames");
    if (reader->seek(span.mStart) != 0)
        return platform::Status::failure(span.mLabel + " starts beyond the end of the recording " + mSourcePath);
    reader->setClientStreamFormat(client);

    AudioStreamBasicDescription format;
    if (!destinationFormat(reader->fileStreamFormat(), format))
        return platform::Status::failure("this build of FFmpeg cannot write AAC in .m4a");
    auto writer = ZORExtAudioFile::initForWriting(path, kAudioFileM4AType, client, format);
    if (int32_t status = writer->open()) {
        platform::Log::error("failed to find open output file: %lu", statusNumber(status));
        return platform::Status::failure("cannot write " + path + ": " + writer->lastErrorMessage());
    }
    std::string failure = copyFrames(*reader, *writer, client, span.mFrames);
    reader->close();
    if (writer->close() != 0 && failure.empty()) failure = "completing the file: " + writer->lastErrorMessage();
    if (failure.empty()) return platform::Status::success();
    std::remove(path.c_str());
    platform::Log::error("export of %s to %s failed, nothing handed over: %s", span.mLabel.c_str(), path.c_str(),
                         failure.c_str());
    return platform::Status::failure("export to " + path + " failed: " + failure);
}
