#include "VemoCamera.h"

#include <stdio.h>
#include <string.h>

#include <hardware/gralloc.h>
#include <log/log.h>
#include <system/graphics.h>

namespace android {

namespace {

// How long a pass that found nothing to do waits before it looks again. Requests wake the
// worker at once, so this only bounds how often an idle worker looks at the power status.
const int kIdleWaitMs = 10;

const int kPreviewUsage = GRALLOC_USAGE_PRIVATE_1 | GRALLOC_USAGE_HW_RENDER |
                          GRALLOC_USAGE_HW_TEXTURE | GRALLOC_USAGE_SW_READ_RARELY;

}  // namespace

camera_device_ops_t CVemoCamera::_dev_ops = {
    CVemoCamera::setPreviewWindow,
    CVemoCamera::setCallbacks,
    CVemoCamera::enableMsgType,
    CVemoCamera::disableMsgType,
    CVemoCamera::msgTypeEnabled,
    CVemoCamera::startPreview,
    CVemoCamera::stopPreview,
    CVemoCamera::previewEnabled,
    CVemoCamera::storeMetaDataInBuffers,
    CVemoCamera::startRecording,
    CVemoCamera::stopRecording,
    CVemoCamera::recordingEnabled,
    CVemoCamera::releaseRecordingFrame,
    CVemoCamera::autoFocus,
    CVemoCamera::cancelAutoFocus,
    CVemoCamera::takePicture,
    CVemoCamera::cancelPicture,
    CVemoCamera::setParameters,
    CVemoCamera::getParameters,
    CVemoCamera::putParameters,
    CVemoCamera::sendCommand,
    CVemoCamera::release,
    CVemoCamera::dump,
};

CVemoCamera::CVemoCamera(int id, const hw_module_t* module)
    : _camera_id(id),
      _preview_ops(nullptr),
      _window_busy(false),
      _window_changes(0),
      _first_preview_frame(false),
      _camera(nullptr),
      _previewing(false),
      _recording(false),
      _take_picture(false),
      _auto_focus(false),
      _host_lost_reported(false),
      _msg_enabled(0),
      _jpeg_quality(90),
      _worker(nullptr),
      _preview_width(0),
      _preview_height(0),
      _notify_cb(nullptr),
      _data_cb(nullptr),
      _data_cb_timestamp(nullptr),
      _request_memory(nullptr),
      _cb_cookie(nullptr),
      _meta_data_in_buffers(false),
      _changed(0),
      _new_exposure(0),
      _new_white_balance(0),
      _new_preview_width(0),
      _new_preview_height(0),
      _new_picture_width(0),
      _new_picture_height(0),
      _new_video_width(0),
      _new_video_height(0),
      _pass_busy(false),
      _white_balance_supported(true) {
    memset(&_device, 0, sizeof(_device));
    _device.common.tag = HARDWARE_DEVICE_TAG;
    _device.common.version = CAMERA_DEVICE_API_VERSION_1_0;
    _device.common.module = const_cast<hw_module_t*>(module);
    _device.common.close = CVemoCamera::close;
    _device.ops = &_dev_ops;
    _device.priv = this;

    setDefaultParams();

    _camera = new CRemoteCamera();
    // Without the host the device can't work; _open hands out no device then.
    if (_camera->setCameraIx(id) == 0) {
        _camera->setPreviewFormat(CameraParameters::PIXEL_FORMAT_YUV420SP);
        const AString preferred = _camera->getPreferredPreviewSize();
        if (sscanf(preferred.c_str(), "%dx%d", &_preview_width, &_preview_height) != 2 ||
            _preview_width <= 0 || _preview_height <= 0) {
            _preview_width = 1280;
            _preview_height = 720;
        }
        char size[32];
        snprintf(size, sizeof(size), "%dx%d", _preview_width, _preview_height);
        _params.setPictureSize(_preview_width, _preview_height);
        _params.setPreviewSize(_preview_width, _preview_height);
        _camera->setPreviewSize(size);
        _camera->setPictureSize(size);
        setHostParams();
    }
    _worker = new CWorkerThread(this);
    ALOGE("%s", "CVemoCamera");
}

CVemoCamera::~CVemoCamera() {
    _take_picture = false;
    _recording = false;
    _previewing = false;
    _worker->stop();
    delete _worker;
    delete _camera;
}

CVemoCamera* CVemoCamera::fromDevice(camera_device_t* dev, const char* operation) {
    CVemoCamera* camera = dev != nullptr ? static_cast<CVemoCamera*>(dev->priv) : nullptr;
    if (camera == nullptr) {
        ALOGE("%s: Unexpected NULL camera device", operation);
    }
    return camera;
}

int CVemoCamera::close(hw_device_t* device) {
    camera_device_t* dev = reinterpret_cast<camera_device_t*>(device);
    CVemoCamera* camera = dev != nullptr ? static_cast<CVemoCamera*>(dev->priv) : nullptr;
    if (camera == nullptr) {
        return -22;
    }
    if (camera->_worker->isWorkerThread()) {
        // From a callback: the pass under way still uses the device.
        ALOGE("%s: Called on the camera's own worker thread; refused", "close");
        return -22;
    }
    delete camera;
    ALOGE("<<< %s", "close");
    return 0;
}

// --- operations table entries

int CVemoCamera::setPreviewWindow(camera_device_t* dev, preview_stream_ops* window) {
    CVemoCamera* camera = fromDevice(dev, "setPreviewWindow");
    return camera != nullptr ? camera->setPreviewWindow(window) : -22;
}

void CVemoCamera::setCallbacks(camera_device_t* dev, camera_notify_callback notify,
                               camera_data_callback data,
                               camera_data_timestamp_callback dataTimestamp,
                               camera_request_memory requestMemory, void* cookie) {
    CVemoCamera* camera = fromDevice(dev, "setCallbacks");
    if (camera != nullptr) {
        camera->setCallbacks(notify, data, dataTimestamp, requestMemory, cookie);
    }
}

void CVemoCamera::enableMsgType(camera_device_t* dev, int32_t type) {
    CVemoCamera* camera = fromDevice(dev, "enableMsgType");
    if (camera != nullptr) {
        camera->enableMsgType(type);
    }
}

void CVemoCamera::disableMsgType(camera_device_t* dev, int32_t type) {
    CVemoCamera* camera = fromDevice(dev, "disableMsgType");
    if (camera != nullptr) {
        camera->disableMsgType(type);
    }
}

int CVemoCamera::msgTypeEnabled(camera_device_t* dev, int32_t type) {
    CVemoCamera* camera = fromDevice(dev, "msgTypeEnabled");
    return camera != nullptr ? camera->msgTypeEnabled(type) : -22;
}

int CVemoCamera::startPreview(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "startPreview");
    return camera != nullptr ? camera->startPreview() : -22;
}

