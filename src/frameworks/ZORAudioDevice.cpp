#include "frameworks/ZORAudioDevice.h"

#include "platform/SoundServer.h"

namespace {

std::shared_ptr<platform::SoundServer> connectOrExplain(std::string* whyNot) {
    auto server = platform::SoundServer::connect("Trovario", ZORAudioDevice::kTimeoutMs);
    if (!server) {
        if (whyNot) *whyNot = "no sound server: " + server.message();
        return nullptr;
    }
    return *server;
}

std::shared_ptr<ZORAudioDevice> deviceFrom(const platform::SinkInfo& sink) {
    return std::make_shared<ZORAudioDevice>(sink.index, sink.name, sink.description, sink.monitorSource);
}

}  // namespace

ZORAudioDevice::ZORAudioDevice(uint32_t deviceID, std::string sinkName, std::string deviceName,
                               std::string monitorSource)
    : mDeviceID(deviceID),
      mSinkName(std::move(sinkName)),
      mDeviceName(std::move(deviceName)),
      mMonitorSource(std::move(monitorSource)) {}

std::shared_ptr<ZORAudioDevice> ZORAudioDevice::deviceWithDeviceName(const std::string& name,
                                                                     std::string* whyNot) {
    auto server = connectOrExplain(whyNot);
    if (!server) return nullptr;
    auto sink = server->findSink(name);
    if (!sink) {
        if (whyNot) *whyNot = sink.message();
        return nullptr;
    }
    return deviceFrom(*sink);
}

std::shared_ptr<ZORAudioDevice> ZORAudioDevice::defaultOutputDevice(std::string* whyNot) {
    auto server = connectOrExplain(whyNot);
    if (!server) return nullptr;
    auto name = server->defaultSinkName();
    auto sinks = name ? server->sinks() : name.status();
    if (sinks) {
        for (const platform::SinkInfo& sink : *sinks)
            if (sink.name == *name) return deviceFrom(sink);
    }
    // The default may name a sink that has gone; that counts as none.
    if (whyNot) *whyNot = sinks ? "the default sink \"" + *name + "\" does not exist" : sinks.message();
    return nullptr;
}

int32_t ZORAudioDevice::setDefaultOutputDevice(const std::shared_ptr<ZORAudioDevice>& device,
                                               std::string* whyNot) {
    if (!device) {
        if (whyNot) *whyNot = "no device given";
        return kRefused;
    }
    auto server = connectOrExplain(whyNot);
    if (!server) return kNoSoundServer;
    platform::Status switched = server->setDefaultSink(device->sinkName());
    if (switched) return 0;
    if (whyNot) *whyNot = "cannot make \"" + device->sinkName() + "\" the default output: " + switched.message();
    return kRefused;
}
