// Still pictures through the module's entry point: the notifications, the compressed image
// with the device's EXIF data and the host's thumbnail, read back by an independent reader.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "DeviceFixture.h"
#include "support/HostProcess.h"

namespace vemo {
namespace test {

namespace {

using StillCapture = DeviceTest;

// Tag values exiftool reads from a file, as "Group:Tag" -> printed value.
std::map<std::string, std::string> exifOf(const std::string& path, bool numeric) {
    std::vector<std::string> args = {"-s", "-s", "-G1", "-a"};
    if (numeric) {
        args.push_back("-n");
    }
    args.push_back(path);
    const ProgramResult result = runProgram("/usr/bin/exiftool", args);
    std::map<std::string, std::string> tags;
    std::stringstream in(result.out);
    std::string line;
    while (std::getline(in, line)) {
        // "[Group]     Tag                : value"
        const size_t close = line.find(']');
        const size_t colon = line.find(": ");
        if (line.empty() || line[0] != '[' || close == std::string::npos ||
            colon == std::string::npos) {
            continue;
        }
        std::string tag = line.substr(close + 1, colon - close - 1);
        tag.erase(0, tag.find_first_not_of(' '));
        tag.erase(tag.find_last_not_of(' ') + 1);
        tags[line.substr(1, close - 1) + ":" + tag] = line.substr(colon + 2);
    }
    return tags;
}

}  // namespace

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
        const size_t file = jpegLength(image.bytes);
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

TEST_F(StillCapture, PictureCarriesTheDevicesExifData) {
    if (access("/usr/bin/exiftool", X_OK) != 0) {
        GTEST_SKIP() << "exiftool is not installed";
    }
    startHost();
    open();
    // Without GPS or rotation only the fixed tags are written.
    capture(CAMERA_MSG_COMPRESSED_IMAGE);
    std::map<std::string, std::string> tags = exifOf(pictureFile(), true);
    EXPECT_EQ(tags["IFD0:Make"], "Vemo");
    EXPECT_EQ(tags.count("IFD0:Orientation"), 0u);
    for (const auto& tag : tags) {
        EXPECT_NE(tag.first.compare(0, 4, "GPS:"), 0) << tag.first;
    }

    ASSERT_EQ(setParameters({{"rotation", "90"},
                             {"gps-latitude", "37.422"},
                             {"gps-longitude", "-122.084"},
                             {"gps-altitude", "-3.7"},
                             {"gps-timestamp", "1796565909"},
                             {"gps-processing-method", "GPS"},
                             {"jpeg-thumbnail-width", "160"},
                             {"jpeg-thumbnail-height", "120"}}),
              0);
    const time_t taken = time(nullptr);
    capture(CAMERA_MSG_COMPRESSED_IMAGE);
    const std::string path = pictureFile();
    tags = exifOf(path, true);
    // How each parameter becomes its tag is the EXIF table's and library's own test; here the
    // device's parameters reach the picture.
    EXPECT_EQ(tags["IFD0:Make"], "Vemo");
    EXPECT_EQ(tags["IFD0:Orientation"], "6");
    EXPECT_NEAR(atof(tags["GPS:GPSLatitude"].c_str()), 37.422, 1e-4);
    EXPECT_EQ(tags["GPS:GPSLongitudeRef"], "W");
    EXPECT_EQ(tags["GPS:GPSTimeStamp"], "14:05:09");
    // The date and time of the capture, in local time.
    struct tm local;
    localtime_r(&taken, &local);
    struct tm read = {};
    ASSERT_NE(strptime(tags["IFD0:ModifyDate"].c_str(), "%Y:%m:%d %H:%M:%S", &read), nullptr)
        << tags["IFD0:ModifyDate"];
    read.tm_isdst = -1;
    EXPECT_LE(fabs(difftime(mktime(&read), taken)), 5.0);
    // The host's thumbnail is inside and is a picture of its own.
    EXPECT_NE(tags["IFD1:ThumbnailImage"], "");
    const ProgramResult thumbnail =
        runProgram("/usr/bin/exiftool", {"-b", "-ThumbnailImage", path});
    ASSERT_GT(thumbnail.out.size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(thumbnail.out[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(thumbnail.out[1]), 0xD8);
}

TEST_F(StillCapture, APictureAskedForWhileRecordingIsDropped) {
    startHost();
    open();
    _device->enableMsgType(CAMERA_MSG_SHUTTER | CAMERA_MSG_COMPRESSED_IMAGE);
    ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
    ASSERT_EQ(_device->startPreview(), 0);
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
    ASSERT_EQ(_device->setPreviewWindow(_window.ops()), 0);
    ASSERT_EQ(_device->startPreview(), 0);
    ASSERT_TRUE(_window.waitForEnqueued(2, std::chrono::seconds(5)));
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
