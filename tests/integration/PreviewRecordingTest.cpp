// Preview and recording through the module's entry point: the preview step's calls, the
// frames handed to the client, failures on the way, and recorded frames as copies or as
// records of samples the host keeps.

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "ByteOrder.h"
#include "DeviceFixture.h"

namespace vemo {
namespace test {

namespace {

const char kVga[] = "0:preview-sizes=1280x720/640x480,preferred=640x480";

int64_t monotonicNanos(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

int64_t nowNanos() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class PreviewRecording : public DeviceTest {
protected:
    // Records in copy mode until frames have arrived; *start and *end are the clock around it.
    void recordCopies(size_t frames, int64_t* start, int64_t* end) {
        _device->enableMsgType(CAMERA_MSG_VIDEO_FRAME);
        *start = nowNanos();
        ASSERT_EQ(_device->startRecording(), 0);
        ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_VIDEO_FRAME, frames, std::chrono::seconds(5)));
        _device->stopRecording();
        *end = nowNanos();
    }

    std::vector<guest::CameraEvent> eventsOf(int32_t message) {
        std::vector<guest::CameraEvent> result;
        for (const guest::CameraEvent& event : _callbacks.events()) {
            if (event.message == message) {
                result.push_back(event);
            }
        }
        return result;
    }

    int setPreviewFormat(const char* format) { return setParameters({{"preview-format", format}}); }
};

bool allBytes(const std::vector<uint8_t>& bytes, uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

}  // namespace

TEST_F(PreviewRecording, WithoutPreviewFramesAStepIsDequeueTwoHostCallsAndEnqueue) {
    startHost();
    open();
    startPreview();
    ASSERT_TRUE(_window.waitForEnqueued(5, std::chrono::seconds(5)));
    _device->stopPreview();
    const Lines operations = _window.operations();
    ASSERT_GE(operations.size(), 12u);
    EXPECT_EQ(Lines(operations.begin(), operations.begin() + 2),
              (Lines{"set_usage", "set_buffers_geometry"}));
    for (size_t i = 2; i + 1 < operations.size(); i += 2) {
        EXPECT_EQ(operations[i], "dequeue_buffer");
        EXPECT_EQ(operations[i + 1], "enqueue_buffer");
    }
    EXPECT_EQ(_window.usage(), 0x20000302);
    EXPECT_EQ(_window.width(), 1280);
    EXPECT_EQ(_window.height(), 720);
    EXPECT_EQ(_window.format(), 3);
    EXPECT_EQ(_window.misuses(), 0u);
    guest::WindowFrame frame;
    ASSERT_TRUE(_window.shownFrame(&frame));
    EXPECT_EQ(frame.width, 1280u);
    EXPECT_EQ(frame.height, 720u);
    EXPECT_GT(frame.sequence, 0u) << "the host did not fill the window buffer";

    // startPreview asks for a frame and drops a stale one; then each step captures and updates
    // the buffer it dequeued.
    const std::vector<uint32_t> ids = _window.bufferIds();
    const Lines requests = requestsOf({"captureFrame", "getFrameContents", "updateFrameToCB"});
    ASSERT_GE(requests.size(), 6u);
    EXPECT_EQ(requests[0], "__function=captureFrame id=0");
    EXPECT_EQ(requests[1], "__function=getFrameContents id=1");
    for (size_t i = 2; i + 1 < requests.size(); i += 2) {
        EXPECT_EQ(requests[i], "__function=captureFrame id=0");
        unsigned id = 0;
        ASSERT_EQ(
            sscanf(requests[i + 1].c_str(), "__function=updateFrameToCB cb=%u frame_id=0", &id), 1)
            << requests[i + 1];
        EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
    }
    EXPECT_TRUE(_callbacks.memoryRequests().empty());
}

TEST_F(PreviewRecording, TheFirstPreviewFrameIsAWhiteFillerThenHostFramesFollow) {
    startHost({"--camera", kVga});
    struct Case {
        const char* format;
        size_t size;
    };
    for (const Case& c :
         {Case{"yuv420sp", 460800}, Case{"yuv420p", 460800}, Case{"yuv422i-yuyv", 614400}}) {
        SCOPED_TRACE(c.format);
        open();
        ASSERT_EQ(setPreviewFormat(c.format), 0);
        _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
        startPreview();
        ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 3, std::chrono::seconds(5)));
        _device->stopPreview();
        const std::vector<guest::CameraEvent> frames = eventsOf(CAMERA_MSG_PREVIEW_FRAME);
        EXPECT_EQ(frames[0].size, c.size);
        EXPECT_TRUE(allBytes(frames[0].bytes, 0xFF));
        EXPECT_EQ(frames[0].index, 0u);
        EXPECT_FALSE(frames[0].hasMetadata);
        EXPECT_EQ(frames[1].size, c.size);
        EXPECT_FALSE(allBytes(frames[1].bytes, 0xFF));
        // Every frame comes from the worker in a block of the client's, handed back right
        // after its callback.
        for (const guest::CameraEvent& event : frames) {
            EXPECT_TRUE(event.ownBlock);
            EXPECT_NE(event.thread, std::this_thread::get_id());
        }
        EXPECT_EQ(_callbacks.outstandingBlocks(), 0u);
        _device->setPreviewWindow(nullptr);
        _device->close();
        _callbacks.clear();
    }
}

