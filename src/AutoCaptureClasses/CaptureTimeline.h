#pragma once

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <vector>

// Which frames of the capture stream belong to the recording. `record`,
// `pause` and `stop` each mark the frame being captured at that moment; the
// file writer takes the spans between the marks. The capture thread keeps
// storing every frame, so audio that arrives after its mark still lands on
// the right side of it.
//
// A gap is time in which the capture stream had no source (the sound server
// was away): it has no frames of its own in the stream, but a recording that
// runs across it gets that much silence at its place.
class CaptureTimeline {
public:
    static constexpr int64_t kOpen = std::numeric_limits<int64_t>::max();

    struct Span {
        int64_t mFrom;
        int64_t mUntil;  // kOpen while recording goes on
    };
    struct Gap {
        int64_t mAt;      // the stream frame it comes before
        int64_t mFrames;  // of silence
    };

    // Starts a span at `frame`, unless one is open; never before the last span's end.
    void start(int64_t frame);
    // Ends the open span at `frame` (not before its start); nothing when none is open.
    void end(int64_t frame);
    // The first span that still has frames at or after `frame`.
    std::optional<Span> spanAfter(int64_t frame) const;
    // The end of the last span, or nullopt while a span is open or none was ever started.
    std::optional<int64_t> finalFrame() const;

    // Gaps come in stream order; two at the same frame are one.
    void addGap(int64_t at, int64_t frames);
    // The first gap at or after `frame`.
    std::optional<Gap> gapAfter(int64_t frame) const;

private:
    mutable std::mutex mLock;
    std::vector<Span> mSpans;
    std::vector<Gap> mGaps;
};
