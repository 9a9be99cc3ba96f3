#include "frameworks/ffmpeg/FFmpegFileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include "frameworks/AudioFileIO.h"
#include "frameworks/CoreAudioTypes.h"
#include "frameworks/ffmpeg/AudioFileStatus.h"

namespace {

constexpr int kBufferSize = 256 * 1024;

}  // namespace

FFmpegFileIO::FFmpegFileIO(int fd, bool writable) : mFd(fd) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (!buffer) return;
    mContext = avio_alloc_context(buffer, kBufferSize, writable ? 1 : 0, this, writable ? nullptr : &readPacket,
                                  writable ? &writePacket : nullptr, &seek);
    if (!mContext) av_free(buffer);
}

FFmpegFileIO::~FFmpegFileIO() {
    if (mContext) {
        av_freep(&mContext->buffer);
        avio_context_free(&mContext);
    }
    ::close(mFd);
}

std::unique_ptr<FFmpegFileIO> FFmpegFileIO::openForReading(const std::string& path, int32_t& status,
                                                           std::string& error) {
    // Non-blocking only for the open itself, so that a FIFO at the path cannot hang us.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        status = AudioFileIO::statusFromErrno(errno);
        error = AudioFileIO::describe("cannot open", path, errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        status = kAudioFileInvalidFileError;
        error = "cannot open " + path + ": not a regular file";
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::unique_ptr<FFmpegFileIO> io(new FFmpegFileIO(fd, false));
    if (!io->mContext) {
        status = AudioFileIO::statusFromErrno(ENOMEM);
        error = AudioFileIO::describe("cannot read", path, ENOMEM);
        return nullptr;
    }
    status = 0;
    return io;
}

std::unique_ptr<FFmpegFileIO> FFmpegFileIO::createForWriting(const std::string& path, int32_t& status,
                                                             std::string& error) {
    int fd = AudioFileIO::createReplacing(path, status, error);
    if (fd < 0) return nullptr;
    std::unique_ptr<FFmpegFileIO> io(new FFmpegFileIO(fd, true));
    if (!io->mContext) {
        unlink(path.c_str());
        status = AudioFileIO::statusFromErrno(ENOMEM);
        error = AudioFileIO::describe("cannot create", path, ENOMEM);
        return nullptr;
    }
    status = 0;
    return io;
}

int32_t FFmpegFileIO::flush() {
    avio_flush(mContext);
    return AudioFileStatus::fromAVError(ioError());
}

int FFmpegFileIO::ioError() const {
    if (mErrno) return AVERROR(mErrno);
    return mContext->error < 0 ? mContext->error : 0;
}

int FFmpegFileIO::readPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<FFmpegFileIO*>(opaque);
    for (;;) {
        ssize_t n = ::read(self->mFd, buffer, size_t(size));
        if (n > 0) return int(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) {
            self->mErrno = errno;
            return AVERROR(errno);
        }
    }
}

int FFmpegFileIO::writePacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<FFmpegFileIO*>(opaque);
    if (self->mErrno) return AVERROR(self->mErrno);
    size_t written = 0;
    if (int error = AudioFileIO::writeAll(self->mFd, buffer, size_t(size), written)) {
        self->mErrno = error;
        return AVERROR(error);
    }
    return size;
}

int64_t FFmpegFileIO::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<FFmpegFileIO*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return fstat(self->mFd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    off_t position = lseek(self->mFd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}
