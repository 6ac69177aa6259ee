#include "CameraDevice.h"

#include <unordered_map>

#include "RemoteKeys.h"

namespace vemo {
namespace host {

CameraDevice::Handler CameraDevice::findHandler(std::string_view function) {
    static const std::unordered_map<std::string_view, Handler> kFunctions = {
        {"getNumCameras", &CameraDevice::getNumCameras},
        {"getCurrentOrientation", &CameraDevice::getCurrentOrientation},
        {"getCameraName", &CameraDevice::getCameraName},
        {"getCameraOrientation", &CameraDevice::getCameraOrientation},
        {"getCameraFacing", &CameraDevice::getCameraFacing},
    };
    auto it = kFunctions.find(function);
    return it != kFunctions.end() ? it->second : nullptr;
}

CallStatus CameraDevice::call(std::string_view function, const Message& request, Message* reply) {
    const Handler handler = findHandler(function);
    if (handler == nullptr) {
        return CallStatus::error(std::string(kClassName) + " has no such function");
    }
    return (this->*handler)(request, reply);
}

CallStatus CameraDevice::cameraArgument(const Message& request, const CameraConfig** camera) const {
    const std::optional<uint32_t> ix = request.u32("ix");
    if (!ix) {
        return CallStatus::error("missing u32 argument ix");
    }
    if (*ix >= _config.cameras.size()) {
        return CallStatus::error("camera ix " + std::to_string(*ix) + " out of range (" +
                                 std::to_string(_config.cameras.size()) + " cameras)");
    }
    *camera = &_config.cameras[*ix];
    return CallStatus::ok();
}

CallStatus CameraDevice::getNumCameras(const Message&, Message* reply) {
    reply->set(keys::kReturn, Value::u32(static_cast<uint32_t>(_config.cameras.size())));
    return CallStatus::ok();
}

CallStatus CameraDevice::getCurrentOrientation(const Message&, Message* reply) {
    reply->set(keys::kReturn, Value::u32(_config.orientation));
    return CallStatus::ok();
}

CallStatus CameraDevice::getCameraName(const Message& request, Message* reply) {
    const CameraConfig* camera = nullptr;
    CallStatus status = cameraArgument(request, &camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::string(camera->name));
    }
    return status;
}

CallStatus CameraDevice::getCameraOrientation(const Message& request, Message* reply) {
    const CameraConfig* camera = nullptr;
    CallStatus status = cameraArgument(request, &camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::u32(camera->orientation));
    }
    return status;
}

CallStatus CameraDevice::getCameraFacing(const Message& request, Message* reply) {
    const CameraConfig* camera = nullptr;
    CallStatus status = cameraArgument(request, &camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::u32(camera->facing));
    }
    return status;
}

}  // namespace host
}  // namespace vemo
