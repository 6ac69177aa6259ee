// The guest's NAT as the guest-driver emulation provides it, linked into this program (and,
// in one test, preloaded into another one).

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "support/HostProcess.h"
#include "support/LoopbackSockets.h"

namespace vemo {
namespace test {

namespace {

const int kAcceptTimeoutMs = 2000;

// Connects a new socket of the given type to text:port; returns 0 or the errno value.
int connectTo(int family, int type, const char* text, int port) {
    const int fd = socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    struct sockaddr_storage address;
    memset(&address, 0, sizeof(address));
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<struct sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, text, &in->sin_addr);
        length = sizeof(*in);
    } else {
        auto* in6 = reinterpret_cast<struct sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, text, &in6->sin6_addr);
        length = sizeof(*in6);
    }
    const int result = connect(fd, reinterpret_cast<struct sockaddr*>(&address), length);
    const int error = result == 0 ? 0 : errno;
    close(fd);
    return error;
}

class GuestNat : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(guestNatActive()) << "connect is not the guest's NAT in this program";
        unsetenv("VEMO_NAT_PORT_10072");
        unsetenv("VEMO_NAT_PORT_10088");
    }
    void TearDown() override {
        unsetenv("VEMO_NAT_PORT_10072");
        unsetenv("VEMO_NAT_PORT_10088");
    }
};

TEST_F(GuestNat, HostAliasIsLoopbackOnTheSamePort) {
    LoopbackListener listener;
    ASSERT_GT(listener.port(), 0);
    EXPECT_EQ(connectTo(AF_INET, SOCK_STREAM, "10.0.2.2", listener.port()), 0);
    EXPECT_EQ(listener.accept(kAcceptTimeoutMs), "127.0.0.1");
    EXPECT_EQ(connectTo(AF_INET6, SOCK_STREAM, "::ffff:10.0.2.2", listener.port()), 0);
    EXPECT_EQ(listener.accept(kAcceptTimeoutMs), "127.0.0.1");
}

TEST_F(GuestNat, ServicePortsFollowTheirVariablesAtEachConnect) {
    LoopbackListener camera;
    LoopbackListener control;
    LoopbackListener other;
    setenv("VEMO_NAT_PORT_10072", std::to_string(camera.port()).c_str(), 1);
    setenv("VEMO_NAT_PORT_10088", std::to_string(control.port()).c_str(), 1);
    EXPECT_EQ(connectTo(AF_INET, SOCK_STREAM, "10.0.2.2", 10072), 0);
    EXPECT_EQ(camera.accept(kAcceptTimeoutMs), "127.0.0.1");
    EXPECT_EQ(connectTo(AF_INET, SOCK_STREAM, "10.0.2.2", 10088), 0);
    EXPECT_EQ(control.accept(kAcceptTimeoutMs), "127.0.0.1");

    setenv("VEMO_NAT_PORT_10072", std::to_string(other.port()).c_str(), 1);
    EXPECT_EQ(connectTo(AF_INET, SOCK_STREAM, "10.0.2.2", 10072), 0);
    EXPECT_EQ(other.accept(kAcceptTimeoutMs), "127.0.0.1");
    EXPECT_EQ(camera.accept(0), "");

    // A value that names no port refuses the connect rather than guess a destination.
    for (const char* wrong : {"abc", "0", "65536", "80x"}) {
        setenv("VEMO_NAT_PORT_10072", wrong, 1);
        EXPECT_EQ(connectTo(AF_INET, SOCK_STREAM, "10.0.2.2", 10072), EINVAL) << wrong;
    }
}

// Datagram sockets: a connect only sets the destination and sends nothing.
TEST_F(GuestNat, NothingBeyondTheMachineIsReachable) {
    EXPECT_EQ(connectTo(AF_INET, SOCK_DGRAM, "192.0.2.1", 9), ENETUNREACH);
    EXPECT_EQ(connectTo(AF_INET, SOCK_DGRAM, "10.0.2.3", 9), ENETUNREACH);
    EXPECT_EQ(connectTo(AF_INET6, SOCK_DGRAM, "2001:db8::1", 9), ENETUNREACH);
    EXPECT_EQ(connectTo(AF_INET6, SOCK_DGRAM, "::", 9), ENETUNREACH);
    EXPECT_EQ(connectTo(AF_INET6, SOCK_DGRAM, "::ffff:192.0.2.1", 9), ENETUNREACH);

    EXPECT_EQ(connectTo(AF_INET, SOCK_DGRAM, "127.0.0.1", 9), 0);
    EXPECT_EQ(connectTo(AF_INET, SOCK_DGRAM, "127.1.2.3", 9), 0);
    EXPECT_EQ(connectTo(AF_INET, SOCK_DGRAM, "10.0.2.2", 9), 0);
}

TEST_F(GuestNat, WorksAsPreloadLibrary) {
    LoopbackListener listener;
    // The shell gives up before it reaches the host alias when the datagram probe shows that
    // the preload is not in force.
    const std::string script =
        "{ exec 3<>/dev/udp/0.0.0.0/9; } 2>/dev/null && exit 3; "
        "exec 4<>/dev/tcp/10.0.2.2/10072";
    const ProgramResult result =
        runProgram("/bin/bash", {"-c", script},
                   {std::string("LD_PRELOAD=") + VEMO_GUESTDRV_PATH,
                    // An instrumented build brings its sanitizer runtime into the shell along
                    // with the preload; the shell's own leaks are not ours to report.
                    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0",
                    "VEMO_NAT_PORT_10072=" + std::to_string(listener.port())});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(listener.accept(kAcceptTimeoutMs), "127.0.0.1");
}

}  // namespace

}  // namespace test
}  // namespace vemo
