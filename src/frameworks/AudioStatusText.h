#pragma once

#include <cstdint>

// An audio toolkit status (CoreAudioTypes.h) in words, for messages a user
// reads: never the number or four-character code itself.
const char* audioStatusText(int32_t status);
