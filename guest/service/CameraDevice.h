#pragma once

// One open camera device as the camera service holds it: the module's camera_device_t, closed
// through its own close function when the holder is done with it.

#include <stdint.h>

#include <string>

#include <hardware/camera.h>

namespace vemo {
namespace guest {

// Owns one device handed out by a module's open. The helpers call the operation of the same
// name through the device's operations table and nothing more; tests that need an operation
// with unusual arguments call it through ops() with raw() themselves. The object takes no lock:
// the operations may be called from any thread as the module allows, but close() and the
// destructor must not overlap any of them.
class CameraDevice {
public:
    // Takes over device, which must come from the module's open.
    explicit CameraDevice(camera_device_t* device);
    // Closes the device unless close() did already.
    ~CameraDevice();

    CameraDevice(const CameraDevice&) = delete;
    CameraDevice& operator=(const CameraDevice&) = delete;

    // The device as the module handed it out; null after close().
    camera_device_t* raw() const { return _device; }
    camera_device_ops_t* ops() const { return _device->ops; }

    // Closes the device through common.close and returns its result. The device is given up
    // whatever the result: the module owns it from then on.
    int close();
    bool closed() const { return _device == nullptr; }

    int setPreviewWindow(preview_stream_ops* window);
    void setCallbacks(camera_notify_callback notify, camera_data_callback data,
                      camera_data_timestamp_callback dataTimestamp,
                      camera_request_memory requestMemory, void* user);
    void enableMsgType(int32_t type);
    void disableMsgType(int32_t type);
    int msgTypeEnabled(int32_t type);
    int startPreview();
    void stopPreview();
    int previewEnabled();
    int storeMetaDataInBuffers(int enable);
    int startRecording();
    void stopRecording();
    int recordingEnabled();
    void releaseRecordingFrame(const void* opaque);
    int autoFocus();
    int cancelAutoFocus();
    int takePicture();
    int cancelPicture();
    int setParameters(const char* parameters);
    // The text of get_parameters, handed back at once through put_parameters. Returns false
    // when the module returns null.
    bool getParameters(std::string* parameters);
    int sendCommand(int32_t command, int32_t arg1, int32_t arg2);
    void release();
    int dump(int fd);

private:
    camera_device_t* _device;
};

}  // namespace guest
}  // namespace vemo
