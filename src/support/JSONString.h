#pragma once

#include <string>

// `text` as a quoted JSON string, for the tools' --json output. Bytes that are
// not UTF-8 (possible in file names and tags) become U+FFFD.
std::string jsonString(const std::string& text);