TEST_F(PreviewRecording, AnUnknownPreviewFormatIsLoggedWhileTheFillerIsDueAndFramesStillShow) {
    startHost();
    open();
    ASSERT_EQ(setPreviewFormat("rgb565"), 0);
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview();
    ASSERT_TRUE(_window.waitForEnqueued(5, std::chrono::seconds(5)));
    _device->stopPreview();
    EXPECT_GE(_log.count("Preview format not supported"), 4u);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_PREVIEW_FRAME), 0u);
}

TEST_F(PreviewRecording, AWindowThatYieldsNoBufferEndsThePreview) {
    startHost();
    open();
    startPreview();
    ASSERT_TRUE(_window.waitForEnqueued(2, std::chrono::seconds(5)));
    _window.setDequeueError(-19);
    EXPECT_TRUE(eventually([&] { return _device->previewEnabled() == 0; }));
    EXPECT_TRUE(_log.contains("handlePreview: Unable to dequeue buffer - Stopping preview"));
}

TEST_F(PreviewRecording, NoCallbackMemoryDropsAPendingPictureButKeepsThePreview) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME | CAMERA_MSG_COMPRESSED_IMAGE);
    startPreview();
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 2, std::chrono::seconds(5)));
    _callbacks.setMemoryFails(true);
    ASSERT_EQ(_device->takePicture(), 0);
    EXPECT_TRUE(eventually([&] { return _log.contains("Memory failure"); }));
    const uint64_t shown = _window.enqueued();
    _callbacks.setMemoryFails(false);
    EXPECT_TRUE(_window.waitForEnqueued(shown + 5, std::chrono::seconds(5)));
    EXPECT_EQ(_device->previewEnabled(), 1);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_COMPRESSED_IMAGE), 0u);
    _device->stopPreview();
}

// The host dies while the camera previews and records: the client hears of it once, nothing
// reaches the window or the client afterwards, nothing spins, and the camera refuses new work
// but still closes.
TEST_F(PreviewRecording, AHostKilledMidPreviewIsReportedOnceAndEndsTheWork) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME | CAMERA_MSG_VIDEO_FRAME | CAMERA_MSG_ERROR);
    startPreview();
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_VIDEO_FRAME, 3, std::chrono::seconds(5)));
    ASSERT_EQ(kill(_host.process().pid(), SIGKILL), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_ERROR, 1, std::chrono::seconds(5)));
    EXPECT_TRUE(eventually([] { return workerThreads() == 0; }));
    const uint64_t enqueued = _window.enqueued();
    const size_t frames = _callbacks.count(CAMERA_MSG_PREVIEW_FRAME);
    const size_t records = _callbacks.count(CAMERA_MSG_VIDEO_FRAME);
    timespec before;
    timespec after;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
    usleep(300000);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
    EXPECT_LT((after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9, 0.1);
    EXPECT_EQ(_window.enqueued(), enqueued);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_PREVIEW_FRAME), frames);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_VIDEO_FRAME), records);
    const std::vector<guest::CameraEvent> errors = eventsOf(CAMERA_MSG_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].ext1, CAMERA_ERROR_UNKNOWN);
    EXPECT_EQ(_device->previewEnabled(), 0);
    EXPECT_EQ(_device->recordingEnabled(), 0);
    EXPECT_EQ(_device->startPreview(), -19);
    EXPECT_EQ(_device->startRecording(), -19);
    EXPECT_EQ(_device->takePicture(), -19);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_ERROR), 1u);
    EXPECT_EQ(workerThreads(), 0);
    EXPECT_EQ(_device->close(), 0);
}

