// A 1920x1080 NV21 preview frame as the camera service makes it: the capture request, then the
// frame request, its reply encoded into the outgoing packet; against a memcpy of the frame's
// bytes. The session is driven directly, without sockets.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "Session.h"

namespace {

using vemo::host::HostConfig;
using vemo::host::HostState;
using vemo::host::Message;
using vemo::host::PacketBuffer;
using vemo::host::Session;
using vemo::host::Value;

constexpr size_t kFrameBytes = 1920 * 1080 * 3 / 2;

std::vector<uint8_t> requestOf(const char* function, const char* key = nullptr,
                               Value value = Value::u32(0)) {
    Message m;
    m.set("__function", Value::string(function));
    if (key != nullptr) {
        m.set(key, std::move(value));
    }
    return m.encode();
}

class FrameSession {
public:
    FrameSession()
        : _config(HostConfig::withCameras(1)), _state(_config), _session(_state, "bench") {
        Message init;
        init.set("__function", Value::string("__initThis"));
        init.set("__remote_class", Value::string("CameraDevice"));
        ok = answered(init.encode()) && answered(requestOf("setCameraIx", "ix")) &&
             answered(requestOf("setPreviewSize", "size", Value::string("1920x1080"))) &&
             answered(requestOf("setPreviewFormat", "format", Value::string("yuv420sp")));
    }

    // One request, its reply encoded into the packet.
    bool handle(const std::vector<uint8_t>& request) {
        std::string fault;
        return _session.handle(request.data(), request.size(), &reply, &fault);
    }

    // One request, answered without "__error"; decodes the reply, so not for the timed loop.
    bool answered(const std::vector<uint8_t>& request) {
        Message decoded;
        return handle(request) && decoded.decode(reply.payload(), reply.payloadSize()).ok() &&
               decoded.find("__error") == nullptr;
    }

    bool ok = false;
    PacketBuffer reply;

private:
    HostConfig _config;
    HostState _state;
    Session _session;
};

void BM_NV21FrameReply(benchmark::State& state) {
    FrameSession session;
    const std::vector<uint8_t> capture = requestOf("captureFrame", "id");
    const std::vector<uint8_t> fetch = requestOf("getFrameContents", "id", Value::u32(1));
    if (!session.ok || !session.answered(fetch) || session.reply.payloadSize() < kFrameBytes) {
        state.SkipWithError("the camera did not answer");
        return;
    }
    for (auto _ : state) {
        session.handle(capture);
        session.handle(fetch);
        benchmark::DoNotOptimize(session.reply.packet());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<uint8_t> frame(kFrameBytes, 0x5A);
    std::vector<uint8_t> packet(kFrameBytes + 64);
    for (auto _ : state) {
        std::memcpy(packet.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(packet.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("NV21FrameReply", BM_NV21FrameReply)->MinTime(1.0);
    benchmark::RegisterBenchmark("MemcpyFrame", BM_MemcpyFrame)->MinTime(1.0);
    vemo::bench::RatioReporter reporter;
    reporter.addRatio("1920x1080 NV21 frame reply / memcpy", "NV21FrameReply", "MemcpyFrame");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
