#include "FakeCameraDevice.h"

#include <stdlib.h>
#include <string.h>

namespace vemo {
namespace test {

namespace {

FakeCameraDevice* fake(camera_device_t* device) {
    return static_cast<FakeCameraDevice*>(device->priv);
}

// Records the operation and returns a result that names it, so a test sees which slot ran.
int called(camera_device_t* device, const char* name, int result) {
    fake(device)->calls.push_back(name);
    return result;
}

camera_device_ops_t makeOps() {
    camera_device_ops_t ops;
    memset(&ops, 0, sizeof(ops));
    ops.set_preview_window = [](camera_device_t* d, preview_stream_ops* w) {
        fake(d)->lastPointer = w;
        return called(d, "set_preview_window", 101);
    };
    ops.set_callbacks = [](camera_device_t* d, camera_notify_callback notify,
                           camera_data_callback data, camera_data_timestamp_callback timestamp,
                           camera_request_memory memory, void* user) {
        FakeCameraDevice* f = fake(d);
        f->notify = notify;
        f->data = data;
        f->dataTimestamp = timestamp;
        f->requestMemory = memory;
        f->cookie = user;
        called(d, "set_callbacks", 0);
    };
    ops.enable_msg_type = [](camera_device_t* d, int32_t type) {
        fake(d)->lastInt = type;
        called(d, "enable_msg_type", 0);
    };
    ops.disable_msg_type = [](camera_device_t* d, int32_t type) {
        fake(d)->lastInt = type;
        called(d, "disable_msg_type", 0);
    };
    ops.msg_type_enabled = [](camera_device_t* d, int32_t type) {
        fake(d)->lastInt = type;
        return called(d, "msg_type_enabled", 105);
    };
    ops.start_preview = [](camera_device_t* d) { return called(d, "start_preview", 106); };
    ops.stop_preview = [](camera_device_t* d) { called(d, "stop_preview", 0); };
    ops.preview_enabled = [](camera_device_t* d) { return called(d, "preview_enabled", 108); };
    ops.store_meta_data_in_buffers = [](camera_device_t* d, int enable) {
        fake(d)->lastInt = enable;
        return called(d, "store_meta_data_in_buffers", 109);
    };
    ops.start_recording = [](camera_device_t* d) { return called(d, "start_recording", 110); };
    ops.stop_recording = [](camera_device_t* d) { called(d, "stop_recording", 0); };
    ops.recording_enabled = [](camera_device_t* d) { return called(d, "recording_enabled", 112); };
    ops.release_recording_frame = [](camera_device_t* d, const void* opaque) {
        fake(d)->lastPointer = opaque;
        called(d, "release_recording_frame", 0);
    };
    ops.auto_focus = [](camera_device_t* d) { return called(d, "auto_focus", 114); };
    ops.cancel_auto_focus = [](camera_device_t* d) { return called(d, "cancel_auto_focus", 115); };
    ops.take_picture = [](camera_device_t* d) { return called(d, "take_picture", 116); };
    ops.cancel_picture = [](camera_device_t* d) { return called(d, "cancel_picture", 117); };
    ops.set_parameters = [](camera_device_t* d, const char* text) {
        fake(d)->lastPointer = text;
        return called(d, "set_parameters", 118);
    };
    ops.get_parameters = [](camera_device_t* d) -> char* {
        FakeCameraDevice* f = fake(d);
        called(d, "get_parameters", 0);
        f->handedOut = f->parametersFail ? nullptr : strdup(f->parameters.c_str());
        return f->handedOut;
    };
    ops.put_parameters = [](camera_device_t* d, char* text) {
        fake(d)->putBack = text;
        free(text);
        called(d, "put_parameters", 0);
    };
    ops.send_command = [](camera_device_t* d, int32_t command, int32_t, int32_t) {
        fake(d)->lastInt = command;
        return called(d, "send_command", 121);
    };
    ops.release = [](camera_device_t* d) { called(d, "release", 0); };
    ops.dump = [](camera_device_t* d, int fd) {
        fake(d)->lastInt = fd;
        return called(d, "dump", 123);
    };
    return ops;
}

camera_device_ops_t gOps = makeOps();

}  // namespace

FakeCameraDevice::FakeCameraDevice() {
    memset(&_device, 0, sizeof(_device));
    _device.common.tag = HARDWARE_DEVICE_TAG;
    _device.common.close = [](hw_device_t* header) {
        auto* device = reinterpret_cast<camera_device_t*>(header);
        return called(device, "close", fake(device)->closeResult);
    };
    _device.ops = &gOps;
    _device.priv = this;
}

}  // namespace test
}  // namespace vemo
