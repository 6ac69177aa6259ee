// Layouts the platform's loader and camera service read field by field. Compiled natively and
// for a 32-bit guest (-m32), where the published figures hold; compiling is the test.

#include <stddef.h>

#include <hardware/camera_common.h>
#include <hardware/hardware.h>
#include <hardware/vemo_camera_module.h>

#define CHECK_SIZE(type, size32, size64) \
    static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), "size of " #type)
#define CHECK_OFFSET(type, field, off32, off64)                                           \
    static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)), \
                  "offset of " #type "." #field)

CHECK_SIZE(hw_module_t, 128, 248);
CHECK_OFFSET(hw_module_t, tag, 0, 0);
CHECK_OFFSET(hw_module_t, module_api_version, 4, 4);
CHECK_OFFSET(hw_module_t, hal_api_version, 6, 6);
CHECK_OFFSET(hw_module_t, id, 8, 8);
CHECK_OFFSET(hw_module_t, name, 12, 16);
CHECK_OFFSET(hw_module_t, author, 16, 24);
CHECK_OFFSET(hw_module_t, methods, 20, 32);
CHECK_OFFSET(hw_module_t, dso, 24, 40);
CHECK_OFFSET(hw_module_t, reserved, 28, 48);

CHECK_SIZE(hw_module_methods_t, 4, 8);

CHECK_SIZE(hw_device_t, 64, 120);
CHECK_OFFSET(hw_device_t, version, 4, 4);
CHECK_OFFSET(hw_device_t, module, 8, 8);
CHECK_OFFSET(hw_device_t, reserved, 12, 16);
CHECK_OFFSET(hw_device_t, close, 60, 112);

CHECK_SIZE(camera_info_t, 16, 24);
CHECK_OFFSET(camera_info_t, facing, 0, 0);
CHECK_OFFSET(camera_info_t, orientation, 4, 4);
CHECK_OFFSET(camera_info_t, device_version, 8, 8);
CHECK_OFFSET(camera_info_t, static_camera_characteristics, 12, 16);

CHECK_SIZE(camera_module_t, 136, 264);
CHECK_OFFSET(camera_module_t, get_number_of_cameras, 128, 248);
CHECK_OFFSET(camera_module_t, get_camera_info, 132, 256);

// The module's own descriptor: the orientation query sits between the two generic ones.
CHECK_SIZE(vemo_camera_module_t, 140, 272);
CHECK_OFFSET(vemo_camera_module_t, get_number_of_cameras, 128, 248);
CHECK_OFFSET(vemo_camera_module_t, get_current_orientation, 132, 256);
CHECK_OFFSET(vemo_camera_module_t, get_camera_info, 136, 264);

static_assert(HARDWARE_MODULE_TAG == 0x48574D54, "module tag");
static_assert(HARDWARE_DEVICE_TAG == 0x48574454, "device tag");
static_assert(CAMERA_DEVICE_API_VERSION_1_0 == 0x100, "device version");
static_assert(CAMERA_MODULE_API_VERSION_2_0 == 0x200, "module version");
static_assert(CAMERA_FACING_BACK == 0 && CAMERA_FACING_FRONT == 1, "facing values");

int main() { return 0; }
