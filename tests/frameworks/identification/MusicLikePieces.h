#pragma once

// Distinct music-like pieces for identification tests: each seed gives its own
// tempo, key, chord progression and melody of random notes with rhythm, played
// by tones with a few harmonics under an attack/decay envelope. Pure tones
// fingerprint alike, so they cannot stand in for music here.

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "../AudioTestSupport.h"
#include "frameworks/identification/Fingerprinter.h"

namespace musiclike {

constexpr double kRate = 44100;

namespace detail {

struct Note {
    double mStart, mLength, mFrequency;  // seconds, seconds, Hz
    float mLoudness;
    int mHarmonics;
};

inline double midiFrequency(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Adds one note, with a short release, to interleaved stereo, panned a little by its pitch.
inline void render(std::vector<float>& out, const Note& note) {
    const size_t first = size_t(note.mStart * kRate), frames = out.size() / 2;
    const float pan = float(0.5 + 0.3 * std::sin(note.mFrequency));
    for (size_t i = 0; i < size_t((note.mLength + 0.15) * kRate) && first + i < frames; ++i) {
        const double t = double(i) / kRate;
        const double release = t < note.mLength ? 1.0 : std::exp(-30 * (t - note.mLength));
        double value = 0;
        for (int h = 1; h <= note.mHarmonics; ++h) value += std::sin(2 * M_PI * note.mFrequency * h * t) / (h * h);
        const float sample = float(note.mLoudness * std::min(1.0, t / 0.01) * std::exp(-2.5 * t) * release * value);
        out[(first + i) * 2] += sample * (1 - pan);
        out[(first + i) * 2 + 1] += sample * pan;
    }
}

inline std::vector<Note> compose(uint32_t seed, double seconds) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    static const int kMajor[] = {0, 2, 4, 5, 7, 9, 11}, kMinor[] = {0, 2, 3, 5, 7, 8, 10};
    const int* scale = pick(0, 1) ? kMajor : kMinor;
    auto pitch = [&](int base, int step) { return midiFrequency(base + scale[step % 7] + 12 * (step / 7)); };
    const int root = 48 + pick(0, 11);
    const double beat = 60.0 / pick(84, 150);
    std::vector<Note> notes;
    for (double bar = 0; bar < seconds; bar += 4 * beat) {  // a triad held over each bar, and a bass note
        const int degree = pick(0, 6);
        for (int voice = 0; voice < 3; ++voice) notes.push_back({bar, 4 * beat, pitch(root - 12, degree + 2 * voice), 0.07f, 3});
        notes.push_back({bar, 2 * beat, pitch(root - 24, degree), 0.12f, 4});
    }
    static const double kLengths[] = {0.5, 0.5, 1, 1, 1, 1.5, 2};
    for (double at = 0, length = 0; at < seconds; at += length) {  // the melody, now and then a rest
        length = kLengths[pick(0, 6)] * beat;
        if (pick(0, 7) != 0) notes.push_back({at, length, pitch(root + 12, pick(0, 13)), 0.2f, 5});
    }
    return notes;
}

}  // namespace detail

// `seconds` of the piece of `seed`: interleaved stereo float at 44100 Hz, peaks around -6 dBFS.
inline std::vector<float> piece(uint32_t seed, double seconds) {
    std::vector<float> out(size_t(seconds * kRate) * 2, 0.0f);
    for (const auto& note : detail::compose(seed, seconds)) detail::render(out, note);
    return out;
}

inline std::vector<float> silence(double seconds) { return std::vector<float>(size_t(seconds * kRate) * 2, 0.0f); }

inline std::vector<float> concatenated(std::vector<float> first, const std::vector<float>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The frames from `seconds` on, scaled by `gainDb`.
inline std::vector<float> excerpt(const std::vector<float>& stereo, double seconds, double gainDb = 0) {
    std::vector<float> out(stereo.begin() + long(std::min(stereo.size(), size_t(seconds * kRate) * 2)), stereo.end());
    const float gain = float(std::pow(10.0, gainDb / 20));
    for (float& sample : out) sample *= gain;
    return out;
}

// What the fingerprinter takes: mono 16-bit at 11025 Hz, averaged over each
// four frames (a plain low-pass before dropping the rate by four).
inline std::vector<int16_t> fingerprinterFormat(const std::vector<float>& stereo) {
    static_assert(Fingerprinter::kSampleRate * 4 == int(kRate));
    std::vector<int16_t> out(stereo.size() / 8);
    for (size_t i = 0; i < out.size(); ++i) {
        const float mean = std::accumulate(&stereo[i * 8], &stereo[i * 8] + 8, 0.0f) / 8;
        out[i] = int16_t(std::clamp(mean * 32767.0f, -32768.0f, 32767.0f));
    }
    return out;
}

inline std::vector<uint32_t> fingerprint(const std::vector<float>& stereo) {
    const auto samples = fingerprinterFormat(stereo);
    return Fingerprinter::fingerprint(samples.data(), samples.size());
}

// Writes the piece with our toolkit, as AAC for a path ending in ".m4a", else
// as CAF; the toolkit's status, 0 on success.
inline int32_t write(const std::string& path, const std::vector<float>& stereo) {
    const bool m4a = path.ends_with(".m4a");
    return audiotest::writeFile(path, m4a ? kAudioFileM4AType : kAudioFileCAFType,
                                m4a ? audiotest::aacFormat() : audiotest::cafFormat(), stereo, 2);
}

}  // namespace musiclike
