// vemo-camera list: what the platform's camera service learns about the cameras at start-up.

#include <stdio.h>

#include <string>

#include "Commands.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

// Every camera costs the module three exchanges with the host; a count past this is not a
// camera set but a broken answer.
const int kMaxCameras = 64;

const char* facingName(int facing) {
    switch (facing) {
        case CAMERA_FACING_BACK:
            return "back";
        case CAMERA_FACING_FRONT:
            return "front";
        default:
            return "unknown";
    }
}

}  // namespace

int runList(guest::CameraService* service, const Options& options) {
    if (!options.arguments.empty()) {
        return usageError("list takes no arguments");
    }
    const int count = service->getNumberOfCameras();
    if (count <= 0) {
        return fail("no cameras: the host camera service is unreachable or offers none");
    }
    if (count > kMaxCameras) {
        return fail("the module reports " + std::to_string(count) + " cameras, more than " +
                    std::to_string(kMaxCameras));
    }
    printf("cameras: %d\n", count);
    for (int id = 0; id < count; ++id) {
        camera_info info = {};
        const int result = service->getCameraInfo(id, &info);
        if (result != 0) {
            return fail("camera " + std::to_string(id) + ": get_camera_info failed (" +
                        std::to_string(result) + ")");
        }
        printf("camera %d: facing %s, orientation %d\n", id, facingName(info.facing),
               info.orientation);
    }
    printf("current orientation: %d\n", service->getCurrentOrientation());
    return 0;
}

}  // namespace tools
}  // namespace vemo
