// The camera-service stand-in loads only what is a camera module, and says why it refuses the
// rest; it opens the module's devices as the platform does and plays the service's part with
// them against a vemo-hostd of the test's own.

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <system/graphics.h>
#include "service/CallbackRecorder.h"
#include "service/CameraService.h"
#include "service/PreviewWindow.h"

#include "LoopbackSockets.h"
#include "support/GuestHost.h"

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

class OpenCamera : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(guestNatActive()) << "the module would reach for the real host alias";
        ASSERT_TRUE(_host.start({"--cameras", "2", "--camera", "0:preferred=640x480"}))
            << _host.error();
        std::string error;
        _service = guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error);
        ASSERT_NE(_service, nullptr) << error;
    }

    GuestHost _host{VEMO_HOSTD_PATH};
    std::unique_ptr<guest::CameraService> _service;
};

// The id goes to the module as text, exactly as given; what the module refuses it leaves the
// caller's pointer alone.
TEST_F(OpenCamera, OpensThroughTheModulesOpenWithTheIdAsText) {
    int sentinel = 0;
    hw_device_t* raw = reinterpret_cast<hw_device_t*>(&sentinel);
    EXPECT_EQ(_service->openDevice("2", &raw), -22);
    EXPECT_EQ(_service->openDevice(nullptr, &raw), -22);
    EXPECT_EQ(raw, reinterpret_cast<hw_device_t*>(&sentinel));

    std::unique_ptr<guest::CameraDevice> device;
    ASSERT_EQ(_service->open(1, &device), 0);
    ASSERT_NE(device, nullptr);
    std::string parameters;
    ASSERT_TRUE(device->getParameters(&parameters));
    EXPECT_NE(parameters.find("preview-size="), std::string::npos) << parameters;
    EXPECT_EQ(device->close(), 0);
    EXPECT_TRUE(device->closed());
}

// A preview of the module into the fake allocator's window, with preview-frame callbacks, as
// the platform's camera service runs one.
TEST_F(OpenCamera, PreviewsIntoTheWindowWithFramesForTheClient) {
    std::unique_ptr<guest::CameraDevice> device;
    ASSERT_EQ(_service->open("0", &device), 0);
    guest::CallbackRecorder recorder;
    guest::PreviewWindow window;
    recorder.install(*device);
    device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    ASSERT_EQ(device->setPreviewWindow(window.ops()), 0);
    EXPECT_EQ(window.usage(), 0x20000302);
    EXPECT_EQ(window.width(), 640);
    EXPECT_EQ(window.height(), 480);
    EXPECT_EQ(window.format(), HAL_PIXEL_FORMAT_RGB_888);

    ASSERT_EQ(device->startPreview(), 0);
    EXPECT_TRUE(window.waitForEnqueued(3, std::chrono::seconds(20)));
    EXPECT_TRUE(recorder.waitFor(CAMERA_MSG_PREVIEW_FRAME, 3, std::chrono::seconds(20)));
    device->stopPreview();
    EXPECT_EQ(device->setPreviewWindow(nullptr), 0);

    const std::vector<std::string> operations = window.operations();
    ASSERT_GE(operations.size(), 8u);
    EXPECT_EQ(operations[0], "set_usage");
    EXPECT_EQ(operations[1], "set_buffers_geometry");
    for (size_t i = 2; i + 1 < operations.size(); i += 2) {
        EXPECT_EQ(operations[i], "dequeue_buffer") << i;
        EXPECT_EQ(operations[i + 1], "enqueue_buffer") << i;
    }
    EXPECT_EQ(window.misuses(), 0u);

    guest::WindowFrame frame;
    ASSERT_TRUE(window.shownFrame(&frame));
    EXPECT_EQ(frame.width, 640u);
    EXPECT_EQ(frame.height, 480u);
    EXPECT_GT(frame.sequence, 0u) << "the host did not fill the window buffer";

    // Every frame came in a block of the recorder's, handed back right after its callback.
    const std::vector<guest::CameraEvent> events = recorder.events();
    ASSERT_FALSE(events.empty());
    for (const guest::CameraEvent& event : events) {
        EXPECT_EQ(event.message, CAMERA_MSG_PREVIEW_FRAME);
        EXPECT_TRUE(event.ownBlock);
        EXPECT_EQ(event.size, 640u * 480 * 3 / 2);
        EXPECT_NE(event.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(recorder.outstandingBlocks(), 0u);
    EXPECT_EQ(device->close(), 0);
}

}  // namespace

}  // namespace test
}  // namespace vemo
