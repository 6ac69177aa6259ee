// One module-level query (connect, create the instance, the call, delete it, close) against a
// raw loopback client that makes the same connect and three round trips of the same bytes to
// the same vemo-hostd.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <vemo/log_hook.h>

#include "RatioReporter.h"
#include "RemoteCamera.h"
#include "RemoteParameters.h"
#include "SocketBytes.h"
#include "support/HostProcess.h"

extern "C" int vemo_guest_driver_present(void);

namespace {

using vemo::bench::readExactly;
using vemo::bench::writeAll;

int gPort = 0;
std::vector<std::vector<unsigned char>> gRequests;

std::vector<unsigned char> packetOf(android::CRemoteParameters& message) {
    const int size = message.getFlattenedSize();
    std::vector<unsigned char> packet(4 + static_cast<size_t>(size));
    packet[0] = static_cast<unsigned char>(size);
    packet[1] = static_cast<unsigned char>(size >> 8);
    message.flatten(packet.data() + 4);
    return packet;
}

void BM_StaticQuery(benchmark::State& state) {
    for (auto _ : state) {
        if (android::CRemoteCamera::getNumCamera() != 2) {
            state.SkipWithError("the query failed");
            break;
        }
    }
}

void BM_RawRoundTrips(benchmark::State& state) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(gPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<unsigned char> reply(4096);
    for (auto _ : state) {
        const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const int on = 1;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            state.SkipWithError("connect failed");
            close(fd);
            break;
        }
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        for (const auto& request : gRequests) {
            send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            unsigned char prefix[4];
            readExactly(fd, prefix, 4);
            const size_t n = prefix[0] | (prefix[1] << 8);
            readExactly(fd, reply.data(), n);
        }
        close(fd);
    }
}

void quiet(int, const char*, const char*, void*) {}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vemo_guest_driver_present();  // the module reaches the host alias through the emulation
    vemo::test::HostProcess host(VEMO_HOSTD_PATH);
    if (!host.start({"--quiet"})) {
        fprintf(stderr, "bench: %s\n", host.error().c_str());
        return 1;
    }
    gPort = host.cameraPort();
    setenv("VEMO_NAT_PORT_10072", std::to_string(gPort).c_str(), 1);
    vemo_log_set_hook(quiet, nullptr, 1);

    android::CRemoteParameters init;
    init.addParam("__function", "__initThis");
    init.addParam("__remote_class", "CameraDevice");
    android::CRemoteParameters call;
    call.addParam("__function", "getNumCameras");
    android::CRemoteParameters destroy;
    destroy.addParam("__function", "__deleteThis");
    gRequests = {packetOf(init), packetOf(call), packetOf(destroy)};

    benchmark::RegisterBenchmark("StaticQuery", BM_StaticQuery)->MinTime(2.0);
    benchmark::RegisterBenchmark("RawRoundTrips", BM_RawRoundTrips)->MinTime(2.0);
    vemo::bench::RatioReporter reporter;
    reporter.addRatio("static query / raw round trips", "StaticQuery", "RawRoundTrips");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
