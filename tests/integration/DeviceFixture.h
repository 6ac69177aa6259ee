#pragma once

// A camera opened through the module's entry point by the camera-service stand-in, against a
// vemo-hostd of its own that records every request. Tests drive the device's operations and
// read what the host saw.

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <hardware/camera.h>

#include "JpegFile.h"
#include "ParameterText.h"
#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"
#include "support/Eventually.h"
#include "support/GuestHost.h"
#include "support/HostProcess.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

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

    // A folder of the test's own for the files it writes, removed with them.
    const std::string& folder() const { return _folder.path(); }

    // Gives the device the window and starts the preview, then waits until the window has
    // shown that many frames.
    void startPreview(uint64_t shown = 0) {
        ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
        ASSERT_EQ(_device->startPreview(), 0);
        ASSERT_TRUE(_window.waitForEnqueued(shown, std::chrono::seconds(5)));
    }

    // Previews, takes a picture and waits for the worker to be done with it.
    void capture(int32_t messages) {
        _device->enableMsgType(messages);
        ASSERT_NO_FATAL_FAILURE(startPreview(2));
        const size_t pictures = _callbacks.count(CAMERA_MSG_COMPRESSED_IMAGE);
        ASSERT_EQ(_device->takePicture(), 0);
        if (messages & CAMERA_MSG_COMPRESSED_IMAGE) {
            ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_COMPRESSED_IMAGE, pictures + 1,
                                           std::chrono::seconds(5)));
        }
        ASSERT_TRUE(eventually([&] { return _device->previewEnabled() == 0; }, 5000));
    }

    // The JPEG file of the last compressed image, written to a file.
    std::string pictureFile() {
        guest::CameraEvent image;
        EXPECT_TRUE(_callbacks.last(CAMERA_MSG_COMPRESSED_IMAGE, &image));
        const size_t length = tools::jpegLength(image.bytes.data(), image.bytes.size());
        EXPECT_GT(length, 0u);
        const std::string path = folder() + "/picture.jpg";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<long>(length));
        return path;
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

    tools::ParameterMap parameters() {
        std::string text;
        EXPECT_TRUE(_device->getParameters(&text));
        return tools::parseParameters(text);
    }

    // The current parameters with changes applied and the removed keys left out, handed to
    // set_parameters.
    int setParameters(const tools::ParameterMap& changes,
                      const std::vector<std::string>& removed = {}) {
        tools::ParameterMap values = parameters();
        for (const auto& change : changes) {
            values[change.first] = change.second;
        }
        for (const std::string& key : removed) {
            values.erase(key);
        }
        return _device->setParameters(tools::flattenParameters(values).c_str());
    }

    LogCapture _log;
    GuestHost _host{VEMO_HOSTD_PATH};
    std::unique_ptr<guest::CameraService> _service;
    std::unique_ptr<guest::CameraDevice> _device;
    guest::CallbackRecorder _callbacks;
    guest::PreviewWindow _window;

private:
    TempFolder _folder;
};

}  // namespace test
}  // namespace vemo
