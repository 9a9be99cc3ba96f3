// Device operations, availability, installation and the restore of the
// default output, against private PulseAudio servers.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "AutoCaptureClasses/CaptureDeviceInstaller.h"
#include "AutoCaptureClasses/CaptureLock.h"
#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "CaptureTestSupport.h"
#include "frameworks/ZORAudioDevice.h"
#include "platform/Log.h"

using capture_test::ScratchHome;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(AudioDevice, FindsSinksSetsAndRestoresTheDefaultOutputLoadsTheSinkOnceAndTimesOutOnAStalledServer) {
    ScratchHome home;
    PrivatePulseServer server;
    ASSERT_TRUE(server.started()) << server.failure();
    auto capture = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME);
    auto byName = ZORAudioDevice::deviceWithDeviceName(platform::kCaptureSinkName);
    ASSERT_TRUE(capture);
    ASSERT_TRUE(byName);
    EXPECT_EQ(capture->sinkName(), platform::kCaptureSinkName);
    EXPECT_EQ(capture->deviceID(), byName->deviceID());
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName("No Such Device"));

    auto original = ZORAudioDevice::defaultOutputDevice();
    ASSERT_TRUE(original);
    ASSERT_EQ(ZORAudioDevice::setDefaultOutputDevice(capture), 0);
    EXPECT_EQ(server.defaultSinkName(), platform::kCaptureSinkName);
    EXPECT_EQ(ZORAudioDevice::defaultOutputDevice()->deviceID(), capture->deviceID());
    ASSERT_EQ(ZORAudioDevice::setDefaultOutputDevice(original), 0);
    EXPECT_EQ(server.defaultSinkName(), "speakers");

    // After an interrupted capture: the output back, or another if it has gone, but a choice the user made since
    // is left. What is the default output afterwards.
    auto restored = [&](const char* remembered, const std::string& current) {
        EXPECT_TRUE(DefaultOutputMemory::remember(remembered));
        server.pactl("set-default-sink " + current);
        EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
        EXPECT_FALSE(DefaultOutputMemory::remembered());
        return server.defaultSinkName();
    };
    server.pactl("load-module module-null-sink sink_name=headphones");
    EXPECT_EQ(restored("speakers", platform::kCaptureSinkName), "speakers");
    EXPECT_EQ(restored("unplugged_usb_headset", platform::kCaptureSinkName), "speakers");
    EXPECT_EQ(restored("speakers", "headphones"), "headphones");
    EXPECT_EQ(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);

    // A device that has gone since it was looked up is refused.
    ASSERT_TRUE(server.unloadCaptureSink());
    EXPECT_EQ(ZORAudioDevice::setDefaultOutputDevice(capture), ZORAudioDevice::kRefused);
    EXPECT_EQ(server.defaultSinkName(), "headphones");

    // Polled every few seconds: a line is logged only when the answer changes.
    // Without the sink a recorder cannot start, and leaves the output alone.
    platform::LogCapture log;
    auto available = [&] {
        bool first = MySystemCaptureRecorder::isAvailable();
        size_t lines = log.lines().size();
        EXPECT_EQ(MySystemCaptureRecorder::isAvailable(), first);
        EXPECT_EQ(log.lines().size(), lines) << "logged again without a change";
        return first;
    };
    EXPECT_FALSE(available());
    EXPECT_FALSE(MySystemCaptureRecorder::init());
    EXPECT_EQ(server.defaultSinkName(), "headphones");
    for (int twice = 0; twice < 2; ++twice)
        EXPECT_TRUE(CaptureDeviceInstaller::installCaptureDevice(false));
    EXPECT_TRUE(available());
    std::string sinks = server.pactl("list sinks short");
    const std::string listed = std::string("\t") + platform::kCaptureSinkName + "\t";
    EXPECT_EQ(sinks.find(listed), sinks.rfind(listed));

    ::kill(server.pid(), SIGSTOP);
    auto start = Clock::now();
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName("speakers"));
    auto waited = Clock::now() - start;
    ::kill(server.pid(), SIGCONT);
    EXPECT_LT(waited, std::chrono::milliseconds(ZORAudioDevice::kTimeoutMs + 500));
    server.kill();
    EXPECT_FALSE(MySystemCaptureRecorder::isAvailable());
}

