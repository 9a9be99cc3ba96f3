#include "frameworks/ffmpeg/FFmpegAudioFileDecoder.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include "frameworks/ffmpeg/AudioFileStatus.h"
#include "frameworks/ffmpeg/FFmpegFileIO.h"
#include "frameworks/ffmpeg/FFmpegFormatMap.h"
#include "frameworks/ffmpeg/PCMConversion.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"

namespace {

// Frames decoded ahead of a seek target in compressed data, so that the
// decoder's overlap and bit reservoir are filled again and the frames at the
// target come out exactly as in a decode from the start.
constexpr int64_t kSeekPreroll = 8192;

// Audio containers only: no playlists or concatenations that would make
// FFmpeg open further files or addresses named inside the file.
constexpr const char* kContainers =
    "caf,wav,w64,aiff,flac,mp3,mov,ogg,aac,matroska,au,wv,ape,tta,ac3,eac3,dts,asf,amr,mpc,mpc8,tak,dsf,rm";

// Fewer bytes a second than any compressed audio we read at its lowest rate.
constexpr int64_t kMinBytesPerSecond = 400;
// Containers whose audio data runs from the end of their header to the end of the file.
constexpr std::string_view kDataAfterHeader[] = {"caf", "wav", "w64", "aiff", "au", "mp3"};

// Room for the most channels the converter handles.
constexpr int kMaxPlanes = 64;
const uint8_t* kNoInput[kMaxPlanes] = {};

}  // namespace

FFmpegAudioFileDecoder::FFmpegAudioFileDecoder() = default;

FFmpegAudioFileDecoder::~FFmpegAudioFileDecoder() {
    closeInput();
}

int32_t FFmpegAudioFileDecoder::open(const std::string& path, std::string& error) {
    mPath = path;
    int32_t status = openInput(error);
    if (status != 0) return status;
    const AVStream* stream = mContainer->streams[mStreamIndex];
    const bool pcm = av_get_exact_bits_per_sample(mDecoder->codec_id) > 0;
    if (mHeaderLength.duration != AV_NOPTS_VALUE && mHeaderLength.duration > 0) {
        mLength = av_rescale_q(mHeaderLength.duration, stream->time_base, AVRational{1, mDecoder->sample_rate});
        mLengthKnown = true;
    } else if (mHeaderLength.frames > 0 && pcm) {
        // PCM data: the header's count of frames (CAF gives no duration) is the length.
        mLength = mHeaderLength.frames;
        mLengthKnown = true;
    }
    // A header may claim more than the file holds (a recording cut short, a
    // damaged or hostile file): PCM is measured against its bytes; compressed
    // data too thin for the claimed length is counted instead.
    const int64_t dataBytes = dataAfterHeader();
    if (mLengthKnown && pcm && dataBytes >= 0) {
        mLength = std::min(mLength, dataBytes * 8 / pcmBitsPerFrame());
    } else if (mLengthKnown && dataBytes >= 0 && dataBytes < mLength / mDecoder->sample_rate * kMinBytesPerSecond) {
        mLengthKnown = false;
    }
    mClientFormat = ZORAudioStreamBasicDescription::linearPCM(
        mFileFormat.mSampleRate, mFileFormat.mChannelsPerFrame, 32, kAudioFormatFlagIsFloat);
    return makeConverter(error);
}

