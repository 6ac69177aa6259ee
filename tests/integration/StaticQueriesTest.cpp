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

#include "support/HostProcess.h"
#include "support/LittleEndian.h"
#include "support/LogCapture.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"

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

TEST_F(StaticQueries, CountOrientationAndCameraInfoComeFromTheHost) {
    ASSERT_NO_FATAL_FAILURE(startHost({"--cameras", "3", "--orientation", "180",  //
                                       "--camera", "0:facing=0,orientation=90",   //
                                       "--camera", "1:facing=1,orientation=180",  //
                                       "--camera", "2:facing=7,orientation=270"}));
    EXPECT_EQ(_service->getNumberOfCameras(), 3);
    EXPECT_EQ(_service->getCurrentOrientation(), 180);
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

// A flattened message of string and u32 entries, in the order given (already sorted by key).
ScriptedServer::Bytes message(const std::vector<std::pair<std::string, std::string>>& strings,
                              const std::vector<std::pair<std::string, uint32_t>>& numbers = {}) {
    ScriptedServer::Bytes bytes;
    for (const auto& [key, value] : strings) {
        bytes.insert(bytes.end(), key.begin(), key.end());
        bytes.insert(bytes.end(), {0, 0});
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.push_back(0);
    }
    for (const auto& [key, value] : numbers) {
        bytes.insert(bytes.end(), key.begin(), key.end());
        bytes.insert(bytes.end(), {0, 3});
        appendLe32(&bytes, value);
    }
    bytes.push_back(0);
    return bytes;
}

// What the queries put on the wire, byte for byte, as a host that is not vemo-hostd sees them:
// each on a connection of its own, the instance, the call and the deletion, each answered in
// turn, then the connection's end.
TEST_F(StaticQueries, AQueryIsThreeExchangesOnAConnectionOfItsOwn) {
    std::vector<std::vector<ScriptedServer::Bytes>> requests;
    int closedAfter = 0;
    ScriptedServer host(
        [&](int fd) {
            // Facing code 1 faces away; the mounting orientation is 270.
            const uint32_t answer = requests.empty() ? 1 : 270;
            const ScriptedServer::Bytes replies[] = {
                message({}), message({}, {{"__return", answer}}), message({})};
            requests.emplace_back();
            for (const ScriptedServer::Bytes& reply : replies) {
                ScriptedServer::Bytes request;
                if (!ScriptedServer::readPacket(fd, &request) ||
                    !ScriptedServer::writeAll(fd, ScriptedServer::packet(reply))) {
                    return;
                }
                requests.back().push_back(request);
            }
            ScriptedServer::Bytes more;
            closedAfter += ScriptedServer::readExactly(fd, &more, 1) ? 0 : 1;
        },
        2);
    setenv("VEMO_NAT_PORT_10072", std::to_string(host.port()).c_str(), 1);
    camera_info info;
    EXPECT_EQ(_service->getCameraInfo(2, &info), 0);
    host.join();

    const ScriptedServer::Bytes create =
        message({{"__function", "__initThis"}, {"__remote_class", "CameraDevice"}});
    const ScriptedServer::Bytes remove = message({{"__function", "__deleteThis"}});
    EXPECT_EQ(
        requests,
        (std::vector<std::vector<ScriptedServer::Bytes>>{
            {create, message({{"__function", "getCameraFacing"}}, {{"ix", 2}}), remove},
            {create, message({{"__function", "getCameraOrientation"}}, {{"ix", 2}}), remove}}));
    EXPECT_EQ(closedAfter, 2);
    EXPECT_EQ(info.facing, CAMERA_FACING_BACK);
    EXPECT_EQ(info.orientation, 270);
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
