// The open camera's hybrid connection on the emulated guest driver: the control records on
// their TCP socket, how packets go out as transfers and come back in pieces, hostile replies,
// and what the host sees when the connection goes.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <vemo/hgcm_wire.h>

#include "FakeEndpoint.h"
#include "HGCMStream.h"
#include "RemoteHGCMConnection.h"
#include "support/LittleEndian.h"
#include "support/LogCapture.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"

namespace vemo {
namespace test {

namespace {

using android::CRemoteHGCMConnection;

const uint32_t kClientId = 1234;
const size_t kRecord = 13;

Bytes record(uint8_t command, uint32_t argument) {
    return concat({{command}, le32Words({kClientId, 0, argument})});
}

class HybridConnection : public ::testing::Test {
protected:
    void SetUp() override {
        host.clientId = kClientId;
        _endpoint.reset(new FakeEndpoint(host.script()));
        setenv(VEMO_HGCM_SOCKET_ENV, _endpoint->path().c_str(), 1);
        _connection.reset(new CRemoteHGCMConnection());
    }

    void TearDown() override {
        unsetenv(VEMO_HGCM_SOCKET_ENV);
        unsetenv("VEMO_NAT_PORT_10088");
    }

    // A control port that takes the open record and answers it, then runs more.
    void startControl(std::function<void(int fd)> more = nullptr) {
        _control.reset(new ScriptedServer([this, more](int fd) {
            Bytes open;
            if (ScriptedServer::readExactly(fd, &open, kRecord)) {
                controlBytes.push_back(open);
                ScriptedServer::writeAll(fd, {0, 0, 0, 0});
                if (more) {
                    more(fd);
                }
            }
        }));
        setenv("VEMO_NAT_PORT_10088", std::to_string(_control->port()).c_str(), 1);
    }

    // Each call 10 delivers one of pieces.
    void replyInPieces(const Bytes& reply, size_t piece) {
        for (size_t at = 0; at < reply.size(); at += piece) {
            host.queueReply(
                Bytes(reply.begin() + static_cast<long>(at),
                      reply.begin() + static_cast<long>(std::min(reply.size(), at + piece))));
        }
    }

    // The data parameter of every call 9 the host saw, once the endpoint is done.
    std::vector<Bytes> sent() {
        std::vector<Bytes> result;
        for (const GuestMessage& message : host.messages()) {
            if (message.op == VEMO_HGCM_OP_CALL && message.function == 9) {
                result.push_back(message.parameters.at(1).bytes);
            }
        }
        return result;
    }

    void finish() {
        _connection.reset();
        _endpoint->join();
        if (_control) {
            _control->join();
        }
    }

