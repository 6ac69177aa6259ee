// The still-capture step.

#include "VemoCamera.h"

namespace android {

void CVemoCamera::handleTakePicture() {}

}  // namespace android