int32_t FFmpegAudioFileDecoder::openInput(std::string& error) {
    int32_t status = 0;
    mIO = FFmpegFileIO::openForReading(mPath, status, error);
    if (!mIO) return status;
    mContainer = avformat_alloc_context();
    if (!mContainer) return failure(AVERROR(ENOMEM), "cannot read", error);
    mContainer->pb = mIO->context();
    mContainer->flags |= AVFMT_FLAG_CUSTOM_IO;
    mContainer->format_whitelist = av_strdup(kContainers);
    int result = avformat_open_input(&mContainer, mPath.c_str(), nullptr, nullptr);
    if (result < 0) {
        if (mIO->ioError()) return failure(result, "cannot read", error);
        error = "cannot read " + mPath + ": not an audio file in a known format";
        return kAudioFileUnsupportedFileTypeError;
    }
    mDataStart = avio_tell(mContainer->pb);
    // What the file itself says; the figure FFmpeg estimates later from the bit rate is no length.
    std::vector<HeaderLength> headerLengths;
    for (unsigned i = 0; i < mContainer->nb_streams; ++i)
        headerLengths.push_back({mContainer->streams[i]->duration, mContainer->streams[i]->nb_frames});
    result = avformat_find_stream_info(mContainer, nullptr);
    if (result < 0) return failure(result, "cannot read the audio in", error);
    const AVCodec* codec = nullptr;
    mStreamIndex = av_find_best_stream(mContainer, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (mStreamIndex < 0) {
        if (mStreamIndex == AVERROR_DECODER_NOT_FOUND) return failure(mStreamIndex, "cannot decode", error);
        error = "cannot read " + mPath + ": the file holds no audio";
        return kAudioFileInvalidFileError;
    }
    for (unsigned i = 0; i < mContainer->nb_streams; ++i)
        if (int(i) != mStreamIndex) mContainer->streams[i]->discard = AVDISCARD_ALL;
    AVStream* stream = mContainer->streams[mStreamIndex];
    if (size_t(mStreamIndex) < headerLengths.size()) mHeaderLength = headerLengths[mStreamIndex];
    mDecoder = avcodec_alloc_context3(codec);
    if (!mDecoder) return failure(AVERROR(ENOMEM), "cannot read", error);
    result = avcodec_parameters_to_context(mDecoder, stream->codecpar);
    mDecoder->pkt_timebase = stream->time_base;
    if (result >= 0) result = avcodec_open2(mDecoder, codec, nullptr);
    if (result < 0) return failure(result, "cannot decode", error);
    if (mDecoder->sample_rate <= 0 || mDecoder->ch_layout.nb_channels <= 0) {
        error = "cannot read " + mPath + ": the audio has no sample rate or no channels";
        return kAudioFileInvalidFileError;
    }
    mPacket = av_packet_alloc();
    mFrame = av_frame_alloc();
    if (!mPacket || !mFrame) return failure(AVERROR(ENOMEM), "cannot read", error);
    mFileFormat = FFmpegFormatMap::formatForStream(*stream->codecpar);
    return 0;
}

void FFmpegAudioFileDecoder::closeInput() {
    swr_free(&mConverter);
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    avcodec_free_context(&mDecoder);
    avformat_close_input(&mContainer);
    mIO.reset();
}

int32_t FFmpegAudioFileDecoder::setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) {
    if (FFmpegFormatMap::sampleFormatForClient(clientFormat) == AV_SAMPLE_FMT_NONE) {
        error = "unsupported client format for " + mPath + ": use interleaved 32-bit float or 16-bit integer";
        return kAudioFileUnsupportedDataFormatError;
    }
    if (!mDecoder) return kAudioFileNotOpenError;
    AudioStreamBasicDescription previous = mClientFormat;
    mClientFormat = clientFormat;
    int32_t status = makeConverter(error);
    if (status != 0) {
        mClientFormat = previous;
        makeConverter(error);
    }
    return status;
}

int32_t FFmpegAudioFileDecoder::makeConverter(std::string& error) {
    int result = 0;
    SwrContext* converter = FFmpegFormatMap::makeConverter(
        mDecoder->ch_layout.nb_channels, &mDecoder->ch_layout, mDecoder->sample_fmt, mDecoder->sample_rate,
        int(mClientFormat.mChannelsPerFrame), FFmpegFormatMap::sampleFormatForClient(mClientFormat),
        int(mClientFormat.mSampleRate), result);
    if (!converter) return failure(result, "cannot convert the audio of", error);
    swr_free(&mConverter);
    mConverter = converter;
    mConverterInput = {mDecoder->ch_layout.nb_channels, mDecoder->sample_fmt, mDecoder->sample_rate};
    mConverterFlushed = false;
    const bool sameShape = mClientFormat.mSampleRate == mDecoder->sample_rate &&
                           int(mClientFormat.mChannelsPerFrame) == mDecoder->ch_layout.nb_channels;
    mDirect = sameShape ? PCMConversion::converterFor(mDecoder->codec_id,
                                                      FFmpegFormatMap::sampleFormatForClient(mClientFormat))
                        : nullptr;
    return 0;
}