TEST_F(PreviewRecording, AWindowTakenAwayIsNeverTouchedAgain) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview();
    ASSERT_TRUE(_window.waitForEnqueued(3, std::chrono::seconds(5)));
    EXPECT_EQ(_device->setPreviewWindow(nullptr), 0);
    const size_t operations = _window.operations().size();
    _window.tearDown();
    usleep(100000);
    EXPECT_EQ(_window.operations().size(), operations);
    EXPECT_EQ(_device->previewEnabled(), 0);
    EXPECT_EQ(_window.misuses(), 0u);
}

TEST_F(PreviewRecording, MetadataRecordsNameHostSamplesThatReleasesHandBack) {
    startHost();
    open();
    EXPECT_EQ(_device->storeMetaDataInBuffers(1), 0);
    _device->enableMsgType(CAMERA_MSG_VIDEO_FRAME);
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_VIDEO_FRAME, 5, std::chrono::seconds(5)));
    _device->stopRecording();
    const std::vector<guest::CameraEvent> records = eventsOf(CAMERA_MSG_VIDEO_FRAME);
    Lines expected;
    int64_t previous = 0;
    for (const guest::CameraEvent& record : records) {
        ASSERT_EQ(record.kind, guest::CameraEvent::Kind::kDataTimestamp);
        ASSERT_EQ(record.size, 16u);
        EXPECT_EQ(android::loadU32(record.bytes.data()), 0u);
        // The middle of the host call lies after the previous record and before this one.
        EXPECT_GT(record.timestamp, previous);
        EXPECT_LT(record.timestamp, monotonicNanos(record.received));
        previous = monotonicNanos(record.received);
        _device->releaseRecordingFrame(record.bytes.data());
        char line[160];
        snprintf(line, sizeof(line),
                 "__function=releaseOneFrame sample_num_high=%u sample_num_low=%u sample_store=%u",
                 android::loadU32(record.bytes.data() + 12),
                 android::loadU32(record.bytes.data() + 8),
                 android::loadU32(record.bytes.data() + 4));
        expected.push_back(line);
    }
    EXPECT_EQ(requestsOf({"releaseOneFrame"}), expected);
    EXPECT_FALSE(_log.contains("Can't release"));
    EXPECT_EQ(countRequests("saveFrameToSampleStore"), records.size());
}

// The host's timestamps in microseconds, past 32 bits so that both halves count (ts_high 1 and
// more is 2^32 microseconds, 2^32 x 1000 nanoseconds in the callback).
TEST_F(PreviewRecording, CopiedFramesCarryTheHostsTimestampInNanoseconds) {
    const int64_t offsetNs = (int64_t{1} << 32) * 1000;
    startHost({"--timestamp-offset", std::to_string(offsetNs / 1000)});
    open();
    int64_t start = 0;
    int64_t end = 0;
    ASSERT_NO_FATAL_FAILURE(recordCopies(3, &start, &end));
    int64_t previous = 0;
    for (const guest::CameraEvent& frame : eventsOf(CAMERA_MSG_VIDEO_FRAME)) {
        // YV12 at 1280x720, the default video format and size.
        EXPECT_EQ(frame.size, 1280u * 720u * 3u / 2u);
        EXPECT_EQ(frame.timestamp % 1000, 0);
        EXPECT_GE(frame.timestamp - offsetNs, start - 1000);
        EXPECT_LE(frame.timestamp - offsetNs, end);
        EXPECT_GE(frame.timestamp, previous);
        previous = frame.timestamp;
        // A copy handed back names no sample: nothing reaches the host.
        _device->releaseRecordingFrame(frame.bytes.data());
    }
    EXPECT_EQ(countRequests("releaseOneFrame"), 0u);
    EXPECT_EQ(countRequests("getFrameContents"), eventsOf(CAMERA_MSG_VIDEO_FRAME).size() + 0u);
}

