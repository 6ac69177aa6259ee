// The module's guest-driver stream on the emulation, against a fake host service: what the
// host sees of each operation, the position rules, and a missing driver.

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vemo/hgcm_wire.h>

#include "FakeEndpoint.h"
#include "HGCMStream.h"
#include "support/LogCapture.h"

namespace vemo {
namespace test {

namespace {

const char kNoDriver[] = "HGCMConnect: failed to connect vboxguest driver";
const uint32_t kLinAddr = 4;

class StreamTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv(VEMO_HGCM_SOCKET_ENV); }

    // A stream connected to a fresh recording host. The endpoint outlives the stream.
    std::unique_ptr<HGCMStream> connect(int connections = 1) {
        _endpoint.reset(new FakeEndpoint(host.script(), connections));
        setenv(VEMO_HGCM_SOCKET_ENV, _endpoint->path().c_str(), 1);
        return std::unique_ptr<HGCMStream>(new HGCMStream());
    }

    // Everything the host saw, once the stream is gone.
    std::vector<GuestMessage> finish(std::unique_ptr<HGCMStream> stream) {
        stream.reset();
        _endpoint->join();
        return host.messages();
    }

    LogCapture log;
    RecordingHost host;

private:
    std::unique_ptr<FakeEndpoint> _endpoint;
};

// The whole life of a stream: connect, one send, one receive, then the release of its buffer
// and the disconnect.
TEST_F(StreamTest, ConnectsSendsReceivesAndReleasesItsBufferAtTheEnd) {
    host.clientId = 1234;
    host.queueReply(bytesOf("abcd", false));
    std::unique_ptr<HGCMStream> stream = connect();
    EXPECT_EQ(stream->getClientId(), 1234u);
    EXPECT_TRUE(log.contains("HGCMConnect: Succeeded. " + std::to_string(getpid())));

    Bytes payload(300);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<unsigned char>(i);
    }
    EXPECT_EQ(stream->sendData1(payload.data(), 300), 0);
    unsigned char buffer[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(stream->recvData(buffer, 4), 0);
    const unsigned char delivered[8] = {4, 0, 0, 0, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(Bytes(buffer, buffer + 8), Bytes(delivered, delivered + 8));
    const std::vector<GuestMessage> messages = finish(std::move(stream));

    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0].op, VEMO_HGCM_OP_CONNECT);
    EXPECT_EQ(messages[0].locationType, 2u);
    EXPECT_EQ(messages[0].nameText(), "VemoVMGuestPropSvc");

    const GuestMessage& send = messages[1];
    EXPECT_EQ(send.function, 9u);
    EXPECT_EQ(send.clientId, 1234u);
    ASSERT_EQ(send.parameters.size(), 3u);
    EXPECT_EQ(send.parameters[0].bytes, bytesOf("sendData:300"));
    EXPECT_EQ(send.parameters[1].bytes, payload);
    EXPECT_EQ(send.parameters[2].bytes, bytesOf("RDONLYHOST"));

    const GuestMessage& receive = messages[2];
    EXPECT_EQ(receive.function, 10u);
    ASSERT_EQ(receive.parameters.size(), 3u);
    EXPECT_EQ(receive.parameters[0].bytes, bytesOf("sendData:4:40"));
    EXPECT_EQ(receive.parameters[1].size, 8u);
    EXPECT_EQ(receive.parameters[2].bytes, bytesOf("RDONLYGUEST"));
    for (const GuestMessage& call : {send, receive}) {
        for (const WireParameter& parameter : call.parameters) {
            EXPECT_EQ(parameter.type, kLinAddr);
        }
    }

    const GuestMessage& release = messages[3];
    EXPECT_EQ(release.function, 8u);
    ASSERT_EQ(release.parameters.size(), 1u);
    EXPECT_EQ(release.parameters[0].bytes, bytesOf("vemo_shm_99"));
    EXPECT_EQ(messages[4].op, VEMO_HGCM_OP_DISCONNECT);
    EXPECT_EQ(messages[4].clientId, 1234u);
}

TEST_F(StreamTest, PositionStaysInsideTheSpan) {
    std::unique_ptr<HGCMStream> stream = connect();
    EXPECT_EQ(stream->getSharedMemoryName(), std::string("vemo_shm_99"));
    EXPECT_EQ(stream->getPos(), 0u);
    EXPECT_EQ(stream->getAvail(), 67108860u);
    EXPECT_EQ(stream->setPos(67108859), 0);
    EXPECT_EQ(stream->getAvail(), 1u);
    EXPECT_EQ(stream->setPos(67108860), -1);
    EXPECT_EQ(stream->getPos(), 67108859u);

    EXPECT_EQ(stream->setPos(100), 0);
    EXPECT_EQ(stream->seek(50), 150u);
    EXPECT_EQ(stream->seek(67108860 - 151), 67108859u);
    EXPECT_EQ(stream->seek(1), 0u);
    EXPECT_EQ(stream->setPos(10), 0);
    EXPECT_EQ(stream->seek(0xFFFFFFFFu), 0u);
}

