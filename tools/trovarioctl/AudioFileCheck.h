#pragma once

#include "platform/Result.h"

#include <string>

// The absolute path of `given` when it names a readable file holding audio
// frames the toolkit can decode; otherwise why not, naming the file as given.
platform::Result<std::string> checkAudioFile(const std::string& given);