TEST_F(PreviewRecording, WithoutVideoFrameMessagesRecordingAsksTheHostForNothing) {
    startHost();
    open();
    for (int metadata : {0, 1}) {
        _device->storeMetaDataInBuffers(metadata);
        ASSERT_EQ(_device->startRecording(), 0);
        usleep(100000);
        _device->stopRecording();
    }
    EXPECT_EQ(countRequests("saveFrameToSampleStore"), 0u);
    EXPECT_EQ(countRequests("getFrameContents"), 0u);
}

TEST_F(PreviewRecording, ARefusedReleaseLogsTheStoreAndTheLowHalf) {
    startHost();
    open();
    _device->storeMetaDataInBuffers(1);
    unsigned char record[16];
    android::storeU32(record, 0);
    android::storeU32(record + 4, 1);
    android::storeU32(record + 8, 99);
    android::storeU32(record + 12, 5);
    _device->releaseRecordingFrame(record);
    EXPECT_TRUE(_log.contains("Can't release a sample of store 1 and num 99"));
    EXPECT_EQ(
        requestsOf({"releaseOneFrame"}),
        (Lines{"__function=releaseOneFrame sample_num_high=5 sample_num_low=99 sample_store=1"}));
}

// Replies without readable store and sample numbers name no sample, though the connection
// lives on.
TEST_F(PreviewRecording, ASaveReplyWithoutItsNumbersIsNoRecord) {
    startHost({"--fault", "malformed"});
    open();
    _device->storeMetaDataInBuffers(1);
    _device->enableMsgType(CAMERA_MSG_VIDEO_FRAME | CAMERA_MSG_ERROR);
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_TRUE(eventually([&] { return countRequests("saveFrameToSampleStore") >= 3; }, 5000));
    // A failed answer is no lost host: recording goes on, and the client hears of no error.
    EXPECT_EQ(_device->recordingEnabled(), 1);
    _device->stopRecording();
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_VIDEO_FRAME), 0u);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_ERROR), 0u);
    EXPECT_TRUE(_log.contains("Failed to Save Frame to sample store"));
}

TEST_F(PreviewRecording, ASampleTheHostDidNotKeepIsNeverRecorded) {
    startHost({"--fault", "close-after=25"});
    open();
    _device->storeMetaDataInBuffers(1);
    _device->enableMsgType(CAMERA_MSG_VIDEO_FRAME);
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_TRUE(
        eventually([&] { return _log.contains("Failed to Save Frame to sample store"); }, 5000));
    const size_t records = _callbacks.count(CAMERA_MSG_VIDEO_FRAME);
    usleep(100000);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_VIDEO_FRAME), records);
    EXPECT_EQ(countRequests("saveFrameToSampleStore"), records);
    _device->stopRecording();
}

// Thousands of frames through the window and the client leave the memory where it was.
TEST_F(PreviewRecording, ALongPreviewKeepsMemoryFlat) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's pace makes thousands of frames take minutes; the other builds run this.
    GTEST_SKIP() << "too slow under ThreadSanitizer";
#endif
#if defined(__SANITIZE_ADDRESS__)
    // The address checker holds freed blocks in a quarantine of its own, whose size decides the
    // resident size; here the frames check only for misuse and lost blocks.
    const bool residentIsOurs = false;
#else
    const bool residentIsOurs = true;
#endif
    startHost({"--camera", kVga});
    open();
    _callbacks.setKeepData(false);
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview();
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 300, std::chrono::seconds(30)));
    const long early = static_cast<long>(residentBytes(getpid()));
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 2000, std::chrono::seconds(60)));
    const long late = static_cast<long>(residentBytes(getpid()));
    _device->stopPreview();
    if (residentIsOurs) {
        EXPECT_LT(late - early, 8l << 20) << "bytes grown over 1700 frames";
    }
    EXPECT_EQ(_callbacks.outstandingBlocks(), 0u);
}

}  // namespace test
}  // namespace vemo