// Every call fails at once and says why; the remembered output is kept for later.
TEST(AudioDevice, WithoutASoundServerEveryCallFailsAtOnce) {
    ScratchHome home;
    ScopedEnvironment noServer("PULSE_SERVER", "unix:/nonexistent/trovario/native");
    auto start = Clock::now();
    EXPECT_FALSE(ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME));
    EXPECT_FALSE(ZORAudioDevice::defaultOutputDevice());
    EXPECT_EQ(ZORAudioDevice::setDefaultOutputDevice(
                  std::make_shared<ZORAudioDevice>(1, "speakers", "Speakers", "speakers.monitor")),
              ZORAudioDevice::kNoSoundServer);
    EXPECT_FALSE(MySystemCaptureRecorder::init());
    EXPECT_LT(Clock::now() - start, 500ms);
    auto installed = CaptureDeviceInstaller::installCaptureDevice(true);
    ASSERT_FALSE(installed);
    EXPECT_NE(installed.message().find("Start PulseAudio or PipeWire"), std::string::npos) << installed.message();
    ASSERT_TRUE(DefaultOutputMemory::remember("speakers"));
    EXPECT_NE(DefaultOutputMemory::restoreAfterInterruptedCapture(), 0);
    EXPECT_EQ(DefaultOutputMemory::remembered(), "speakers");
}

// A restorer holds the lock only for a moment, and a recorder that starts
// then waits for it; another recorder it refuses, naming it. (Restores that
// leave a running capture alone are tested with the agent.)
TEST(CaptureLock, ARecorderWaitsForARestorerButNotForAnotherRecorder) {
    ScratchHome home;
    ScopedEnvironment runtime{"XDG_RUNTIME_DIR", home.path().c_str()};
    auto restorer = CaptureLock::acquireShared();
    ASSERT_TRUE(restorer) << restorer.message();
    std::thread restoring([&] { std::this_thread::sleep_for(300ms); restorer->reset(); });
    auto held = CaptureLock::acquire();
    restoring.join();
    ASSERT_TRUE(held) << held.message();
    EXPECT_EQ(CaptureLock::acquire().message(),
              "another capture is running (process " + std::to_string(getpid()) + "); stop it first");
}

TEST(CaptureDeviceInstall, PersistentConfigurationLoadsTheSinkAtTheNextServerStart) {
    ScratchHome home;
    ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(true));
    std::string fragment = TemporaryDirectory::read(CaptureDeviceInstaller::persistentConfigPath(true));
    EXPECT_NE(fragment.find("pulse.cmd"), std::string::npos);
    EXPECT_NE(fragment.find("sink_properties=\\\"device.description='Trovario Capture Support'\\\""),
              std::string::npos)
        << fragment;
    // A new script keeps the system's defaults.
    std::string script = CaptureDeviceInstaller::persistentConfigPath(false);
    ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(false));
    EXPECT_EQ(TemporaryDirectory::read(script).rfind(".include /etc/pulse/default.pa\n", 0), 0u);

    // The user's own script, as the server would run it at its start.
    TemporaryDirectory::write(script, "load-module module-native-protocol-unix\n"
                                      "load-module module-null-sink sink_name=speakers");
    for (int twice = 0; twice < 2; ++twice)
        ASSERT_TRUE(CaptureDeviceInstaller::writePersistentConfig(false));
    std::string text = TemporaryDirectory::read(script);
    const std::string load = std::string("load-module module-null-sink sink_name=") + platform::kCaptureSinkName;
    EXPECT_EQ(text.find(load), text.rfind(load));
    PrivatePulseServer server({.captureSink = false, .scriptFile = script});
    ASSERT_TRUE(server.started()) << server.failure();
    auto device = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->sinkName(), platform::kCaptureSinkName);
}
