#pragma once

// The simulated guest's stand-in for the platform's camera service: it loads a camera module
// the way the platform's loader does and calls it through the module's descriptor only.

#include <memory>
#include <string>

#include <hardware/camera_common.h>
#include <hardware/hardware.h>
#include <hardware/vemo_camera_module.h>

#include "service/CameraDevice.h"

namespace vemo {
namespace guest {

// One loaded camera module. The queries and opens take no lock and may run on any thread; the
// module keeps no state between them. Nothing taken from module() may be used after
// destruction, which unloads the module: every device opened must be closed first.
class CameraService {
public:
    // Loads the shared object at path and checks its descriptor: the exported symbol HMI, the
    // hardware-module tag, the module id "camera" and the three query functions. On failure
    // returns null and sets *error to one line that names the file and the problem.
    static std::unique_ptr<CameraService> load(const std::string& path, std::string* error);

    ~CameraService();

    CameraService(const CameraService&) = delete;
    CameraService& operator=(const CameraService&) = delete;

    const hw_module_t& module() const { return _descriptor->common; }

    int getNumberOfCameras() const;
    int getCurrentOrientation() const;
    // Fills info for camera id and returns the module's result, 0 on success.
    int getCameraInfo(int id, camera_info* info) const;

    // Opens a device the way the platform does: the module's methods->open with the camera id
    // as text. id and device go to the module as given (null included), so that *device is
    // written by the module alone. Returns the module's result, or -ENOSYS when the module has
    // no open function.
    int openDevice(const char* id, hw_device_t** device) const;
    // Opens camera id (any text, as openDevice) and hands the device to *device. Returns 0, the
    // module's failure, or -EPROTO for a device without its close function or operations (one
    // that has a close function is closed again).
    int open(const char* id, std::unique_ptr<CameraDevice>* device) const;
    int open(int id, std::unique_ptr<CameraDevice>* device) const;

private:
    CameraService(void* handle, vemo_camera_module_t* descriptor);

    void* _handle;
    vemo_camera_module_t* _descriptor;
};

}  // namespace guest
}  // namespace vemo
