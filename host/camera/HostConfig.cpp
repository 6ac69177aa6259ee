#include "HostConfig.h"

namespace vemo {
namespace host {

CameraConfig HostConfig::defaultCamera(size_t ix) {
    CameraConfig camera;
    if (ix == 0) {
        camera.name = "Vemo Test Pattern (back)";
    } else if (ix == 1) {
        camera.facing = kFacingFront;
        camera.name = "Vemo Test Pattern (front)";
    } else {
        camera.name = "Vemo Test Pattern (" + std::to_string(ix) + ")";
    }
    return camera;
}

HostConfig HostConfig::withCameras(size_t count) {
    HostConfig config;
    for (size_t ix = 0; ix < count; ++ix) {
        config.cameras.push_back(defaultCamera(ix));
    }
    return config;
}

}  // namespace host
}  // namespace vemo
