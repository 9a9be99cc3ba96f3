#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// One line per event. `line` goes to the system log (mirrored to stderr when
// the process runs in the foreground); `errorLine` goes to stderr only. Both
// reach every installed sink, which is how tests read them.
class Log {
public:
    enum class Channel { System, StandardError };
    using Sink = std::function<void(Channel, const std::string&)>;

    static void line(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void errorLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Opens syslog under `ident`; `mirrorToStderr` for a foreground process.
    static void open(const char* ident, bool mirrorToStderr);

    static int addSink(Sink sink);
    static void removeSink(int token);
};

// Collects every line logged while it lives; for tests.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    bool contains(const std::string& text) const;
    size_t count(const std::string& text) const;
    void clear();

private:
    struct State;
    State* mState;
    int mToken;
};

}  // namespace platform
