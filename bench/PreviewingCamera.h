#pragma once

// A camera of the simulated guest previewing from a vemo-hostd of its own, for benchmarks that
// measure the preview path.

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"
#include "support/GuestHost.h"

namespace vemo {
namespace bench {

// A log hook that drops the module's lines, which would drown the tables.
inline void dropLogLine(int, const char*, const char*, void*) {}

struct Size {
    int width;
    int height;
    std::string text() const { return std::to_string(width) + "x" + std::to_string(height); }
};

// A camera previewing at size (the host's preferred size) for the length of one benchmark.
class Previewing {
public:
    // paced: the host delivers pictures at the camera's rate, as for a user; else as fast as
    // they are asked for.
    Previewing(const Size& size, bool callbacks, const std::vector<std::string>& extra = {},
               bool paced = false)
        : _host(VEMO_HOSTD_PATH, false) {
        _host.process().setPaced(paced);
        std::vector<std::string> args = {"--quiet", "--camera",
                                         "0:preview-sizes=" + size.text() + ",preferred=" +
                                             size.text() + ",video-sizes=1920x1080/1280x720"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        if (!_host.start(args) ||
            !(_service = vemo::guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error)) ||
            _service->open("0", &_device) != 0) {
            fprintf(stderr, "bench: no camera (%s %s)\n", _host.error().c_str(), error.c_str());
            return;
        }
        _callbacks.setKeepData(false);
        _callbacks.install(*_device);
        if (callbacks) {
            _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
        }
        _ok = true;
    }
    ~Previewing() {
        if (_device) {
            _device->stopPreview();
            _device->stopRecording();
            _device->setPreviewWindow(nullptr);
            _device->close();
        }
    }
    bool ok() const { return _ok; }
    vemo::guest::CameraDevice& device() { return *_device; }
    vemo::guest::PreviewWindow& window() { return _window; }
    vemo::guest::CallbackRecorder& callbacks() { return _callbacks; }
    vemo::test::HostProcess& host() { return _host.process(); }

private:
    vemo::test::GuestHost _host;
    std::unique_ptr<vemo::guest::CameraService> _service;
    std::unique_ptr<vemo::guest::CameraDevice> _device;
    vemo::guest::CallbackRecorder _callbacks;
    vemo::guest::PreviewWindow _window;
    bool _ok = false;
};

}  // namespace bench
}  // namespace vemo
