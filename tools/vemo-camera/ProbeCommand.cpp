// vemo-camera probe: one open camera's connection to the host, made with the module's own
// camera proxy over the guest driver, and every call an open camera makes on it.

#include <stdio.h>

#include <string>
#include <vector>

#include "Arguments.h"
#include "CameraSession.h"
#include "Commands.h"
#include "ModuleLog.h"
#include "RemoteCamera.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

// Lists longer than this are not a camera's offer but a broken answer.
const int kMaxSizes = 64;
const unsigned long kVideoStream = 0;
const unsigned long kPreviewStream = 1;
const unsigned long kProbeFps = 30;

std::string featureText(int answer) {
    return answer != 0 ? "supported" : "not supported";
}

// Each step is one call or a few; after each, a broken connection ends the probe with the
// module's explanation.
class Probe {
public:
    Probe(android::CRemoteCamera& camera, ModuleLog& log, int index)
        : _camera(camera), _log(log), _index(index) {}

    // The error line of the first failed call, empty while all went well.
    const std::string& error() const { return _error; }

    bool connect() {
        _log.take();
        if (_camera.setCameraIx(_index) != 0) {
            return failed("cannot bind the camera");
        }
        printf("camera %d: bound through the guest driver\n", _index);
        return true;
    }

    bool sizes() {
        const int previews = _camera.getNumPreviewSize();
        if (!ok("getNumPreviewSize") || !countInRange("preview", previews)) {
            return false;
        }
        std::vector<std::string> previewSizes;
        if (!list("getPreviewSize", previews, &previewSizes,
                  [this](int i) { return _camera.getPreviewSize(i); })) {
            return false;
        }
        const android::AString preferred = _camera.getPreferredPreviewSize();
        if (!ok("getPreferredPreviewSize")) {
            return false;
        }
        // There is no count of picture sizes: the module offers the preview sizes for pictures.
        std::vector<std::string> pictureSizes;
        if (!list("getPictureSize", previews, &pictureSizes,
                  [this](int i) { return _camera.getPictureSize(i); })) {
            return false;
        }
        const int videos = _camera.getNumVideoSize();
        if (!ok("getNumVideoSize") || !countInRange("video", videos)) {
            return false;
        }
        std::vector<std::string> videoSizes;
        if (!list("getVideoSize", videos, &videoSizes,
                  [this](int i) { return _camera.getVideoSize(static_cast<unsigned long>(i)); })) {
            return false;
        }
        printf("preview sizes: %s\n", joined(previewSizes).c_str());
        printf("preferred preview size: %s\n", preferred.c_str());
        printf("picture sizes: %s\n", joined(pictureSizes).c_str());
        printf("video sizes: %s\n", joined(videoSizes).c_str());
        _preferred = preferred.c_str();
        _picture = pictureSizes.empty() ? _preferred : pictureSizes.front();
        _video = videoSizes.empty() ? _preferred : videoSizes.front();
        return true;
    }

    bool features() {
        const unsigned long id = static_cast<unsigned long>(_index);
        const int whiteBalance = _camera.isWhiteBalanceSupported(id);
        if (!ok("isWhiteBalanceSupported")) {
            return false;
        }
        const int autoFocus = _camera.isAutoFocusSupported(id);
        if (!ok("isAutoFocusSupported")) {
            return false;
        }
        const int exposure = _camera.isExposureSupported(id);
        if (!ok("isExposureSupported")) {
            return false;
        }
        _whiteBalanceMode = _camera.getWhiteBalanceMode(id);
        if (!ok("getWhiteBalanceMode")) {
            return false;
        }
        printf("white balance: %s, mode %d\n", featureText(whiteBalance).c_str(),
               _whiteBalanceMode);
        printf("auto focus: %s\n", featureText(autoFocus).c_str());
        printf("exposure compensation: %s\n", featureText(exposure).c_str());
        return true;
    }

    // The settings an open camera pushes, each to a value the host offered or already had, so
    // that the probe changes nothing.
    bool settings() {
        const unsigned long id = static_cast<unsigned long>(_index);
        const bool done =
            set("setPreviewFormat",
                [&] { _camera.setPreviewFormat(android::AString("yuv420sp")); }) &&
            set("setPreviewSize",
                [&] { _camera.setPreviewSize(android::AString(_preferred.c_str())); }) &&
            set("setPreviewFPS", [&] { _camera.setPreviewFPS(kProbeFps); }) &&
            set("setPictureFormat", [&] { _camera.setPictureFormat(android::AString("jpeg")); }) &&
            set("setPictureSize",
                [&] { _camera.setPictureSize(android::AString(_picture.c_str())); }) &&
            set("setVideoFormat", [&] { _camera.setVideoFormat(android::AString("yuv420sp")); }) &&
            set("setVideoSize", [&] { _camera.setVideoSize(android::AString(_video.c_str())); }) &&
            set("setWhiteBalanceMode",
                [&] {
                    _camera.setWhiteBalanceMode(id, static_cast<unsigned long>(_whiteBalanceMode));
                }) &&
            set("setExposureCompensation", [&] { _camera.setExposureCompensation(id, 0); });
        if (!done) {
            return false;
        }
        printf("settings: preview yuv420sp %s at %lu fps, picture jpeg %s, video yuv420sp %s\n",
               _preferred.c_str(), kProbeFps, _picture.c_str(), _video.c_str());
        return true;
    }