void CVemoCamera::stopPreview(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "stopPreview");
    if (camera != nullptr) {
        camera->stopPreview();
    }
}

int CVemoCamera::previewEnabled(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "previewEnabled");
    return camera != nullptr ? camera->previewEnabled() : -22;
}

int CVemoCamera::storeMetaDataInBuffers(camera_device_t* dev, int enable) {
    CVemoCamera* camera = fromDevice(dev, "storeMetaDataInBuffers");
    return camera != nullptr ? camera->storeMetaDataInBuffers(enable) : -22;
}

int CVemoCamera::startRecording(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "startRecording");
    return camera != nullptr ? camera->startRecording() : -22;
}

void CVemoCamera::stopRecording(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "stopRecording");
    if (camera != nullptr) {
        camera->stopRecording();
    }
}

int CVemoCamera::recordingEnabled(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "recordingEnabled");
    return camera != nullptr ? camera->recordingEnabled() : -22;
}

void CVemoCamera::releaseRecordingFrame(camera_device_t* dev, const void* opaque) {
    CVemoCamera* camera = fromDevice(dev, "releaseRecordingFrame");
    if (camera != nullptr) {
        camera->releaseRecordingFrame(opaque);
    }
}

int CVemoCamera::autoFocus(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "autoFocus");
    return camera != nullptr ? camera->autoFocus() : -22;
}

