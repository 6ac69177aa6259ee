// A 1080p H.264 clip shown as a camera's video: source, delivered as 1920x1080 NV21 preview
// frames at the clip's 30 fps, against decoding the same clip alone through GStreamer into a
// fakesink that drops the frames; both at the clip's rate, in one run. Reports the host's CPU
// time per frame of each and their ratio, and the time from a picture leaving the decoder to
// its preview frame being ready to send to the guest (median and 99th percentile). The machine's
// load shows in both figures: run it on a quiet machine.

#include <gst/gst.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CameraState.h"
#include "HostState.h"

namespace {

using vemo::host::CameraState;
using vemo::host::HostConfig;
using vemo::host::HostState;
using vemo::host::PixelFormat;
using vemo::host::SourceChoice;

constexpr int kFrames = 150;  // 5 s at 30 fps
// Latency is taken once the pipeline has run for half a second: its first pictures wait while
// it starts (preroll), which is a start-up cost, not a frame's.
constexpr int kWarmUp = 15;

double cpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

uint64_t steadyNanos() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Runs a pipeline to its end; false when it fails.
bool runToEnd(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr || error != nullptr) {
        std::fprintf(stderr, "bench: %s\n", error != nullptr ? error->message : "no pipeline");
        g_clear_error(&error);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ended;
}

}  // namespace

int main() {
    gst_init(nullptr, nullptr);
    char folder[] = "/tmp/vemo-bench-media-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::string clip = std::string(folder) + "/clip.mp4";
    std::printf("making a %d-frame 1080p H.264 clip...\n", kFrames);
    if (!runToEnd("videotestsrc pattern=ball num-buffers=" + std::to_string(kFrames) +
                  " ! video/x-raw,width=1920,height=1080,framerate=30/1 ! x264enc "
                  "speed-preset=ultrafast key-int-max=30 ! h264parse ! mp4mux ! filesink "
                  "location=" +
                  clip)) {
        return 1;
    }

    double start = cpuSeconds();
    if (!runToEnd("filesrc location=" + clip + " ! decodebin ! fakesink sync=true")) {
        return 1;
    }
    const double decodeOnly = (cpuSeconds() - start) / kFrames;

    HostConfig config = HostConfig::withCameras(1);
    config.paced = true;
    config.cameras[0].previewSizes = {{1920, 1080}};
    config.cameras[0].preferredPreviewSize = {1920, 1080};
    HostState state(config);
    std::string error;
    start = cpuSeconds();
    if (state.sources.select(0, *SourceChoice::parse("video:" + clip, &error), &error) == nullptr) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> latencies;
    {
        CameraState camera(state, 0);
        const std::shared_ptr<vemo::host::MediaPipeline> pipeline =
            state.sources.current(0)->pipeline();
        for (int i = 0; i < kFrames; ++i) {
            camera.capture();
            const auto picture = pipeline->newest();
            const std::vector<uint8_t>& frame = camera.frame(CameraState::Stream::kPreview);
            if (frame.size() != 1920u * 1080 * 3 / 2) {
                return 1;
            }
            if (i >= kWarmUp) {
                latencies.push_back(static_cast<double>(steadyNanos() - picture->decodedAtNs) /
                                    1e6);
            }
        }
    }
    const double delivered = (cpuSeconds() - start) / kFrames;
    std::sort(latencies.begin(), latencies.end());
    std::printf("decoding alone into fakesink: %.2f ms CPU a frame\n", decodeOnly * 1e3);
    std::printf("video: source to 1920x1080 NV21 preview: %.2f ms CPU a frame\n", delivered * 1e3);
    std::printf("ratio: %.2fx\n", delivered / decodeOnly);
    std::printf("decoder to preview frame at 30 fps: median %.1f ms, p99 %.1f ms (interval 33.3)\n",
                latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100]);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
