#include "frameworks/ffmpeg/FFmpegAudioFileEncoder.h"

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "frameworks/ffmpeg/AudioFileStatus.h"
#include "frameworks/ffmpeg/FFmpegFileIO.h"
#include "frameworks/ffmpeg/FFmpegFormatMap.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"

namespace {

// Frames handed to a PCM encoder at a time; compressed codecs fix their own.
constexpr int kPCMFrameSize = 4096;
// AAC at 128 kbit/s a channel: the file is converted again on delivery, so it
// should lose as little as possible.
constexpr int64_t kAACBitRatePerChannel = 128000;

std::string fourCC(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text += char((code >> shift) & 0xff);
    return "'" + text + "'";
}

}  // namespace

FFmpegAudioFileEncoder::FFmpegAudioFileEncoder() = default;

FFmpegAudioFileEncoder::~FFmpegAudioFileEncoder() {
    release();
}

int32_t FFmpegAudioFileEncoder::open(const std::string& path, uint32_t fileType,
                               const AudioStreamBasicDescription& clientFormat,
                               const AudioStreamBasicDescription& fileFormat, std::string& error) {
    mPath = path;
    mClientFormat = clientFormat;
    mFileFormat = fileFormat;
    if (FFmpegFormatMap::sampleFormatForClient(clientFormat) == AV_SAMPLE_FMT_NONE) {
        error = "unsupported client format for " + path + ": use interleaved 32-bit float or 16-bit integer";
        return kAudioFileUnsupportedDataFormatError;
    }
    if (mFileFormat.mSampleRate <= 0) mFileFormat.mSampleRate = clientFormat.mSampleRate;
    if (mFileFormat.mChannelsPerFrame == 0) mFileFormat.mChannelsPerFrame = clientFormat.mChannelsPerFrame;
    int32_t status = openContainer(fileType, error);
    if (status == 0) status = openEncoder(error);
    if (status == 0) status = setClientFormat(clientFormat, error);
    if (status != 0 && mIO) {
        release();
        unlink(path.c_str());
    }
    return status;
}

int32_t FFmpegAudioFileEncoder::openContainer(uint32_t fileType, std::string& error) {
    const char* muxer = FFmpegFormatMap::muxerForFileType(fileType);
    const AVOutputFormat* container = muxer ? av_guess_format(muxer, nullptr, nullptr) : nullptr;
    if (!container) {
        error = "cannot write " + mPath + ": unsupported file type " + fourCC(fileType);
        return kAudioFileUnsupportedFileTypeError;
    }
    AVCodecID codec = FFmpegFormatMap::codecForFormat(mFileFormat);
    if (codec == AV_CODEC_ID_NONE || avformat_query_codec(container, codec, FF_COMPLIANCE_NORMAL) != 1) {
        error = "cannot write " + mPath + ": data format " + fourCC(mFileFormat.mFormatID) +
                " is not supported in file type " + fourCC(fileType);
        return kAudioFileUnsupportedDataFormatError;
    }
    int32_t status = 0;
    mIO = FFmpegFileIO::createForWriting(mPath, status, error);
    if (!mIO) return status;
    mRemoveOnFailure = fileType == kAudioFileM4AType;
    int result = avformat_alloc_output_context2(&mContainer, container, nullptr, nullptr);
    if (result < 0) return failure(result, "cannot write", error);
    mContainer->pb = mIO->context();
    mStream = avformat_new_stream(mContainer, nullptr);
    if (!mStream) return failure(AVERROR(ENOMEM), "cannot write", error);
    return 0;
}

