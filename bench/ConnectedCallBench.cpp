// An open camera's calls through the emulated guest driver to vemo-hostd, against raw
// transfers of the same bytes over the same kind of socket (a Unix stream socket):
//  - one connected call (captureFrame) against one raw round trip of its request and reply;
//  - a preview frame fetch (getFrameContents) at 1280x720 and 1920x1080 NV21 against a raw
//    transfer of the frame's bytes plus one memcpy for each copy the path makes: the host puts
//    the frame into its reply packet (which goes to the socket as it is), the reply lands in
//    the connection's staging area where it is decoded, and the frame is copied into the array
//    handed to the caller: two copies.

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <vemo/log_hook.h>

#include "RatioReporter.h"
#include "RemoteCamera.h"
#include "RemoteParameters.h"
#include "SocketBytes.h"
#include "support/GuestHost.h"

namespace {

using vemo::bench::readExactly;
using vemo::bench::writeAll;

android::CRemoteCamera* gCamera = nullptr;

size_t flattenedSize(android::CRemoteParameters& message) {
    return static_cast<size_t>(message.getFlattenedSize());
}

// A peer on a Unix socket pair that answers each request of requestSize bytes with
// replySize bytes, until the socket closes.
class RawPeer {
public:
    RawPeer(size_t requestSize, size_t replySize) : _reply(replySize, 0x42) {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        _client = fds[0];
        _thread = std::thread([this, requestSize, fd = fds[1]] {
            std::vector<unsigned char> request(requestSize);
            while (readExactly(fd, request.data(), request.size()) &&
                   writeAll(fd, _reply.data(), _reply.size())) {
            }
            close(fd);
        });
    }
    ~RawPeer() {
        shutdown(_client, SHUT_RDWR);
        _thread.join();
        close(_client);
    }
    int fd() const { return _client; }

private:
    std::vector<unsigned char> _reply;
    int _client = -1;
    std::thread _thread;
};

void BM_ConnectedCall(benchmark::State& state) {
    for (auto _ : state) {
        if (gCamera->captureFrame(0) != 0) {
            state.SkipWithError("captureFrame failed");
            break;
        }
    }
}

void BM_RawRoundTrip(benchmark::State& state) {
    android::CRemoteParameters request;
    request.addParam("__function", "captureFrame");
    request.addParam("id", 0ul);
    android::CRemoteParameters reply;
    reply.addParam("__return", 0ul);
    const size_t out = 4 + flattenedSize(request);
    const size_t in = 4 + flattenedSize(reply);
    RawPeer peer(out, in);
    std::vector<unsigned char> bytes(out, 1);
    std::vector<unsigned char> answer(in);
    for (auto _ : state) {
        writeAll(peer.fd(), bytes.data(), bytes.size());
        readExactly(peer.fd(), answer.data(), answer.size());
    }
}

void fetchFrames(benchmark::State& state, const char* size, size_t bytes) {
    gCamera->setPreviewSize(size);
    for (auto _ : state) {
        unsigned long length = 0;
        unsigned long low = 0;
        unsigned long high = 0;
        unsigned char* frame = gCamera->getFrameContents(1, &length, &low, &high);
        if (frame == nullptr || length != bytes) {
            delete[] frame;
            state.SkipWithError("getFrameContents failed");
            break;
        }
        delete[] frame;
    }
}

void frameBound(benchmark::State& state, size_t bytes) {
    RawPeer peer(1, bytes);
    std::vector<unsigned char> delivered(bytes);
    std::vector<unsigned char> first(bytes);
    std::vector<unsigned char> second(bytes);
    const unsigned char ask = 1;
    for (auto _ : state) {
        writeAll(peer.fd(), &ask, 1);
        readExactly(peer.fd(), delivered.data(), bytes);
        memcpy(first.data(), delivered.data(), bytes);
        memcpy(second.data(), first.data(), bytes);
        benchmark::DoNotOptimize(second.data());
    }
}

const size_t k720 = 1280 * 720 * 3 / 2;
const size_t k1080 = 1920 * 1080 * 3 / 2;

void quiet(int, const char*, const char*, void*) {}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vemo::test::GuestHost host(VEMO_HOSTD_PATH, false);
    if (!host.start({"--quiet"})) {
        fprintf(stderr, "bench: %s\n", host.error().c_str());
        return 1;
    }
    vemo_log_set_hook(quiet, nullptr, 1);
    std::unique_ptr<android::CRemoteCamera> camera(new android::CRemoteCamera());
    if (camera->setCameraIx(0) != 0) {
        fprintf(stderr, "bench: the camera can't be bound\n");
        return 1;
    }
    gCamera = camera.get();

    benchmark::RegisterBenchmark("ConnectedCall", BM_ConnectedCall)->MinTime(2.0);
    benchmark::RegisterBenchmark("RawRoundTrip", BM_RawRoundTrip)->MinTime(2.0);
    benchmark::RegisterBenchmark("FrameFetch720", fetchFrames, "1280x720", k720)->MinTime(2.0);
    benchmark::RegisterBenchmark("FrameBound720", frameBound, k720)->MinTime(2.0);
    benchmark::RegisterBenchmark("FrameFetch1080", fetchFrames, "1920x1080", k1080)->MinTime(2.0);
    benchmark::RegisterBenchmark("FrameBound1080", frameBound, k1080)->MinTime(2.0);
    vemo::bench::RatioReporter reporter;
    reporter.addRatio("connected call / raw round trip", "ConnectedCall", "RawRoundTrip");
    reporter.addRatio("1280x720 frame fetch / bound", "FrameFetch720", "FrameBound720");
    reporter.addRatio("1920x1080 frame fetch / bound", "FrameFetch1080", "FrameBound1080");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    camera.reset();
    return 0;
}
