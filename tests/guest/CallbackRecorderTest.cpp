// The stand-in's callbacks against a fake device that fires them as a module would: what is
// recorded, on which thread, and the accounting of the memory handed out.

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "FakeCameraDevice.h"
#include "service/CallbackRecorder.h"
#include "service/CameraDevice.h"

namespace vemo {
namespace test {

namespace {

using guest::CallbackRecorder;
using guest::CameraEvent;
using std::chrono::milliseconds;

class CallbackRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { recorder.install(device); }
    void TearDown() override { device.close(); }

    camera_memory_t* request(size_t size, unsigned count = 1) {
        return fake.requestMemory(-1, size, count, fake.cookie);
    }

    FakeCameraDevice fake;
    guest::CameraDevice device{fake.device()};
    CallbackRecorder recorder;
};

TEST_F(CallbackRecorderTest, RecordsEachKindWithItsArgumentsBytesAndThread) {
    camera_memory_t* frame = request(4);
    ASSERT_NE(frame, nullptr);
    memcpy(frame->data, "\x01\x02\x03\x04", 4);
    camera_frame_metadata_t metadata = {};
    std::thread worker([&] {
        fake.notify(CAMERA_MSG_SHUTTER, 7, -8, fake.cookie);
        fake.data(CAMERA_MSG_PREVIEW_FRAME, frame, 2, &metadata, fake.cookie);
        fake.dataTimestamp(-5, CAMERA_MSG_VIDEO_FRAME, frame, 3, fake.cookie);
    });
    const std::thread::id workerId = worker.get_id();
    worker.join();
    // Memory the device got elsewhere is recorded as well, but is not the recorder's.
    uint8_t foreignBytes[2] = {9, 9};
    camera_memory_t foreign = {foreignBytes, sizeof(foreignBytes), nullptr, nullptr};
    fake.data(CAMERA_MSG_COMPRESSED_IMAGE, &foreign, 0, nullptr, fake.cookie);
    fake.data(CAMERA_MSG_RAW_IMAGE, nullptr, 0, nullptr, fake.cookie);
    frame->release(frame);

    const std::vector<CameraEvent> events = recorder.events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, CameraEvent::Kind::kNotify);
    EXPECT_EQ(events[0].message, CAMERA_MSG_SHUTTER);
    EXPECT_EQ(events[0].ext1, 7);
    EXPECT_EQ(events[0].ext2, -8);
    EXPECT_FALSE(events[0].hasMemory);

    EXPECT_EQ(events[1].kind, CameraEvent::Kind::kData);
    EXPECT_EQ(events[1].index, 2u);
    EXPECT_TRUE(events[1].hasMetadata);
    EXPECT_TRUE(events[1].ownBlock);
    EXPECT_EQ(events[1].bytes, (std::vector<uint8_t>{1, 2, 3, 4}));

    EXPECT_EQ(events[2].kind, CameraEvent::Kind::kDataTimestamp);
    EXPECT_EQ(events[2].timestamp, -5);
    EXPECT_EQ(events[2].index, 3u);
    EXPECT_EQ(events[2].size, 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].thread, workerId) << i;
    }

    EXPECT_EQ(events[3].thread, std::this_thread::get_id());
    EXPECT_FALSE(events[3].ownBlock);
    EXPECT_FALSE(events[3].hasMetadata);
    EXPECT_EQ(events[3].bytes, (std::vector<uint8_t>{9, 9}));
    EXPECT_FALSE(events[4].hasMemory);
    EXPECT_TRUE(events[4].bytes.empty());

    EXPECT_EQ(recorder.count(CAMERA_MSG_PREVIEW_FRAME), 1u);
    CameraEvent last;
    ASSERT_TRUE(recorder.last(CAMERA_MSG_VIDEO_FRAME, &last));
    EXPECT_EQ(last.timestamp, -5);
    EXPECT_FALSE(recorder.last(CAMERA_MSG_FOCUS, &last));
    EXPECT_EQ(recorder.eventsFrom(3).size(), 2u);
    EXPECT_TRUE(recorder.eventsFrom(9).empty());
}

TEST_F(CallbackRecorderTest, WithoutKeepingDataEventsKeepTheirSizeAndWithoutEventsOnlyCounts) {
    recorder.setKeepData(false);
    std::vector<uint8_t> seen;
    recorder.setHook([&](const CameraEvent& event) { seen = event.bytes; });
    camera_memory_t* frame = request(3);
    fake.data(CAMERA_MSG_PREVIEW_FRAME, frame, 0, nullptr, fake.cookie);
    frame->release(frame);
    EXPECT_EQ(seen.size(), 3u);
    const std::vector<CameraEvent> events = recorder.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].size, 3u);
    EXPECT_TRUE(events[0].bytes.empty());

    // A long run keeps nothing per event, yet the hook and the counts see each one.
    recorder.setKeepEvents(false);
    seen.clear();
    frame = request(5);
    fake.data(CAMERA_MSG_PREVIEW_FRAME, frame, 0, nullptr, fake.cookie);
    frame->release(frame);
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_EQ(recorder.count(CAMERA_MSG_PREVIEW_FRAME), 2u);
    EXPECT_EQ(recorder.eventCount(), 1u);
    recorder.clear();
    EXPECT_EQ(recorder.count(CAMERA_MSG_PREVIEW_FRAME), 0u);
}