int32_t FFmpegAudioFileEncoder::openEncoder(std::string& error) {
    AVCodecID codecId = FFmpegFormatMap::codecForFormat(mFileFormat);
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) return failure(AVERROR_ENCODER_NOT_FOUND, "no encoder for", error);
    mEncoder = avcodec_alloc_context3(codec);
    if (!mEncoder) return failure(AVERROR(ENOMEM), "cannot write", error);
    mEncoder->sample_rate = int(mFileFormat.mSampleRate);
    av_channel_layout_default(&mEncoder->ch_layout, int(mFileFormat.mChannelsPerFrame));
    mEncoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    mEncoder->time_base = AVRational{1, mEncoder->sample_rate};
    if (codecId == AV_CODEC_ID_AAC) mEncoder->bit_rate = kAACBitRatePerChannel * mFileFormat.mChannelsPerFrame;
    if (mContainer->oformat->flags & AVFMT_GLOBALHEADER) mEncoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(mEncoder, codec, nullptr);
    if (result >= 0) result = avcodec_parameters_from_context(mStream->codecpar, mEncoder);
    if (result < 0) return failure(result, "cannot set up the encoder for", error);
    mStream->time_base = mEncoder->time_base;
    // MPEG-4 durations count in the movie's time scale: at the sample rate they are exact to the frame.
    AVDictionary* options = nullptr;
    if (codecId == AV_CODEC_ID_AAC) av_dict_set_int(&options, "movie_timescale", mEncoder->sample_rate, 0);
    result = avformat_write_header(mContainer, &options);
    av_dict_free(&options);
    if (result < 0) return failure(result, "cannot write the header of", error);
    mFrameSize = mEncoder->frame_size > 0 ? mEncoder->frame_size : kPCMFrameSize;
    mFifo = av_audio_fifo_alloc(mEncoder->sample_fmt, mEncoder->ch_layout.nb_channels, mFrameSize * 4);
    mFrame = av_frame_alloc();
    mPacket = av_packet_alloc();
    if (!mFifo || !mFrame || !mPacket) return failure(AVERROR(ENOMEM), "cannot write", error);
    if (codecId == AV_CODEC_ID_AAC) {
        mFileFormat = AudioStreamBasicDescription{};
        mFileFormat.mSampleRate = mEncoder->sample_rate;
        mFileFormat.mFormatID = kAudioFormatMPEG4AAC;
        mFileFormat.mFramesPerPacket = uint32_t(mEncoder->frame_size);
        mFileFormat.mChannelsPerFrame = uint32_t(mEncoder->ch_layout.nb_channels);
    }
    return 0;
}

int32_t FFmpegAudioFileEncoder::setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) {
    AVSampleFormat format = FFmpegFormatMap::sampleFormatForClient(clientFormat);
    if (format == AV_SAMPLE_FMT_NONE) {
        error = "unsupported client format for " + mPath + ": use interleaved 32-bit float or 16-bit integer";
        return kAudioFileUnsupportedDataFormatError;
    }
    if (!mEncoder) return kAudioFileNotOpenError;
    int result = 0;
    SwrContext* converter = FFmpegFormatMap::makeConverter(
        int(clientFormat.mChannelsPerFrame), nullptr, format, int(clientFormat.mSampleRate),
        mEncoder->ch_layout.nb_channels, mEncoder->sample_fmt, mEncoder->sample_rate, result);
    if (!converter) {
        error = "cannot convert the client format for " + mPath + ": " + AudioFileStatus::avErrorText(result);
        return kAudioFileUnsupportedDataFormatError;
    }
    swr_free(&mConverter);
    mConverter = converter;
    mClientFormat = clientFormat;
    return 0;
}

int32_t FFmpegAudioFileEncoder::write(const void* frames, uint32_t count, std::string& error) {
    if (mFailure) {
        error = "cannot write " + mPath + " after an earlier failure";
        return mFailure;
    }
    if (!mConverter) return kAudioFileNotOpenError;
    if (count == 0) return 0;
    int capacity = swr_get_out_samples(mConverter, int(count));
    int result = capacity < 0 ? capacity : av_audio_fifo_realloc(mFifo, av_audio_fifo_size(mFifo) + capacity);
    if (result < 0) return failure(result, "cannot convert frames for", error);
    av_frame_unref(mFrame);
    mFrame->nb_samples = capacity;
    mFrame->format = mEncoder->sample_fmt;
    av_channel_layout_copy(&mFrame->ch_layout, &mEncoder->ch_layout);
    result = av_frame_get_buffer(mFrame, 0);
    const auto* input = static_cast<const uint8_t*>(frames);
    if (result >= 0) result = swr_convert(mConverter, mFrame->data, capacity, &input, int(count));
    if (result >= 0) result = av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mFrame->data), result);
    if (result < 0) return failure(result, "cannot convert frames for", error);
    // PCM takes any number of frames: nothing waits in the queue for a full packet.
    return encodeFromFifo(mEncoder->frame_size == 0, error);
}

