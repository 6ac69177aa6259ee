// Each fault mode, through the TCP camera port and through an open camera's HGCM client and
// control socket.

#include <vemo/hgcm_wire.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "HgcmTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::describe;
using test::initRequest;
using test::request;
using test::TestCamera;
using test::TestClient;

class HostFault : public ::testing::Test {
protected:
    // A rig with the faults that set() switches on, and an open camera on it.
    void start(void (*set)(HostFaults*)) {
        HostFaults faults;
        set(&faults);
        _rig = std::make_unique<test::HostRig>(faults);
        ASSERT_TRUE(_rig->started);
        if (!faults.refuse) {
            bool ok = false;
            _camera = std::make_unique<TestCamera>(*_rig, &ok);
            ASSERT_TRUE(ok);
        }
    }

    test::HostLogCapture _log;
    std::unique_ptr<test::HostRig> _rig;
    std::unique_ptr<TestCamera> _camera;
};

TEST_F(HostFault, RefuseClosesEveryConnectionAndFailsHgcmConnects) {
    start([](HostFaults* f) { f->refuse = true; });
    for (uint16_t port : {_rig->camera.port(), _rig->control.port()}) {
        TestClient client;
        ASSERT_TRUE(client.connect(port));
        EXPECT_TRUE(client.waitForClose());
    }
    test::HgcmTestClient driver;
    uint32_t id = 0;
    ASSERT_TRUE(driver.open(_rig->socketPath));
    EXPECT_EQ(driver.connect(HgcmService::kName, &id), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(_rig->recordLines().back(),
              "hgcm connect refused service=VemoVMGuestPropSvc status=-37");
}

TEST_F(HostFault, CloseAfterEndsAConnectionOrPairingAfterNRequests) {
    start([](HostFaults* f) { f->closeAfter = 2; });
    TestClient tcp;
    ASSERT_TRUE(tcp.connect(_rig->camera.port()));
    ASSERT_TRUE(tcp.call(initRequest()) && tcp.call(request("getNumCameras")));
    EXPECT_TRUE(tcp.waitForClose());

    // The second reply is delivered whole, then the pairing is over.
    ASSERT_TRUE(_camera->init());
    const std::optional<Message> reply = _camera->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
    EXPECT_TRUE(_camera->control.waitForClose());
    EXPECT_EQ(_camera->driver.sendData(_camera->id, test::packetOf(request("getNumCameras"))),
              VEMO_VERR_NOT_SUPPORTED);
}

TEST_F(HostFault, BytePerTransferHandsOutOneByteAtATime) {
    start([](HostFaults* f) { f->bytePerTransfer = true; });
    ASSERT_EQ(_camera->driver.sendData(_camera->id, test::packetOf(initRequest())), 0);
    int calls = 0;
    const std::optional<std::vector<uint8_t>> length =
        _camera->driver.readFully(_camera->id, 4, &calls);
    ASSERT_TRUE(length);
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(_camera->driver.readFully(_camera->id, (*length)[0], &calls));
    EXPECT_EQ(calls, (*length)[0]);

    // Over the control socket and the camera port the bytes still make whole replies.
    ASSERT_EQ(_camera->driver.sendData(_camera->id, test::packetOf(request("getNumCameras"))), 0);
    ASSERT_TRUE(_camera->control.sendRaw(test::controlRecord(3, _camera->id, 19)));
    EXPECT_EQ(_camera->control.receive(19), test::twoCamerasReply());
    TestClient tcp;
    ASSERT_TRUE(tcp.connect(_rig->camera.port()));
    EXPECT_TRUE(tcp.call(initRequest()));
}

// What vemo-hostd does on SIGTERM wakes every client that waits for an answer.
TEST_F(HostFault, StallTakesRequestsAndAnswersNoneUntilShutdown) {
    start([](HostFaults* f) { f->stall = true; });
    ASSERT_EQ(_camera->driver.sendData(_camera->id, test::packetOf(initRequest())), 0);
    auto waiting = std::async(std::launch::async, [this] {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        _camera->driver.recvData(_camera->id, 4, &count, &bytes);
        return count;
    });
    TestClient tcp;
    ASSERT_TRUE(tcp.connect(_rig->camera.port()));
    ASSERT_TRUE(tcp.sendPacket(initRequest().encode()));
    EXPECT_TRUE(tcp.quietFor(300));
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    const auto start = std::chrono::steady_clock::now();
    _rig->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -1);
    EXPECT_TRUE(tcp.waitForClose());
    EXPECT_TRUE(_camera->control.waitForClose());
}

TEST_F(HostFault, FreezeAfterHoldsEveryAnswerOfTheHostForAWhileThenGoesOn) {
    using std::chrono::milliseconds;
    start([](HostFaults* f) {
        f->freezeAfter = 2;
        f->freezeMs = 700;
    });
    TestClient tcp;
    ASSERT_TRUE(tcp.connect(_rig->camera.port()));
    ASSERT_TRUE(tcp.call(initRequest()));
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(tcp.sendPacket(request("getNumCameras").encode()));
    EXPECT_TRUE(tcp.quietFor(200));

    // The open camera's first request waits for the end of the freeze as well.
    ASSERT_TRUE(_camera->init());
    EXPECT_GE(std::chrono::steady_clock::now() - begin, milliseconds(650));
    const std::optional<Message> frozen = tcp.readReply();
    ASSERT_TRUE(frozen);
    EXPECT_EQ(describe(*frozen), "__return=u32:2");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, milliseconds(3000));

    const auto after = std::chrono::steady_clock::now();
    ASSERT_TRUE(tcp.call(request("getNumCameras")));
    ASSERT_TRUE(_camera->call(request("getNumCameras")));
    EXPECT_LT(std::chrono::steady_clock::now() - after, milliseconds(300));
}

TEST_F(HostFault, MalformedRepliesCarryABadTypeCode) {
    start([](HostFaults* f) { f->malformed = true; });
    ASSERT_EQ(_camera->driver.sendData(_camera->id, test::packetOf(initRequest())), 0);
    int calls = 0;
    const std::optional<std::vector<uint8_t>> hgcm =
        _camera->driver.readFully(_camera->id, 19, &calls);
    TestClient tcp;
    ASSERT_TRUE(tcp.connect(_rig->camera.port()));
    ASSERT_TRUE(tcp.sendPacket(initRequest().encode()));
    for (const auto& reply : {hgcm, tcp.receive(19)}) {
        ASSERT_TRUE(reply);
        Message message;
        const DecodeResult decoded = message.decode(reply->data() + 4, reply->size() - 4);
        EXPECT_EQ(decoded.error, DecodeError::kBadTypeCode);
        EXPECT_EQ(decoded.detail, FaultPlan::kBadTypeCode);
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
