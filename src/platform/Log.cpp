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
    std::mutex lock;
    std::map<int, Log::Sink> sinks;
    int nextToken = 1;
    bool syslogOpen = false;
    bool mirror = false;
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

void emit(Log::Channel channel, const std::string& text) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    if (channel == Log::Channel::System) {
        if (r.syslogOpen) syslog(LOG_NOTICE, "%s", text.c_str());
        if (r.mirror) fprintf(stderr, "%s%s", text.c_str(), text.ends_with('\n') ? "" : "\n");
    } else {
        fputs(text.c_str(), stderr);
    }
    for (auto& [token, sink] : r.sinks) sink(channel, text);
}

}  // namespace

void Log::line(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    emit(Channel::System, text);
}

void Log::errorLine(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    emit(Channel::StandardError, text);
}

void Log::open(const char* ident, bool mirrorToStderr) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    openlog(ident, LOG_PID, LOG_USER);
    r.syslogOpen = true;
    r.mirror = mirrorToStderr;
}

int Log::addSink(Sink sink) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    int token = r.nextToken++;
    r.sinks.emplace(token, std::move(sink));
    return token;
}

void Log::removeSink(int token) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    r.sinks.erase(token);
}

struct LogCapture::State {
    mutable std::mutex lock;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : mState(new State) {
    State* state = mState;
    mToken = Log::addSink([state](Log::Channel, const std::string& text) {
        std::lock_guard guard(state->lock);
        state->lines.push_back(text);
    });
}

LogCapture::~LogCapture() {
    Log::removeSink(mToken);
    delete mState;
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard guard(mState->lock);
    return mState->lines;
}

bool LogCapture::contains(const std::string& text) const { return count(text) > 0; }

size_t LogCapture::count(const std::string& text) const {
    std::lock_guard guard(mState->lock);
    return static_cast<size_t>(std::count_if(mState->lines.begin(), mState->lines.end(),
        [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

void LogCapture::clear() {
    std::lock_guard guard(mState->lock);
    mState->lines.clear();
}

}  // namespace platform
