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
#include "support/Eventually.h"
#include "support/HostProcess.h"

namespace vemo {
namespace host {
namespace {

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
        const size_t before = vemo::test::residentBytes(getpid());
        std::this_thread::sleep_for(MediaPipeline::kLinger + std::chrono::milliseconds(500));
        EXPECT_TRUE(pipeline->running());
        // Some 400 pictures came and none was taken: still one kept.
        EXPECT_LT(vemo::test::residentBytes(getpid()), before + (size_t{8} << 20));
        first.capture();
        second.capture();
        EXPECT_EQ(first.frame(CameraState::Stream::kPreview),
                  second.frame(CameraState::Stream::kPreview));
    }
    EXPECT_TRUE(pipeline->running());
    const int linger = static_cast<int>(MediaPipeline::kLinger.count());
    EXPECT_TRUE(vemo::test::eventually([&] { return !pipeline->running(); }, linger + 2000));
    CameraState again(state, 0);
    EXPECT_TRUE(vemo::test::eventually([&] { return pipeline->running(); }));
}

}  // namespace
}  // namespace host
}  // namespace vemo
