// A QR code, made with qrencode and served by vemo-hostd as a picture, read back with zbarimg
// from what the module hands the camera service: a preview frame (after the code was switched
// in while the preview ran), a frame recorded in copy mode, and the captured picture.

#include "QrCodeFixture.h"

namespace vemo {
namespace test {

TEST_F(QrCode, ReadsFromPreviewFramesOnceSwitchedInWhileThePreviewRuns) {
    startHost({"--camera", kCamera});
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    startPreview();
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 3, std::chrono::seconds(5)));
    guest::CameraEvent frame;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame));
    EXPECT_NE(decode(lumaFile(frame.bytes, "pattern.pgm")), _text);

    const ProgramResult switched = ctl({"source", "0", "image:" + _code});
    ASSERT_EQ(switched.exitCode, 0) << switched.err;
    const size_t seen = _callbacks.count(CAMERA_MSG_PREVIEW_FRAME);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, seen + 3, std::chrono::seconds(5)));
    _device->stopPreview();
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame));
    ASSERT_EQ(frame.size, 640u * 480 * 3 / 2);  // NV21
    EXPECT_EQ(decode(lumaFile(frame.bytes, "preview.pgm")), _text);
}

TEST_F(QrCode, ReadsFromAFrameRecordedInCopyMode) {
    startHost({"--camera", std::string(kCamera) + ",source=image:" + _code});
    open();
    _device->enableMsgType(CAMERA_MSG_VIDEO_FRAME);
    ASSERT_EQ(_device->storeMetaDataInBuffers(0), 0);
    ASSERT_EQ(_device->startRecording(), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_VIDEO_FRAME, 2, std::chrono::seconds(5)));
    _device->stopRecording();
    guest::CameraEvent frame;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_VIDEO_FRAME, &frame));
    for (const guest::CameraEvent& event : _callbacks.events()) {
        if (event.message == CAMERA_MSG_VIDEO_FRAME) {
            _device->releaseRecordingFrame(event.bytes.data());
        }
    }
    ASSERT_EQ(frame.size, 640u * 480 * 3 / 2);  // YV12, whose luma rows of 640 need no padding
    EXPECT_EQ(decode(lumaFile(frame.bytes, "recorded.pgm")), _text);
}

TEST_F(QrCode, ReadsFromTheCapturedPicture) {
    startHost({"--camera", std::string(kCamera) + ",source=image:" + _code});
    open();
    capture(CAMERA_MSG_COMPRESSED_IMAGE);
    EXPECT_EQ(decode(pictureFile()), _text);
}

}  // namespace test
}  // namespace vemo
