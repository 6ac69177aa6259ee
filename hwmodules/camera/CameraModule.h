#pragma once

#include <hardware/camera_common.h>
#include <hardware/hardware.h>

// The module descriptor: the platform's module header followed by the three query functions.
// The order is this module's own: get_current_orientation stands between
// get_number_of_cameras and get_camera_info (140 bytes on a 32-bit guest).
typedef struct vemo_camera_module {
    hw_module_t common;
    int (*get_number_of_cameras)(void);
    int (*get_current_orientation)(void);
    int (*get_camera_info)(int camera_id, struct camera_info* info);
} vemo_camera_module_t;

extern "C" vemo_camera_module_t HAL_MODULE_INFO_SYM;

namespace android {

extern hw_module_methods_t _camera_methods;

int _get_number_of_cameras();
int _get_current_orientation();
int _get_camera_info(int id, struct camera_info* info);
int _open(const hw_module_t* module, const char* id, hw_device_t** device);

}  // namespace android
