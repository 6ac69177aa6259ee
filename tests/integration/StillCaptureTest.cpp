// Still pictures through the module's entry point: the notifications, the compressed image in
// its block, and what may happen to the preview around a picture. The device's EXIF data in the
// picture is read back in the snap test of vemo-camera.

#include <stdio.h>
#include <unistd.h>

#include "DeviceFixture.h"

namespace vemo {
namespace test {

using StillCapture = DeviceTest;

TEST_F(StillCapture, ShutterAndRawNotificationsComeBeforeTheCompressedImage) {
    startHost();
    open();
    capture(CAMERA_MSG_SHUTTER | CAMERA_MSG_RAW_IMAGE_NOTIFY | CAMERA_MSG_COMPRESSED_IMAGE);
    std::vector<guest::CameraEvent> picture;
    for (const guest::CameraEvent& event : _callbacks.events()) {
        picture.push_back(event);
    }
    ASSERT_EQ(picture.size(), 3u);
    EXPECT_EQ(picture[0].message, CAMERA_MSG_SHUTTER);
    EXPECT_EQ(picture[1].message, CAMERA_MSG_RAW_IMAGE_NOTIFY);
    for (int i : {0, 1}) {
        EXPECT_EQ(picture[i].kind, guest::CameraEvent::Kind::kNotify);
        EXPECT_EQ(picture[i].ext1, 0);
        EXPECT_EQ(picture[i].ext2, 0);
    }
    EXPECT_EQ(picture[2].message, CAMERA_MSG_COMPRESSED_IMAGE);
    EXPECT_EQ(picture[2].kind, guest::CameraEvent::Kind::kData);
    // The block goes back right after the callback.
    EXPECT_TRUE(eventually([&] { return _callbacks.outstandingBlocks() == 0u; }));
    // The picture ends preview; the worker has nothing left to do.
    EXPECT_EQ(_device->previewEnabled(), 0);
}

TEST_F(StillCapture, ThumbnailIsFetchedOnlyWhenBothDimensionsAreSet) {
    startHost();
    open();
    struct Case {
        const char* width;  // nullptr: the key is absent
        const char* height;
        bool fetched;
    };
    for (const Case& c : {Case{"0", "0", false}, Case{"160", "0", false},
                          Case{nullptr, nullptr, true}, Case{"160", "120", true}}) {
        SCOPED_TRACE(std::string(c.width ? c.width : "absent") + "x" +
                     (c.height ? c.height : "absent"));
        const size_t before = countRequests("getThumbnailContents");
        if (c.width != nullptr) {
            ASSERT_EQ(setParameters(
                          {{"jpeg-thumbnail-width", c.width}, {"jpeg-thumbnail-height", c.height}}),
                      0);
        } else {
            ASSERT_EQ(setParameters({}, {"jpeg-thumbnail-width", "jpeg-thumbnail-height"}), 0);
        }
        _callbacks.clear();
        _log.clear();
        capture(CAMERA_MSG_COMPRESSED_IMAGE);
        EXPECT_EQ(countRequests("getThumbnailContents") - before, c.fetched ? 1u : 0u);
        guest::CameraEvent image;
        ASSERT_TRUE(_callbacks.last(CAMERA_MSG_COMPRESSED_IMAGE, &image));
        // The whole block goes to the client: the file, and room to spare after it, as much as
        // the host's picture and thumbnail and 1024 bytes more.
        const size_t file = tools::jpegLength(image.bytes.data(), image.bytes.size());
        ASSERT_GT(file, 0u);
        unsigned long picture = 0;
        unsigned long thumbnail = 0;
        for (const std::string& message : _log.messages()) {
            sscanf(message.c_str(), "len and thumb len %lu %lu", &picture, &thumbnail);
        }
        EXPECT_GT(picture, 0u);
        EXPECT_EQ(thumbnail > 0, c.fetched);
        EXPECT_EQ(image.size, picture + thumbnail + 1024);
        EXPECT_GT(image.size, file);
    }
}

TEST_F(StillCapture, APictureAskedForWhileRecordingIsDropped) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_SHUTTER | CAMERA_MSG_COMPRESSED_IMAGE);
    startPreview();
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_EQ(_device->takePicture(), 0);
    const uint64_t shown = _window.enqueued();
    ASSERT_TRUE(_window.waitForEnqueued(shown + 5, std::chrono::seconds(5)));
    _device->stopRecording();
    usleep(100000);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_SHUTTER), 0u);
    EXPECT_EQ(_callbacks.count(CAMERA_MSG_COMPRESSED_IMAGE), 0u);
    EXPECT_EQ(_device->previewEnabled(), 1);
    _device->stopPreview();
}

// Apps commonly start preview again from the picture callback: the capture must not switch
// that preview off afterwards.
TEST_F(StillCapture, PreviewStartedFromThePictureCallbackKeepsRunning) {
    startHost();
    open();
    _callbacks.setHook([&](const guest::CameraEvent& event) {
        if (event.message == CAMERA_MSG_COMPRESSED_IMAGE) {
            EXPECT_EQ(_device->previewEnabled(), 0);
            EXPECT_EQ(_device->startPreview(), 0);
        }
    });
    _device->enableMsgType(CAMERA_MSG_COMPRESSED_IMAGE);
    startPreview(2);
    ASSERT_EQ(_device->takePicture(), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_COMPRESSED_IMAGE, 1, std::chrono::seconds(5)));
    const uint64_t shown = _window.enqueued();
    EXPECT_TRUE(_window.waitForEnqueued(shown + 5, std::chrono::seconds(5)));
    EXPECT_EQ(_device->previewEnabled(), 1);
    _device->stopPreview();
}

TEST_F(StillCapture, APictureFormatTheDeviceCantDeliverIsRefused) {
    startHost();
    open();
    ASSERT_EQ(setParameters({{"picture-format", "bayer-rggb"}}), 0);
    EXPECT_EQ(_device->takePicture(), -22);
    EXPECT_TRUE(_log.contains("takePicture: Unsupported pixel format bayer-rggb"));
    ASSERT_EQ(setParameters({{"picture-format", "jpeg"}, {"jpeg-quality", "0"}}), 0);
    EXPECT_EQ(_device->takePicture(), 0);
    EXPECT_TRUE(_log.contains("takepicture  1280, 720, jpeg"));
}

}  // namespace test
}  // namespace vemo
