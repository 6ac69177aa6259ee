// The control port with the HGCM service: records, the open answer, exact read counts, and how
// a pairing ends.

#include <vemo/hgcm_wire.h>

#include <gtest/gtest.h>

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

class HostControlPort : public test::HostRigTest {
protected:
    // The answers of call 10 for the client.
    std::pair<int32_t, int32_t> receive(HgcmTestClient& driver, uint32_t id) {
        int32_t count = 0;
        std::vector<uint8_t> bytes;
        return {driver.recvData(id, 4, &count, &bytes), count};
    }
};

const std::pair<int32_t, int32_t> kNoSession = {VEMO_VERR_NOT_SUPPORTED, -1};

TEST_F(HostControlPort, ReadSendsExactlyTheCountAskedAndWaitsForIt) {
    std::unique_ptr<TestCamera> camera = openCamera();
    const std::vector<uint8_t> expected = test::twoCamerasReply();
    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(request("getNumCameras"))), 0);
    ASSERT_TRUE(camera->control.sendRaw(controlRecord(3, camera->id, 3)));
    EXPECT_EQ(camera->control.receive(3), std::vector<uint8_t>(&expected[0], &expected[3]));
    EXPECT_TRUE(camera->control.quietFor(100));
    ASSERT_TRUE(camera->control.sendRaw(controlRecord(3, camera->id, 16)));
    EXPECT_EQ(camera->control.receive(16), std::vector<uint8_t>(&expected[3], &expected[19]));

    // Asked before the reply exists, the read waits for its bytes.
    ASSERT_TRUE(camera->control.sendRaw(controlRecord(3, camera->id, 19)));
    EXPECT_TRUE(camera->control.quietFor(200));
    ASSERT_EQ(camera->driver.sendData(camera->id, test::packetOf(request("getNumCameras"))), 0);
    EXPECT_EQ(camera->control.receive(19), expected);
    EXPECT_TRUE(camera->control.quietFor(100));
}

TEST_F(HostControlPort, CloseRecordEndsThePairingAndANewOpenStartsAFreshSession) {
    std::unique_ptr<TestCamera> camera = openCamera();
    ASSERT_TRUE(camera->control.sendRaw(controlRecord(2, camera->id, 0)));
    EXPECT_TRUE(camera->control.waitForClose());
    EXPECT_EQ(receive(camera->driver, camera->id), kNoSession);

    TestClient again;
    ASSERT_TRUE(again.connect(_rig.control.port()));
    ASSERT_TRUE(again.sendRaw(controlRecord(1, camera->id, 10072)));
    EXPECT_EQ(again.receive(4), std::vector<uint8_t>(4, 0));
    const std::optional<Message> reply = camera->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->text("__error"), nullptr);  // the instance went with the old session
}

TEST_F(HostControlPort, SocketClosedWithoutCloseRecordEndsThePairingBeforeLaterCalls) {
    std::unique_ptr<TestCamera> camera = openCamera();
    camera->control.close();
    EXPECT_EQ(receive(camera->driver, camera->id), kNoSession);
    // The record keeps the guest's order: the socket ended before the call.
    const std::vector<std::string> lines = _rig.recordLines();
    const std::string c = "client=" + std::to_string(camera->id);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "control drop " + c);
    EXPECT_EQ(lines.back(), "hgcm call " + c + " function=10 label=sendData:4:40 size=8");
}

TEST_F(HostControlPort, OpenOfAnotherPortPairsWithoutASession) {
    HgcmTestClient driver;
    uint32_t id = 0;
    ASSERT_TRUE(driver.open(_rig.socketPath));
    ASSERT_EQ(driver.connect(HgcmService::kName, &id), VEMO_VINF_SUCCESS);
    TestClient control;
    ASSERT_TRUE(control.connect(_rig.control.port()));
    ASSERT_TRUE(control.sendRaw(controlRecord(1, id, 10073)));
    EXPECT_EQ(control.receive(4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(driver.sendData(id, test::twoCamerasReply()), VEMO_VERR_NOT_SUPPORTED);
    EXPECT_EQ(receive(driver, id), kNoSession);
    EXPECT_EQ(_log.countContaining("opened port 10073, which has no service"), 1u);
}

TEST_F(HostControlPort, RecordsThatDoNotFitCloseOnlyTheirSocket) {
    std::unique_ptr<TestCamera> camera = openCamera();
    HgcmTestClient driver;
    uint32_t other = 0;
    ASSERT_TRUE(driver.open(_rig.socketPath));
    ASSERT_EQ(driver.connect(HgcmService::kName, &other), VEMO_VINF_SUCCESS);
    const std::string open = std::to_string(camera->id);
    const struct {
        std::vector<std::vector<uint8_t>> records;
        std::string logged;
    } cases[] = {
        {{controlRecord(1, 12345, 10072)}, "no HGCM client 12345"},
        {{controlRecord(1, (1ull << 32) | other, 10072)},
         "no HGCM client " + std::to_string((1ull << 32) | other)},
        {{controlRecord(1, camera->id, 10072)}, "client " + open + " is open already"},
        {{controlRecord(3, camera->id, 4)},
         "read record for client " + open + ", which this socket has not opened"},
        {{controlRecord(9, other, 0)}, "unknown command 9"},
        {{{1, 2, 3, 4, 5}}, "connection ended inside a record (5 of 13 bytes)"},
        {{controlRecord(1, other, 10072), controlRecord(1, other, 10072)},
         "second open record (client " + std::to_string(other) + ")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        TestClient control;
        ASSERT_TRUE(control.connect(_rig.control.port()));
        for (const auto& record : c.records) {
            ASSERT_TRUE(control.sendRaw(record));
        }
        control.shutdownWrite();
        if (c.records.size() > 1) {
            EXPECT_EQ(control.receive(4), std::vector<uint8_t>(4, 0));
        }
        EXPECT_TRUE(control.waitForClose());
        EXPECT_EQ(_log.countContaining("closed: " + c.logged), 1u);
    }
    // The pairing of the second open's socket ended with it; the camera's is untouched.
    EXPECT_EQ(receive(driver, other), kNoSession);
    const std::optional<Message> reply = camera->call(request("getNumCameras"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(describe(*reply), "__return=u32:2");
}

}  // namespace
}  // namespace host
}  // namespace vemo
