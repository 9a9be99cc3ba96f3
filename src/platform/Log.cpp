#include "platform/Log.h"

#include <syslog.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

namespace platform {
namespace {

struct Registry {
    std::mutex mLock;
    std::map<int, Log::Sink> mSinks;
    int mNextToken = 1;
    std::string mIdent;
    // Until the process says otherwise, no failure goes unseen.
    Log::Options mOptions{.mSystemLog = false, .mForeground = true, .mVerbose = false};
    Log::SystemLogWriter mSystemLogWriter = nullptr;
};

Registry& registry() {
    static Registry r;
    return r;
}

std::string format(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0) return fmt;
    std::string text(static_cast<size_t>(n), '\0');
    vsnprintf(text.data(), text.size() + 1, fmt, args);
    return text;
}

int priority(Log::Level level) {
    switch (level) {
        case Log::Level::Debug: return LOG_DEBUG;
        case Log::Level::Info: return LOG_INFO;
        case Log::Level::Warning: return LOG_WARNING;
        case Log::Level::Error: return LOG_ERR;
    }
    return LOG_NOTICE;
}

void writeSyslog(int priority, const std::string& text) { syslog(priority, "%s", text.c_str()); }

bool toStandardError(const Registry& r, Log::Level level) {
    return r.mOptions.mForeground && (r.mOptions.mVerbose || level >= Log::Level::Warning);
}

void emit(Log::Level level, const char* fmt, va_list args) {
    const std::string text = format(fmt, args);
    Registry& r = registry();
    std::lock_guard guard(r.mLock);
    if (r.mOptions.mSystemLog)
        (r.mSystemLogWriter ? r.mSystemLogWriter : writeSyslog)(priority(level), text);
    if (toStandardError(r, level))
        fprintf(stderr, "%s%s%s%s", r.mIdent.c_str(), r.mIdent.empty() ? "" : ": ", text.c_str(),
                text.ends_with('\n') ? "" : "\n");
    for (auto& [token, sink] : r.mSinks) sink(level, text);
}

}  // namespace

void Log::debug(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    emit(Level::Debug, fmt, args);
    va_end(args);
}

void Log::info(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    emit(Level::Info, fmt, args);
    va_end(args);
}

void Log::warning(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    emit(Level::Warning, fmt, args);
    va_end(args);
}

void Log::error(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    emit(Level::Error, fmt, args);
    va_end(args);
}

void Log::open(const char* ident, const Options& options) {
    Registry& r = registry();
    std::lock_guard guard(r.mLock);
    r.mIdent = ident;
    r.mOptions = options;
    // openlog keeps the pointer: the ident must outlive the process's logging.
    if (options.mSystemLog)
        openlog(r.mIdent.c_str(), LOG_PID, LOG_USER);
    else
        closelog();
}

int Log::addSink(Sink sink) {
    Registry& r = registry();
    std::lock_guard guard(r.mLock);
    int token = r.mNextToken++;
    r.mSinks.emplace(token, std::move(sink));
    return token;
}

void Log::removeSink(int token) {
    Registry& r = registry();
    std::lock_guard guard(r.mLock);
    r.mSinks.erase(token);
}

void Log::replaceSystemLogForTesting(SystemLogWriter writer) {
    Registry& r = registry();
    std::lock_guard guard(r.mLock);
    r.mSystemLogWriter = writer;
}

struct LogCapture::State {
    mutable std::mutex mLock;
    std::vector<std::string> mLines;
};

LogCapture::LogCapture() : mState(new State) {
    State* state = mState;
    mToken = Log::addSink([state](Log::Level, const std::string& text) {
        std::lock_guard guard(state->mLock);
        state->mLines.push_back(text);
    });
}

LogCapture::~LogCapture() {
    Log::removeSink(mToken);
    delete mState;
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard guard(mState->mLock);
    return mState->mLines;
}

bool LogCapture::contains(const std::string& text) const { return count(text) > 0; }

size_t LogCapture::count(const std::string& text) const {
    std::lock_guard guard(mState->mLock);
    return static_cast<size_t>(std::count_if(mState->mLines.begin(), mState->mLines.end(),
        [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

void LogCapture::clear() {
    std::lock_guard guard(mState->mLock);
    mState->mLines.clear();
}

}  // namespace platform