int64_t FFmpegAudioFileDecoder::lengthInFrames() {
    if (!mLengthKnown && !mLengthCounted && mDecoder) {
        mLengthCounted = true;
        mLength = countFrames();
        mLengthKnown = mLength >= 0;
    }
    return mLength;
}

int64_t FFmpegAudioFileDecoder::countFrames() {
    FFmpegAudioFileDecoder counter;
    std::string error;
    if (counter.open(mPath, error) != 0) return -1;
    int64_t total = 0;
    for (;;) {
        bool available = false;
        if (counter.nextFrame(available, error) != 0) return -1;
        if (!available) return total;
        total += counter.mFrameCount;
    }
}

int64_t FFmpegAudioFileDecoder::pcmBitsPerFrame() const {
    return int64_t(av_get_exact_bits_per_sample(mDecoder->codec_id)) * mDecoder->ch_layout.nb_channels;
}

// The bytes from the end of the header to the end of the file, in the
// containers whose audio follows their header; -1 where that is unknown.
int64_t FFmpegAudioFileDecoder::dataAfterHeader() const {
    const std::string_view name = mContainer->iformat->name;
    const bool dataFollows = std::find(std::begin(kDataAfterHeader), std::end(kDataAfterHeader), name) !=
                             std::end(kDataAfterHeader);
    const int64_t size = avio_size(mContainer->pb);
    return dataFollows && mDataStart >= 0 && size >= mDataStart ? size - mDataStart : -1;
}

int64_t FFmpegAudioFileDecoder::toClientFrames(int64_t fileFrames) const {
    if (mClientFormat.mSampleRate == mFileFormat.mSampleRate) return fileFrames;
    return av_rescale(fileFrames, int64_t(mClientFormat.mSampleRate), int64_t(mFileFormat.mSampleRate));
}

int32_t FFmpegAudioFileDecoder::seek(int64_t frame, std::string& error) {
    if (!mDecoder) return kAudioFileNotOpenError;
    if (frame < 0) {
        error = "cannot seek " + mPath + " to a negative frame";
        return kAudio_ParamError;
    }
    mDiscardUntil = frame;
    mClientPosition = toClientFrames(frame);
    mDecoderDrained = false;
    mFrameCount = 0;
    avcodec_flush_buffers(mDecoder);
    if (int32_t status = makeConverter(error)) return status;
    const AVStream* stream = mContainer->streams[mStreamIndex];
    int64_t preroll = mFileFormat.mFormatID == kAudioFormatLinearPCM ? 0 : kSeekPreroll;
    // Near the start only a fresh decode sees the encoder's priming frames as a full decode does.
    if (frame < preroll) return restart(error);
    int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    int64_t timestamp =
        start + av_rescale_q(std::max<int64_t>(0, frame - preroll), AVRational{1, mDecoder->sample_rate},
                             stream->time_base);
    if (av_seek_frame(mContainer, mStreamIndex, timestamp, AVSEEK_FLAG_BACKWARD) < 0) return restart(error);
    mPositionKnown = false;
    return 0;
}

int32_t FFmpegAudioFileDecoder::restart(std::string& error) {
    closeInput();
    int32_t status = openInput(error);
    if (status == 0) status = makeConverter(error);
    if (status != 0) closeInput();
    mPositionKnown = true;
    mDecodedPosition = 0;
    mDecoderDrained = false;
    mFrameCount = 0;
    return status;
}

