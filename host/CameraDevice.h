#pragma once

#include <string_view>

#include "CallStatus.h"
#include "HostState.h"
#include "Message.h"

namespace vemo {
namespace host {

// One instance of the remote class "CameraDevice", created by a client's "__initThis" and bound
// to that client's connection. Its functions are found by name in one table (CameraDevice.cpp):
// each reads its arguments from the request and writes its results into the reply, and a new
// function is one member and one table row. Used by one session on one thread at a time.
class CameraDevice {
public:
    static constexpr std::string_view kClassName = "CameraDevice";

    // state must outlive the instance.
    explicit CameraDevice(HostState& state) : _state(state), _config(state.config) {}

    // Runs the named function. An error status (no such function, a missing or bad argument)
    // leaves the reply to the caller, who reports the error.
    CallStatus call(std::string_view function, const Message& request, Message* reply);

private:
    using Handler = CallStatus (CameraDevice::*)(const Message& request, Message* reply);

    // Null when the class has no such function.
    static Handler findHandler(std::string_view function);

    // The configured camera named by the request's "ix" entry.
    CallStatus cameraArgument(const Message& request, const CameraConfig** camera) const;

    CallStatus getNumCameras(const Message& request, Message* reply);
    CallStatus getCurrentOrientation(const Message& request, Message* reply);
    CallStatus getCameraName(const Message& request, Message* reply);
    CallStatus getCameraOrientation(const Message& request, Message* reply);
    CallStatus getCameraFacing(const Message& request, Message* reply);

    HostState& _state;
    const HostConfig& _config;
};

}  // namespace host
}  // namespace vemo
