// The TCP stream and packet connection against a loopback server that misbehaves on purpose.

#include <gtest/gtest.h>

#include <string.h>

#include "RemoteSocketConnection.h"
#include "SocketStream.h"
#include "support/LittleEndian.h"
#include "support/LogCapture.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedServer.h"

using android::CRemoteSocketConnection;
using android::CSocketStream;
using vemo::test::LogCapture;
using vemo::test::ScriptedServer;
using Bytes = ScriptedServer::Bytes;

namespace {

// Opens a connection to server (the module's host address is loopback in tests).
void openTo(CRemoteSocketConnection* connection, const ScriptedServer& server) {
    ASSERT_EQ(connection->open(server.port()), 0);
}

}  // namespace

TEST(SocketStream, ClosedStreamRefusesEveryTransferQuietly) {
    CSocketStream stream;
    unsigned char byte = 0;
    LogCapture log;
    EXPECT_EQ(stream.readFully(&byte, 0), -1);
    EXPECT_EQ(stream.readFully(&byte, 1), -1);
    EXPECT_EQ(stream.writeFully(&byte, 1), -1);
    EXPECT_EQ(stream.recv(&byte, 1), -1);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(stream.close(), 0);
    EXPECT_EQ(stream.close(), 0);
}

TEST(SocketStream, OpenStreamReadsExactlyAndRefusesANullBuffer) {
    ScriptedServer server([](int fd) { ScriptedServer::writeAll(fd, {1, 2, 3, 4, 5, 6}, 1); });
    CSocketStream stream;
    ASSERT_EQ(stream.open("127.0.0.1", server.port(), 1), 0);
    unsigned char buffer[6] = {0};
    EXPECT_EQ(stream.readFully(buffer, 0), 0);
    EXPECT_EQ(stream.readFully(nullptr, 4), -1);
    EXPECT_EQ(stream.readFully(buffer, 6), 0);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[5], 6);
    // The peer has closed: end of stream is a failure for a full read.
    EXPECT_EQ(stream.readFully(buffer, 1), -1);
}

TEST(SocketStream, AFailedOpenLeavesTheStreamClosed) {
    CSocketStream stream;
    // Text that is no address is refused rather than reaching the server listening here.
    const vemo::test::LoopbackListener listener;
    EXPECT_EQ(stream.open("localhost", listener.port(), 1), -1);
    EXPECT_EQ(stream.open("", listener.port(), 1), -1);
    EXPECT_FALSE(stream.isOpen());
    const vemo::test::RefusingPort nobody;
    EXPECT_EQ(stream.open("127.0.0.1", nobody.port(), 1), -1);
    EXPECT_FALSE(stream.isOpen());
}

TEST(SocketStream, WriteToAPeerThatHasGoneFailsWithoutKillingTheProcess) {
    ScriptedServer server([](int) {});
    CSocketStream stream;
    ASSERT_EQ(stream.open("127.0.0.1", server.port(), 1), 0);
    server.join();
    LogCapture log;
    std::vector<unsigned char> big(1 << 20, 0x55);
    int result = 0;
    for (int i = 0; i < 20 && result == 0; ++i) {
        result = stream.writeFully(big.data(), static_cast<unsigned int>(big.size()));
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(log.contains("writeFully: failed: "));
}

TEST(RemoteSocketConnection, RequestGoesOutAsLengthThenPayload) {
    Bytes seen;
    ScriptedServer server([&](int fd) {
        ScriptedServer::readExactly(fd, &seen, 4 + 3);
        ScriptedServer::writeAll(fd, ScriptedServer::packet({9}));
    });
    CRemoteSocketConnection connection;
    openTo(&connection, server);
    unsigned char* area = connection.getPktBuffer(3);
    ASSERT_NE(area, nullptr);
    memcpy(area, "abc", 3);
    EXPECT_EQ(connection.sendPkt(area, 3), 0);
    unsigned char* reply = nullptr;
    EXPECT_EQ(connection.receivePkt(&reply), 1);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply[0], 9);
    EXPECT_EQ(seen, (Bytes{3, 0, 0, 0, 'a', 'b', 'c'}));
}

TEST(RemoteSocketConnection, BadRepliesGiveZeroAndNoPacket) {
    struct Case {
        const char* name;
        Bytes wire;
    };
    const Case cases[] = {
        {"closed before the length", {}},
        {"closed inside the length", {5, 0}},
        {"payload shorter than announced", {10, 0, 0, 0, 1, 2, 3}},
        {"length zero", {0, 0, 0, 0}},
        {"length over the limit", vemo::test::le32Words({64u * 1024u * 1024u + 1u})},
        {"length of 4 GiB", {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    LogCapture log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server([&](int fd) { ScriptedServer::writeAll(fd, c.wire); });
        CRemoteSocketConnection connection;
        openTo(&connection, server);
        unsigned char sentinel = 0;
        unsigned char* reply = &sentinel;
        EXPECT_EQ(connection.receivePkt(&reply), 0);
        EXPECT_EQ(reply, nullptr);
    }
    EXPECT_TRUE(log.contains("receivePkt: Refusing a packet of 67108865 bytes"));
    EXPECT_TRUE(log.contains("receivePkt: Refusing a packet of 4294967295 bytes"));
}

TEST(RemoteSocketConnection, FailedSendReportsMinusOne) {
    CRemoteSocketConnection connection;  // never opened
    unsigned char* area = connection.getPktBuffer(8);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(connection.sendPkt(area, 8), -1);
    EXPECT_EQ(connection.close(), 0);
    EXPECT_EQ(connection.close(), 0);
}
