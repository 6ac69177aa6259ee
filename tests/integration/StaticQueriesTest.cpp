// The module's static queries, made the way the platform makes them (through HMI, by the
// camera-service stand-in), against a vemo-hostd of each test's own. "ro.tolvd.ip" stays
// unset: the module asks the host alias, which the guest's NAT maps to the loopback port of
// that vemo-hostd.

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <cutils/properties.h>
#include <gtest/gtest.h>
#include "service/CameraService.h"

#include "LoopbackSockets.h"
#include "support/HostProcess.h"
#include "support/LogCapture.h"

namespace vemo {
namespace test {

namespace {

class StaticQueries : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(guestNatActive()) << "the module would reach for the real host alias";
        char host[PROPERTY_VALUE_MAX];
        ASSERT_EQ(property_get("ro.tolvd.ip", host, nullptr), 0) << host;
        std::string error;
        _service = guest::CameraService::load(VEMO_CAMERA_MODULE_PATH, &error);
        ASSERT_NE(_service, nullptr) << error;
    }

    void TearDown() override { unsetenv("VEMO_NAT_PORT_10072"); }

    void startHost(const std::vector<std::string>& args) {
        ASSERT_TRUE(_host.start(args)) << _host.error();
        ASSERT_GT(_host.cameraPort(), 0) << "ready line without camera-port: " << _host.output();
        setenv("VEMO_NAT_PORT_10072", std::to_string(_host.cameraPort()).c_str(), 1);
    }

    // Asks the module about camera id with every field of info preset to garbage.
    camera_info cameraInfo(int id) {
        camera_info info;
        memset(&info, 0xA5, sizeof(info));
        EXPECT_EQ(_service->getCameraInfo(id, &info), 0) << "camera " << id;
        return info;
    }

    HostProcess _host{VEMO_HOSTD_PATH};
    std::unique_ptr<guest::CameraService> _service;
};

TEST_F(StaticQueries, CountAndCurrentOrientationComeFromTheHost) {
    ASSERT_NO_FATAL_FAILURE(startHost({"--cameras", "3", "--orientation", "90"}));
    EXPECT_EQ(_service->getNumberOfCameras(), 3);
    EXPECT_EQ(_service->getCurrentOrientation(), 90);
}

TEST_F(StaticQueries, CameraInfoCarriesFacingAndMountingOrientation) {
    ASSERT_NO_FATAL_FAILURE(startHost({"--cameras", "3",                          //
                                       "--camera", "0:facing=0,orientation=90",   //
                                       "--camera", "1:facing=1,orientation=180",  //
                                       "--camera", "2:facing=7,orientation=270"}));
    // Host code 0 is a camera that faces the user; every other code faces away.
    const int expectedFacing[] = {CAMERA_FACING_FRONT, CAMERA_FACING_BACK, CAMERA_FACING_BACK};
    const int expectedOrientation[] = {90, 180, 270};
    for (int id = 0; id < 3; ++id) {
        const camera_info info = cameraInfo(id);
        EXPECT_EQ(info.facing, expectedFacing[id]) << "camera " << id;
        EXPECT_EQ(info.orientation, expectedOrientation[id]) << "camera " << id;
        EXPECT_EQ(info.device_version, static_cast<uint32_t>(CAMERA_DEVICE_API_VERSION_1_0));
        EXPECT_EQ(info.static_camera_characteristics, nullptr);
    }
}

// vemo-hostd refuses a camera id it does not have, and the module passes on the 0 of the failed
// calls: facing code 0 (front), orientation 0. A module that clamped the id to its last camera
// would report camera 0 instead; one that checked the id against the count would fail.
TEST_F(StaticQueries, IdBeyondTheCountIsPassedToTheHostUnchanged) {
    ASSERT_NO_FATAL_FAILURE(startHost({"--cameras", "1", "--camera", "0:facing=1,orientation=90"}));
    LogCapture log;
    const camera_info info = cameraInfo(5);
    EXPECT_EQ(info.facing, CAMERA_FACING_FRONT);
    EXPECT_EQ(info.orientation, 0);
    EXPECT_EQ(info.device_version, static_cast<uint32_t>(CAMERA_DEVICE_API_VERSION_1_0));
    EXPECT_TRUE(log.contains("_get_camera_info: get camera info - 5, 1, 0"));
    EXPECT_FALSE(log.contains("Remote Camera connect failed"));
}

// The only test that waits for the module to give up on the host: about 5 s.
TEST_F(StaticQueries, UnreachableHostMeansNoCameras) {
    RefusingPort nobody;
    ASSERT_GT(nobody.port(), 0);
    setenv("VEMO_NAT_PORT_10072", std::to_string(nobody.port()).c_str(), 1);
    LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(_service->getNumberOfCameras(), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Five attempts, each followed by a second's pause.
    EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    EXPECT_EQ(log.count("getNumCamera"), 1u);
    EXPECT_EQ(log.count("Remote Camera connect failed"), 1u);
    EXPECT_TRUE(log.contains("_get_number_of_cameras: Found number of camera - 0"));
}

}  // namespace

}  // namespace test
}  // namespace vemo