int CVemoCamera::cancelAutoFocus(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "cancelAutoFocus");
    return camera != nullptr ? camera->cancelAutoFocus() : -22;
}

int CVemoCamera::takePicture(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "takePicture");
    return camera != nullptr ? camera->takePicture() : -22;
}

int CVemoCamera::cancelPicture(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "cancelPicture");
    return camera != nullptr ? camera->cancelPicture() : -22;
}

int CVemoCamera::setParameters(camera_device_t* dev, const char* params) {
    CVemoCamera* camera = fromDevice(dev, "setParameters");
    return camera != nullptr ? camera->setParameters(params) : -22;
}

char* CVemoCamera::getParameters(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "getParameters");
    return camera != nullptr ? camera->getParameters() : nullptr;
}

void CVemoCamera::putParameters(camera_device_t* dev, char* params) {
    CVemoCamera* camera = fromDevice(dev, "putParameters");
    if (camera != nullptr) {
        camera->putParameters(params);
    }
}

int CVemoCamera::sendCommand(camera_device_t* dev, int32_t cmd, int32_t arg1, int32_t arg2) {
    CVemoCamera* camera = fromDevice(dev, "sendCommand");
    return camera != nullptr ? camera->sendCommand(cmd, arg1, arg2) : -22;
}

void CVemoCamera::release(camera_device_t* dev) {
    CVemoCamera* camera = fromDevice(dev, "release");
    if (camera != nullptr) {
        camera->release();
    }
}

int CVemoCamera::dump(camera_device_t* dev, int fd) {
    CVemoCamera* camera = fromDevice(dev, "dump");
    return camera != nullptr ? camera->dump(fd) : -22;
}

// --- members

int CVemoCamera::setPreviewWindow(preview_stream_ops* window) {
    std::unique_lock<std::mutex> lock(_lock);
    // Once this returns, the camera service may destroy the window it took away.
    ++_window_changes;
    _window_idle.wait(lock, [this] { return !_window_busy; });
    --_window_changes;
    _preview_ops = window;
    if (window == nullptr) {
        _previewing = false;
        lock.unlock();
        stopWorkerIfIdle();
        return 0;
    }
    window->set_usage(window, kPreviewUsage);
    if (window->set_buffers_geometry(window, _preview_width, _preview_height,
                                     HAL_PIXEL_FORMAT_RGB_888) != 0) {
        ALOGE("Unable to set preview window dimensions");
        return -22;
    }
    return 0;
}

void CVemoCamera::setCallbacks(camera_notify_callback notify, camera_data_callback data,
                               camera_data_timestamp_callback dataTimestamp,
                               camera_request_memory requestMemory, void* cookie) {
    std::lock_guard<std::mutex> guard(_lock);
    _notify_cb = notify;
    _data_cb = data;
    _data_cb_timestamp = dataTimestamp;
    _request_memory = requestMemory;
    _cb_cookie = cookie;
}

void CVemoCamera::enableMsgType(int32_t type) {
    {
        std::lock_guard<std::mutex> guard(_lock);
        _msg_enabled |= type;
    }
    wakeWorker();
}

void CVemoCamera::disableMsgType(int32_t type) {
    std::lock_guard<std::mutex> guard(_lock);
    _msg_enabled &= ~type;
}

int CVemoCamera::msgTypeEnabled(int32_t type) {
    std::lock_guard<std::mutex> guard(_lock);
    return _msg_enabled & type;
}

