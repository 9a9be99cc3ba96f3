#pragma once

#include "platform/Result.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/SilenceDetector.h"

#include <cstdint>
#include <memory>
#include <string>

class ZORExtAudioFile;

// Turns an audio file the user hands us into the scratch recording, so that
// the track pipeline can process it as it would a capture: the same CAF
// format (16-bit stereo at 44100 Hz; the tracks are encoded once, on export),
// and the same silence detector fed with every block written.
//
// The previous scratch recording is replaced only by a complete import: the
// audio goes to a temporary file beside it, renamed over it once the source
// has been read to its end and the file closed. Any failure leaves the old
// recording as it was, removes the temporary file and says why.
//
// One importer serves one import at a time, on one thread.
class AudioFileImporter {
public:
    AudioFileImporter();

    // The scratch recording; the agent's default one when never set.
    void setScratchAudioFilePath(const std::string& path);

    float silenceThreshold() const;
    void setSilenceThreshold(float threshold);
    // Seconds.
    float lengthOfSilence() const;
    void setLengthOfSilence(float seconds);

    // Converts `source` into the scratch recording.
    platform::Status importFileWithPath(const std::string& source);
    // Frames in the scratch recording made by the last import; 0 when it failed.
    int64_t numRecordedFrames() const { return mNumRecordedFrames; }
    // The segment model of the last import; its duration is numRecordedFrames.
    std::shared_ptr<AudioSegmentTree> audioSegmentTree() const;
    // Adds the silences found during the last import to its tree.
    void mergeSilentTracks();

private:
    void resetDetector();
    platform::Status convert(const std::string& source);
    platform::Status writeScratch(ZORExtAudioFile& reader, const std::string& temporary);

    int64_t mNumRecordedFrames = 0;
    std::string mAudioFilePath;
    std::string mParentDirPath;
    std::unique_ptr<SilenceDetector> mSilenceDetector;
};
