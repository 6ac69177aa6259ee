// A module descriptor that is almost a camera module's: the build gives it a wrong tag or a
// wrong id, so that the camera-service stand-in has something to refuse.

#include <hardware/vemo_camera_module.h>

namespace {

int getNumberOfCameras() {
    return 1;
}

int getCurrentOrientation() {
    return 0;
}

int getCameraInfo(int, struct camera_info*) {
    return 0;
}

}  // namespace

__attribute__((visibility("default"))) vemo_camera_module_t HAL_MODULE_INFO_SYM = {
    {
        FAKE_MODULE_TAG,
        CAMERA_MODULE_API_VERSION_2_0,
        HARDWARE_HAL_API_VERSION,
        FAKE_MODULE_ID,
        "Fake Camera Module",
        "Vemo tests",
        nullptr,
        nullptr,
        {0},
    },
    getNumberOfCameras,
    getCurrentOrientation,
    getCameraInfo,
};
