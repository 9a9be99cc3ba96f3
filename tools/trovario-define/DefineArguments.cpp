#include "DefineArguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char kDefineUsage[] =
    "usage: trovario-define [--sensitivity AMPLITUDE] [--silence-ms MILLISECONDS] [--json] [--verbose] FILE\n"
    "Cuts an audio file into tracks in the middle of its silences and prints one line per track:\n"
    "number, start, stop and duration. The defaults of both options come from the preferences.\n"
    "--verbose also writes the definer's diagnostic lines to standard error.\n";

namespace {

// The whole text must be a finite number of at least 0.
std::optional<float> parseAmount(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    float value = std::strtof(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

// "--name value" or "--name=value"; advances `i` past what it used.
std::optional<std::string> optionValue(const std::string& argument, const std::string& name, int argc, char** argv,
                                       int& i, bool& matched) {
    matched = argument == name || argument.rfind(name + "=", 0) == 0;
    if (!matched) return std::nullopt;
    if (argument.size() > name.size()) return argument.substr(name.size() + 1);
    if (i + 1 < argc) return std::string(argv[++i]);
    return std::nullopt;
}

}  // namespace

std::optional<DefineArguments> parseDefineArguments(int argc, char** argv, std::string& error) {
    DefineArguments arguments;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        bool matched = false;
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (!arguments.path.empty()) {
                error = "one file at a time, not also " + argument;
                return std::nullopt;
            }
            arguments.path = argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            arguments.help = true;
        } else if (argument == "--json") {
            arguments.json = true;
        } else if (argument == "--verbose") {
            arguments.verbose = true;
        } else if (auto value = optionValue(argument, "--sensitivity", argc, argv, i, matched); matched) {
            if (!(arguments.sensitivity = value ? parseAmount(*value) : std::nullopt)) {
                error = "--sensitivity needs an amplitude of 0 or more, such as 0.03";
                return std::nullopt;
            }
        } else if (auto value = optionValue(argument, "--silence-ms", argc, argv, i, matched); matched) {
            if (!(arguments.silenceMs = value ? parseAmount(*value) : std::nullopt)) {
                error = "--silence-ms needs a number of milliseconds of 0 or more, such as 1300";
                return std::nullopt;
            }
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
    }
    if (arguments.path.empty() && !arguments.help) {
        error = "no audio file given";
        return std::nullopt;
    }
    return arguments;
}