    bool frames() {
        const int status = _camera.captureFrame(0);
        if (!ok("captureFrame")) {
            return false;
        }
        printf("capture: status %d%s\n", status, status == android::HOST_BUSY ? " (busy)" : "");
        // The probe has no preview window; buffer 0 stands for its buffer.
        _camera.updateFrameToCB(0, 0);
        if (!ok("updateFrameToCB")) {
            return false;
        }
        return frame("video frame", &android::CRemoteCamera::getFrameContents, kVideoStream,
                     false) &&
               frame("preview frame", &android::CRemoteCamera::getPreviewContents, kPreviewStream,
                     false) &&
               frame("photo", &android::CRemoteCamera::getPhotoFrameContents, 0, true) &&
               frame("thumbnail", &android::CRemoteCamera::getThumbnailContents, 0, true);
    }

    bool sample() {
        unsigned long store = 0;
        unsigned long long number = 0;
        unsigned long long timestamp = 0;
        const int saved = _camera.saveFrameToSampleStore(&store, &number, &timestamp);
        if (saved != 0 || !ok("saveFrameToSampleStore")) {
            return _error.empty() ? failed("saveFrameToSampleStore failed") : false;
        }
        const int released = _camera.releaseOneFrame(store, number);
        if (!ok("releaseOneFrame")) {
            return false;
        }
        printf("sample: store %lu, number %llu, timestamp %llu us; released with %d\n", store,
               number, timestamp, released);
        return true;
    }

private:
    using Fetch = unsigned char* (android::CRemoteCamera::*)(unsigned long, unsigned long*,
                                                             unsigned long*, unsigned long*);

    bool frame(const char* what, Fetch fetch, unsigned long id, bool jpeg) {
        unsigned long size = 0;
        unsigned long low = 0;
        unsigned long high = 0;
        unsigned char* bytes = (_camera.*fetch)(id, &size, &low, &high);
        if (!ok(what)) {
            delete[] bytes;
            return false;
        }
        const unsigned long long timestamp =
            (static_cast<unsigned long long>(high & 0xFFFFFFFFul) << 32) | (low & 0xFFFFFFFFul);
        if (bytes == nullptr) {
            printf("%s: none, timestamp %llu us\n", what, timestamp);
            return true;
        }
        const bool isJpeg = size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
        delete[] bytes;
        const char* kind = "";
        if (jpeg) {
            kind = isJpeg ? ", JPEG" : ", not a JPEG file";
        }
        printf("%s: %lu bytes%s, timestamp %llu us\n", what, size, kind, timestamp);
        return true;
    }

    template <typename Call>
    bool set(const char* function, Call call) {
        call();
        return ok(function);
    }

    template <typename Get>
    bool list(const char* function, int count, std::vector<std::string>* sizes, Get get) {
        for (int i = 0; i < count; ++i) {
            const android::AString size = get(i);
            if (!ok(function)) {
                return false;
            }
            sizes->push_back(size.c_str());
        }
        return true;
    }

    bool countInRange(const char* what, int count) {
        if (count < 0 || count > kMaxSizes) {
            return failed(std::string("the host offers ") + std::to_string(count) + " " + what +
                          " sizes");
        }
        return true;
    }

    // False, with the error set, when the last call broke the connection or the host refused
    // it.
    bool ok(const std::string& what) {
        if (!_camera.isConnected()) {
            return failed(what + " failed");
        }
        if (_log.lackedEntry()) {
            return failed(what + ": the host's answer lacks its result");
        }
        _log.take();
        return true;
    }

    bool failed(const std::string& what) {
        const std::string reason = _log.take();
        _error = "camera " + std::to_string(_index) + ": " + what +
                 (reason.empty() ? "" : " (" + reason + ")");
        return false;
    }

    static std::string joined(const std::vector<std::string>& sizes) {
        std::string text;
        for (const std::string& size : sizes) {
            text += (text.empty() ? "" : ", ") + size;
        }
        return text.empty() ? "none" : text;
    }

    android::CRemoteCamera& _camera;
    ModuleLog& _log;
    const int _index;
    std::string _error;
    std::string _preferred;
    std::string _picture;
    std::string _video;
    int _whiteBalanceMode = 0;
};

}  // namespace

int runProbe(guest::CameraService*, const Options& options) {
    if (!options.arguments.empty()) {
        return usageError("probe takes no arguments");
    }
    int index = 0;
    if (!options.camera.empty() && !parseCamera(options.camera, &index)) {
        return usageError("--camera needs a camera number, not '" + options.camera + "'");
    }
    if (!guestDriverPresent()) {
        return fail(kNoGuestDriver);
    }

    ModuleLog log(options.verbose);
    std::string error;
    {
        android::CRemoteCamera camera;
        Probe probe(camera, log, index);
        if (!probe.connect() || !probe.sizes() || !probe.features() || !probe.settings() ||
            !probe.frames() || !probe.sample()) {
            error = probe.error();
        }
    }
    return error.empty() ? 0 : fail(error);
}

}  // namespace tools
}  // namespace vemo
