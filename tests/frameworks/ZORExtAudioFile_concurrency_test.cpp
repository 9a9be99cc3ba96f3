#include "frameworks/ZORExtAudioFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "AudioTestSupport.h"

using namespace audiotest;

// The recorder's stop closes the scratch file on the main thread while the
// writer thread may be inside a write: the close must wait for it, and later
// writes must fail cleanly.
TEST(ZORExtAudioFileConcurrency, CloseFromAnotherThreadWaitsForTheWriteInProgress) {
    TemporaryDirectory dir;
    const std::string path = dir / "scratch.caf";
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, standardFormat(), cafFormat());
    ASSERT_EQ(file->open(), 0);
    std::atomic<int> written{0};
    std::atomic<bool> refused{false};
    std::thread writer([&] {
        AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, 2048 * 8);
        for (int i = 0; i < 100000 && !refused; ++i) {
            int32_t status = file->write(list, 2048);
            if (status == 0) ++written;
            else refused = status == kAudioFileNotOpenError;
        }
        ZORAudioBufferList::destroyBuffers(list);
    });
    while (written < 20) std::this_thread::yield();
    EXPECT_EQ(file->close(), 0);
    writer.join();
    EXPECT_TRUE(refused);
    auto reader = ZORExtAudioFile::initForReading(path);
    ASSERT_EQ(reader->open(), 0);
    EXPECT_EQ(reader->lengthInFrames(), int64_t(written) * 2048);
}
