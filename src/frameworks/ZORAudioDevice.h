#pragma once

#include <cstdint>
#include <memory>
#include <string>

// An output device of the sound server: one sink. Every class operation opens
// a short connection of its own and gives up after a time-out, so a missing or
// stalled server means "no device", never a hang.
class ZORAudioDevice {
public:
    static constexpr int32_t kNoSoundServer = -1;
    static constexpr int32_t kRefused = -2;
    static constexpr int kTimeoutMs = 1000;

    // The sink whose description (or, failing that, name) is `name`; nullptr
    // when there is none or no server answers. `whyNot` receives the reason.
    static std::shared_ptr<ZORAudioDevice> deviceWithDeviceName(const std::string& name,
                                                                std::string* whyNot = nullptr);
    static std::shared_ptr<ZORAudioDevice> defaultOutputDevice(std::string* whyNot = nullptr);
    // 0, kNoSoundServer or kRefused.
    static int32_t setDefaultOutputDevice(const std::shared_ptr<ZORAudioDevice>& device,
                                          std::string* whyNot = nullptr);

    ZORAudioDevice(uint32_t deviceID, std::string sinkName, std::string deviceName, std::string monitorSource);

    uint32_t deviceID() const { return mDeviceID; }
    const std::string& sinkName() const { return mSinkName; }
    const std::string& deviceName() const { return mDeviceName; }
    const std::string& monitorSourceName() const { return mMonitorSource; }

private:
    uint32_t mDeviceID;
    std::string mSinkName;
    std::string mDeviceName;
    std::string mMonitorSource;
};