// A block that does not fit before the end goes to offset 0; a block that ends exactly at the
// end sends the next one to 0 as well.
TEST_F(StreamTest, CommitBufferPlacesBlocksInTheRing) {
    std::unique_ptr<HGCMStream> stream = connect();
    unsigned char block[11] = {};
    unsigned int pos = 12345;

    ASSERT_EQ(stream->setPos(67108860 - 10), 0);
    EXPECT_EQ(stream->commitBuffer(block, 11, &pos), 0);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(stream->getPos(), 11u);

    ASSERT_EQ(stream->setPos(67108860 - 10), 0);
    EXPECT_EQ(stream->commitBuffer(block, 10, &pos), 0);
    EXPECT_EQ(pos, 67108850u);
    EXPECT_EQ(stream->getPos(), 0u);

    EXPECT_EQ(stream->setPos(40), 0);
    EXPECT_EQ(stream->commitBuffer(block, 11, nullptr), -1);
    EXPECT_EQ(stream->getPos(), 40u);

    // Between the connect and the disconnect: the two commits and the release.
    const std::vector<GuestMessage> received = finish(std::move(stream));
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[1].function, 7u);
    EXPECT_EQ(received[1].text(0), "vemo_shm_99:0");
    EXPECT_EQ(received[1].parameters[1].size, 11u);
    EXPECT_EQ(received[2].text(0), "vemo_shm_99:67108850");
    EXPECT_EQ(received[3].function, 8u);
}

// The host's refusal of a call is the caller's result; the position moves all the same, except
// for a receive, which resets it.
TEST_F(StreamTest, HostFailuresAreReturnedAndReceiveResetsThePosition) {
    host.callResult = VEMO_VERR_INVALID_PARAMETER;
    std::unique_ptr<HGCMStream> stream = connect();
    unsigned char block[8] = {};
    unsigned int pos = 0;
    ASSERT_EQ(stream->setPos(1000), 0);
    EXPECT_EQ(stream->commitBuffer(block, 8, &pos), VEMO_VERR_INVALID_PARAMETER);
    EXPECT_EQ(stream->getPos(), 1008u);
    EXPECT_EQ(stream->sendData1(block, 8), VEMO_VERR_INVALID_PARAMETER);
    EXPECT_EQ(stream->getPos(), 1008u);
    unsigned char buffer[12] = {};
    EXPECT_EQ(stream->recvData(buffer, 8), VEMO_VERR_INVALID_PARAMETER);
    EXPECT_EQ(stream->getPos(), 0u);
    finish(std::move(stream));
}

TEST_F(StreamTest, WithoutDriverEveryOperationLogsAndFails) {
    unsetenv(VEMO_HGCM_SOCKET_ENV);
    HGCMStream stream;
    EXPECT_EQ(log.count(kNoDriver), 1u);
    unsigned char data[8] = {};
    EXPECT_EQ(stream.sendData1(data, 4), -1);
    EXPECT_EQ(log.count(kNoDriver), 2u);
    ASSERT_EQ(stream.setPos(500), 0);
    EXPECT_EQ(stream.recvData(data, 4), -1);
    EXPECT_EQ(log.count(kNoDriver), 3u);
    EXPECT_EQ(stream.getPos(), 0u);
    EXPECT_FALSE(log.contains("Succeeded"));
}

// A refused client keeps its handle: later calls go out on it, with the client id it never
// got, and the connect is not tried again.
TEST_F(StreamTest, RefusedConnectIsNotRetried) {
    host.connectStatus = VEMO_VERR_HGCM_SERVICE_NOT_FOUND;
    std::unique_ptr<HGCMStream> stream = connect();
    unsigned char data[4] = {};
    EXPECT_EQ(stream->sendData1(data, 4), 0);
    const std::vector<GuestMessage> messages = finish(std::move(stream));
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].op, VEMO_HGCM_OP_CONNECT);
    EXPECT_EQ(messages[1].function, 9u);
    EXPECT_EQ(messages[1].clientId, 0u);
    EXPECT_EQ(messages[2].function, 8u);
    EXPECT_EQ(messages[3].op, VEMO_HGCM_OP_DISCONNECT);
}

// A connect that the driver itself fails closes the handle; the next operation opens the
// driver again.
TEST_F(StreamTest, DriverFailureDuringConnectIsRetriedByTheNextCall) {
    std::vector<GuestMessage> first;
    std::atomic<int> connection{0};
    FakeEndpoint endpoint(
        [&](EndpointPeer& peer) {
            if (connection++ == 0) {
                GuestMessage message;
                peer.receive(&message);
                first.push_back(message);
                return;
            }
            host.serve(peer);
        },
        2);
    setenv(VEMO_HGCM_SOCKET_ENV, endpoint.path().c_str(), 1);
    std::unique_ptr<HGCMStream> stream(new HGCMStream());
    unsigned char data[4] = {};
    EXPECT_EQ(stream->sendData1(data, 4), 0);
    EXPECT_EQ(stream->getClientId(), 42u);
    stream.reset();
    endpoint.join();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].op, VEMO_HGCM_OP_CONNECT);
    const std::vector<GuestMessage> second = host.messages();
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[0].op, VEMO_HGCM_OP_CONNECT);
    EXPECT_EQ(second[1].function, 9u);
    EXPECT_EQ(second[1].clientId, 42u);
    EXPECT_EQ(log.count("HGCMConnect: Succeeded. " + std::to_string(getpid())), 2u);
}

}  // namespace

}  // namespace test
}  // namespace vemo
