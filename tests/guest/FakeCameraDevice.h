#pragma once

// A camera device of the tests' own: every operation records its name and the callbacks the
// device got, which the test then fires as a module would.

#include <string>
#include <vector>

#include <hardware/camera.h>

namespace vemo {
namespace test {

class FakeCameraDevice {
public:
    FakeCameraDevice();

    // What the stand-in gets from an open: the device header.
    camera_device_t* device() { return &_device; }

    // Operation names in call order ("set_callbacks", "start_preview", ...; "close").
    std::vector<std::string> calls;
    // Arguments of the last calls that take some.
    int32_t lastInt = 0;
    const void* lastPointer = nullptr;
    // The text get_parameters hands out, and the pointer put_parameters got back.
    std::string parameters = "a=1;b=2";
    bool parametersFail = false;
    char* handedOut = nullptr;
    const char* putBack = nullptr;
    int closeResult = 0;

    camera_notify_callback notify = nullptr;
    camera_data_callback data = nullptr;
    camera_data_timestamp_callback dataTimestamp = nullptr;
    camera_request_memory requestMemory = nullptr;
    void* cookie = nullptr;

private:
    camera_device_t _device;
};

}  // namespace test
}  // namespace vemo
