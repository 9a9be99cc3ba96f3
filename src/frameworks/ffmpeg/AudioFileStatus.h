#pragma once

#include <cstdint>
#include <string>

// Translation of FFmpeg failures into the toolkit's status values and into
// texts for the log.
namespace AudioFileStatus {

int32_t fromAVError(int averror);
std::string avErrorText(int averror);

}  // namespace AudioFileStatus
