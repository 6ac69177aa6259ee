// What one client may hold of the host: idle connections on every endpoint, clients of a driver
// handle, and pairings of clients that are not the socket's own.

#include <vemo/hgcm_wire.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "HgcmTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::controlRecord;
using test::describe;
using test::HgcmTestClient;
using test::request;
using test::TestCamera;
using test::TestClient;

HostConfig withIdleLimit(uint32_t ms) {
    HostConfig config = HostConfig::withCameras(2);
    config.limits.idleLimitMs = ms;
    return config;
}

TEST(HostLimits, IdleSocketsOnEveryEndpointLockNoGuestOutAndAreClosedAtTheLimit) {
    constexpr size_t kIdle = 300;
    ASSERT_GE(TcpServer::raiseDescriptorLimit(), 4 * kIdle);
    test::HostLogCapture log;
    test::HostRig rig(withIdleLimit(1000));
    ASSERT_TRUE(rig.started);
    std::vector<std::unique_ptr<TestClient>> tcp;
    std::vector<std::unique_ptr<HgcmTestClient>> handles;
    for (size_t i = 0; i < kIdle; ++i) {
        for (uint16_t port : {rig.camera.port(), rig.control.port()}) {
            tcp.push_back(std::make_unique<TestClient>());
            ASSERT_TRUE(tcp.back()->connect(port));
        }
        handles.push_back(std::make_unique<HgcmTestClient>());
        ASSERT_TRUE(handles.back()->open(rig.socketPath));
    }

    // A guest gets through all the same: a driver client paired with a session, and a camera
    // port instance.
    bool ok = false;
    TestCamera camera(rig, &ok);
    ASSERT_TRUE(ok && camera.init());
    TestClient instance;
    ASSERT_TRUE(instance.open(rig.camera.port()));

    // Past the limit every idle socket has been closed, the guest's are served on.
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    EXPECT_TRUE(std::all_of(tcp.begin(), tcp.end(), [](auto& c) { return c->waitForClose(); }));
    EXPECT_TRUE(
        std::all_of(handles.begin(), handles.end(), [](auto& h) { return h->waitForClose(); }));
    const std::optional<Message> reply = camera.call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
    EXPECT_TRUE(instance.call(request("getNumCameras")));
}

TEST(HostLimits, ClientIdsAreRandomAndAHandleHoldsAtMostItsLimit) {
    test::HostRig rig;
    ASSERT_TRUE(rig.started);
    HgcmTestClient driver;
    ASSERT_TRUE(driver.open(rig.socketPath));
    std::set<uint32_t> ids;
    for (uint32_t i = 0; i < rig.config.limits.maxDriverClients; ++i) {
        uint32_t id = 0;
        ASSERT_EQ(driver.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
        EXPECT_NE(id, 0u);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 16u);
    // Counted ids would span 15; random ones spread over the whole range.
    EXPECT_GT(*ids.rbegin() - *ids.begin(), 1000u);
    uint32_t refused = 0;
    EXPECT_EQ(driver.connect(HgcmService::kName, &refused), VEMO_VERR_NOT_SUPPORTED);

    // Another handle is not held back, and a disconnect makes room again.
    HgcmTestClient other;
    uint32_t id = 0;
    ASSERT_TRUE(other.open(rig.socketPath));
    EXPECT_EQ(other.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
    ASSERT_EQ(driver.disconnect(*ids.begin()), VEMO_VINF_SUCCESS);
    EXPECT_EQ(driver.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
}

}  // namespace
}  // namespace host
}  // namespace vemo
