#pragma once

#include <hardware/camera_common.h>
#include <hardware/hardware.h>
#include <hardware/vemo_camera_module.h>

extern "C" vemo_camera_module_t HAL_MODULE_INFO_SYM;

namespace android {

extern hw_module_methods_t _camera_methods;

int _get_number_of_cameras();
int _get_current_orientation();
int _get_camera_info(int id, struct camera_info* info);
int _open(const hw_module_t* module, const char* id, hw_device_t** device);

}  // namespace android
