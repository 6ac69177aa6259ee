#include "CameraDevice.h"

#include <unordered_map>

#include "RemoteKeys.h"

namespace vemo {
namespace host {

namespace {

CallStatus u32Argument(const Message& request, std::string_view key, uint32_t* value) {
    const std::optional<uint32_t> found = request.u32(key);
    if (!found) {
        return CallStatus::error("missing u32 argument " + std::string(key));
    }
    *value = *found;
    return CallStatus::ok();
}

CallStatus done(Message* reply) {
    reply->set(keys::kReturn, Value::u32(0));
    return CallStatus::ok();
}

// A 64-bit value as the entries "<name>_high" and "<name>_low".
void setU64(Message* reply, const std::string& name, uint64_t value) {
    reply->set(name + "_high", Value::u32(static_cast<uint32_t>(value >> 32)));
    reply->set(name + "_low", Value::u32(static_cast<uint32_t>(value)));
}

void setFrame(Message* reply, const uint8_t* data, size_t size, uint64_t timestamp) {
    reply->set("frame", Value::borrowedBuffer(data, static_cast<uint32_t>(size)));
    setU64(reply, "ts", timestamp);
}

}  // namespace

std::optional<uint32_t> CameraDevice::cameraIx() const {
    return _camera != nullptr ? std::optional<uint32_t>(_cameraIx) : std::nullopt;
}

CameraDevice::Handler CameraDevice::findHandler(std::string_view function) {
    static const std::unordered_map<std::string_view, Handler> kFunctions = {
        {"getNumCameras", &CameraDevice::getNumCameras},
        {"getCurrentOrientation", &CameraDevice::getCurrentOrientation},
        {"getCameraName", &CameraDevice::getCameraName},
        {"getCameraOrientation", &CameraDevice::getCameraOrientation},
        {"getCameraFacing", &CameraDevice::getCameraFacing},
        {"setCameraIx", &CameraDevice::setCameraIx},
        {"getNumPreviewSize", &CameraDevice::getNumPreviewSize},
        {"getPreviewSize", &CameraDevice::getPreviewSize},
        {"getPreferredPreviewSize", &CameraDevice::getPreferredPreviewSize},
        {"getPictureSize", &CameraDevice::getPictureSize},
        {"getNumVideoSize", &CameraDevice::getNumVideoSize},
        {"getVideoSize", &CameraDevice::getVideoSize},
        {"setPreviewSize", &CameraDevice::setPreviewSize},
        {"setPictureSize", &CameraDevice::setPictureSize},
        {"setVideoSize", &CameraDevice::setVideoSize},
        {"setPreviewFormat", &CameraDevice::setPreviewFormat},
        {"setPictureFormat", &CameraDevice::setPictureFormat},
        {"setVideoFormat", &CameraDevice::setVideoFormat},
        {"setPreviewFPS", &CameraDevice::setPreviewFPS},
        {"captureFrame", &CameraDevice::captureFrame},
        {"updateFrameToCB", &CameraDevice::updateFrameToCB},
        {"getFrameContents", &CameraDevice::getFrameContents},
        {"getPreviewContents", &CameraDevice::getPreviewContents},
        {"getPhotoFrameContents", &CameraDevice::getPhotoFrameContents},
        {"getThumbnailContents", &CameraDevice::getThumbnailContents},
        {"setExposureCompensation", &CameraDevice::setExposureCompensation},
        {"setWhiteBalanceMode", &CameraDevice::setWhiteBalanceMode},
        {"getWhiteBalanceMode", &CameraDevice::getWhiteBalanceMode},
        {"isWhiteBalanceSupported", &CameraDevice::isWhiteBalanceSupported},
        {"isAutoFocusSupported", &CameraDevice::isAutoFocusSupported},
        {"isExposureSupported", &CameraDevice::isExposureSupported},
        {"saveFrameToSampleStore", &CameraDevice::saveFrameToSampleStore},
        {"releaseOneFrame", &CameraDevice::releaseOneFrame},
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

CallStatus CameraDevice::selectedCamera(CameraState** camera) const {
    if (_camera == nullptr) {
        return CallStatus::error("no camera selected; setCameraIx must come first");
    }
    *camera = _camera.get();
    return CallStatus::ok();
}

CallStatus CameraDevice::identifiedCamera(const Message& request, CameraState** camera) const {
    uint32_t id = 0;
    CallStatus status = u32Argument(request, "id", &id);
    if (status.isOk()) {
        status = selectedCamera(camera);
    }
    if (status.isOk() && id != _cameraIx) {
        status = CallStatus::error("id " + std::to_string(id) + " is not the selected camera " +
                                   std::to_string(_cameraIx));
    }
    return status;
}

CallStatus CameraDevice::setText(const Message& request, std::string_view key, TextSetter setter,
                                 Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (!status.isOk()) {
        return status;
    }
    const std::string* text = request.text(key);
    if (text == nullptr) {
        return CallStatus::error("missing string argument " + std::string(key));
    }
    status = (camera->*setter)(*text);
    return status.isOk() ? done(reply) : status;
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

CallStatus CameraDevice::setCameraIx(const Message& request, Message* reply) {
    const CameraConfig* camera = nullptr;
    CallStatus status = cameraArgument(request, &camera);
    if (!status.isOk()) {
        return status;
    }
    // A second selection starts afresh: the guest's choices belonged to the other camera.
    _camera.reset();
    _cameraIx = static_cast<uint32_t>(camera - _config.cameras.data());
    _camera = std::make_unique<CameraState>(_state, _cameraIx);
    return done(reply);
}

CallStatus CameraDevice::sizeAt(const Message& request, const std::vector<FrameSize>& sizes,
                                Message* reply) const {
    uint32_t ix = 0;
    CallStatus status = u32Argument(request, "ix", &ix);
    if (status.isOk() && ix >= sizes.size()) {
        status = CallStatus::error("size ix " + std::to_string(ix) + " out of range (" +
                                   std::to_string(sizes.size()) + " sizes)");
    }
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::string(sizes[ix].text()));
    }
    return status;
}

CallStatus CameraDevice::getNumPreviewSize(const Message&, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        reply->set(keys::kReturn,
                   Value::u32(static_cast<uint32_t>(camera->camera().previewSizes.size())));
    }
    return status;
}

CallStatus CameraDevice::getPreviewSize(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    return status.isOk() ? sizeAt(request, camera->camera().previewSizes, reply) : status;
}

CallStatus CameraDevice::getPreferredPreviewSize(const Message&, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::string(camera->camera().preferredPreviewSize.text()));
    }
    return status;
}

