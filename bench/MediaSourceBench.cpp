// A 1080p H.264 clip shown as a camera's video: source, delivered as 1920x1080 NV21 preview
// frames at the clip's 30 fps, against decoding the same clip alone through GStreamer into a
// fakesink that drops the frames; both at the clip's rate, taking turns, in one run, for a
// detailed clip and a nearly empty one. Reports the host's CPU
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
constexpr int kRounds = 5;

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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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

// Shows the clip on a camera and takes frames 1920x1080 NV21 preview frames from it, with the
// latency of each after the first kWarmUp in *latencies. Returns the process's CPU time a frame
// from choosing the source on, or -1 when the source can't be chosen.
double showClip(const std::string& clip, int frames, std::vector<double>* latencies) {
    HostConfig config = HostConfig::withCameras(1);
    config.paced = true;
    config.cameras[0].previewSizes = {{1920, 1080}};
    config.cameras[0].preferredPreviewSize = {1920, 1080};
    HostState state(config);
    std::string error;
    const double start = cpuSeconds();
    if (state.sources.select(0, *SourceChoice::parse("video:" + clip, &error), &error) == nullptr) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return -1;
    }
    {
        CameraState camera(state, 0);
        const std::shared_ptr<vemo::host::MediaPipeline> pipeline =
            state.sources.current(0)->pipeline();
        for (int i = 0; i < frames; ++i) {
            camera.capture();
            const auto picture = pipeline->newest();
            const std::vector<uint8_t>& frame = camera.frame(CameraState::Stream::kPreview);
            if (frame.size() != 1920u * 1080 * 3 / 2) {
                std::fprintf(stderr, "bench: a frame of %zu bytes\n", frame.size());
                return -1;
            }
            if (i >= kWarmUp) {
                latencies->push_back(static_cast<double>(steadyNanos() - picture->decodedAtNs) /
                                     1e6);
            }
        }
    }
    return (cpuSeconds() - start) / frames;
}

// Makes a 1080p H.264 clip of the test source's pattern at bitrate kbit/s, and compares showing
// it with decoding it alone. False when a pipeline fails.
bool compare(const std::string& folder, const char* title, const std::string& pattern,
             int bitrate) {
    const std::string clip = folder + "/clip.mp4";
    // An ordinary 8-bit 4:2:0 clip, as cameras and phones record them: from the test source
    // the encoder would take 10-bit 4:4:4, which every decoder hands on in that form.
    std::printf("%s: making a %d-frame 1080p H.264 clip at %d kbit/s...\n", title, kFrames,
                bitrate);
    if (!runToEnd("videotestsrc " + pattern + " num-buffers=" + std::to_string(kFrames) +
                  " ! video/x-raw,format=I420,width=1920,height=1080,framerate=30/1 ! x264enc "
                  "speed-preset=ultrafast key-int-max=30 bitrate=" +
                  std::to_string(bitrate) + " ! h264parse ! mp4mux ! filesink location=" + clip)) {
        return false;
    }

    // Each is run once before it is timed, so that loading libraries and plugins counts in
    // neither figure; then both take turns kRounds times. Each round's ratio compares two runs
    // made one after the other, so that the machine's drift between rounds cancels; the median
    // of those ratios is the figure.
    const std::string decodeAlone = "filesrc location=" + clip + " ! decodebin ! fakesink sync=true";
    std::vector<double> latencies;
    if (!runToEnd(decodeAlone) || showClip(clip, kWarmUp, &latencies) < 0) {
        return false;
    }
    latencies.clear();
    std::vector<double> decodeOnly;
    std::vector<double> delivered;
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        const double start = cpuSeconds();
        if (!runToEnd(decodeAlone)) {
            return false;
        }
        decodeOnly.push_back((cpuSeconds() - start) / kFrames);
        delivered.push_back(showClip(clip, kFrames, &latencies));
        if (delivered.back() < 0) {
            return false;
        }
        ratios.push_back(delivered.back() / decodeOnly.back());
        std::printf("  round %d: decoding alone %.2f ms, shown %.2f ms CPU a frame: %.2fx\n",
                    round + 1, decodeOnly.back() * 1e3, delivered.back() * 1e3, ratios.back());
    }
    const double decodeMedian = median(decodeOnly);
    const double deliveredMedian = median(delivered);
    std::sort(latencies.begin(), latencies.end());
    std::printf("  decoding alone into fakesink: %.2f ms CPU a frame (median)\n",
                decodeMedian * 1e3);
    std::printf("  video: source to 1920x1080 NV21 preview: %.2f ms CPU a frame (median)\n",
                deliveredMedian * 1e3);
    std::printf("  ratio: %.2fx (median of the rounds' ratios)\n", median(ratios));
    std::printf(
        "  decoder to preview frame at 30 fps: median %.1f ms, p99 %.1f ms (interval 33.3)\n",
        latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100]);
    return true;
}

}  // namespace

int main() {
    gst_init(nullptr, nullptr);
    char folder[] = "/tmp/vemo-bench-media-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 1;
    }
    // A detailed moving picture at the bitrate of a phone's 1080p recording, and a nearly empty
    // one (a ball on black) whose decoding costs little, so everything after it weighs more.
    const bool compared =
        compare(folder, "detailed, 8 Mbit/s", "pattern=zone-plate kx2=20 ky2=20 kt=1", 8000) &&
        compare(folder, "nearly empty, ball on black", "pattern=ball", 2048);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return compared ? 0 : 1;
}
