// The camera-service stand-in loads only what is a camera module, and says why it refuses the
// rest; how it opens and drives the module's devices is the device tests' part.

#include <dlfcn.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/CameraService.h"

namespace vemo {
namespace test {

namespace {

// Returns the error text of a load that must fail.
std::string refusal(const std::string& path) {
    std::string error;
    const std::unique_ptr<guest::CameraService> service = guest::CameraService::load(path, &error);
    EXPECT_EQ(service, nullptr) << path;
    return error;
}

TEST(CameraService, LoadsTheModuleAndRecordsItsHandle) {
    std::string error;
    const std::unique_ptr<guest::CameraService> service =
        guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error);
    ASSERT_NE(service, nullptr) << error;
    EXPECT_STREQ(service->module().id, CAMERA_HARDWARE_MODULE_ID);
    EXPECT_NE(service->module().dso, nullptr);
}

// Beside HMI the module exports its NV21 compressor, and none of its other classes.
TEST(CameraService, TheModuleExportsItsDescriptorAndItsCompressorOnly) {
    void* module = dlopen(VEMO_CAMERA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* exported :
         {"HMI", "_ZN7android18NV21JpegCompressorC1Ev", "_ZN7android18NV21JpegCompressorD1Ev",
          "_ZN7android18NV21JpegCompressor16compressRawImageEPKviii",
          "_ZTVN7android18NV21JpegCompressorE"}) {
        EXPECT_NE(dlsym(module, exported), nullptr) << exported;
    }
    for (const char* hidden :
         {"_ZN7android13CRemoteCamera12getNumCameraEv",
          "_ZN7android11CVemoCamera5closeEP11hw_device_t", "_ZN10HGCMStream9sendData1EPvj"}) {
        EXPECT_EQ(dlsym(module, hidden), nullptr) << hidden;
    }
    dlclose(module);
}

TEST(CameraService, RefusesWhatIsNotACameraModule) {
    EXPECT_NE(refusal("/nonexistent/camera.vemo.so").find("/nonexistent/camera.vemo.so"),
              std::string::npos);
    EXPECT_NE(refusal(VEMO_PLATFORM_LIBRARY_PATH).find("exports no HMI"), std::string::npos);
    EXPECT_NE(refusal(VEMO_FAKE_MODULE_BAD_TAG_PATH).find("not a hardware module (tag 0x"),
              std::string::npos);
    EXPECT_NE(
        refusal(VEMO_FAKE_MODULE_OTHER_ID_PATH).find("module id is \"gralloc\", not \"camera\""),
        std::string::npos);
}

}  // namespace

}  // namespace test
}  // namespace vemo
