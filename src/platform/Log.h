#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// One line per event, at a level. Every line goes to the system log (when
// open) and to every installed sink, which is how tests read them. Standard
// error, for a process in the foreground, gets warnings and errors, and the
// diagnostics (debug, info) only when verbose. Until `open`, warnings and
// errors go to standard error only.
class Log {
public:
    enum class Level { Debug, Info, Warning, Error };
    using Sink = std::function<void(Level, const std::string&)>;

    struct Options {
        bool mSystemLog = true;    // syslog(3) under the ident
        bool mForeground = false;  // started from a terminal: standard error is read
        bool mVerbose = false;     // diagnostics to standard error as well
    };

    static void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void info(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Standard-error lines begin with "`ident`: ".
    static void open(const char* ident, const Options& options);

    static int addSink(Sink sink);
    static void removeSink(int token);

    // Where system-log lines go instead of syslog(3): a test double for the
    // system log, which tests cannot read back. nullptr gives syslog back.
    using SystemLogWriter = void (*)(int priority, const std::string& text);
    static void replaceSystemLogForTesting(SystemLogWriter writer);
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
