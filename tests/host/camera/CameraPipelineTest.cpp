// A GStreamer pipeline belongs to the camera: one however many instances have it open, running
// while any has, stopped a few seconds after the last closes and started again by the next
// open; every instance sees the same picture; a fast source against an instance that never
// captures keeps one picture, not a queue.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "CameraState.h"
#include "HostState.h"

namespace vemo {
namespace host {
namespace {

// Bytes of resident memory of this process.
long residentBytes() {
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!done() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

TEST(CameraPipeline, OneLivePipelineServesEveryInstanceAndStopsAfterTheLastCloses) {
    HostConfig config = HostConfig::withCameras(1);
    config.cameras[0].previewSizes = {{320, 240}};
    config.cameras[0].preferredPreviewSize = {320, 240};
    HostState state(config);
    std::string error;
    // A fast live source, like a webcam that can be opened once.
    ASSERT_NE(state.sources.select(0,
                                   *SourceChoice::parse("gst:videotestsrc is-live=true "
                                                        "pattern=ball ! video/x-raw,width=640,"
                                                        "height=480,framerate=120/1",
                                                        &error),
                                   &error),
              nullptr)
        << error;
    const std::shared_ptr<MediaPipeline> pipeline = state.sources.current(0)->pipeline();
    ASSERT_NE(pipeline, nullptr);
    {
        CameraState first(state, 0);
        CameraState second(state, 0);
        const long before = residentBytes();
        std::this_thread::sleep_for(MediaPipeline::kLinger + std::chrono::milliseconds(500));
        EXPECT_TRUE(pipeline->running());
        // Some 400 pictures came and none was taken: still one kept.
        EXPECT_LT(residentBytes() - before, 8l << 20);
        first.capture();
        second.capture();
        EXPECT_EQ(first.frame(CameraState::Stream::kPreview),
                  second.frame(CameraState::Stream::kPreview));
    }
    EXPECT_TRUE(pipeline->running());
    EXPECT_TRUE(eventually([&] { return !pipeline->running(); },
                           MediaPipeline::kLinger + std::chrono::seconds(2)));
    CameraState again(state, 0);
    EXPECT_TRUE(eventually([&] { return pipeline->running(); }, std::chrono::seconds(3)));
}

}  // namespace
}  // namespace host
}  // namespace vemo
