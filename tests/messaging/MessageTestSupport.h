#pragma once

// Typed reads of a message, and a main loop that serves while a client runs,
// for the messaging and agent tests.

#include "messaging/TROVMessage.h"
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>

namespace msgtest {

inline bool read(const TROVMessage& m, const std::string& key, int32_t& v) { return m.getValueSInt32(key, v); }
inline bool read(const TROVMessage& m, const std::string& key, float& v) { return m.getValueFloat32(key, v); }
inline bool read(const TROVMessage& m, const std::string& key, bool& v) { return m.getValueBoolean(key, v); }
inline bool read(const TROVMessage& m, const std::string& key, std::string& v) { return m.getValueNSString(key, v); }

// What the typed getter reads under `key`, nullopt when it refuses; a refusal
// must leave the caller's variable (starting as `untouched`) as it was.
template <typename T>
std::optional<T> get(const TROVMessage& message, const std::string& key, const T& untouched) {
    T value = untouched;
    if (read(message, key, value)) return value;
    EXPECT_EQ(value, untouched) << "the refused read of \"" << key << "\" changed its target";
    return std::nullopt;
}
inline std::optional<int32_t> getInt(const TROVMessage& m, const std::string& key) { return get<int32_t>(m, key, 42); }

// Runs `client` on another thread while the main loop serves, and gives its result.
template <typename Client>
auto whileServing(Client client) {
    auto result = std::async(std::launch::async, std::move(client));
    platform::MainLoop::shared().runUntil(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10.0);
    return result.get();
}

}  // namespace msgtest
