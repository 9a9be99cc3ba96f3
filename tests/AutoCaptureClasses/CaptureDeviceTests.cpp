// Device operations, availability, installation and the restore of the
// default output, against private PulseAudio servers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "AutoCaptureClasses/CaptureDeviceInstaller.h"
#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "CaptureTestSupport.h"
#include "PrivatePulseServer.h"
#include "frameworks/ZORAudioDevice.h"
#include "platform/Log.h"
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

namespace {

using capture_test::ScratchHome;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

size_t countSinksNamed(const PrivatePulseServer& server, const std::string& name) {
    std::istringstream sinks(server.pactl("list sinks short"));
    std::string line;
    size_t count = 0;
    while (std::getline(sinks, line)) count += line.find("\t" + name + "\t") != std::string::npos;
    return count;
}

PrivatePulseServer::Options withoutCaptureSink() {
    PrivatePulseServer::Options options;
    options.captureSink = false;
    return options;
}

}  // namespace

TEST(AudioDevice, FindsSinksByDescriptionOrNameAndSetsTheDefaultOutput) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    auto capture = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME);
    auto byName = ZORAudioDevice::deviceWithDeviceName(platform::kCaptureSinkName);
    ASSERT_TRUE(capture);
    ASSERT_TRUE(byName);
    EXPECT_EQ(capture->sinkName(), platform::kCaptureSinkName);
    EXPECT_EQ(capture->monitorSourceName(), std::string(platform::kCaptureSinkName) + ".monitor");
    EXPECT_EQ(capture->deviceID(), byName->deviceID());
    std::string listed = server.pactl("list sinks short");
    EXPECT_NE(listed.find(std::to_string(capture->deviceID()) + "\t" + platform::kCaptureSinkName), std::string::npos);
    std::string whyNot;
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName("No Such Device", &whyNot));
    EXPECT_NE(whyNot.find("No Such Device"), std::string::npos);

    auto original = ZORAudioDevice::defaultOutputDevice();
    ASSERT_TRUE(original);
    EXPECT_EQ(original->sinkName(), "speakers");
    ASSERT_EQ(ZORAudioDevice::setDefaultOutputDevice(capture), 0);
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
    EXPECT_EQ(ZORAudioDevice::defaultOutputDevice()->deviceID(), capture->deviceID());
    ASSERT_EQ(ZORAudioDevice::setDefaultOutputDevice(original), 0);
    EXPECT_EQ(server.defaultSinkName(), "speakers");

    // A device that has gone since it was looked up is refused.
    ASSERT_TRUE(server.unloadCaptureSink());
    EXPECT_EQ(ZORAudioDevice::setDefaultOutputDevice(capture, &whyNot), ZORAudioDevice::kRefused);
    EXPECT_FALSE(whyNot.empty());
    EXPECT_EQ(server.defaultSinkName(), "speakers");
}

// Every call fails at once and says why; the remembered output is kept for later.
TEST(AudioDevice, WithoutASoundServerEveryCallFailsAtOnce) {
    ScratchHome home;
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/trovario/native");
    auto start = Clock::now();
    std::string whyNot;
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME, &whyNot));
    EXPECT_FALSE(ZORAudioDevice::defaultOutputDevice());
    EXPECT_EQ(ZORAudioDevice::setDefaultOutputDevice(
                  std::make_shared<ZORAudioDevice>(1, "speakers", "Speakers", "speakers.monitor")),
              ZORAudioDevice::kNoSoundServer);
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_NE(whyNot.find("no sound server"), std::string::npos) << whyNot;
    auto installed = CaptureDeviceInstaller::installCaptureDevice(true);
    ASSERT_FALSE(installed);
    EXPECT_NE(installed.message().find("Start PulseAudio or PipeWire"), std::string::npos) << installed.message();
    ASSERT_TRUE(DefaultOutputMemory::remember("speakers"));
    EXPECT_NE(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
    EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
}

TEST(AudioDevice, StalledServerTimesOutInsteadOfHanging) {
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    ::kill(server.pid(), SIGSTOP);
    auto start = Clock::now();
    std::string whyNot;
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME, &whyNot));
    auto waited = Clock::now() - start;
    ::kill(server.pid(), SIGCONT);
    EXPECT_LT(waited, std::chrono::milliseconds(ZORAudioDevice::kTimeoutMs + 500));
    EXPECT_NE(whyNot.find("no answer"), std::string::npos) << whyNot;
}

