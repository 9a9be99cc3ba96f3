#include "frameworks/AudioFormatQueries.h"

#include "frameworks/AudioFileBackend.h"
#include "frameworks/AudioFileBackendLoader.h"

namespace AudioFormatQueries {

int32_t formatInfo(AudioStreamBasicDescription& format) {
    std::string whyNot;
    AudioFileBackend* backend = AudioFileBackendLoader::backend(whyNot);
    return backend ? backend->formatInfo(format) : kAudioFormatUnsupportedDataFormatError;
}

int32_t extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions) {
    std::string whyNot;
    AudioFileBackend* backend = AudioFileBackendLoader::backend(whyNot);
    return backend ? backend->extensionsForFileType(fileType, extensions) : kAudioFileUnsupportedFileTypeError;
}

}  // namespace AudioFormatQueries
