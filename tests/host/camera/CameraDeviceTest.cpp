// The camera functions of "CameraDevice" through a session, as the guest's requests reach them,
// and the sample store they share.

#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "FrameTestSupport.h"
#include "HostTestSupport.h"
#include "SessionTestSupport.h"

namespace vemo {
namespace host {
namespace {

using test::callSession;
using test::describe;
using test::initRequest;
using test::readCounter;
using test::releaseRequest;
using test::request;
using test::u64;
using test::with;

uint64_t nowMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Camera 0 with small sizes (one of them with padded YV12 rows), camera 1 without white balance
// and exposure controls but with auto focus.
HostConfig testCameras() {
    HostConfig config = HostConfig::withCameras(2);
    CameraConfig& small = config.cameras[0];
    small.previewSizes = {{320, 240}, {176, 144}, {360, 240}};
    small.preferredPreviewSize = {320, 240};
    small.pictureSizes = {{640, 480}, {1280, 720}};
    small.videoSizes = {{176, 144}, {320, 240}};
    small.thumbnailSize = {96, 72};
    CameraConfig& plain = config.cameras[1];
    plain.whiteBalance = false;
    plain.exposure = false;
    plain.autoFocus = true;
    return config;
}

class HostCamera : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(describe(call(initRequest())), "__return=u32:0"); }

    Message call(const Message& request) { return callSession(_session, request); }

    // The reply's "frame" after checking that the reply holds a frame and its timestamp and
    // nothing else.
    std::vector<uint8_t> frameOf(const Message& reply) {
        std::set<std::string> keys;
        for (const auto& [key, value] : reply.entries()) {
            keys.insert(key + ":" + std::to_string(static_cast<int>(value.type())));
        }
        EXPECT_EQ(keys, (std::set<std::string>{"frame:4", "ts_high:3", "ts_low:3"}))
            << describe(reply).substr(0, 200);
        const Value* frame = reply.find("frame");
        if (frame == nullptr || frame->type() != ValueType::kBuffer) {
            return {};
        }
        return std::vector<uint8_t>(frame->bufferData(), frame->bufferData() + frame->bufferSize());
    }

    std::optional<uint32_t> previewCounter(FrameSize size = {320, 240}) {
        return readCounter(PixelFormat::kNV21,
                           frameOf(call(with(request("getPreviewContents"), "id", 1))), size);
    }