// Availability is logged only when it changes.
TEST(CaptureDeviceInstall, LoadsTheSinkOnceAndAvailabilityFollowsIt) {
    PrivatePulseServer server(withoutCaptureSink());
    ASSERT_TRUE(server.started()) << server.failure();
    platform::LogCapture log;
    EXPECT_FALSE(MySystemCaptureRecorder::isAvailable());
    EXPECT_FALSE(MySystemCaptureRecorder::isAvailable());
    EXPECT_EQ(log.count("is not available"), 1u);
    auto message = CaptureDeviceInstaller::installCaptureDevice(false);
    ASSERT_TRUE(message) << message.message();
    EXPECT_NE(message->find("Loaded"), std::string::npos) << *message;
    EXPECT_TRUE(ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME));
    EXPECT_TRUE(MySystemCaptureRecorder::isAvailable());
    EXPECT_TRUE(MySystemCaptureRecorder::isAvailable());
    EXPECT_EQ(log.count(std::string("is available (sink ") + platform::kCaptureSinkName + ")"), 1u);
    message = CaptureDeviceInstaller::installCaptureDevice(false);
    ASSERT_TRUE(message) << message.message();
    EXPECT_NE(message->find("already loaded"), std::string::npos) << *message;
    EXPECT_EQ(countSinksNamed(server, platform::kCaptureSinkName), 1u);
    server.kill();
    EXPECT_FALSE(MySystemCaptureRecorder::isAvailable());
    EXPECT_EQ(log.count("is not available: no sound server"), 1u);
}

TEST(CaptureDeviceInstall, PersistentScriptLoadsTheSinkAtTheNextServerStart) {
    ScratchHome home;
    std::string script = CaptureDeviceInstaller::persistentConfigPath(false);
    // The user's own script, as the server would run it at its start.
    TemporaryDirectory::write(script, "load-module module-native-protocol-unix\n"
                                      "load-module module-null-sink sink_name=speakers");
    ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(false));
    auto message = CaptureDeviceInstaller::writePersistentConfig(false);
    ASSERT_TRUE(message);
    EXPECT_NE(message->find("already loads"), std::string::npos) << *message;
    std::string text = TemporaryDirectory::read(script);
    const std::string load = std::string("load-module module-null-sink sink_name=") + platform::kCaptureSinkName;
    EXPECT_EQ(text.find(load), text.rfind(load));

    PrivatePulseServer::Options options = withoutCaptureSink();
    options.scriptFile = script;
    PrivatePulseServer server(options);
    ASSERT_TRUE(server.started()) << server.failure();
    auto device = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->sinkName(), platform::kCaptureSinkName);
}

TEST(CaptureDeviceInstall, NewScriptKeepsTheSystemDefaults) {
    ScratchHome home;
    ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(false));
    std::string text = TemporaryDirectory::read(CaptureDeviceInstaller::persistentConfigPath(false));
    EXPECT_EQ(text.rfind(".include /etc/pulse/default.pa\n", 0), 0u) << text;
    EXPECT_NE(text.find("device.description='Trovario Capture Support'"), std::string::npos);

    ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(true));
    std::string fragment = TemporaryDirectory::read(CaptureDeviceInstaller::persistentConfigPath(true));
    EXPECT_NE(fragment.find("pulse.cmd"), std::string::npos);
    EXPECT_NE(fragment.find("sink_properties=\\\"device.description='Trovario Capture Support'\\\""),
              std::string::npos)
        << fragment;
}

TEST(DefaultOutputRestore, GivesTheOutputBackOrAnotherButLeavesAChoiceTheUserMadeSince) {
    ScratchHome home;
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    ASSERT_TRUE(DefaultOutputMemory::remember("speakers"));
    EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
    server.pactl(std::string("set-default-sink ") + platform::kCaptureSinkName);
    platform::LogCapture log;
    EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
    EXPECT_EQ(server.defaultSinkName(), "speakers");
    EXPECT_TRUE(log.contains("restored the default output \"speakers\" after an interrupted capture"));
    EXPECT_FALSE(DefaultOutputMemory::remembered());
    EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);

    // The remembered output has gone: another sink, not the capture device.
    ASSERT_TRUE(DefaultOutputMemory::remember("unplugged_usb_headset"));
    server.pactl(std::string("set-default-sink ") + platform::kCaptureSinkName);
    EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
    EXPECT_EQ(server.defaultSinkName(), "speakers");

    // The user chose another output since.
    server.pactl("load-module module-null-sink sink_name=headphones");
    ASSERT_TRUE(DefaultOutputMemory::remember("speakers"));
    server.pactl("set-default-sink headphones");
    EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
    EXPECT_EQ(server.defaultSinkName(), "headphones");
    EXPECT_FALSE(DefaultOutputMemory::remembered());
}