    LogCapture log;
    RecordingHost host;
    std::vector<Bytes> controlBytes;  // written by the control script, read after join
    std::unique_ptr<CRemoteHGCMConnection> _connection;

private:
    std::unique_ptr<FakeEndpoint> _endpoint;
    std::unique_ptr<ScriptedServer> _control;
};

}  // namespace

TEST_F(HybridConnection, ControlRecordsCarryTheClientIdAndTheirArgument) {
    Bytes readRecord;
    Bytes closeRecord;
    bool closedAfterRecord = false;
    startControl([&](int fd) {
        ScriptedServer::readExactly(fd, &readRecord, kRecord);
        ScriptedServer::writeAll(fd, {'b', 'u', 'l', 'k', '!'});
        ScriptedServer::readExactly(fd, &closeRecord, kRecord);
        Bytes more;
        closedAfterRecord = !ScriptedServer::readExactly(fd, &more, 1);
    });
    ASSERT_EQ(_connection->open(10072), 0);
    EXPECT_TRUE(log.contains("[open] Opening POrt - 10072"));
    EXPECT_TRUE(log.contains("[open] HGCM Connection Made Successfully"));
    unsigned char bulk[5] = {0};
    EXPECT_EQ(_connection->readFullyWithStream(bulk, 5), bulk);
    EXPECT_EQ(Bytes(bulk, bulk + 5), (Bytes{'b', 'u', 'l', 'k', '!'}));
    EXPECT_EQ(_connection->close(), 0);
    EXPECT_TRUE(log.contains("[close] HGCM Connection Closed"));
    log.clear();
    EXPECT_EQ(_connection->close(), 0);
    EXPECT_TRUE(log.lines().empty());
    finish();

    ASSERT_EQ(controlBytes.size(), 1u);
    EXPECT_EQ(controlBytes[0], record(1, 10072));
    EXPECT_EQ(readRecord, record(3, 5));
    EXPECT_EQ(closeRecord, record(2, 0));
    EXPECT_TRUE(closedAfterRecord);
}

TEST_F(HybridConnection, PacketBufferExistsOnlyWhileConnectedAndOnlyGrows) {
    EXPECT_EQ(_connection->getPktBuffer(16), nullptr);
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    unsigned char* first = _connection->getPktBuffer(100);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(_connection->getPktBuffer(50), first);
    unsigned char* grown = _connection->getPktBuffer(200);
    ASSERT_NE(grown, nullptr);
    EXPECT_NE(grown, first);
    memset(grown, 0x5A, 200);  // the whole payload area is there (the sanitizer checks)
    _connection->close();
    EXPECT_EQ(_connection->getPktBuffer(16), nullptr);
    finish();
}

TEST_F(HybridConnection, PacketBuiltInPlaceIsOneTransferAnyOtherTwo) {
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    unsigned char* area = _connection->getPktBuffer(10);
    memcpy(area, "0123456789", 10);
    EXPECT_EQ(_connection->sendPkt(area, 10), 0);
    unsigned char elsewhere[3] = {'x', 'y', 'z'};
    EXPECT_EQ(_connection->sendPkt(elsewhere, 3), 0);
    finish();
    const Bytes inPlace = {10, 0, 0, 0, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sent(), (std::vector<Bytes>{inPlace, {3, 0, 0, 0}, {'x', 'y', 'z'}}));
}

TEST_F(HybridConnection, ReplyDeliveredOneBytePerTransferArrivesWhole) {
    replyInPieces({5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'}, 1);
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    unsigned char* packet = nullptr;
    ASSERT_EQ(_connection->receivePkt(&packet), 5);
    EXPECT_EQ(Bytes(packet, packet + 5), (Bytes{'h', 'e', 'l', 'l', 'o'}));
    finish();
}

TEST_F(HybridConnection, RepliesOfNoLengthOrTooLongAreRefused) {
    host.queueReply({0, 0, 0, 0});
    host.queueReply({0xFF, 0xFF, 0xFF, 0xFF});
    host.queueReply({1, 0, 0, 4});  // 64 MiB + 1
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    for (int i = 0; i < 3; ++i) {
        unsigned char sentinel = 0;
        unsigned char* packet = &sentinel;
        EXPECT_EQ(_connection->receivePkt(&packet), 0);
        EXPECT_EQ(packet, nullptr);
    }
    EXPECT_TRUE(log.contains("[readFully] - Request to read to a NULL buffer or 0 length"));
    EXPECT_TRUE(log.contains("[receivePkt] - receivePkt for packet content Failed"));
    EXPECT_TRUE(log.contains("Refusing a packet of 4294967295 bytes"));
    EXPECT_TRUE(log.contains("Refusing a packet of 67108865 bytes"));
    finish();
}

// A host that answers every read with nothing, however long: the read gives up after 10 s.
TEST_F(HybridConnection, AHostThatDeliversNothingIsGivenUpAfterTenSeconds) {
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    const auto start = std::chrono::steady_clock::now();
    unsigned char* packet = nullptr;
    EXPECT_EQ(_connection->receivePkt(&packet), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(8));
    EXPECT_LE(took, std::chrono::seconds(20));
    EXPECT_TRUE(log.contains("[readFully] - The host delivered nothing for 10 s"));
    finish();
}

// A host that reports more bytes than were asked for: what fits is kept, nothing is written
// past the destination (the sanitizer checks), and the read ends.
TEST_F(HybridConnection, OverrunIsLoggedAndCutToTheDestination) {
    host.queueReply({'a', 'b', 'c', 'd', 'e', 'f'});
    startControl();
    ASSERT_EQ(_connection->open(10072), 0);
    std::unique_ptr<unsigned char[]> destination(new unsigned char[4]);
    EXPECT_EQ(_connection->readFully(destination.get(), 4), destination.get());
    EXPECT_TRUE(log.contains("HGCM BUFFER OVERRUN"));
    finish();
}

TEST_F(HybridConnection, DestructionReleasesTheHostBufferThenTheClientWithoutACloseRecord) {
    bool endedWithoutRecord = false;
    startControl([&](int fd) {
        Bytes more;
        endedWithoutRecord = !ScriptedServer::readExactly(fd, &more, 1);
    });
    ASSERT_EQ(_connection->open(10072), 0);
    finish();
    const std::vector<GuestMessage> messages = host.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].function, 8u);
    EXPECT_EQ(messages[1].text(0), "vemo_shm_99");
    EXPECT_EQ(messages[2].op, VEMO_HGCM_OP_DISCONNECT);
    EXPECT_TRUE(endedWithoutRecord);
}

TEST_F(HybridConnection, UnreachableControlPortFailsTheOpen) {
    const RefusingPort nobody;
    setenv("VEMO_NAT_PORT_10088", std::to_string(nobody.port()).c_str(), 1);
    EXPECT_EQ(_connection->open(10072), -1);
    EXPECT_TRUE(log.contains("[open] Unable to connect to VBox Control Port"));
    EXPECT_EQ(_connection->getPktBuffer(8), nullptr);
    finish();
}

TEST(HGCMStreamFields, OverlongNamesAndLabelsAreCutToTheirFields) {
    unsetenv(VEMO_HGCM_SOCKET_ENV);
    LogCapture log;
    HGCMStream named(INT_MIN, INT_MIN);
    EXPECT_EQ(std::string(named.getSharedMemoryName()), "vemo_shm_-2147483648_-214748364");
    EXPECT_EQ(named.getClientId(), 0u);

    RecordingHost host;
    FakeEndpoint endpoint(host.script());
    setenv(VEMO_HGCM_SOCKET_ENV, endpoint.path().c_str(), 1);
    {
        HGCMStream stream;
        std::string name(100, 'n');
        unsigned char data[2] = {1, 2};
        stream._VbglR3GuestPropWriteValue(data, 2, &name[0], 7);
    }
    endpoint.join();
    unsetenv(VEMO_HGCM_SOCKET_ENV);
    const std::vector<GuestMessage> messages = host.messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[1].function, 7u);
    EXPECT_EQ(messages[1].text(0), std::string(63, 'n'));
}

}  // namespace test
}  // namespace vemo
