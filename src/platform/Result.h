#pragma once

#include "platform/NamedException.h"

#include <optional>
#include <string>
#include <utility>

namespace platform {

// What our own interfaces return across a module boundary: success, or a
// failure whose message a user can act on (what failed, on which file or
// command, what to do). The design's OSStatus values stay where it names them.
class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !mMessage.has_value(); }
    explicit operator bool() const { return ok(); }
    // Empty on success.
    const std::string& message() const {
        static const std::string kNone;
        return mMessage ? *mMessage : kNone;
    }

private:
    Status() = default;
    explicit Status(std::string message) : mMessage(std::move(message)) {}
    std::optional<std::string> mMessage;
};

// A value, or the failure that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : mValue(std::move(value)), mStatus(Status::success()) {}
    Result(Status failure) : mStatus(std::move(failure)) {
        if (mStatus.ok()) throw NamedException("NSInvalidArgumentException", "a Result needs a value or a failure");
    }

    bool ok() const { return mStatus.ok(); }
    explicit operator bool() const { return ok(); }
    const Status& status() const { return mStatus; }
    const std::string& message() const { return mStatus.message(); }

    const T& value() const& { return checked(); }
    T& value() & { return checked(); }
    T&& value() && { return std::move(checked()); }
    const T* operator->() const { return &checked(); }
    T* operator->() { return &checked(); }
    const T& operator*() const& { return checked(); }
    T& operator*() & { return checked(); }

private:
    const T& checked() const {
        if (!mValue) throw NamedException("NSInternalInconsistencyException", "value of a failed Result: " + message());
        return *mValue;
    }
    T& checked() { return const_cast<T&>(std::as_const(*this).checked()); }

    std::optional<T> mValue;
    Status mStatus;
};

}  // namespace platform
