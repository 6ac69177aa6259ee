#include "CameraModule.h"

#include <stdlib.h>

#include <log/log.h>

#include <new>

#include "RemoteCamera.h"
#include "VemoCamera.h"

namespace android {

hw_module_methods_t _camera_methods = {_open};

int _get_number_of_cameras() {
    const int count = CRemoteCamera::getNumCamera();
    ALOGD("%s: Found number of camera - %d", "_get_number_of_cameras", count);
    return count;
}

int _get_current_orientation() {
    return CRemoteCamera::getCurrentOrientation();
}

int _get_camera_info(int id, struct camera_info* info) {
    if (info == nullptr) {
        ALOGE("%s: No camera info to fill", "_get_camera_info");
        return -22;
    }
    info->device_version = CAMERA_DEVICE_API_VERSION_1_0;
    info->static_camera_characteristics = nullptr;
    info->facing =
        CRemoteCamera::getCameraFacing(id) == 0 ? CAMERA_FACING_FRONT : CAMERA_FACING_BACK;
    info->orientation = CRemoteCamera::getCameraOrientation(id);
    ALOGD("%s: get camera info - %d, %d, %d", "_get_camera_info", id, info->facing,
          info->orientation);
    return 0;
}

int _open(const hw_module_t* module, const char* id, hw_device_t** device) {
    if (id == nullptr || module == nullptr) {
        ALOGE("ERR");
        return -22;
    }
    if (device == nullptr || atoi(id) > 1) {
        return -22;
    }
    const int index = atoi(id);
    CVemoCamera* camera = new (std::nothrow) CVemoCamera(index, module);
    if (camera == nullptr) {
        return -12;
    }
    if (!camera->isConnected()) {
        // A device without its host would fail every operation.
        ALOGE("%s: Camera %d is not reachable on the host", "_open", index);
        delete camera;
        return -19;
    }
    *device = &camera->device()->common;
    return 0;
}

}  // namespace android

__attribute__((visibility("default"))) vemo_camera_module_t HAL_MODULE_INFO_SYM = {
    {
        HARDWARE_MODULE_TAG,
        CAMERA_MODULE_API_VERSION_2_0,
        HARDWARE_HAL_API_VERSION,
        CAMERA_HARDWARE_MODULE_ID,
        "Vemo Camera Module",
        "Zorvex Inc.",
        &android::_camera_methods,
        nullptr,
        {0},
    },
    android::_get_number_of_cameras,
    android::_get_current_orientation,
    android::_get_camera_info,
};
