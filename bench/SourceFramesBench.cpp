// Frames a camera's source delivers at 1920x1080 in NV21: the capture request, then the frame
// request, its reply encoded into the outgoing packet, for a still picture (4:3, so
// letterboxed), a 4:2:0 clip of the frame's size and the test pattern; each against a memcpy of
// the frame's bytes. The session is driven directly, without sockets, and unpaced. A still
// picture is decoded once, when it is chosen, and converted once: from then on a frame costs
// about what copying it does.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "JpegEncoder.h"
#include "RatioReporter.h"
#include "Session.h"

namespace {

using vemo::host::HostConfig;
using vemo::host::HostState;
using vemo::host::JpegEncoder;
using vemo::host::Message;
using vemo::host::PacketBuffer;
using vemo::host::Session;
using vemo::host::SourceChoice;
using vemo::host::Value;

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr size_t kFrameBytes = kWidth * kHeight * 3 / 2;
constexpr int kClipFrames = 8;

std::vector<uint8_t> requestOf(const char* function, const char* key = nullptr,
                               Value value = Value::u32(0)) {
    Message m;
    m.set("__function", Value::string(function));
    if (key != nullptr) {
        m.set(key, std::move(value));
    }
    return m.encode();
}

// The files the sources read, in a private folder removed at the end.
class Files {
public:
    Files() {
        char name[] = "/tmp/vemo-bench-sources-XXXXXX";
        if (::mkdtemp(name) == nullptr) {
            return;
        }
        folder = name;
        ok = writePicture() && writeClip();
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string picture() const { return folder + "/picture.jpg"; }
    std::string clip() const { return folder + "/clip.y4m"; }

    std::string folder;
    bool ok = false;

private:
    // A 1440x1080 photograph-like gradient.
    bool writePicture() const {
        const uint32_t w = 1440;
        std::vector<uint8_t> argb(static_cast<size_t>(w) * kHeight * 4);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t* p = &argb[(static_cast<size_t>(y) * w + x) * 4];
                p[0] = static_cast<uint8_t>(x * 255 / w);
                p[1] = static_cast<uint8_t>(y * 255 / kHeight);
                p[2] = static_cast<uint8_t>((x + y) & 0xFF);
                p[3] = 0xFF;
            }
        }
        JpegEncoder encoder;
        std::string error;
        if (!encoder.encode(argb.data(), static_cast<int>(w * 4), {w, kHeight}, 90, &error)) {
            return false;
        }
        std::ofstream out(picture(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(encoder.data()),
                  static_cast<std::streamsize>(encoder.size()));
        return static_cast<bool>(out);
    }

    bool writeClip() const {
        std::ofstream out(clip(), std::ios::binary);
        out << "YUV4MPEG2 W" << kWidth << " H" << kHeight << " F30:1 Ip A1:1 C420jpeg\n";
        std::vector<uint8_t> frame(kFrameBytes);
        for (int k = 0; k < kClipFrames; ++k) {
            for (size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<uint8_t>((i / 7 + static_cast<size_t>(k) * 31) & 0xFF);
            }
            out << "FRAME\n";
            out.write(reinterpret_cast<const char*>(frame.data()),
                      static_cast<std::streamsize>(frame.size()));
        }
        return static_cast<bool>(out);
    }
};

const Files& files() {
    static const Files kFiles;
    return kFiles;
}

// A session with camera 0 showing choice, previewing at 1920x1080 in NV21.
class SourceSession {
public:
    explicit SourceSession(const std::string& choice)
        : _config(HostConfig::withCameras(1)), _state(_config), _session(_state, "bench") {
        std::string error;
        const std::optional<SourceChoice> parsed = SourceChoice::parse(choice, &error);
        if (!parsed || _state.sources.select(0, *parsed, &error) == nullptr) {
            std::fprintf(stderr, "bench: %s: %s\n", choice.c_str(), error.c_str());
            return;
        }
        Message init;
        init.set("__function", Value::string("__initThis"));
        init.set("__remote_class", Value::string("CameraDevice"));
        ok = answered(init.encode()) && answered(requestOf("setCameraIx", "ix")) &&
             answered(requestOf("setPreviewSize", "size", Value::string("1920x1080"))) &&
             answered(requestOf("setPreviewFormat", "format", Value::string("yuv420sp")));
    }

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

void runFrames(benchmark::State& state, const std::string& choice) {
    if (!files().ok) {
        state.SkipWithError("the source files could not be written");
        return;
    }
    SourceSession session(choice);
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
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PictureFrames(benchmark::State& state) {
    runFrames(state, "image:" + files().picture());
}

void BM_ClipFrames(benchmark::State& state) {
    runFrames(state, "y4m:" + files().clip());
}

void BM_PatternFrames(benchmark::State& state) {
    runFrames(state, "pattern");
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
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("PictureFrames", BM_PictureFrames)->MinTime(1.0);
    benchmark::RegisterBenchmark("ClipFrames", BM_ClipFrames)->MinTime(1.0);
    benchmark::RegisterBenchmark("PatternFrames", BM_PatternFrames)->MinTime(1.0);
    benchmark::RegisterBenchmark("MemcpyFrame", BM_MemcpyFrame)->MinTime(1.0);
    vemo::bench::RatioReporter reporter;
    reporter.addRatio("1920x1080 NV21 from a picture / memcpy", "PictureFrames", "MemcpyFrame");
    reporter.addRatio("1920x1080 NV21 from a clip / memcpy", "ClipFrames", "MemcpyFrame");
    reporter.addRatio("1920x1080 NV21 from the pattern / memcpy", "PatternFrames", "MemcpyFrame");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