TEST_F(CallbackRecorderTest, CountsTheBlocksNotReleasedAndToleratesBadReleases) {
    camera_memory_t* a = request(16, 2);
    camera_memory_t* b = request(0);
    camera_memory_t* c = request(1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    // count buffers of size bytes each, all of them writable.
    EXPECT_EQ(a->size, 32u);
    memset(a->data, 0xAB, a->size);
    EXPECT_NE(b->data, nullptr);
    EXPECT_EQ(recorder.outstandingBlocks(), 3u);

    // The device keeps the release function, not the freed block, for a second release.
    const camera_release_memory release = a->release;
    release(a);
    b->release(b);
    EXPECT_EQ(recorder.outstandingBlocks(), 1u);
    const size_t stray = CallbackRecorder::strayReleases();
    release(a);
    camera_memory_t notOurs = {nullptr, 0, nullptr, nullptr};
    release(&notOurs);
    EXPECT_EQ(CallbackRecorder::strayReleases(), stray + 2);
    EXPECT_EQ(recorder.outstandingBlocks(), 1u);

    recorder.setMemoryFails(true);
    EXPECT_EQ(request(16), nullptr);
    recorder.setMemoryFails(false);
    // A size that overflows the block is refused like a failed mapping.
    EXPECT_EQ(request(SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(recorder.outstandingBlocks(), 1u);

    const std::vector<guest::MemoryRequest> requests = recorder.memoryRequests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].fd, -1);
    EXPECT_EQ(requests[0].size, 16u);
    EXPECT_EQ(requests[0].count, 2u);
    EXPECT_TRUE(requests[0].granted);
    EXPECT_FALSE(requests[3].granted);
    EXPECT_FALSE(requests[4].granted);
    // c is still out: the recorder frees it when it goes, which the leak checker verifies.
}

TEST_F(CallbackRecorderTest, EventsWithAForeignCookieAreCountedAndIgnored) {
    int notARecorder = 0;
    const size_t stray = CallbackRecorder::strayCalls();
    fake.notify(CAMERA_MSG_SHUTTER, 0, 0, &notARecorder);
    fake.data(CAMERA_MSG_PREVIEW_FRAME, nullptr, 0, nullptr, nullptr);
    fake.dataTimestamp(0, CAMERA_MSG_VIDEO_FRAME, nullptr, 0, nullptr);
    EXPECT_EQ(CallbackRecorder::strayCalls(), stray + 3);
    EXPECT_EQ(recorder.eventCount(), 0u);
}

// The platform's request_memory ignores its user argument, and modules pass null there.
TEST_F(CallbackRecorderTest, MemoryRequestsWithoutTheCookieCountForTheRecorderInstalledLast) {
    camera_memory_t* first = fake.requestMemory(-1, 8, 1, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(recorder.outstandingBlocks(), 1u);
    {
        FakeCameraDevice otherFake;
        guest::CameraDevice other(otherFake.device());
        CallbackRecorder newer;
        newer.install(other);
        camera_memory_t* second = fake.requestMemory(-1, 8, 1, nullptr);
        camera_memory_t* named = fake.requestMemory(-1, 8, 1, &recorder);
        EXPECT_EQ(newer.outstandingBlocks(), 1u);
        EXPECT_EQ(recorder.outstandingBlocks(), 2u);
        second->release(second);
        named->release(named);
        EXPECT_EQ(newer.memoryRequests().at(0).user, nullptr);
        other.close();
    }
    // With the newer one gone, the first counts again.
    camera_memory_t* third = fake.requestMemory(-1, 8, 1, nullptr);
    EXPECT_EQ(recorder.outstandingBlocks(), 2u);
    first->release(first);
    third->release(third);
    EXPECT_EQ(recorder.outstandingBlocks(), 0u);
}

TEST_F(CallbackRecorderTest, WaitsAreBoundedAndSeeWhatTheHookDid) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(recorder.waitFor(CAMERA_MSG_SHUTTER, 1, milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(50));

    std::atomic<int> hooked{0};
    recorder.setHook([&](const CameraEvent& event) {
        // The hook may call back into the recorder, as tests that drive the device from a
        // callback do.
        EXPECT_EQ(recorder.count(event.message), static_cast<size_t>(hooked.load()));
        ++hooked;
    });
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            fake.notify(CAMERA_MSG_FOCUS, 1, 0, fake.cookie);
        }
    });
    EXPECT_TRUE(recorder.waitFor(CAMERA_MSG_FOCUS, 3, milliseconds(5000)));
    EXPECT_EQ(hooked.load(), 3);
    worker.join();

    recorder.clear();
    EXPECT_EQ(recorder.eventCount(), 0u);
    EXPECT_FALSE(recorder.waitUntil([](const std::vector<CameraEvent>& e) { return !e.empty(); },
                                    milliseconds(10)));
}

// A hook that calls the device back, and the device that answers with another callback at once,
// as a stop from inside a callback does.
TEST_F(CallbackRecorderTest, AHookMayCauseAnotherCallbackOnTheSameThread) {
    recorder.setHook([&](const CameraEvent& event) {
        if (event.message == CAMERA_MSG_PREVIEW_FRAME) {
            device.stopPreview();
            fake.notify(CAMERA_MSG_ERROR, CAMERA_ERROR_RELEASED, 0, fake.cookie);
        }
    });
    fake.data(CAMERA_MSG_PREVIEW_FRAME, nullptr, 0, nullptr, fake.cookie);
    const std::vector<CameraEvent> events = recorder.events();
    ASSERT_EQ(events.size(), 2u);
    // The inner callback finishes first.
    EXPECT_EQ(events[0].message, CAMERA_MSG_ERROR);
    EXPECT_EQ(events[1].message, CAMERA_MSG_PREVIEW_FRAME);
    EXPECT_EQ(fake.calls.back(), "stop_preview");
}

}  // namespace

}  // namespace test
}  // namespace vemo
