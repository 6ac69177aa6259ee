// Frame pacing: the pacer's schedule on a clock of the test's own, the host's clock, the rate a
// camera instance paces at, and a paced vemo-hostd measured in real time.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "CameraState.h"
#include "FramePacer.h"
#include "HgcmTestSupport.h"
#include "HostClock.h"
#include "HostState.h"
#include "HostTestSupport.h"
#include "SourceTestSupport.h"
#include "support/HostProcess.h"

namespace vemo {
namespace host {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using Clock = std::chrono::steady_clock;

// Time that moves only when the test or a wait moves it; records every wait.
class FakeClock : public IClock {
public:
    TimePoint now() const override { return _now; }
    void waitUntil(TimePoint deadline) override {
        waits.push_back(deadline - _now);
        _now = std::max(_now, deadline);
    }
    void advance(nanoseconds by) { _now += by; }

    std::vector<nanoseconds> waits;

private:
    TimePoint _now{std::chrono::seconds(1000)};
};

TEST(FramePacer, KeepsTheCadenceWithoutDriftAndNeverBursts) {
    FakeClock clock;
    FramePacer pacer(clock);
    const FrameRate thirty{30, 1};
    const nanoseconds period = thirty.period();
    EXPECT_EQ(period, nanoseconds(33333333));

    const IClock::TimePoint start = clock.now();
    pacer.next(thirty);  // the first picture is due at once
    EXPECT_TRUE(clock.waits.empty());
    for (int i = 0; i < 299; ++i) {
        pacer.next(thirty);
    }
    // Asked back to back, each picture waits a period: 300 pictures in 299 periods exactly.
    EXPECT_EQ(clock.waits.size(), 299u);
    EXPECT_EQ(clock.now() - start, 299 * period);

    // Work between pictures shortens the wait, so the cadence holds.
    clock.waits.clear();
    clock.advance(milliseconds(10));
    pacer.next(thirty);
    ASSERT_EQ(clock.waits.size(), 1u);
    EXPECT_EQ(clock.waits[0], period - milliseconds(10));

    // Late by less than a period: at once, and the next is due on the old cadence.
    clock.waits.clear();
    clock.advance(period + milliseconds(20));
    const IClock::TimePoint late = clock.now();
    pacer.next(thirty);
    EXPECT_TRUE(clock.waits.empty());
    pacer.next(thirty);
    ASSERT_EQ(clock.waits.size(), 1u);
    EXPECT_EQ(clock.now(), late - milliseconds(20) + period);

    // After a pause the cadence starts afresh: no burst of quick pictures to catch up.
    clock.waits.clear();
    clock.advance(std::chrono::seconds(2));
    pacer.next(thirty);
    EXPECT_TRUE(clock.waits.empty());
    pacer.next(thirty);
    pacer.next(thirty);
    EXPECT_EQ(clock.waits, (std::vector<nanoseconds>{period, period}));

    // A clip's exact rate, and a change of rate.
    clock.waits.clear();
    const FrameRate ntsc{30000, 1001};
    pacer.next(ntsc);
    pacer.next(FrameRate{10, 1});
    EXPECT_EQ(clock.waits, (std::vector<nanoseconds>{period, nanoseconds(33366666)}));
}

TEST(HostClock, StopEndsAWaitAndEveryLaterOne) {
    HostClock clock;
    const Clock::time_point start = Clock::now();
    clock.waitUntil(start + milliseconds(20));
    EXPECT_GE(Clock::now() - start, milliseconds(20));
    auto waiter = std::async(
        std::launch::async, [&clock] { clock.waitUntil(Clock::now() + std::chrono::seconds(30)); });
    EXPECT_EQ(waiter.wait_for(milliseconds(50)), std::future_status::timeout);
    clock.stop();
    EXPECT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const Clock::time_point after = Clock::now();
    clock.waitUntil(after + std::chrono::seconds(30));
    EXPECT_LT(Clock::now() - after, std::chrono::seconds(5));
}

TEST(CameraState, PacesAtTheCameraRateTheGuestMayLowerOrAtTheSourcesOwn) {
    HostConfig config = HostConfig::withCameras(2);
    config.cameras[1].fps = 60;
    HostState state(config);
    CameraState camera(state, 0);
    EXPECT_EQ(camera.frameRate(), (FrameRate{30, 1}));
    EXPECT_EQ(camera.previewFps(), 30u);
    ASSERT_TRUE(camera.setPreviewFps(15).isOk());
    EXPECT_EQ(camera.frameRate(), (FrameRate{15, 1}));
    ASSERT_TRUE(camera.setPreviewFps(120).isOk());
    EXPECT_EQ(camera.frameRate(), (FrameRate{30, 1}));
    EXPECT_FALSE(camera.setPreviewFps(0).isOk());
    EXPECT_FALSE(camera.setPreviewFps(121).isOk());

    CameraState fast(state, 1);
    EXPECT_EQ(fast.previewFps(), 60u);
    EXPECT_EQ(fast.frameRate(), (FrameRate{60, 1}));

    // A clip keeps its own rate whatever the guest asks, from the capture that takes it up.
    test::TempFolder folder;
    ASSERT_TRUE(
        test::writeFile(folder.file("clip.y4m"), test::y4mClip("W16 H16 F25:2", 16, 16, 2)));
    std::string error;
    ASSERT_NE(state.sources.select(
                  0, *SourceChoice::parse("y4m:" + folder.file("clip.y4m"), &error), &error),
              nullptr)
        << error;
    camera.capture();
    EXPECT_EQ(camera.frameRate(), (FrameRate{25, 2}));
    ASSERT_TRUE(camera.setPreviewFps(5).isOk());
    EXPECT_EQ(camera.frameRate(), (FrameRate{25, 2}));
}

// A paced vemo-hostd: camera 0 shows the pattern at 30 fps, camera 1 a clip at 10 fps, camera 2
// the pattern at 1 fps.
class PacedHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            test::writeFile(_folder.file("clip.y4m"), test::y4mClip("W64 H48 F10:1", 64, 48, 3)));
        _host.setPaced(true);
        ASSERT_TRUE(
            _host.start({"--quiet", "--cameras", "3", "--camera",
                         "1:source=y4m:" + _folder.file("clip.y4m"), "--camera", "2:fps=1"}))
            << _host.error();
    }

    // A client of the camera service with camera ix selected.
    std::unique_ptr<test::TestClient> client(uint32_t ix) {
        auto client = std::make_unique<test::TestClient>();
        EXPECT_TRUE(client->open(static_cast<uint16_t>(_host.cameraPort()), ix));
        return client;
    }

    // Captures answered within the time, asked back to back.
    static int capturesWithin(test::TestClient& client, Clock::duration time) {
        const Message capture = test::with(test::request("captureFrame"), "id", 0);
        int count = 0;
        const Clock::time_point end = Clock::now() + time;
        while (Clock::now() < end && count < 1000) {
            if (!client.call(capture)) {
                return -1;
            }
            ++count;
        }
        return count;
    }

    test::TempFolder _folder;
    vemo::test::HostProcess _host{VEMO_HOSTD_PATH};
};

TEST_F(PacedHost, CapturesComeAtTheCameraRateAndAClipsRate) {
    // Generous bounds: what is checked is a rate near 30 and 10, not "as fast as asked".
    const int pattern = capturesWithin(*client(0), std::chrono::seconds(1));
    EXPECT_GE(pattern, 22);
    EXPECT_LE(pattern, 34);
    const int clip = capturesWithin(*client(1), std::chrono::seconds(1));
    EXPECT_GE(clip, 7);
    EXPECT_LE(clip, 12);
}

TEST_F(PacedHost, StoppingEndsACaptureThatWaitsForItsTime) {
    std::unique_ptr<test::TestClient> slow = client(2);
    const Message capture = test::with(test::request("captureFrame"), "id", 0);
    ASSERT_TRUE(slow->call(capture));  // the first picture is due at once
    auto waiting = std::async(std::launch::async, [&slow, &capture] { slow->call(capture); });
    ASSERT_EQ(waiting.wait_for(milliseconds(200)), std::future_status::timeout);
    const Clock::time_point stopping = Clock::now();
    EXPECT_EQ(_host.stop(), 0);
    EXPECT_LT(Clock::now() - stopping, milliseconds(600));
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace host
}  // namespace vemo
