// Layouts the platform's loader and camera service read field by field. Compiled natively and
// for a 32-bit guest (-m32), where the published figures hold; compiling is the test.

#include <stddef.h>

#include <hardware/camera_common.h>
#include <hardware/hardware.h>
#include <hardware/vemo_camera_module.h>
#include <vbox/VBoxGuest.h>

#define CHECK_SIZE(type, size32, size64) \
    static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), "size of " #type)
#define CHECK_OFFSET(type, field, off32, off64)                                      \
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

// The guest driver's HGCM requests.
static_assert(sizeof(VBoxGuestHGCMConnectInfo) == 140, "connect request");
static_assert(offsetof(VBoxGuestHGCMConnectInfo, Loc) == 4, "connect location");
static_assert(offsetof(VBoxGuestHGCMConnectInfo, u32ClientID) == 136, "connect client id");
static_assert(sizeof(VBoxGuestHGCMDisconnectInfo) == 8, "disconnect request");
static_assert(sizeof(VBoxGuestHGCMCallInfo) == 16, "call header");
static_assert(sizeof(HGCMFunctionParameter32) == 12, "32-bit call parameter");
static_assert(sizeof(HGCMFunctionParameter64) == 16, "64-bit call parameter");
static_assert(offsetof(HGCMFunctionParameter64, u.Pointer.size) == 4, "64-bit parameter size");
static_assert(offsetof(HGCMFunctionParameter64, u.Pointer.u.linearAddr) == 8,
              "64-bit parameter address");
static_assert(offsetof(HGCMFunctionParameter32, u.Pointer.u.linearAddr) == 8,
              "32-bit parameter address");
#define CALL_SIZE(n) (sizeof(VBoxGuestHGCMCallInfo) + (n) * sizeof(HGCMFunctionParameter))
static_assert(CALL_SIZE(2) == (sizeof(void*) == 4 ? 40 : 48), "call request, 2 parameters");
static_assert(CALL_SIZE(3) == (sizeof(void*) == 4 ? 52 : 64), "call request, 3 parameters");
static_assert(VBOXGUEST_IOCTL_HGCM_CONNECT == (sizeof(void*) == 4 ? 0xC08C5610u : 0xC08C5690u),
              "connect request number");
static_assert(VBOXGUEST_IOCTL_HGCM_DISCONNECT == (sizeof(void*) == 4 ? 0xC0085611u : 0xC0085691u),
              "disconnect request number");
static_assert(VBOXGUEST_IOCTL_HGCM_CALL(CALL_SIZE(2)) ==
                  (sizeof(void*) == 4 ? 0xC0285612u : 0xC0305692u),
              "call request number, 2 parameters");
static_assert(VBOXGUEST_IOCTL_HGCM_CALL(CALL_SIZE(3)) ==
                  (sizeof(void*) == 4 ? 0xC0345612u : 0xC0405692u),
              "call request number, 3 parameters");

int main() {
    return 0;
}