int32_t FFmpegAudioFileDecoder::read(void* data, uint32_t& frames, std::string& error) {
    if (!mConverter) {
        frames = 0;
        return kAudioFileNotOpenError;
    }
    int64_t want = frames;
    if (mLengthKnown) want = std::clamp<int64_t>(toClientFrames(mLength) - mClientPosition, 0, want);
    auto* out = static_cast<uint8_t*>(data);
    int64_t done = 0;
    int32_t status = 0;
    while (done < want) {
        int delivered = produce(out + done * mClientFormat.mBytesPerFrame, int(want - done), status, error);
        if (status != 0 || delivered == 0) break;
        done += delivered;
    }
    frames = uint32_t(done);
    mClientPosition += done;
    return status;
}

int FFmpegAudioFileDecoder::produce(uint8_t* target, int capacity, int32_t& status, std::string& error) {
    if (mDirect) return produceDirect(target, capacity, status, error);
    int delivered = swr_convert(mConverter, &target, capacity, kNoInput, 0);
    while (delivered == 0) {
        if (mDecoderDrained) {
            if (mConverterFlushed) return 0;
            delivered = swr_convert(mConverter, &target, capacity, nullptr, 0);
            mConverterFlushed = delivered == 0;
            break;
        }
        bool available = false;
        status = nextFrame(available, error);
        if (status != 0) return 0;
        if (!available) continue;
        const uint8_t* planes[kMaxPlanes];
        framePlanes(planes);
        delivered = swr_convert(mConverter, &target, capacity, planes, mFrameCount);
    }
    if (delivered < 0) {
        status = failure(delivered, "cannot convert the audio of", error);
        return 0;
    }
    return delivered;
}

void FFmpegAudioFileDecoder::framePlanes(const uint8_t** planes) const {
    auto format = AVSampleFormat(mFrame->format);
    int channels = mFrame->ch_layout.nb_channels;
    int sampleBytes = av_get_bytes_per_sample(format);
    if (av_sample_fmt_is_planar(format)) {
        for (int c = 0; c < channels && c < kMaxPlanes; ++c)
            planes[c] = mFrame->extended_data[c] + ptrdiff_t(mFrameOffset) * sampleBytes;
    } else {
        planes[0] = mFrame->extended_data[0] + ptrdiff_t(mFrameOffset) * sampleBytes * channels;
    }
}

int32_t FFmpegAudioFileDecoder::nextFrame(bool& available, std::string& error) {
    available = false;
    for (;;) {
        int result = avcodec_receive_frame(mDecoder, mFrame);
        if (result == 0) {
            if (!convertible(*mFrame)) return shapeChanged(*mFrame, error);
            if (int32_t status = placeSamples(mFrame->best_effort_timestamp, mFrame->nb_samples, available, error))
                return status;
            if (available) return 0;
            continue;
        }
        if (result == AVERROR_EOF) {
            mDecoderDrained = true;
            return 0;
        }
        // A damaged packet, reported once its decoding starts (a PCM tail
        // shorter than a frame): skipped as feedDecoder skips one.
        if (result == AVERROR_INVALIDDATA) continue;
        if (result != AVERROR(EAGAIN)) return failure(result, "cannot decode", error);
        if (int32_t status = feedDecoder(error)) return status;
    }
}

// A stream may change its channels or rate partway (joined files do); the
// converter would read such a frame by the old shape, past its end.
bool FFmpegAudioFileDecoder::convertible(const AVFrame& frame) const {
    return frame.ch_layout.nb_channels == mConverterInput.channels && frame.format == mConverterInput.format &&
           frame.sample_rate == mConverterInput.rate;
}

int32_t FFmpegAudioFileDecoder::shapeChanged(const AVFrame& frame, std::string& error) {
    error = "the audio of " + mPath + " changes partway from " + std::to_string(mConverterInput.channels) +
            " channels at " + std::to_string(mConverterInput.rate) + " Hz to " +
            std::to_string(frame.ch_layout.nb_channels) + " channels at " + std::to_string(frame.sample_rate) +
            " Hz; such a file cannot be read (convert it first, e.g. with ffmpeg)";
    return kAudioFileUnsupportedDataFormatError;
}

