#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVIOContext;

// FFmpeg I/O over a file descriptor that we open ourselves. FFmpeg therefore
// never reads a path as a protocol URL ("pipe:", "http:", "concat:"), never
// creates files on its own, and a new file is made without following a
// symbolic link and readable by its owner only.
class FFmpegFileIO {
public:
    ~FFmpegFileIO();
    FFmpegFileIO(const FFmpegFileIO&) = delete;
    FFmpegFileIO& operator=(const FFmpegFileIO&) = delete;

    // Opens an existing file; on failure nullptr, `status` and `error` say why.
    static std::unique_ptr<FFmpegFileIO> openForReading(const std::string& path, int32_t& status,
                                                        std::string& error);

    // Creates a new file as AudioFileIO::createReplacing does: mode 0600, never
    // through a symbolic link, replacing only an older file of the user's.
    static std::unique_ptr<FFmpegFileIO> createForWriting(const std::string& path, int32_t& status,
                                                          std::string& error);

    AVIOContext* context() const { return mContext; }

    // Pushes buffered bytes to the file; the status of the first failed write.
    int32_t flush();
    // The error of the first failed read or write, as an FFmpeg error code (0 when none).
    int ioError() const;

private:
    FFmpegFileIO(int fd, bool writable);

    static int readPacket(void* opaque, uint8_t* buffer, int size);
    static int writePacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    int mFd;
    int mErrno = 0;
    AVIOContext* mContext = nullptr;
};