int32_t FFmpegAudioFileEncoder::encodeFromFifo(bool all, std::string& error) {
    while (av_audio_fifo_size(mFifo) >= (all ? 1 : mFrameSize)) {
        av_frame_unref(mFrame);
        mFrame->nb_samples = std::min(mFrameSize, av_audio_fifo_size(mFifo));
        mFrame->format = mEncoder->sample_fmt;
        mFrame->sample_rate = mEncoder->sample_rate;
        av_channel_layout_copy(&mFrame->ch_layout, &mEncoder->ch_layout);
        int result = av_frame_get_buffer(mFrame, 0);
        if (result >= 0)
            result = av_audio_fifo_read(mFifo, reinterpret_cast<void**>(mFrame->data), mFrame->nb_samples);
        if (result < 0) return failure(result, "cannot encode frames for", error);
        mFrame->pts = mNextPts;
        mNextPts += mFrame->nb_samples;
        if (int32_t status = sendFrame(mFrame, error)) return status;
    }
    return 0;
}

int32_t FFmpegAudioFileEncoder::sendFrame(AVFrame* frame, std::string& error) {
    int result = avcodec_send_frame(mEncoder, frame);
    while (result >= 0) {
        result = avcodec_receive_packet(mEncoder, mPacket);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
        if (result < 0) break;
        av_packet_rescale_ts(mPacket, mEncoder->time_base, mStream->time_base);
        mPacket->stream_index = mStream->index;
        result = av_interleaved_write_frame(mContainer, mPacket);
        if (result >= 0 && mIO->ioError()) result = mIO->ioError();
    }
    return failure(result, "cannot write frames to", error);
}

int32_t FFmpegAudioFileEncoder::flushToDisk(std::string& error) {
    if (mFailure) {
        error = "cannot write " + mPath + " after an earlier failure";
        return mFailure;
    }
    if (!mIO) return kAudioFileNotOpenError;
    if (mIO->flush() != 0) return failure(mIO->ioError(), "cannot write frames to", error);
    return 0;
}

int32_t FFmpegAudioFileEncoder::finish(std::string& error) {
    if (!mContainer || !mConverter) return mFailure ? mFailure : kAudioFileNotOpenError;
    if (!mFailure && swr_get_delay(mConverter, mEncoder->sample_rate) > 0) {
        int capacity = swr_get_out_samples(mConverter, 0);
        av_frame_unref(mFrame);
        mFrame->nb_samples = capacity;
        mFrame->format = mEncoder->sample_fmt;
        av_channel_layout_copy(&mFrame->ch_layout, &mEncoder->ch_layout);
        int result = av_frame_get_buffer(mFrame, 0);
        if (result >= 0) result = swr_convert(mConverter, mFrame->data, capacity, nullptr, 0);
        if (result > 0) result = av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mFrame->data), result);
        if (result < 0) failure(result, "cannot convert frames for", error);
    }
    if (!mFailure) encodeFromFifo(true, error);
    if (!mFailure) sendFrame(nullptr, error);
    int result = av_write_trailer(mContainer);
    if (!mFailure && result < 0) failure(result, "cannot complete", error);
    if (!mFailure && mIO->flush() != 0) failure(mIO->ioError(), "cannot complete", error);
    int32_t status = mFailure;
    if (status != 0 && error.empty()) error = "cannot complete " + mPath + " after an earlier failure";
    bool remove = status != 0 && mRemoveOnFailure;
    release();
    if (remove) unlink(mPath.c_str());
    return status;
}

int32_t FFmpegAudioFileEncoder::failure(int averror, const std::string& what, std::string& error) {
    if (mIO && mIO->ioError()) averror = mIO->ioError();
    mFailure = AudioFileStatus::fromAVError(averror);
    if (mFailure == 0) mFailure = kAudioFileUnspecifiedError;
    error = what + " " + mPath + ": " + AudioFileStatus::avErrorText(averror);
    return mFailure;
}

void FFmpegAudioFileEncoder::release() {
    swr_free(&mConverter);
    av_audio_fifo_free(mFifo);
    mFifo = nullptr;
    av_frame_free(&mFrame);
    av_packet_free(&mPacket);
    avcodec_free_context(&mEncoder);
    if (mContainer) mContainer->pb = nullptr;
    avformat_free_context(mContainer);
    mContainer = nullptr;
    mStream = nullptr;
    mIO.reset();
}
