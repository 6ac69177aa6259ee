#include "CameraDevice.h"

namespace vemo {
namespace guest {

CameraDevice::CameraDevice(camera_device_t* device) : _device(device) {}

CameraDevice::~CameraDevice() {
    if (_device != nullptr) {
        close();
    }
}

int CameraDevice::close() {
    camera_device_t* device = _device;
    _device = nullptr;
    return device->common.close(&device->common);
}

int CameraDevice::setPreviewWindow(preview_stream_ops* window) {
    return ops()->set_preview_window(_device, window);
}

void CameraDevice::setCallbacks(camera_notify_callback notify, camera_data_callback data,
                                camera_data_timestamp_callback dataTimestamp,
                                camera_request_memory requestMemory, void* user) {
    ops()->set_callbacks(_device, notify, data, dataTimestamp, requestMemory, user);
}

void CameraDevice::enableMsgType(int32_t type) {
    ops()->enable_msg_type(_device, type);
}

void CameraDevice::disableMsgType(int32_t type) {
    ops()->disable_msg_type(_device, type);
}

int CameraDevice::msgTypeEnabled(int32_t type) {
    return ops()->msg_type_enabled(_device, type);
}

int CameraDevice::startPreview() {
    return ops()->start_preview(_device);
}

void CameraDevice::stopPreview() {
    ops()->stop_preview(_device);
}

int CameraDevice::previewEnabled() {
    return ops()->preview_enabled(_device);
}

int CameraDevice::storeMetaDataInBuffers(int enable) {
    return ops()->store_meta_data_in_buffers(_device, enable);
}

int CameraDevice::startRecording() {
    return ops()->start_recording(_device);
}

void CameraDevice::stopRecording() {
    ops()->stop_recording(_device);
}

int CameraDevice::recordingEnabled() {
    return ops()->recording_enabled(_device);
}

void CameraDevice::releaseRecordingFrame(const void* opaque) {
    ops()->release_recording_frame(_device, opaque);
}

int CameraDevice::autoFocus() {
    return ops()->auto_focus(_device);
}

int CameraDevice::cancelAutoFocus() {
    return ops()->cancel_auto_focus(_device);
}

int CameraDevice::takePicture() {
    return ops()->take_picture(_device);
}

int CameraDevice::cancelPicture() {
    return ops()->cancel_picture(_device);
}

int CameraDevice::setParameters(const char* parameters) {
    return ops()->set_parameters(_device, parameters);
}

bool CameraDevice::getParameters(std::string* parameters) {
    char* text = ops()->get_parameters(_device);
    if (text == nullptr) {
        return false;
    }
    *parameters = text;
    ops()->put_parameters(_device, text);
    return true;
}

int CameraDevice::sendCommand(int32_t command, int32_t arg1, int32_t arg2) {
    return ops()->send_command(_device, command, arg1, arg2);
}

void CameraDevice::release() {
    ops()->release(_device);
}

int CameraDevice::dump(int fd) {
    return ops()->dump(_device, fd);
}

}  // namespace guest
}  // namespace vemo
