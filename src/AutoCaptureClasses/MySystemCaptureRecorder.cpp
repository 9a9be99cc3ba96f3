#include "AutoCaptureClasses/MySystemCaptureRecorder.h"

#include <mutex>

#include "frameworks/ZORAudioDevice.h"
#include "platform/Log.h"

bool MySystemCaptureRecorder::isAvailable() {
    static std::mutex lock;
    static std::string lastReport;
    std::string whyNot;
    auto device = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME, &whyNot);
    std::string report = device ? std::string("capture device \"") + CAPTURE_DEVICE_NAME + "\" is available (sink " +
                                      device->sinkName() + ")\n"
                                : std::string("capture device \"") + CAPTURE_DEVICE_NAME +
                                      "\" is not available: " + whyNot + "\n";
    std::lock_guard guard(lock);
    if (report != lastReport) platform::Log::line("%s", report.c_str());
    lastReport = report;
    return device != nullptr;
}