camera_memory_t* CVemoCamera::requestBlock(camera_request_memory requestMemory, size_t size) {
    camera_memory_t* memory = requestMemory(-1, size, 1, nullptr);
    if (memory == nullptr) {
        return nullptr;
    }
    if (memory->data == nullptr || memory->data == reinterpret_cast<void*>(UINTPTR_MAX) ||
        memory->size < size) {
        if (memory->release != nullptr) {
            memory->release(memory);
        }
        return nullptr;
    }
    return memory;
}

int CVemoCamera::startWorkerLocked() {
    return _worker->start() == 0 ? 0 : -12;
}

void CVemoCamera::wakeWorker() {
    if (_worker != nullptr) {
        _worker->wake();
    }
}

void CVemoCamera::stopWorkerIfIdle() {
    std::unique_lock<std::mutex> lock(_lock);
    stopWorkerIfIdleLocked(lock);
}

void CVemoCamera::stopWorkerIfIdleLocked(std::unique_lock<std::mutex>& lock) {
    if (_previewing || _recording || _take_picture) {
        return;
    }
    const uint64_t ticket = _worker->requestExit();
    lock.unlock();
    _worker->waitForExit(ticket);
    lock.lock();
}

int CVemoCamera::startPreview() {
    if (_previewing) {
        ALOGD("Request to Start preview while already previewing");
        return 0;
    }
    if (hostLost("startPreview")) {
        return -19;
    }
    std::unique_lock<std::mutex> lock(_lock);
    _previewing = true;
    _first_preview_frame = true;
    if (_camera->captureFrame(0) == HOST_BUSY) {
        _previewing = false;
        stopWorkerIfIdleLocked(lock);
    }
    unsigned long size = 0;
    unsigned long tsLow = 0;
    unsigned long tsHigh = 0;
    delete[] _camera->getFrameContents(1, &size, &tsLow, &tsHigh);
    if (startWorkerLocked() != 0) {
        _previewing = false;
        return -12;
    }
    lock.unlock();
    wakeWorker();
    return 0;
}

void CVemoCamera::stopPreview() {
    _previewing = false;
    stopWorkerIfIdle();
}

int CVemoCamera::previewEnabled() {
    return _previewing ? 1 : 0;
}

int CVemoCamera::storeMetaDataInBuffers(int enable) {
    _meta_data_in_buffers = enable == 1;
    return 0;
}

int CVemoCamera::startRecording() {
    ALOGE(">>> %s", "startRecording");
    if (_recording) {
        return 0;
    }
    if (hostLost("startRecording")) {
        return -19;
    }
    std::unique_lock<std::mutex> lock(_lock);
    _recording = true;
    if (startWorkerLocked() != 0) {
        _recording = false;
        return -12;
    }
    ALOGE("<<< %s", "startRecording");
    lock.unlock();
    wakeWorker();
    return 0;
}

void CVemoCamera::stopRecording() {
    ALOGE(">>> %s", "stopRecording");
    _recording = false;
    stopWorkerIfIdle();
    ALOGE("<<< %s", "stopRecording");
}

int CVemoCamera::recordingEnabled() {
    return _recording ? 1 : 0;
}

int CVemoCamera::autoFocus() {
    if (hostLost("autoFocus")) {
        return -19;
    }
    _auto_focus = true;
    wakeWorker();
    return 0;
}

int CVemoCamera::cancelAutoFocus() {
    _auto_focus = false;
    return 0;
}