CallStatus CameraDevice::getPictureSize(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    return status.isOk() ? sizeAt(request, camera->camera().offeredPictureSizes(), reply) : status;
}

CallStatus CameraDevice::getNumVideoSize(const Message&, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        reply->set(keys::kReturn,
                   Value::u32(static_cast<uint32_t>(camera->camera().videoSizes.size())));
    }
    return status;
}

CallStatus CameraDevice::getVideoSize(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    return status.isOk() ? sizeAt(request, camera->camera().videoSizes, reply) : status;
}

CallStatus CameraDevice::setPreviewSize(const Message& request, Message* reply) {
    return setText(request, "size", &CameraState::setPreviewSize, reply);
}

CallStatus CameraDevice::setPictureSize(const Message& request, Message* reply) {
    return setText(request, "size", &CameraState::setPictureSize, reply);
}

CallStatus CameraDevice::setVideoSize(const Message& request, Message* reply) {
    return setText(request, "size", &CameraState::setVideoSize, reply);
}

CallStatus CameraDevice::setPreviewFormat(const Message& request, Message* reply) {
    return setText(request, "format", &CameraState::setPreviewFormat, reply);
}

CallStatus CameraDevice::setPictureFormat(const Message& request, Message* reply) {
    return setText(request, "format", &CameraState::setPictureFormat, reply);
}

CallStatus CameraDevice::setVideoFormat(const Message& request, Message* reply) {
    return setText(request, "format", &CameraState::setVideoFormat, reply);
}

CallStatus CameraDevice::setPreviewFPS(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    uint32_t fps = 0;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        status = u32Argument(request, "fps", &fps);
    }
    if (status.isOk()) {
        status = camera->setPreviewFps(fps);
    }
    return status.isOk() ? done(reply) : status;
}

CallStatus CameraDevice::captureFrame(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    uint32_t id = 0;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        status = u32Argument(request, "id", &id);
    }
    if (!status.isOk()) {
        return status;
    }
    if (_config.faults.busy) {
        reply->set(keys::kReturn, Value::u32(kHostBusy));
        return CallStatus::ok();
    }
    camera->capture();
    return done(reply);
}

CallStatus CameraDevice::updateFrameToCB(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    uint32_t frameId = 0;
    uint32_t buffer = 0;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        status = u32Argument(request, "frame_id", &frameId);
    }
    if (status.isOk()) {
        status = u32Argument(request, "cb", &buffer);
    }
    if (!status.isOk()) {
        return status;
    }
    const std::vector<uint8_t>& rgb = camera->windowFrame();
    WindowBuffers::Picture picture;
    picture.rgb = rgb.data();
    picture.size = camera->previewSize();
    picture.timestamp = camera->timestamp();
    picture.number = camera->pictureNumber();
    status = _windows.write(buffer, picture);
    return status.isOk() ? done(reply) : status;
}

CallStatus CameraDevice::streamFrame(CameraState::Stream stream, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        const std::vector<uint8_t>& frame = camera->frame(stream);
        setFrame(reply, frame.data(), frame.size(), camera->timestamp());
    }
    return status;
}

