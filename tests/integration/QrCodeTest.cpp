// A QR code, made with qrencode and served by vemo-hostd as a picture, read back with zbarimg
// from what the module hands the camera service: a preview frame (after the code was switched
// in while the preview ran), a frame recorded in copy mode, and the captured picture.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "DeviceFixture.h"

namespace vemo {
namespace test {

namespace {

const char kQrencode[] = "/usr/bin/qrencode";
const char kZbarimg[] = "/usr/bin/zbarimg";
// Previews and recordings at 640x480; the 4:3 frames letterbox the square code left and right.
const char kCamera[] = "0:preview-sizes=1280x720/640x480,preferred=640x480,video-sizes=640x480";

class QrCode : public DeviceTest {
protected:
    void SetUp() override {
        struct stat info {};
        ASSERT_TRUE(stat(kQrencode, &info) == 0 && stat(kZbarimg, &info) == 0)
            << "qrencode and zbarimg are needed (Debian's qrencode and zbar-tools; "
               "scripts/lib/deps.sh installs them)";
        // A text of this run, so that nothing else could have put it in a frame.
        _text = "vemo camera " + std::to_string(getpid()) + " " + std::to_string(time(nullptr));
        _code = folder() + "/code.png";
        const ProgramResult made =
            runProgram(kQrencode, {"-o", _code, "-s", "6", "-m", "4", _text});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // The text zbarimg reads from the file; what it said when it read none.
    std::string decode(const std::string& path) {
        const ProgramResult read = runProgram(kZbarimg, {"--quiet", "--raw", path});
        if (read.exitCode != 0) {
            return "(zbarimg: exit " + std::to_string(read.exitCode) + " " + read.err + ")";
        }
        return read.out.substr(0, read.out.find_last_not_of('\n') + 1);
    }

    // The luma plane at the start of a 640x480 frame as a PGM file.
    std::string lumaFile(const std::vector<uint8_t>& frame, const std::string& name) {
        const std::string path = folder() + "/" + name;
        std::ofstream out(path, std::ios::binary);
        out << "P5\n640 480\n255\n";
        out.write(reinterpret_cast<const char*>(frame.data()),
                  static_cast<std::streamsize>(std::min<size_t>(frame.size(), 640 * 480)));
        return path;
    }

    std::string _text;
    std::string _code;
};

}  // namespace

TEST_F(QrCode, ReadsFromPreviewFramesOnceSwitchedInWhileThePreviewRuns) {
    startHost({"--camera", kCamera});
    open();
    _device->enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
    ASSERT_EQ(_device->startPreview(), 0);
    ASSERT_TRUE(_callbacks.waitFor(CAMERA_MSG_PREVIEW_FRAME, 3, std::chrono::seconds(5)));
    guest::CameraEvent frame;
    ASSERT_TRUE(_callbacks.last(CAMERA_MSG_PREVIEW_FRAME, &frame));
    EXPECT_NE(decode(lumaFile(frame.bytes, "pattern.pgm")), _text);

    const ProgramResult switched = runProgram(
        VEMO_HOSTD_PATH,
        {"ctl", "--socket", _host.process().field("ctl-socket"), "source", "0", "image:" + _code});
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
