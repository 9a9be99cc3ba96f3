#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "frameworks/CoreAudioTypes.h"

class AudioFileDecoder;
class AudioFileEncoder;

// An audio file read or written frame by frame in a client format of the
// caller's choosing (interleaved 32-bit float or 16-bit integer, any channel
// count and rate), with FFmpeg doing the decoding, encoding and conversion.
//
// Reading: any file FFmpeg can decode in an audio container (CAF, WAV, AIFF,
// FLAC, MP3, M4A, Ogg Vorbis, Opus...), recognised by its content whatever its
// name. `lengthInFrames` and `seek` count frames at the file's own rate;
// `seek` is exact to the frame; `lengthInFrames` is exact for PCM data and for
// MPEG-4 files that record their encoder delay and padding (ours do). A read
// delivers 0 frames at the end and a non-zero status only on a real failure.
//
// Writing: file type kAudioFileCAFType with linear PCM data (16-bit
// big-endian is the scratch format), or kAudioFileM4AType with AAC
// (kAudioFormatMPEG4AAC). The file is created with mode 0600 through
// O_CREAT|O_EXCL|O_NOFOLLOW on a descriptor we own, after unlinking an older
// file of the user's that has the name; anything else there (a link, a FIFO,
// a device, another user's file) is refused and left alone. `close`
// completes the file; if that is impossible (full disk, write error) it
// returns non-zero: an M4A file is then removed, a CAF file keeps the frames
// that reached the disk and stays readable.
//
// Every failure returns a non-zero status, logs one line naming the file and
// the cause, and keeps the text in `lastErrorMessage`. FFmpeg is loaded with
// the first `open` that needs it (AudioFileBackendLoader); where it cannot
// be, that `open` returns kAudioFileUnspecifiedError. Writing 16-bit integer
// CAF data from client frames of its rate and channel count needs no FFmpeg
// (CAFLinearPCMEncoder); such a writer then refuses a client format of
// another rate or channel count.
//
// Calls are serialised by a lock, so `close` from one thread never runs
// inside a `write` on another.
class ZORExtAudioFile {
public:
    static std::shared_ptr<ZORExtAudioFile> initForReading(const std::string& path);
    static std::shared_ptr<ZORExtAudioFile> initForWriting(const std::string& path, uint32_t fileType,
                                                           const AudioStreamBasicDescription& clientFormat,
                                                           const AudioStreamBasicDescription& fileFormat);
    ~ZORExtAudioFile();
    ZORExtAudioFile(const ZORExtAudioFile&) = delete;
    ZORExtAudioFile& operator=(const ZORExtAudioFile&) = delete;

    // 0 when the file is ready.
    int32_t open();

    // Reads deliver and writes accept this format. A reader starts with
    // interleaved 32-bit float at the file's rate and channel count.
    int32_t setClientStreamFormat(const AudioStreamBasicDescription& format);
    AudioStreamBasicDescription clientStreamFormat() const;
    // The file's own data format; for a writer, completed by the encoder.
    AudioStreamBasicDescription fileStreamFormat() const;

    // The file's sample rate; 0 before `open`.
    double sampleRate() const;
    // Frames in the file at its own rate; 0 before `open`, -1 for a file
    // that cannot be decoded to its end.
    int64_t lengthInFrames();
    // The client format's channel count (the file's until one is set).
    uint32_t channelsPerFrame() const;

    int32_t seek(int64_t frame);
    // Reads up to `numberFrames` frames into the first buffer of `list`
    // (limited by its mDataByteSize); `numberFrames` and mDataByteSize become
    // what was delivered.
    int32_t read(AudioBufferList* list, uint32_t& numberFrames);
    // Appends frames. `write` hands them to the file's buffer; `writeSynch`
    // also pushes them to the disk before returning. 0 frames (and a null
    // list) is accepted and writes nothing.
    int32_t write(const AudioBufferList* list, uint32_t numberFrames);
    int32_t writeSynch(const AudioBufferList* list, uint32_t numberFrames);
    // Completes a written file, releases a read one. Later calls return 0 for
    // a file already closed.
    int32_t close();

    const std::string& path() const { return mPath; }
    std::string lastErrorMessage() const;

private:
    enum class Mode { Reading, Writing };
    ZORExtAudioFile(Mode mode, std::string path);

    int32_t openForReading();
    int32_t openForWriting();
    int32_t report(int32_t status, const std::string& message);
    int32_t append(const AudioBufferList* list, uint32_t numberFrames, bool synchronous);

    const Mode mMode;
    const std::string mPath;
    uint32_t mFileType = 0;
    AudioStreamBasicDescription mRequestedClientFormat;
    AudioStreamBasicDescription mRequestedFileFormat;
    std::unique_ptr<AudioFileDecoder> mDecoder;
    std::unique_ptr<AudioFileEncoder> mEncoder;
    bool mWritten = false;  // a writer creates its file once
    std::string mLastError;
    mutable std::mutex mLock;
};
