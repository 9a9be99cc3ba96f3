#pragma once

#include <chrono>
#include <cstdio>

// A line on a terminal, rewritten in place: files done of the total, the
// rate and the time left. Writes nothing when `out` is not a terminal.
class ProgressLine {
public:
    ProgressLine(FILE* out, size_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(size_t done);

private:
    FILE* mOut;
    const size_t mTotal;
    const std::chrono::steady_clock::time_point mStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point mLastShown;
    bool mShown = false;
};
