#include "FrameSource.h"

#include "TestPattern.h"

namespace vemo {
namespace host {

std::unique_ptr<IFrameSource> IFrameSource::create(const CameraConfig& camera) {
    // The square is orange on cameras that face the back and blue on those that face the user.
    return std::make_unique<TestPattern>(camera.facing == kFacingFront ? 0xFF2896E6 : 0xFFE65A28);
}

std::string IFrameSource::describe(const CameraConfig&) {
    return "pattern";
}

}  // namespace host
}  // namespace vemo
