#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "CameraService.h"
#include "HostTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::initRequest;
using test::request;
using test::TestClient;

class HostCameraService : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(_service.start("127.0.0.1", 0), 0); }

    // A client connected to the service with a live instance.
    std::unique_ptr<TestClient> initializedClient() {
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->open(_service.port()));
        return client;
    }

    test::HostLogCapture _log;
    HostConfig _config = HostConfig::withCameras(2);
    HostState _state{_config};
    CameraService _service{_state};
};

TEST_F(HostCameraService, ServesSeveralConnectionsAtOnce) {
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(initializedClient());
    }
    // Interleaved calls: each connection keeps its own instance and gets its own answers.
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < clients.size(); ++i) {
            const uint32_t ix = static_cast<uint32_t>(i % 2);
            const std::optional<Message> reply = clients[i]->call(request("getCameraFacing", ix));
            ASSERT_TRUE(reply);
            EXPECT_EQ(describe(*reply), ix == 0 ? "__return=u32:1" : "__return=u32:0");
        }
    }
    // One ending its instance leaves the others theirs.
    ASSERT_TRUE(clients[0]->call(request("__deleteThis")));
    const std::optional<Message> reply = clients[1]->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
}

TEST_F(HostCameraService, RequestArrivingByteByByteIsAssembled) {
    TestClient client;
    ASSERT_TRUE(client.connect(_service.port()));
    for (uint8_t byte : test::packetOf(initRequest().encode())) {
        ASSERT_TRUE(client.sendRaw({byte}));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const std::optional<Message> reply = client.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:0");
}

struct Malformed {
    const char* name;
    std::vector<uint8_t> bytes;  // sent raw, then the client stops writing
    const char* logged;
};

class HostCameraServiceFault : public HostCameraService,
                               public ::testing::WithParamInterface<Malformed> {};

TEST_P(HostCameraServiceFault, EndsOnlyThatConnection) {
    std::unique_ptr<TestClient> bystander = initializedClient();
    std::unique_ptr<TestClient> offender = initializedClient();

    ASSERT_TRUE(offender->sendRaw(GetParam().bytes));
    offender->shutdownWrite();
    EXPECT_TRUE(offender->waitForClose());
    EXPECT_EQ(_log.countContaining(std::string("closed: ") + GetParam().logged), 1u);

    const std::optional<Message> reply = bystander->call(request("getCameraName", 1));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=str:\"Vemo Test Pattern (front)\"");
    // A new connection is served as well.
    std::unique_ptr<TestClient> newcomer = initializedClient();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HostCameraServiceFault,
    ::testing::Values(
        Malformed{"BadTypeCode",
                  test::packetOf(test::bytesOf(std::string_view("__function\0\x05x\0\0", 15))),
                  "bad type code 5 at offset 11"},
        Malformed{
            "MissingEndByte",
            test::packetOf(test::bytesOf(std::string_view("__function\0\0getNumCameras\0", 26))),
            "no end byte"},
        Malformed{"LengthOverLimit", test::hexBytes("01 00 00 04 00 00 00 00"),
                  "packet length 67108865 above limit 67108864"},
        Malformed{"LengthZero", test::hexBytes("00 00 00 00"), "packet length 0"},
        Malformed{"ClosedInsidePayload", test::hexBytes("1B 00 00 00 5F 5F 66"),
                  "connection closed mid-packet (3 of 27 payload bytes)"},
        Malformed{"ClosedInsideLength", test::hexBytes("1B 00"),
                  "connection closed mid-packet (2 of 4 length bytes)"}),
    [](const ::testing::TestParamInfo<Malformed>& info) { return info.param.name; });

}  // namespace
}  // namespace host
}  // namespace vemo