CallStatus CameraDevice::getFrameContents(const Message& request, Message* reply) {
    uint32_t id = 0;
    CallStatus status = u32Argument(request, "id", &id);
    if (status.isOk() && id > 1) {
        status = CallStatus::error("no stream id " + std::to_string(id) + " (0 video, 1 preview)");
    }
    if (!status.isOk()) {
        return status;
    }
    return streamFrame(id == 0 ? CameraState::Stream::kVideo : CameraState::Stream::kPreview,
                       reply);
}

CallStatus CameraDevice::getPreviewContents(const Message& request, Message* reply) {
    uint32_t id = 0;
    CallStatus status = u32Argument(request, "id", &id);
    return status.isOk() ? streamFrame(CameraState::Stream::kPreview, reply) : status;
}

CallStatus CameraDevice::jpegFile(const Message& request,
                                  CallStatus (CameraState::*make)(const uint8_t** data,
                                                                  size_t* size),
                                  Message* reply) {
    CameraState* camera = nullptr;
    uint32_t id = 0;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        status = u32Argument(request, "id", &id);
    }
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (status.isOk()) {
        status = (camera->*make)(&data, &size);
    }
    if (status.isOk()) {
        setFrame(reply, data, size, camera->timestamp());
    }
    return status;
}

CallStatus CameraDevice::getPhotoFrameContents(const Message& request, Message* reply) {
    return jpegFile(request, &CameraState::photo, reply);
}

CallStatus CameraDevice::getThumbnailContents(const Message& request, Message* reply) {
    return jpegFile(request, &CameraState::thumbnail, reply);
}

CallStatus CameraDevice::setExposureCompensation(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    uint32_t value = 0;
    CallStatus status = identifiedCamera(request, &camera);
    if (status.isOk()) {
        status = u32Argument(request, "exposurevalue", &value);
    }
    if (status.isOk()) {
        status = camera->setExposure(static_cast<int32_t>(value));
    }
    return status.isOk() ? done(reply) : status;
}

CallStatus CameraDevice::setWhiteBalanceMode(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    uint32_t mode = 0;
    CallStatus status = identifiedCamera(request, &camera);
    if (status.isOk()) {
        status = u32Argument(request, "mode", &mode);
    }
    if (status.isOk()) {
        status = camera->setWhiteBalance(mode);
    }
    return status.isOk() ? done(reply) : status;
}

CallStatus CameraDevice::getWhiteBalanceMode(const Message& request, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = identifiedCamera(request, &camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::u32(camera->whiteBalance()));
    }
    return status;
}

CallStatus CameraDevice::feature(const Message& request, bool CameraConfig::*flag,
                                 Message* reply) const {
    CameraState* camera = nullptr;
    CallStatus status = identifiedCamera(request, &camera);
    if (status.isOk()) {
        reply->set(keys::kReturn, Value::u32(camera->camera().*flag ? 1 : 0));
    }
    return status;
}

CallStatus CameraDevice::isWhiteBalanceSupported(const Message& request, Message* reply) {
    return feature(request, &CameraConfig::whiteBalance, reply);
}

CallStatus CameraDevice::isAutoFocusSupported(const Message& request, Message* reply) {
    return feature(request, &CameraConfig::autoFocus, reply);
}

CallStatus CameraDevice::isExposureSupported(const Message& request, Message* reply) {
    return feature(request, &CameraConfig::exposure, reply);
}

CallStatus CameraDevice::saveFrameToSampleStore(const Message&, Message* reply) {
    CameraState* camera = nullptr;
    CallStatus status = selectedCamera(&camera);
    if (status.isOk()) {
        const CameraState::SavedSample saved = camera->saveVideoFrame();
        if (saved.number == 0) {
            // The store has logged why, once.
            return CallStatus::repeatedError("no memory left for samples");
        }
        reply->set("sample_store", Value::u32(saved.store));
        setU64(reply, "sample_num", saved.number);
        setU64(reply, "timestamp", saved.timestamp);
    }
    return status;
}

CallStatus CameraDevice::releaseOneFrame(const Message& request, Message* reply) {
    uint32_t store = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    CallStatus status = u32Argument(request, "sample_store", &store);
    if (status.isOk()) {
        status = u32Argument(request, "sample_num_high", &high);
    }
    if (status.isOk()) {
        status = u32Argument(request, "sample_num_low", &low);
    }
    if (status.isOk()) {
        const uint64_t number = (static_cast<uint64_t>(high) << 32) | low;
        const bool released = _state.samples.release(store, number);
        reply->set(keys::kReturn, Value::u32(released ? 0 : kUnknownSample));
    }
    return status;
}

}  // namespace host
}  // namespace vemo
