// Preview and recording through the device, against the bound of the bytes each path moves:
//  - a preview step with callbacks off writes one RGB888 window frame (the host converts
//    straight into the window's shared memory): bound = one memcpy of width x height x 3;
//  - with preview-frame callbacks it also fetches the NV21 frame (a transfer over the guest
//    driver's socket, then three copies: into the host's reply packet, into the array the proxy
//    hands out, into the client's callback memory): bound += raw transfer + 3 memcpys of
//    width x height x 3 / 2;
//  - recording at 1920x1080: frames per second in copy mode and in metadata mode, whose ratio
//    is the point (metadata mode keeps the frame on the host);
//  - the CPU time of a worker that has nothing to do.

#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <vemo/log_hook.h>

#include "PreviewingCamera.h"
#include "RatioReporter.h"
#include "SocketBytes.h"

namespace {

using vemo::bench::Previewing;
using vemo::bench::readExactly;
using vemo::bench::Size;
using vemo::bench::writeAll;

void previewSteps(benchmark::State& state, Size size, bool callbacks) {
    Previewing camera(size, callbacks);
    if (!camera.ok()) {
        state.SkipWithError("no camera");
        return;
    }
    camera.device().setPreviewWindow(camera.window().ops());
    camera.device().startPreview();
    camera.window().waitForEnqueued(3, std::chrono::seconds(5));
    for (auto _ : state) {
        // One step: the next buffer queued back (and its callback, when asked for).
        const uint64_t next = camera.window().enqueued() + 1;
        camera.window().waitForEnqueued(next, std::chrono::seconds(5));
        if (callbacks) {
            camera.callbacks().waitFor(CAMERA_MSG_PREVIEW_FRAME, static_cast<size_t>(next - 1),
                                       std::chrono::seconds(5));
        }
    }
}

const size_t kWarmUpFrames = 100;

// Metadata mode hands each record back as it arrives (promptly), or all of them once the
// recording stops (releases apart from delivery).
void recordFrames(benchmark::State& state, bool metadata, bool releaseAtOnce) {
    Previewing camera({1920, 1080}, false);
    if (!camera.ok()) {
        state.SkipWithError("no camera");
        return;
    }
    if (metadata) {
        camera.device().storeMetaDataInBuffers(1);
    }
    if (metadata && releaseAtOnce) {
        // An encoder that has read the sample hands the record back at once.
        vemo::guest::CameraDevice* device = &camera.device();
        camera.callbacks().setHook([device](const vemo::guest::CameraEvent& record) {
            device->releaseRecordingFrame(record.bytes.data());
        });
    }
    camera.callbacks().setKeepData(metadata);
    camera.device().enableMsgType(CAMERA_MSG_VIDEO_FRAME);
    camera.device().startRecording();
    // Steady state first: the host's sample store has filled (64 samples) and every buffer on
    // the way has its pages.
    camera.callbacks().waitFor(CAMERA_MSG_VIDEO_FRAME, kWarmUpFrames, std::chrono::seconds(10));
    size_t seen = camera.callbacks().eventCount();
    for (auto _ : state) {
        // One frame; in metadata mode its record goes back at once, as an encoder's would.
        camera.callbacks().waitFor(CAMERA_MSG_VIDEO_FRAME, seen + 1, std::chrono::seconds(5));
        ++seen;
    }
    camera.device().stopRecording();
    if (metadata && !releaseAtOnce) {
        for (const vemo::guest::CameraEvent& record : camera.callbacks().events()) {
            camera.device().releaseRecordingFrame(record.bytes.data());
        }
    }
}

// The bound of a preview step: one window frame written, and with callbacks the frame's
// transfer over a Unix socket and its three copies.
void previewBound(benchmark::State& state, Size size, bool callbacks) {
    const size_t window = static_cast<size_t>(size.width) * size.height * 3;
    const size_t frame = static_cast<size_t>(size.width) * size.height * 3 / 2;
    std::vector<unsigned char> source(window, 0x42);
    std::vector<unsigned char> shown(window);
    std::vector<unsigned char> delivered(frame);
    std::vector<unsigned char> copies[3] = {std::vector<unsigned char>(frame),
                                            std::vector<unsigned char>(frame),
                                            std::vector<unsigned char>(frame)};
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    std::thread peer([&] {
        unsigned char ask = 0;
        while (readExactly(fds[1], &ask, 1)) {
            size_t sent = 0;
            while (sent < frame) {
                const ssize_t w = send(fds[1], source.data() + sent, frame - sent, MSG_NOSIGNAL);
                if (w <= 0) {
                    return;
                }
                sent += static_cast<size_t>(w);
            }
        }
    });
    const unsigned char ask = 1;
    for (auto _ : state) {
        memcpy(shown.data(), source.data(), window);
        if (callbacks) {
            send(fds[0], &ask, 1, MSG_NOSIGNAL);
            readExactly(fds[0], delivered.data(), frame);
            memcpy(copies[0].data(), delivered.data(), frame);
            memcpy(copies[1].data(), copies[0].data(), frame);
            memcpy(copies[2].data(), copies[1].data(), frame);
        }
        benchmark::DoNotOptimize(copies[2].data());
        benchmark::DoNotOptimize(shown.data());
    }
    shutdown(fds[0], SHUT_RDWR);
    peer.join();
    close(fds[0]);
    close(fds[1]);
}

double processCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vemo_log_set_hook(vemo::bench::dropLogLine, nullptr, 1);
    vemo::bench::RatioReporter reporter;
    const Size sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (const Size& size : sizes) {
        for (bool callbacks : {false, true}) {
            const std::string name = "Preview" + size.text() + (callbacks ? "WithCallbacks" : "");
            const std::string bound = "Bound" + size.text() + (callbacks ? "WithCallbacks" : "");
            benchmark::RegisterBenchmark(name.c_str(), previewSteps, size, callbacks)
                ->MinTime(1.5)
                ->UseRealTime();
            benchmark::RegisterBenchmark(bound.c_str(), previewBound, size, callbacks)
                ->MinTime(1.5)
                ->UseRealTime();
            reporter.addRatio("preview step " + size.text() +
                                  (callbacks ? " with callbacks" : " without callbacks") +
                                  " / bound",
                              name, bound);
        }
    }
    benchmark::RegisterBenchmark("RecordCopy1080", recordFrames, false, false)
        ->MinTime(2.0)
        ->UseRealTime();
    benchmark::RegisterBenchmark("RecordMetadata1080", recordFrames, true, false)
        ->MinTime(2.0)
        ->UseRealTime();
    benchmark::RegisterBenchmark("RecordMetadataReleasing1080", recordFrames, true, true)
        ->MinTime(2.0)
        ->UseRealTime();
    reporter.addRatio(
        "metadata fps / copy fps at 1920x1080 (copy frame time / metadata frame "
        "time)",
        "RecordCopy1080", "RecordMetadata1080");
    reporter.addRatio("the same with every record handed back as it arrives", "RecordCopy1080",
                      "RecordMetadataReleasing1080");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // A worker with nothing to do: the host answers every capture with HOST_BUSY, so preview
    // never starts but the worker runs.
    Previewing idle({640, 480}, false, {"--fault", "busy"});
    if (idle.ok()) {
        idle.device().setPreviewWindow(idle.window().ops());
        idle.device().startPreview();
        usleep(200000);
        const double before = processCpuSeconds();
        sleep(2);
        const double used = processCpuSeconds() - before;
        printf("idle worker: %.2f%% of one core over 2 s\n", used / 2.0 * 100.0);
    }
    return 0;
}