    test::HostLogCapture _log;
    HostConfig _config = testCameras();
    HostState _state{_config};
    Session _session{_state, "conn 5"};
};

TEST_F(HostCamera, CameraFunctionsNeedASelectedCamera) {
    for (const char* function :
         {"getNumPreviewSize", "getPreviewSize", "getPreferredPreviewSize", "getPictureSize",
          "getNumVideoSize", "getVideoSize", "setPreviewSize", "setPictureSize", "setVideoSize",
          "setPreviewFormat", "setPictureFormat", "setVideoFormat", "setPreviewFPS", "captureFrame",
          "updateFrameToCB", "getPhotoFrameContents", "getThumbnailContents",
          "saveFrameToSampleStore"}) {
        EXPECT_EQ(describe(call(request(function))),
                  "__error=str:\"" + std::string(function) +
                      ": no camera selected; setCameraIx must come first\"");
    }
    EXPECT_EQ(describe(call(request("setCameraIx", 2))),
              "__error=str:\"setCameraIx: camera ix 2 out of range (2 cameras)\"");
    EXPECT_EQ(describe(call(request("setCameraIx"))),
              "__error=str:\"setCameraIx: missing u32 argument ix\"");
    EXPECT_EQ(describe(call(with(request("getFrameContents"), "id", 1))),
              "__error=str:\"getFrameContents: no camera selected; setCameraIx must come first\"");
    // Releases reach the shared store without a camera.
    EXPECT_EQ(describe(call(releaseRequest(1, (uint64_t{1} << 32) + 1))),
              "__return=u32:4294967295");

    EXPECT_EQ(describe(call(request("setCameraIx", 0))), "__return=u32:0");
    EXPECT_EQ(describe(call(request("getNumPreviewSize"))), "__return=u32:3");
}

TEST_F(HostCamera, SizeListsComeFromTheCameraConfiguration) {
    call(request("setCameraIx", 0));
    const struct {
        Message request;
        const char* reply;
    } cases[] = {
        {request("getNumPreviewSize"), "__return=u32:3"},
        {request("getPreviewSize", 0), "__return=str:\"320x240\""},
        {request("getPreviewSize", 2), "__return=str:\"360x240\""},
        {request("getPreviewSize", 3),
         "__error=str:\"getPreviewSize: size ix 3 out of range (3 sizes)\""},
        {request("getPreferredPreviewSize"), "__return=str:\"320x240\""},
        {request("getPictureSize", 1), "__return=str:\"1280x720\""},
        {request("getPictureSize", 2),
         "__error=str:\"getPictureSize: size ix 2 out of range (2 sizes)\""},
        {request("getNumVideoSize"), "__return=u32:2"},
        {request("getVideoSize", 0), "__return=str:\"176x144\""},
        {request("getVideoSize"), "__error=str:\"getVideoSize: missing u32 argument ix\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(call(c.request)), c.reply);
    }
}

TEST_F(HostCamera, SettersAnswerZeroOrAnErrorThatKeepsThePreviousValue) {
    call(request("setCameraIx", 0));
    const struct {
        Message request;
        const char* reply;
    } cases[] = {
        {with(request("setPreviewSize"), "size", "176x144"), "__return=u32:0"},
        {with(request("setPreviewSize"), "size", "800x600"),
         "__error=str:\"setPreviewSize: preview size 800x600 is not offered "
         "(320x240/176x144/360x240)\""},
        {with(request("setPreviewSize"), "size", "big"),
         "__error=str:\"setPreviewSize: preview size \"big\" is not a size WIDTHxHEIGHT\""},
        {with(request("setPreviewSize"), "size", 320),
         "__error=str:\"setPreviewSize: missing string argument size\""},
        {with(request("setPictureSize"), "size", "1280x720"), "__return=u32:0"},
        {with(request("setPictureSize"), "size", "176x144"),
         "__error=str:\"setPictureSize: picture size 176x144 is not offered "
         "(640x480/1280x720)\""},
        {with(request("setVideoSize"), "size", "320x240"), "__return=u32:0"},
        {with(request("setVideoSize"), "size", "360x240"),
         "__error=str:\"setVideoSize: video size 360x240 is not offered (176x144/320x240)\""},
        {with(request("setPreviewFormat"), "format", "yuv422i-yuyv"), "__return=u32:0"},
        {with(request("setPreviewFormat"), "format", "rgb565"),
         "__error=str:\"setPreviewFormat: unknown preview format \"rgb565\" (yuv420sp, "
         "yuv420p or yuv422i-yuyv)\""},
        {with(request("setVideoFormat"), "format", "yuv420sp"), "__return=u32:0"},
        {with(request("setVideoFormat"), "format", "jpeg"),
         "__error=str:\"setVideoFormat: unknown video format \"jpeg\" (yuv420sp, yuv420p or "
         "yuv422i-yuyv)\""},
        {with(request("setPictureFormat"), "format", "jpeg"), "__return=u32:0"},
        {with(request("setPictureFormat"), "format", "yuv420sp"),
         "__error=str:\"setPictureFormat: unknown picture format \"yuv420sp\" (jpeg)\""},
        {with(request("setPreviewFPS"), "fps", 24), "__return=u32:0"},
        {with(request("setPreviewFPS"), "fps", 0),
         "__error=str:\"setPreviewFPS: preview rate 0 fps is not from 1 to 120\""},
        {with(request("updateFrameToCB"), "frame_id", 0),
         "__error=str:\"updateFrameToCB: missing u32 argument cb\""},
        {with(request("captureFrame"), "id", 0), "__return=u32:0"},
        {with(request("getFrameContents"), "id", 2),
         "__error=str:\"getFrameContents: no stream id 2 (0 video, 1 preview)\""},
    };
    for (const auto& c : cases) {
        const Message reply = call(c.request);
        EXPECT_EQ(describe(reply), c.reply);
        if (reply.find("__error") != nullptr) {
            EXPECT_EQ(_log.countContaining(reply.text("__error")->c_str()), 1u);
        }
    }
    // What the failed calls left: the preview 176x144 in YUYV, the video 320x240 in NV21.
    EXPECT_EQ(frameOf(call(with(request("getPreviewContents"), "id", 0))).size(), 176u * 144 * 2);
    EXPECT_EQ(frameOf(call(with(request("getFrameContents"), "id", 0))).size(), 320u * 240 * 3 / 2);
}

TEST_F(HostCamera, StreamFramesHaveTheChosenFormatSizeAndTimestamp) {
    call(request("setCameraIx", 0));
    const struct {
        const char* format;
        const char* size;
        size_t bytes;
    } cases[] = {
        {"yuv420sp", "320x240", 320 * 240 * 3 / 2},
        {"yuv420p", "176x144", 176 * 144 + 2 * 96 * 72},
        {"yuv420p", "360x240", 368 * 240 + 2 * 192 * 120},
        {"yuv422i-yuyv", "360x240", 360 * 240 * 2},
    };
    for (const auto& c : cases) {
        call(with(request("setPreviewFormat"), "format", c.format));
        call(with(request("setPreviewSize"), "size", c.size));
        const uint64_t before = nowMicros();
        call(with(request("captureFrame"), "id", 0));
        const uint64_t after = nowMicros();
        const Message reply = call(with(request("getFrameContents"), "id", 1));
        EXPECT_EQ(frameOf(reply).size(), c.bytes) << c.format << " " << c.size;
        EXPECT_GE(u64(reply, "ts"), before);
        EXPECT_LE(u64(reply, "ts"), after);
        EXPECT_EQ(frameOf(call(with(request("getPreviewContents"), "id", 7))).size(), c.bytes);
    }
    // The video stream starts in YV12 at the first video size.
    EXPECT_EQ(frameOf(call(with(request("getFrameContents"), "id", 0))).size(),
              176u * 144 + 2 * 96 * 72);
}

TEST_F(HostCamera, EveryStreamShowsTheCapturedPicture) {
    call(request("setCameraIx", 0));
    EXPECT_EQ(previewCounter(), 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(describe(call(with(request("captureFrame"), "id", 0))), "__return=u32:0");
    }
    EXPECT_EQ(previewCounter(), 3u);
    EXPECT_EQ(previewCounter(), 3u);  // fetching takes no new picture
    EXPECT_EQ(readCounter(PixelFormat::kYV12,
                          frameOf(call(with(request("getFrameContents"), "id", 0))), {176, 144}),
              3u);
    call(with(request("captureFrame"), "id", 0));
    const std::vector<uint8_t> photo =
        frameOf(call(with(request("getPhotoFrameContents"), "id", 0)));
    const std::optional<test::DecodedJpeg> decoded = test::decodeJpeg(photo.data(), photo.size());
    ASSERT_TRUE(decoded);
    // The preferred preview size is not a picture size here: the first picture size.
    EXPECT_EQ(decoded->size, (FrameSize{640, 480}));
    EXPECT_EQ(
        readCounter(decoded->size,
                    [&](int x, int y) { return decoded->gray[static_cast<size_t>(y) * 640 + x]; }),
        4u);
}

TEST_F(HostCamera, BusyHostAnswersHostBusyAndTakesNoPicture) {
    _config.faults.busy = true;
    call(request("setCameraIx", 0));
    EXPECT_EQ(describe(call(with(request("captureFrame"), "id", 0))),
              "__return=u32:" + std::to_string(0xC00D3704u));
    EXPECT_EQ(previewCounter(), 0u);
}

TEST_F(HostCamera, PhotoAndThumbnailAreJpegFilesOfTheSamePicture) {
    call(request("setCameraIx", 0));
    call(with(request("setPictureSize"), "size", "1280x720"));
    call(with(request("captureFrame"), "id", 0));
    const Message photoReply = call(with(request("getPhotoFrameContents"), "id", 0));
    const Message thumbReply = call(with(request("getThumbnailContents"), "id", 0));
    EXPECT_EQ(u64(photoReply, "ts"), u64(thumbReply, "ts"));
    const std::vector<uint8_t> photo = frameOf(photoReply);
    const std::vector<uint8_t> thumb = frameOf(thumbReply);
    const auto decodedPhoto = test::decodeJpeg(photo.data(), photo.size());
    const auto decodedThumb = test::decodeJpeg(thumb.data(), thumb.size());
    ASSERT_TRUE(decodedPhoto && decodedThumb);
    EXPECT_EQ(decodedPhoto->size, (FrameSize{1280, 720}));
    // What the thumbnail shows of the picture is the sources' test.
    EXPECT_EQ(decodedThumb->size, (FrameSize{96, 72}));
}

TEST_F(HostCamera, ExposureAndWhiteBalanceAreRememberedAndVisible) {
    call(request("setCameraIx", 0));
    const auto id = [](const char* function) { return with(request(function), "id", 0); };
    EXPECT_EQ(describe(call(id("isWhiteBalanceSupported"))), "__return=u32:1");
    EXPECT_EQ(describe(call(id("isExposureSupported"))), "__return=u32:1");
    EXPECT_EQ(describe(call(id("isAutoFocusSupported"))), "__return=u32:0");
    EXPECT_EQ(describe(call(id("getWhiteBalanceMode"))), "__return=u32:0");
    const std::vector<uint8_t> plain = frameOf(call(with(request("getPreviewContents"), "id", 1)));

    EXPECT_EQ(describe(call(with(id("setWhiteBalanceMode"), "mode", 3000))), "__return=u32:0");
    EXPECT_EQ(describe(call(id("getWhiteBalanceMode"))), "__return=u32:3000");
    const std::vector<uint8_t> tinted = frameOf(call(with(request("getPreviewContents"), "id", 1)));
    EXPECT_EQ(tinted.size(), plain.size());
    EXPECT_NE(tinted, plain);

    // -3 EV: the index travels as a 32-bit two's complement.
    EXPECT_EQ(describe(call(with(id("setExposureCompensation"), "exposurevalue", 0xFFFFFFFA))),
              "__return=u32:0");
    const std::vector<uint8_t> darker = frameOf(call(with(request("getPreviewContents"), "id", 1)));
    const FrameSize size{320, 240};
    EXPECT_LT(test::yuvAt(PixelFormat::kNV21, darker, size, 20, 20).y,
              test::yuvAt(PixelFormat::kNV21, tinted, size, 20, 20).y - 40);

    const struct {
        Message request;
        const char* error;
    } refused[] = {
        {with(id("setExposureCompensation"), "exposurevalue", 13),
         "exposure compensation 13 is not from -12 to 12"},
        {with(id("setExposureCompensation"), "exposurevalue", 0xFFFFFFF3),
         "exposure compensation -13 is not from -12 to 12"},
        {with(id("setWhiteBalanceMode"), "mode", 100),
         "white balance 100 is neither 0 (auto) nor a temperature from 1500 to 15000 K"},
        {with(with(request("setWhiteBalanceMode"), "id", 1), "mode", 0),
         "id 1 is not the selected camera 0"},
        {request("setWhiteBalanceMode"), "missing u32 argument id"},
    };
    for (const auto& r : refused) {
        const Message reply = call(r.request);
        ASSERT_NE(reply.text("__error"), nullptr);
        EXPECT_NE(reply.text("__error")->find(r.error), std::string::npos)
            << *reply.text("__error");
    }
    EXPECT_EQ(describe(call(id("getWhiteBalanceMode"))), "__return=u32:3000");
    EXPECT_EQ(frameOf(call(with(request("getPreviewContents"), "id", 1))), darker);

    // Camera 1 has neither control but focuses.
    call(request("setCameraIx", 1));
    const auto id1 = [](const char* function) { return with(request(function), "id", 1); };
    EXPECT_EQ(describe(call(id1("isWhiteBalanceSupported"))), "__return=u32:0");
    EXPECT_EQ(describe(call(id1("isExposureSupported"))), "__return=u32:0");
    EXPECT_EQ(describe(call(id1("isAutoFocusSupported"))), "__return=u32:1");
    EXPECT_EQ(describe(call(with(id1("setWhiteBalanceMode"), "mode", 3000))),
              "__error=str:\"setWhiteBalanceMode: this camera has no white balance control\"");
    EXPECT_EQ(describe(call(with(id1("setExposureCompensation"), "exposurevalue", 1))),
              "__error=str:\"setExposureCompensation: this camera has no exposure compensation\"");
}

TEST_F(HostCamera, SampleStoreKeepsVideoFramesUntilReleased) {
    call(request("setCameraIx", 0));
    std::vector<Message> saved;
    for (int i = 0; i < 3; ++i) {
        call(with(request("captureFrame"), "id", 0));
        saved.push_back(call(request("saveFrameToSampleStore")));
    }
    std::set<std::string> keys;
    for (const auto& [key, value] : saved[0].entries()) {
        keys.insert(key + ":" + std::to_string(static_cast<int>(value.type())));
    }
    EXPECT_EQ(keys,
              (std::set<std::string>{"sample_num_high:3", "sample_num_low:3", "sample_store:3",
                                     "timestamp_high:3", "timestamp_low:3"}));
    const uint32_t store = saved[0].u32("sample_store").value_or(0);
    ASSERT_NE(store, 0u);
    // Numbers rise within the store and carry it in their high half.
    EXPECT_EQ(u64(saved[0], "sample_num"), (uint64_t{store} << 32) + 1);
    EXPECT_EQ(u64(saved[1], "sample_num"), u64(saved[0], "sample_num") + 1);
    EXPECT_EQ(u64(saved[2], "sample_num"), u64(saved[0], "sample_num") + 2);
    EXPECT_LT(u64(saved[0], "timestamp"), u64(saved[2], "timestamp"));
    EXPECT_EQ(_state.samples.outstanding(store), 3u);

    // A sample holds the video frame of its picture.
    const std::shared_ptr<const SampleStore::Sample> last =
        _state.samples.find(store, u64(saved[2], "sample_num"));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->size, (FrameSize{176, 144}));
    EXPECT_EQ(readCounter(PixelFormat::kYV12, last->bytes, last->size), 3u);
    // The video stream never hands out a picture twice: asked again, it takes the next one.
    EXPECT_EQ(readCounter(PixelFormat::kYV12,
                          frameOf(call(with(request("getFrameContents"), "id", 0))), last->size),
              4u);

    const auto release = [&](uint32_t sampleStore, uint64_t number) {
        return describe(call(releaseRequest(sampleStore, number)));
    };
    const uint64_t first = u64(saved[0], "sample_num");
    EXPECT_EQ(release(store, first), "__return=u32:0");
    EXPECT_EQ(release(store, first), "__return=u32:4294967295");
    EXPECT_EQ(release(store, static_cast<uint32_t>(first + 1)), "__return=u32:4294967295");
    EXPECT_EQ(release(store + 1, first + 1), "__return=u32:4294967295");
    EXPECT_EQ(_state.samples.outstanding(store), 2u);

    // Deleting the instance closes its store.
    call(request("__deleteThis"));
    EXPECT_EQ(_state.samples.outstanding(store), 0u);
    SetUp();
    EXPECT_EQ(release(store, first + 1), "__return=u32:4294967295");
}

SampleStore::Storage storageOf(size_t size, uint64_t version = 0) {
    return SampleStore::Storage{std::vector<uint8_t>(size, 7), {1, version}};
}

TEST(SampleStore, FullStoreDropsItsOldestSample) {
    test::HostLogCapture log;
    SampleStore samples(4, 250);
    const uint32_t store = samples.open();
    const uint32_t other = samples.open();
    EXPECT_NE(store, other);
    std::vector<uint64_t> numbers;
    for (int i = 0; i < 6; ++i) {
        numbers.push_back(samples.save(store, PixelFormat::kNV21, {16, 16}, storageOf(40), i));
    }
    EXPECT_EQ(samples.outstanding(store), 4u);
    EXPECT_FALSE(samples.release(store, numbers[0]));
    EXPECT_FALSE(samples.release(store, numbers[1]));
    EXPECT_TRUE(samples.release(store, numbers[2]));
    EXPECT_EQ(samples.find(store, numbers[5])->timestamp, 5u);
    EXPECT_EQ(log.countContaining("W sample store " + std::to_string(store) + " full"), 1u);
    EXPECT_EQ(log.countContaining("D sample store " + std::to_string(store) + " full"), 1u);

    // The byte bound: two samples of 100 bytes fit in 250, a third drops the oldest.
    for (int i = 0; i < 3; ++i) {
        numbers.push_back(samples.save(other, PixelFormat::kNV21, {16, 16}, storageOf(100), i));
    }
    EXPECT_EQ(samples.outstanding(other), 2u);
    EXPECT_EQ(numbers[6], (uint64_t{other} << 32) + 1);
    EXPECT_EQ(samples.find(other, numbers[6]), nullptr);

    samples.close(store);
    EXPECT_EQ(samples.outstanding(store), 0u);
    EXPECT_FALSE(samples.release(store, numbers[3]));
    EXPECT_EQ(samples.save(store, PixelFormat::kNV21, {16, 16}, storageOf(1), 0), 0u);
    EXPECT_EQ(samples.outstanding(other), 2u);
}

TEST(SampleStore, SavesPastTheHostsBudgetFailWithOneWarningPerStoreUntilBytesGoBack) {
    test::HostLogCapture log;
    SampleStore samples(64, 1000, 250);
    const uint32_t first = samples.open();
    const uint32_t second = samples.open();
    EXPECT_NE(samples.save(first, PixelFormat::kNV21, {16, 16}, storageOf(100), 0), 0u);
    EXPECT_NE(samples.save(second, PixelFormat::kNV21, {16, 16}, storageOf(100), 0), 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(samples.save(first, PixelFormat::kNV21, {16, 16}, storageOf(100), i), 0u);
        EXPECT_EQ(samples.save(second, PixelFormat::kNV21, {16, 16}, storageOf(100), i), 0u);
    }
    EXPECT_EQ(samples.bytes(), 200u);
    EXPECT_EQ(samples.outstanding(first), 1u);
    for (const uint32_t store : {first, second}) {
        EXPECT_EQ(log.countContaining("W sample store " + std::to_string(store) + ": refusing"),
                  1u);
    }
    samples.close(first);
    EXPECT_EQ(samples.bytes(), 100u);
    const uint64_t again = samples.save(second, PixelFormat::kNV21, {16, 16}, storageOf(100), 0);
    EXPECT_NE(again, 0u);
    EXPECT_EQ(log.countContaining(": refusing"), 2u);
    // So do the bytes of a released sample.
    EXPECT_TRUE(samples.release(second, again));
    EXPECT_EQ(samples.bytes(), 100u);
}

TEST(SampleStore, StorageComesBackWithItsNoteOnceNobodyReadsItsSample) {
    SampleStore samples;
    const uint32_t store = samples.open();
    samples.save(store, PixelFormat::kYV12, {16, 16}, storageOf(384, 5), 0);
    const uint64_t read = samples.save(store, PixelFormat::kYV12, {16, 16}, storageOf(384, 6), 0);
    EXPECT_TRUE(samples.takeSpare().bytes.empty());

    // A sample being read keeps its storage after its release; then it comes back.
    std::shared_ptr<const SampleStore::Sample> reader = samples.find(store, read);
    ASSERT_TRUE(samples.release(store, read));
    EXPECT_TRUE(samples.takeSpare().bytes.empty());
    EXPECT_EQ(reader->bytes, std::vector<uint8_t>(384, 7));
    EXPECT_EQ(reader->note.version, 6u);
    reader.reset();
    const SampleStore::Storage spare = samples.takeSpare();
    EXPECT_EQ(spare.bytes, std::vector<uint8_t>(384, 7));
    EXPECT_EQ(spare.note.owner, 1u);
    EXPECT_EQ(spare.note.version, 6u);
    EXPECT_TRUE(samples.takeSpare().bytes.empty());

    // Closing the store frees its samples' storage too, a few frames of it kept.
    for (size_t i = 0; i < SampleStore::kSpareFrames + 2; ++i) {
        samples.save(store, PixelFormat::kYV12, {16, 16}, storageOf(384, 10 + i), 0);
    }
    samples.close(store);
    std::set<uint64_t> versions;
    for (SampleStore::Storage storage; !(storage = samples.takeSpare()).bytes.empty();) {
        versions.insert(storage.note.version);
    }
    EXPECT_EQ(versions.size(), SampleStore::kSpareFrames);
}

// The video frame's storage goes into each sample, and the storage the stream gets back is
// brought up to date: by converting what changed since when it held a recent picture of the
// same instance, else by a copy. Whichever way, each sample holds its picture's frame as an
// instance that never saves one makes it.
TEST(CameraState, SamplesHoldTheirPictureWhateverStorageComesBack) {
    const HostConfig config = HostConfig::withCameras(1);
    HostState state(config);
    CameraState camera(state, 0);
    CameraState reference(state, 0);
    const auto save = [&](const std::string& what) {
        const CameraState::SavedSample saved = camera.saveVideoFrame();
        const std::shared_ptr<const SampleStore::Sample> sample =
            state.samples.find(saved.store, saved.number);
        const std::vector<uint8_t>& expected = reference.frame(CameraState::Stream::kVideo);
        EXPECT_TRUE(sample != nullptr && sample->bytes == expected) << what;
        return saved;
    };
    // Released at once: the storage back is one picture old. Enough pictures for the square to
    // cross tiles and the counter to turn over digits.
    for (int i = 0; i < 120; ++i) {
        const CameraState::SavedSample saved = save("released at once, " + std::to_string(i));
        state.samples.release(saved.store, saved.number);
    }
    // Kept for a while, then handed back in a burst: older pictures.
    std::vector<CameraState::SavedSample> held;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 12; ++i) {
            held.push_back(save("kept, round " + std::to_string(round)));
        }
        for (const CameraState::SavedSample& saved : held) {
            state.samples.release(saved.store, saved.number);
        }
        held.clear();
    }
    // Storage of another instance's.
    CameraState other(state, 0);
    const CameraState::SavedSample foreign = other.saveVideoFrame();
    state.samples.release(foreign.store, foreign.number);
    save("another instance's storage");
    // A new exposure, size or format changes every tile; then each format's tiles are copied.
    ASSERT_TRUE(camera.setExposure(2).isOk() && reference.setExposure(2).isOk());
    save("new exposure");
    ASSERT_TRUE(camera.setVideoSize("640x480").isOk() && reference.setVideoSize("640x480").isOk());
    for (const char* format : {"yuv420p", "yuv420sp", "yuv422i-yuyv"}) {
        ASSERT_TRUE(camera.setVideoFormat(format).isOk() &&
                    reference.setVideoFormat(format).isOk());
        for (int i = 0; i < 30; ++i) {
            const CameraState::SavedSample saved = save(format + (", " + std::to_string(i)));
            state.samples.release(saved.store, saved.number);
        }
    }
}

}  // namespace
}  // namespace host
}  // namespace vemo
