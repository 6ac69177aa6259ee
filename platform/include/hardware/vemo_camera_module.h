#pragma once

// The descriptor of the vemo camera module as the platform's loader reads it: the module
// header followed by three query functions. The order is this module's own:
// get_current_orientation stands between get_number_of_cameras and get_camera_info, where the
// generic camera module has get_camera_info right after get_number_of_cameras. On a 32-bit
// guest the descriptor is 140 bytes, with the functions at 128, 132 and 136.

#include <hardware/camera_common.h>
#include <hardware/hardware.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vemo_camera_module {
    hw_module_t common;
    int (*get_number_of_cameras)(void);
    int (*get_current_orientation)(void);
    int (*get_camera_info)(int camera_id, struct camera_info* info);
} vemo_camera_module_t;

#ifdef __cplusplus
}
#endif
