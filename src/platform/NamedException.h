#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// Raised only for programming errors (an index out of range, a node of the
// wrong type); ordinary failures travel as status values.
class NamedException : public std::runtime_error {
public:
    NamedException(std::string name, const std::string& reason)
        : std::runtime_error(reason), mName(std::move(name)) {}

    const std::string& name() const { return mName; }
    std::string reason() const { return what(); }

private:
    std::string mName;
};

}  // namespace platform