int32_t FFmpegAudioFileDecoder::placeSamples(int64_t timestamp, int count, bool& usable, std::string& error) {
    usable = false;
    if (!mPositionKnown) {
        const AVStream* stream = mContainer->streams[mStreamIndex];
        if (timestamp == AV_NOPTS_VALUE) return restart(error);
        int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        int64_t position = av_rescale_q(timestamp - start, stream->time_base, AVRational{1, mDecoder->sample_rate});
        // A seek that landed past its target cannot be undone by dropping frames.
        if (position > mDiscardUntil) return restart(error);
        mDecodedPosition = position;
        mPositionKnown = true;
    }
    int64_t first = mDecodedPosition;
    mDecodedPosition += count;
    if (mDecodedPosition <= mDiscardUntil) return 0;
    mFrameOffset = int(std::max<int64_t>(0, mDiscardUntil - first));
    mFrameCount = count - mFrameOffset;
    usable = true;
    return 0;
}

int FFmpegAudioFileDecoder::produceDirect(uint8_t* target, int capacity, int32_t& status, std::string& error) {
    while (mFrameCount == 0) {
        if (mDecoderDrained) return 0;
        status = nextPacket(error);
        if (status != 0) return 0;
    }
    const int delivered = std::min(capacity, mFrameCount);
    const int channels = mDecoder->ch_layout.nb_channels;
    const int frameBytes = PCMConversion::bytesPerSample(mDecoder->codec_id) * channels;
    mDirect(mPacket->data + ptrdiff_t(mFrameOffset) * frameBytes, target, size_t(delivered) * channels);
    mFrameOffset += delivered;
    mFrameCount -= delivered;
    return delivered;
}

int32_t FFmpegAudioFileDecoder::nextPacket(std::string& error) {
    const int frameBytes = PCMConversion::bytesPerSample(mDecoder->codec_id) * mDecoder->ch_layout.nb_channels;
    for (;;) {
        av_packet_unref(mPacket);
        int result = av_read_frame(mContainer, mPacket);
        if (result < 0) {
            if (mIO->ioError()) return failure(result, "cannot read", error);
            mDecoderDrained = true;
            return 0;
        }
        if (mPacket->stream_index != mStreamIndex) continue;
        bool usable = false;
        if (int32_t status = placeSamples(mPacket->pts, mPacket->size / frameBytes, usable, error)) return status;
        if (usable) return 0;
    }
}

int32_t FFmpegAudioFileDecoder::feedDecoder(std::string& error) {
    for (;;) {
        // The direct path may have left its last packet here (a read that
        // stopped at the length, then a change of client format).
        av_packet_unref(mPacket);
        int result = av_read_frame(mContainer, mPacket);
        if (result < 0) {
            if (mIO->ioError()) return failure(result, "cannot read", error);
            // The end of the data, or a damaged tail: the decoder gives out what it holds.
            avcodec_send_packet(mDecoder, nullptr);
            return 0;
        }
        if (mPacket->stream_index != mStreamIndex) {
            av_packet_unref(mPacket);
            continue;
        }
        result = avcodec_send_packet(mDecoder, mPacket);
        av_packet_unref(mPacket);
        // A damaged packet is skipped, as players do; the frames around it still count.
        if (result == AVERROR_INVALIDDATA) continue;
        if (result < 0) return failure(result, "cannot decode", error);
        return 0;
    }
}

int32_t FFmpegAudioFileDecoder::failure(int averror, const std::string& what, std::string& error) {
    if (mIO && mIO->ioError()) averror = mIO->ioError();
    int32_t status = AudioFileStatus::fromAVError(averror);
    error = what + " " + mPath + ": " + AudioFileStatus::avErrorText(averror);
    return status ? status : kAudioFileUnspecifiedError;
}
