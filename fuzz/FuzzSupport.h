#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

// What every harness shares: a private home for the process, so that no
// input reaches the user's own preferences, music or catalog, and a way to
// hand the bytes to code that reads files.
namespace fuzz {

// A fresh folder under $TMPDIR, made the process's home, configuration,
// data, cache and runtime folder on first use.
inline const std::string& scratchHome() {
    static const std::string home = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/trovario-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            setenv(variable, pattern.c_str(), 1);
        // No sound server and no session bus: nothing the agent reaches for answers.
        setenv("PULSE_SERVER", (pattern + "/no-sound-server").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + pattern + "/no-bus").c_str(), 1);
        return pattern;
    }();
    return home;
}

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) std::abort();
}

inline std::string_view bytesOf(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Stops the run with the reason: an invariant of the harness broke.
[[noreturn]] inline void violation(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz
