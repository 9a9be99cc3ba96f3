#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frameworks/CoreAudioTypes.h"

// The two format queries the agent asks before it writes a file, answered
// from FFmpeg's codec and muxer tables by the audio backend. When the backend
// cannot be loaded (the log says why), no format and no file type is supported.
namespace AudioFormatQueries {

// Completes a partly filled description (format id, rate, channels) the way
// the platform's format-information query does: AAC gets its 1024 frames a
// packet, linear PCM its byte counts. 0 when an encoder for the format
// exists and accepts the rate and channels; kAudioFormatUnsupportedDataFormatError
// otherwise, with the description untouched.
int32_t formatInfo(AudioStreamBasicDescription& format);

// The file-name extensions of a file type (for kAudioFileM4AType "m4a" among
// them); kAudioFileUnsupportedFileTypeError for a type we cannot write.
int32_t extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions);

}  // namespace AudioFormatQueries
