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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <hardware/camera.h>

#include "JpegScan.h"
#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"
#include "support/GuestHost.h"
#include "support/HostProcess.h"
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
        if (!_folder.empty()) {
            ProgramResult ignored = runProgram("/bin/rm", {"-rf", _folder});
            (void)ignored;
        }
    }

    // A folder of the test's own for the files it writes, made on first use and removed with
    // them.
    const std::string& folder() {
        if (_folder.empty()) {
            char made[] = "/tmp/vemo-device-XXXXXX";
            EXPECT_NE(mkdtemp(made), nullptr);
            _folder = made;
        }
        return _folder;
    }

    // Previews, takes a picture and waits for the worker to be done with it.
    void capture(int32_t messages) {
        _device->enableMsgType(messages);
        ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
        ASSERT_EQ(_device->startPreview(), 0);
        ASSERT_TRUE(_window.waitForEnqueued(2, std::chrono::seconds(5)));
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
        const size_t length = jpegLength(image.bytes);
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

    std::map<std::string, std::string> parameters() {
        std::string text;
        EXPECT_TRUE(_device->getParameters(&text));
        std::map<std::string, std::string> values;
        std::stringstream in(text);
        std::string pair;
        while (std::getline(in, pair, ';')) {
            const size_t eq = pair.find('=');
            values[pair.substr(0, eq)] = eq == std::string::npos ? "" : pair.substr(eq + 1);
        }
        return values;
    }

    // The current parameters with changes applied and the removed keys left out, handed to
    // set_parameters.
    int setParameters(const std::map<std::string, std::string>& changes,
                      const std::vector<std::string>& removed = {}) {
        std::map<std::string, std::string> values = parameters();
        for (const auto& change : changes) {
            values[change.first] = change.second;
        }
        for (const std::string& key : removed) {
            values.erase(key);
        }
        std::string flat;
        for (const auto& entry : values) {
            flat += (flat.empty() ? "" : ";") + entry.first + "=" + entry.second;
        }
        return _device->setParameters(flat.c_str());
    }

    LogCapture _log;
    GuestHost _host{VEMO_HOSTD_PATH};
    std::unique_ptr<guest::CameraService> _service;
    std::unique_ptr<guest::CameraDevice> _device;
    guest::CallbackRecorder _callbacks;
    guest::PreviewWindow _window;

private:
    std::string _folder;
};

}  // namespace test
}  // namespace vemo
