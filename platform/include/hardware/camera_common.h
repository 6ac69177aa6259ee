#pragma once

#include <stdint.h>

#include <hardware/hardware.h>
#include <system/camera.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CAMERA_HARDWARE_MODULE_ID "camera"

#define CAMERA_MODULE_API_VERSION_1_0 HARDWARE_MODULE_API_VERSION(1, 0)
#define CAMERA_MODULE_API_VERSION_2_0 HARDWARE_MODULE_API_VERSION(2, 0)
#define CAMERA_MODULE_API_VERSION_2_1 HARDWARE_MODULE_API_VERSION(2, 1)

#define CAMERA_DEVICE_API_VERSION_1_0 HARDWARE_DEVICE_API_VERSION(1, 0)
#define CAMERA_DEVICE_API_VERSION_2_0 HARDWARE_DEVICE_API_VERSION(2, 0)

typedef struct camera_metadata camera_metadata_t;

typedef struct camera_info {
    int facing;               // CAMERA_FACING_BACK or CAMERA_FACING_FRONT
    int orientation;          // degrees the image is rotated for an upright display
    uint32_t device_version;  // CAMERA_DEVICE_API_VERSION_*
    const camera_metadata_t* static_camera_characteristics;
} camera_info_t;

typedef struct camera_module {
    hw_module_t common;
    int (*get_number_of_cameras)(void);
    int (*get_camera_info)(int camera_id, struct camera_info* info);
} camera_module_t;

#ifdef __cplusplus
}
#endif
