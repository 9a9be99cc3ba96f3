#include "FileFingerprint.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "frameworks/identification/Fingerprinter.h"
#include "frameworks/identification/TagReader.h"

namespace {

// Large reads: the decoder's per-call cost stays small against the work.
constexpr uint32_t kFramesPerRead = 1 << 16;

platform::Result<std::vector<int16_t>> decodeForFingerprint(const std::string& path) {
    auto file = ZORExtAudioFile::initForReading(path);
    const auto format = ZORAudioStreamBasicDescription::linearPCM(Fingerprinter::kSampleRate, 1, 16,
                                                                  kAudioFormatFlagIsSignedInteger);
    if (file->open() != 0 || file->setClientStreamFormat(format) != 0)
        return platform::Status::failure(file->lastErrorMessage());
    std::vector<int16_t> samples;
    for (;;) {
        const size_t done = samples.size();
        samples.resize(done + kFramesPerRead);
        uint32_t frames = kFramesPerRead;
        AudioBufferList list{1, {{1, kFramesPerRead * 2, samples.data() + done}}};
        if (file->read(&list, frames) != 0) return platform::Status::failure(file->lastErrorMessage());
        samples.resize(done + frames);
        if (frames == 0) return samples;
    }
}

}  // namespace

platform::Result<FileStamp> fileStamp(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return platform::Status::failure(path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return platform::Status::failure(path + ": not a regular file");
    return FileStamp{info.st_size, int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

platform::Result<CatalogEntry> fingerprintFile(const std::string& path, std::string& tagProblem) {
    auto stamp = fileStamp(path);
    if (!stamp) return stamp.status();
    auto samples = decodeForFingerprint(path);
    if (!samples) return samples.status();
    CatalogEntry entry{.mPath = path, .mSize = stamp->mSize, .mModified = stamp->mModified,
                       .mDuration = double(samples->size()) / Fingerprinter::kSampleRate,
                       .mFingerprint = Fingerprinter::fingerprint(samples->data(), samples->size()), .mMetadata = {}};
    if (entry.mFingerprint.empty()) {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%.2f", entry.mDuration);
        return platform::Status::failure(path + ": too little audio to fingerprint (" + seconds + " s)");
    }
    auto tags = TagReader::read(path);
    if (tags) entry.mMetadata = std::move(*tags);
    else tagProblem = tags.message();
    return entry;
}
