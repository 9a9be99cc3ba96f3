#include "CaptureTestSupport.h"

#include <cmath>
#include <cstdio>
#include <thread>

#include "platform/SoundPlaybackStream.h"
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

namespace capture_test {

TonePlayer::TonePlayer(double frequency, float amplitude) : mFrequency(frequency), mAmplitude(amplitude) {
    std::string error;
    mServer = platform::SoundServer::connect("tone player", 2000, &error);
    if (!mServer) return;
    // Quanta of 1024 frames (279 ms buffered): deep enough that a slow
    // (sanitizer) build never lets the tone run dry.
    mStream = platform::SoundPlaybackStream::open(
        mServer, "", 1024, true,
        [this](float* data, uint32_t frames) {
            double step = 2 * M_PI * mFrequency.load() / 44100.0;
            for (uint32_t i = 0; i < frames; ++i) {
                float sample = mAmplitude * static_cast<float>(std::sin(mPhase));
                data[2 * i] = data[2 * i + 1] = sample;
                mPhase = std::fmod(mPhase + step, 2 * M_PI);
            }
            return true;
        },
        &error);
}

TonePlayer::~TonePlayer() {
    mStream.reset();
    mServer.reset();
}

SourceRecorder::SourceRecorder(const std::string& source) {
    std::string error;
    mServer = platform::SoundServer::connect("source recorder", 2000, &error);
    if (mServer) mStream = platform::SoundRecordStream::open(mServer, source, 4096, &error);
    if (!mStream) return;
    mThread = std::thread([this] {
        std::vector<float> block(4096);
        while (mStream->waitForData() == 0) {
            while (mStream->dataAvailable()) {
                uint32_t size = static_cast<uint32_t>(block.size() * sizeof(float));
                if (mStream->dequeue(block.data(), size) != 0) break;
                std::lock_guard guard(mLock);
                mSamples.insert(mSamples.end(), block.begin(), block.begin() + size / sizeof(float));
            }
        }
    });
}

SourceRecorder::~SourceRecorder() {
    if (!mThread.joinable()) return;
    mStream->interrupt();
    mThread.join();
}

std::vector<float> SourceRecorder::samples() {
    std::lock_guard guard(mLock);
    return mSamples;
}

int32_t CountingSubscriber::audioIOHandler(void*, const void*, const AudioBufferList* inInputData, const void*,
                                           AudioBufferList*, const void*, void*) {
    frames += inInputData->mBuffers[0].mDataByteSize / 8;
    ++calls;
    if (onCall) onCall();
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

size_t longestSilentRun(const std::vector<float>& stereo, size_t firstFrame, size_t frameCount) {
    size_t longest = 0, run = 0;
    for (size_t i = firstFrame; i < firstFrame + frameCount && 2 * i + 1 < stereo.size(); ++i) {
        run = stereo[2 * i] == 0.0f && stereo[2 * i + 1] == 0.0f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
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
