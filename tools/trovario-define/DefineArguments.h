#pragma once

#include <optional>
#include <string>

// The command line of trovario-define.
struct DefineArguments {
    std::string path;
    std::optional<float> sensitivity;  // linear amplitude
    std::optional<float> silenceMs;    // shortest silence that separates tracks
    bool json = false;
    bool verbose = false;
    bool help = false;
};

// Parses argv; nullopt with `error` set when the command line is wrong.
std::optional<DefineArguments> parseDefineArguments(int argc, char** argv, std::string& error);

extern const char kDefineUsage[];
