// Level routing: sinks and the system log get every line at its level; the
// terminal, in the foreground, warnings and errors, and diagnostics when verbose.
#include "platform/Log.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>
#include <utility>
#include <vector>

using platform::Log;

TEST(Log, EveryLineReachesSinksAndSystemLogTheTerminalOnlyWhatItsOptionsAllow) {
    const std::vector<std::pair<Log::Options, std::string>> cases = {
        {{.mForeground = false, .mVerbose = true}, ""},
        {{.mForeground = true, .mVerbose = false}, "log-test: w\nlog-test: e\n"},
        {{.mForeground = true, .mVerbose = true}, "log-test: d\nlog-test: i\nlog-test: w\nlog-test: e\n"},
    };
    static std::vector<std::pair<int, std::string>> systemLog;
    Log::replaceSystemLogForTesting([](int priority, const std::string& text) { systemLog.emplace_back(priority, text); });
    for (const auto& [options, terminal] : cases) {
        systemLog.clear();
        std::vector<Log::Level> sunk;
        Log::open("log-test", options);
        const int token = Log::addSink([&](Log::Level level, const std::string&) { sunk.push_back(level); });
        testing::internal::CaptureStderr();
        Log::debug("d");
        Log::info("i\n");
        Log::warning("w");
        Log::error("e");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), terminal);
        Log::removeSink(token);
        using L = Log::Level;
        EXPECT_EQ(sunk, (std::vector<L>{L::Debug, L::Info, L::Warning, L::Error}));
        EXPECT_EQ(systemLog, (std::vector<std::pair<int, std::string>>{
                                  {LOG_DEBUG, "d"}, {LOG_INFO, "i\n"}, {LOG_WARNING, "w"}, {LOG_ERR, "e"}}));
    }
    Log::replaceSystemLogForTesting(nullptr);
    Log::open("log-test", {.mSystemLog = false});
}
