#pragma once

#include <memory>

// An event about some object, its source, which the event holds.
class ZOREventObject {
public:
    explicit ZOREventObject(std::shared_ptr<void> source) : mSource(std::move(source)) {}
    virtual ~ZOREventObject() = default;

    const std::shared_ptr<void>& source() const { return mSource; }

private:
    std::shared_ptr<void> mSource;
};
