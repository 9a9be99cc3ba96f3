#include "ProgressLine.h"

#include <unistd.h>

namespace {

// Often enough to look alive, seldom enough not to slow the writer.
constexpr auto kInterval = std::chrono::milliseconds(200);

}  // namespace

ProgressLine::ProgressLine(FILE* out, size_t total) : mOut(isatty(fileno(out)) ? out : nullptr), mTotal(total) {}

ProgressLine::~ProgressLine() {
    if (mShown) fputs("\r\033[K", mOut);
}

void ProgressLine::update(size_t done) {
    const auto now = std::chrono::steady_clock::now();
    if (!mOut || (mShown && now - mLastShown < kInterval && done < mTotal)) return;
    mShown = true;
    mLastShown = now;
    const double seconds = std::chrono::duration<double>(now - mStart).count();
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const long left = rate > 0 ? long(double(mTotal - done) / rate + 0.5) : 0;
    fprintf(mOut, "\r\033[K%zu/%zu files, %.1f files/s, ", done, mTotal, rate);
    if (rate > 0) fprintf(mOut, "%ld:%02ld left", left / 60, left % 60);
    else fputs("time left unknown", mOut);
    fflush(mOut);
}
