#include "CaptureTestSupport.h"

#include <cmath>
#include <thread>

#include "platform/AudioConstants.h"
#include "platform/SoundPlaybackStream.h"
#include "platform/SoundServer.h"

namespace capture_test {

TonePlayer::TonePlayer(double frequency) : mFrequency(frequency) {
    auto server = platform::SoundServer::connect("tone player", 2000);
    if (!server) return;
    // Quanta of 1024 frames (279 ms buffered): deep enough that a slow
    // (sanitizer) build never lets the tone run dry.
    auto stream = platform::SoundPlaybackStream::open(
        *server, "", 1024, true,
        [this](float* data, uint32_t frames) {
            double step = 2 * M_PI * mFrequency.load() / platform::kCaptureSampleRate;
            for (uint32_t i = 0; i < frames; ++i) {
                data[2 * i] = data[2 * i + 1] = 0.5f * static_cast<float>(std::sin(mPhase));
                mPhase = std::fmod(mPhase + step, 2 * M_PI);
            }
            return true;
        });
    if (stream) mStream = std::move(*stream);
}

TonePlayer::~TonePlayer() = default;

std::unique_ptr<platform::SoundRecordStream> openMonitor(const std::string& source, uint32_t fragmentBytes) {
    auto server = platform::SoundServer::connect("test", 2000);
    if (!server) return ADD_FAILURE() << server.message(), nullptr;
    auto stream = platform::SoundRecordStream::open(*server, source, fragmentBytes);
    if (!stream) return ADD_FAILURE() << stream.message(), nullptr;
    return std::move(*stream);
}

int32_t CountingSubscriber::audioIOHandler(void*, const void*, const AudioBufferList* inInputData, const void*,
                                           AudioBufferList*, const void*, void*) {
    mFrames += inInputData->mBuffers[0].mDataByteSize / 8;
    ++mCalls;
    if (mOnCall) mOnCall();
    return 0;
}

// Goertzel filter at each frequency against the block's total power.
std::vector<double> dominantTones(const std::vector<float>& stereo, size_t blockFrames,
                                  const std::vector<double>& frequencies) {
    std::vector<double> tones;
    for (size_t first = 0; 2 * (first + blockFrames) <= stereo.size(); first += blockFrames) {
        tones.push_back(0);
        for (double frequency : frequencies) {
            double coefficient = 2 * std::cos(2 * M_PI * frequency / 44100.0);
            double s1 = 0, s2 = 0, total = 0;
            for (size_t i = first; i < first + blockFrames; ++i) {
                double s0 = stereo[2 * i] + coefficient * s1 - s2;
                s2 = s1;
                s1 = s0;
                total += stereo[2 * i] * stereo[2 * i];
            }
            double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
            if (total > 1e-9 && power / (total * static_cast<double>(blockFrames) / 2) > 0.8) tones.back() = frequency;
        }
    }
    return tones;
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace capture_test