int CVemoCamera::takePicture() {
    if (hostLost("takePicture")) {
        return -19;
    }
    int width = 0;
    int height = 0;
    AString format;
    int quality = 0;
    {
        std::lock_guard<std::mutex> guard(_lock);
        _params.getPictureSize(&width, &height);
        const char* value = _params.getPictureFormat();
        format.setTo(value != nullptr ? value : "");
        quality = _params.getInt(CameraParameters::KEY_JPEG_QUALITY);
    }
    ALOGE("takepicture  %d, %d, %s", width, height, format.c_str());
    const char* const supported[] = {
        CameraParameters::PIXEL_FORMAT_YUV420P, CameraParameters::PIXEL_FORMAT_RGBA8888,
        CameraParameters::PIXEL_FORMAT_YUV420SP, CameraParameters::PIXEL_FORMAT_JPEG};
    bool known = false;
    for (const char* candidate : supported) {
        known = known || strcmp(format.c_str(), candidate) == 0;
    }
    if (!known) {
        ALOGE("%s: Unsupported pixel format %s", "takePicture", format.c_str());
        return -22;
    }
    _jpeg_quality = quality > 0 ? quality : 90;
    _take_picture = true;
    wakeWorker();
    return 0;
}

int CVemoCamera::cancelPicture() {
    return 0;
}

int CVemoCamera::sendCommand(int32_t cmd, int32_t /*arg1*/, int32_t /*arg2*/) {
    if (cmd == CAMERA_CMD_START_FACE_DETECTION || cmd == CAMERA_CMD_STOP_FACE_DETECTION) {
        return -22;
    }
    return 0;
}

void CVemoCamera::release() {
    ALOGE(">>> %s", "release");
    _take_picture = false;
    _recording = false;
    _previewing = false;
    _worker->stop();
    ALOGE("<<< %s", "release");
}

int CVemoCamera::dump(int /*fd*/) {
    return 0;
}

bool CVemoCamera::inWorkerThread() {
    char status[PROPERTY_VALUE_MAX];
    property_get("com.vemo.power.status", status, "0");
    if (status[0] != _worker->powerStatus()[0]) {
        ALOGE("android going to sleep closing camera");
        // The proxy stays allocated until the device goes, so that a client thread inside it
        // is never left with a dangling object; from now on every host call fails at once.
        _camera->disconnect();
        // Nothing runs any more: the requests go, so that the state the client reads is true
        // and a later start begins afresh.
        _previewing = false;
        _recording = false;
        _take_picture = false;
        return false;
    }
    if (_camera->isBroken()) {
        // Every host call would fail at once: a pass would only spin, queueing empty buffers.
        reportLostHost();
        return false;
    }
    _pass_busy = false;
    bool changed = false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        changed = _changed != 0;
    }
    if (changed) {
        handleParamChange();
    }
    if (_previewing) {
        handlePreview();
    }
    if (_recording) {
        handleRecording();
    }
    if (_take_picture) {
        handleTakePicture();
    }
    if (_auto_focus && _previewing) {
        handleAutoFocusNotify();
    }
    if (!_pass_busy || !_camera->isConnected()) {
        _worker->waitForWork(kIdleWaitMs);
    }
    return true;
}

void CVemoCamera::reportLostHost() {
    _previewing = false;
    _recording = false;
    _take_picture = false;
    if (_host_lost_reported.exchange(true)) {
        return;
    }
    ALOGE("%s: The host connection is lost - Stopping preview, recording and picture",
          "inWorkerThread");
    notifyIfEnabled(CAMERA_MSG_ERROR, CAMERA_ERROR_UNKNOWN);
}

bool CVemoCamera::hostLost(const char* operation) const {
    if (!_camera->isBroken()) {
        return false;
    }
    ALOGE("%s: The host connection is lost", operation);
    return true;
}

void CVemoCamera::handleAutoFocusNotify() {
    camera_notify_callback notify = nullptr;
    void* cookie = nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if ((_msg_enabled & CAMERA_MSG_FOCUS) == 0) {
            return;
        }
        notify = _notify_cb;
        cookie = _cb_cookie;
    }
    if (notify != nullptr) {
        notify(CAMERA_MSG_FOCUS, 1, 0, cookie);
    }
}

}  // namespace android