namespace {

// A record stream on the monitor of a private server's "speakers".
class SoundRecordStreamTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::SoundRecordStream> openMonitor(uint32_t fragmentBytes) {
        auto connection = platform::SoundServer::connect("test", 2000);
        if (!connection) return ADD_FAILURE() << connection.message(), nullptr;
        auto stream = platform::SoundRecordStream::open(*connection, "speakers.monitor", fragmentBytes);
        if (!stream) return ADD_FAILURE() << stream.message(), nullptr;
        return std::move(*stream);
    }

    PrivatePulseServer server;
};

}  // namespace

TEST_F(SoundRecordStreamTest, HandsOverEntriesLargerThanTheReadersBufferInPieces) {
    ASSERT_TRUE(server.started()) << server.failure();
    auto stream = openMonitor(65536);
    ASSERT_TRUE(stream);
    std::vector<float> samples;
    std::vector<float> piece(250);  // 1000 bytes: 125 frames, far below an entry
    std::unique_ptr<capture_test::TonePlayer> tone;
    // Four seconds once audio flows: a fresh monitor starts late, and the
    // sink plays what it had prepared before the tone comes through.
    while ((!tone || samples.size() < 8 * 44100) && stream->waitForData() == 0) {
        if (!tone && !samples.empty()) {
            tone = std::make_unique<capture_test::TonePlayer>(1000);
            samples.clear();
        }
        EXPECT_LE(stream->peekSize(), platform::SoundRecordStream::kEntryBytes);
        while (stream->dataAvailable()) {
            uint32_t size = 1000;
            ASSERT_EQ(stream->dequeue(piece.data(), size), 0);
            ASSERT_EQ(size % 8, 0u);
            ASSERT_LE(size, 1000u);
            samples.insert(samples.end(), piece.begin(), piece.begin() + size / sizeof(float));
        }
    }
    EXPECT_EQ(stream->droppedBytes(), 0u);
    // The pieces join up again into the continuous tone.
    std::vector<double> tones = capture_test::dominantTones(samples, 2048, {1000});
    size_t first = static_cast<size_t>(std::find(tones.begin(), tones.end(), 1000.0) - tones.begin());
    ASSERT_LT(first + 20, tones.size());
    for (size_t i = first + 1; i + 1 < tones.size(); ++i) EXPECT_EQ(tones[i], 1000.0) << "block " << i;

    // Interrupting wakes a waiting reader for good.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stream->interrupt();
    });
    while (stream->waitForData() == 0) {
        uint32_t size = 1000;
        stream->dequeue(piece.data(), size);
    }
    stopper.join();
    EXPECT_EQ(stream->waitForData(), platform::SoundRecordStream::kInterrupted);
}

// With a consumer the connection's own thread reads, as each fragment comes;
// the capture thread only waits for the end.
TEST_F(SoundRecordStreamTest, AConsumerReadsOnTheConnectionsThreadUntilTheStreamEnds) {
    ASSERT_TRUE(server.started()) << server.failure();
    auto stream = openMonitor(16384);
    ASSERT_TRUE(stream);
    std::mutex lock;
    std::condition_variable arrived;
    std::set<std::thread::id> readers;
    uint64_t bytes = 0;
    stream->setConsumer([&, s = stream.get()] {
        std::vector<float> buffer(4096);
        std::lock_guard guard(lock);
        readers.insert(std::this_thread::get_id());
        for (uint32_t size = 16384; s->dataAvailable(); size = 16384) {
            ASSERT_EQ(s->dequeue(buffer.data(), size), 0);
            bytes += size;
        }
        arrived.notify_all();
    });
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(arrived.wait_for(guard, std::chrono::seconds(10), [&] { return bytes >= 44100 * 8; }));
        EXPECT_EQ(readers.size(), 1u);
        EXPECT_EQ(readers.count(std::this_thread::get_id()), 0u);
    }
    EXPECT_FALSE(stream->dataAvailable());

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stream->interrupt();
    });
    EXPECT_EQ(stream->waitForEnd(), platform::SoundRecordStream::kInterrupted);
    stopper.join();
}

TEST_F(SoundRecordStreamTest, WaitingForTheEndReturnsWhenTheServerDies) {
    ASSERT_TRUE(server.started()) << server.failure();
    auto stream = openMonitor(16384);
    ASSERT_TRUE(stream);
    stream->setConsumer([s = stream.get()] {
        std::vector<float> buffer(4096);
        for (uint32_t size = 16384; s->dataAvailable(); size = 16384) s->dequeue(buffer.data(), size);
    });
    server.kill();
    EXPECT_EQ(stream->waitForEnd(), platform::SoundRecordStream::kFailed);
}
