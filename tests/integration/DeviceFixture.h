#pragma once

// A camera opened through the module's entry point by the camera-service stand-in, against a
// vemo-hostd of its own that records every request. Tests drive the device's operations and
// read what the host saw.

#include <dirent.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <hardware/camera.h>

#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"
#include "support/GuestHost.h"
#include "support/LogCapture.h"

namespace vemo {
namespace test {

using Lines = std::vector<std::string>;

// Threads of this process named "Camera Worker".
inline int workerThreads() {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return -1;
    }
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        count += name == "Camera Worker";
    }
    closedir(tasks);
    return count;
}

// Waits up to timeoutMs for done().
template <typename Done>
bool eventually(Done done, int timeoutMs = 3000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (done()) {
            return true;
        }
        usleep(5000);
    }
    return done();
}

class DeviceTest : public ::testing::Test {
protected:
    // Starts the host with args and loads the module; the camera is opened by open().
    void startHost(const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(_host.start(args)) << _host.error();
        std::string error;
        _service = guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error);
        ASSERT_TRUE(_service != nullptr) << error;
    }

    // Opens camera id with the recorder's callbacks installed.
    void open(const char* id = "0") {
        ASSERT_EQ(_service->open(id, &_device), 0);
        _callbacks.install(*_device);
    }

    void TearDown() override {
        if (_device && !_device->closed()) {
            _device->close();
        }
        _device.reset();
    }

    // The requests the host saw whose function is one of names, in order.
    Lines requestsOf(const std::vector<std::string>& names) const {
        Lines result;
        for (const std::string& line : _host.requests()) {
            for (const std::string& name : names) {
                if (line.compare(0, 11 + name.size() + 1, "__function=" + name + " ") == 0 ||
                    line == "__function=" + name) {
                    result.push_back(line);
                    break;
                }
            }
        }
        return result;
    }

    size_t countRequests(const std::string& name) const { return requestsOf({name}).size(); }

    LogCapture _log;
    GuestHost _host{VEMO_HOSTD_PATH};
    std::unique_ptr<guest::CameraService> _service;
    std::unique_ptr<guest::CameraDevice> _device;
    guest::CallbackRecorder _callbacks;
    guest::PreviewWindow _window;
};

}  // namespace test
}  // namespace vemo
