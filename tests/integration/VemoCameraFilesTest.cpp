// What vemo-camera makes of the bytes a camera delivers, apart from any camera: the JPEG file in
// a picture block, frames of each format converted, the Y4M clip, PNG pictures and the
// parameter text.

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "FrameFormat.h"
#include "JpegFile.h"
#include "ParameterText.h"
#include "PngFile.h"
#include "Y4mFile.h"
#include "support/TempFolder.h"

namespace vemo {
namespace test {

namespace {

using tools::FrameFormat;

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// A JPEG file's skeleton: the segments the walk looks at, with an EXIF segment that carries a
// thumbnail of its own (start and end marker) and entropy data with stuffed bytes and restart
// markers.
std::vector<uint8_t> skeletonJpeg() {
    std::vector<uint8_t> jpeg = {0xFF, 0xD8};
    const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0x00, 0x0C, 'E',  'x',  'i',
                                       'f',  0,    0,    0xFF, 0xD8, 0xFF, 0xD9};
    const std::vector<uint8_t> frame = {0xFF, 0xC0, 0x00, 0x0B, 8,    0x01, 0xE0,
                                        0x02, 0x80, 1,    1,    0x11, 0};
    const std::vector<uint8_t> scan = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0};
    const std::vector<uint8_t> data = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56,
                                       0xFF, 0xFF, 0x00, 0x78, 0xFF, 0xD9};
    for (const auto* part : {&app1, &frame, &scan, &data}) {
        jpeg.insert(jpeg.end(), part->begin(), part->end());
    }
    return jpeg;
}

TEST(VemoCameraFiles, TheJpegFileEndsAtTheMarkerAfterItsScan) {
    const std::vector<uint8_t> file = skeletonJpeg();
    std::vector<uint8_t> block = file;
    // The room to spare in a picture block, here with what looks like another end marker.
    block.insert(block.end(), {0x00, 0xFF, 0xD9, 0x00, 0x00});
    EXPECT_EQ(tools::jpegLength(block.data(), block.size()), file.size());
    int width = 0;
    int height = 0;
    ASSERT_TRUE(tools::jpegSize(block.data(), block.size(), &width, &height));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);

    EXPECT_EQ(tools::jpegLength(file.data(), file.size() - 1), 0u) << "no end marker";
    std::vector<uint8_t> noStart = file;
    noStart[1] = 0xD9;
    EXPECT_EQ(tools::jpegLength(noStart.data(), noStart.size()), 0u);
    std::vector<uint8_t> longSegment = file;
    longSegment[4] = 0x7F;  // the EXIF segment's length reaches past the block
    EXPECT_EQ(tools::jpegLength(longSegment.data(), longSegment.size()), 0u);
    std::vector<uint8_t> zeros(64, 0);
    EXPECT_EQ(tools::jpegLength(zeros.data(), zeros.size()), 0u);
    EXPECT_FALSE(tools::jpegSize(zeros.data(), zeros.size(), &width, &height));
    EXPECT_TRUE(tools::exifLines(zeros.data(), zeros.size()).empty());
}

// BT.601 red: Y 81, U (Cb) 90, V (Cr) 240. A plane mix-up turns it blue or green.
const uint8_t kRedY = 81;
const uint8_t kRedU = 90;
const uint8_t kRedV = 240;

std::vector<uint8_t> redFrame(FrameFormat format, int width, int height) {
    std::vector<uint8_t> frame(tools::frameBytes(format, width, height), 0);
    const size_t pixels = static_cast<size_t>(width) * height;
    switch (format) {
        case FrameFormat::kNv21:
            memset(frame.data(), kRedY, pixels);
            for (size_t i = pixels; i < frame.size(); i += 2) {
                frame[i] = kRedV;
                frame[i + 1] = kRedU;
            }
            break;
        case FrameFormat::kYv12: {
            // Y rows 32 bytes apart, chroma rows 16 apart, V before U.
            const size_t yStride = 32;
            const size_t cStride = 16;
            for (int y = 0; y < height; ++y) {
                memset(frame.data() + y * yStride, kRedY, width);
            }
            const size_t vPlane = yStride * height;
            const size_t uPlane = vPlane + cStride * (height / 2);
            for (int y = 0; y < height / 2; ++y) {
                memset(frame.data() + vPlane + y * cStride, kRedV, width / 2);
                memset(frame.data() + uPlane + y * cStride, kRedU, width / 2);
            }
            break;
        }
        case FrameFormat::kYuyv:
            for (size_t i = 0; i < frame.size(); i += 4) {
                frame[i] = kRedY;
                frame[i + 1] = kRedU;
                frame[i + 2] = kRedY;
                frame[i + 3] = kRedV;
            }
            break;
    }
    return frame;
}

TEST(VemoCameraFiles, EachFrameFormatConvertsWithItsOwnLayout) {
    const int width = 24;
    const int height = 4;
    // The platform's YV12 strides: Y align(24, 16) = 32, chroma align(16, 16) = 16.
    EXPECT_EQ(tools::frameBytes(FrameFormat::kYv12, width, height), 32u * 4 + 2 * 16 * 2);
    EXPECT_EQ(tools::frameBytes(FrameFormat::kNv21, width, height), 24u * 4 * 3 / 2);
    EXPECT_EQ(tools::frameBytes(FrameFormat::kYuyv, width, height), 24u * 4 * 2);

    for (FrameFormat format : {FrameFormat::kNv21, FrameFormat::kYv12, FrameFormat::kYuyv}) {
        SCOPED_TRACE(tools::frameFormatName(format));
        const std::vector<uint8_t> frame = redFrame(format, width, height);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(tools::frameToRgb(format, frame.data(), frame.size(), width, height, &rgb));
        ASSERT_EQ(rgb.size(), static_cast<size_t>(width * height * 3));
        for (size_t i = 0; i < rgb.size(); i += 3) {
            ASSERT_GT(rgb[i], 200) << "pixel " << i / 3;
            ASSERT_LT(rgb[i + 1], 40) << "pixel " << i / 3;
            ASSERT_LT(rgb[i + 2], 40) << "pixel " << i / 3;
        }
        std::vector<uint8_t> i420;
        ASSERT_TRUE(tools::frameToI420(format, frame.data(), frame.size(), width, height, &i420));
        std::vector<uint8_t> expected(width * height, kRedY);
        expected.insert(expected.end(), width * height / 4, kRedU);
        expected.insert(expected.end(), width * height / 4, kRedV);
        EXPECT_EQ(i420, expected);

        EXPECT_FALSE(
            tools::frameToRgb(format, frame.data(), frame.size() - 1, width, height, &rgb));
        EXPECT_FALSE(tools::frameToI420(format, frame.data(), frame.size(), width, 6, &i420));
    }
    FrameFormat format;
    EXPECT_TRUE(tools::frameFormatOf("yuv422i-yuyv", &format));
    EXPECT_EQ(format, FrameFormat::kYuyv);
    EXPECT_FALSE(tools::frameFormatOf("rgb565", &format));
}

TEST(VemoCameraFiles, AClipHasItsRateInTheHeaderAndItsFramesAfterIt) {
    TempFolder folder;
    const std::string path = folder.file("clip.y4m");
    const std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    {
        tools::Y4mFile clip;
        std::string error;
        ASSERT_TRUE(clip.open(path, 4, 2, &error)) << error;
        ASSERT_TRUE(clip.addFrame(frame.data(), frame.size()));
        ASSERT_TRUE(clip.addFrame(frame.data(), frame.size()));
        ASSERT_TRUE(clip.finish(29.97, &error)) << error;
        EXPECT_EQ(clip.frames(), 2u);
    }
    const std::string body = "FRAME\n" + std::string(frame.begin(), frame.end());
    const std::string expected = "YUV4MPEG2 W4 H2 F29970:1000 Ip A1:1 C420jpeg\n" + body + body;
    EXPECT_EQ(readText(path), expected);
    EXPECT_FALSE(exists(path + ".part"));
    unlink(path.c_str());

    // A wrong frame stops the clip; an unfinished clip leaves no file behind.
    {
        tools::Y4mFile clip;
        std::string error;
        ASSERT_TRUE(clip.open(path, 4, 2, &error)) << error;
        EXPECT_FALSE(clip.addFrame(frame.data(), frame.size() - 1));
        EXPECT_FALSE(clip.addFrame(frame.data(), frame.size()));
        EXPECT_NE(clip.error(), "");
        EXPECT_FALSE(clip.finish(30, &error));
    }
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists(path + ".part"));
}

TEST(VemoCameraFiles, APngReadsBackAsTheSamePixels) {
    TempFolder folder;
    const std::string path = folder.file("picture.png");
    std::vector<uint8_t> rgb(5 * 3 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) {
        rgb[i] = static_cast<uint8_t>(i * 17);
    }
    std::string error;
    ASSERT_TRUE(tools::writePng(path, 5, 3, rgb.data(), &error)) << error;
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, path.c_str()), 0);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> back(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr), 0);
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(back, rgb);
    EXPECT_FALSE(tools::writePng("/nonexistent/picture.png", 5, 3, rgb.data(), &error));
    EXPECT_NE(error.find("/nonexistent/picture.png"), std::string::npos);
}

TEST(VemoCameraFiles, ParameterTextSplitsAsThePlatformDoes) {
    const tools::ParameterMap parameters = tools::parseParameters("b=2;a=1;;c;=d;e=;f=x=y");
    EXPECT_EQ(parameters, (tools::ParameterMap{{"a", "1"}, {"b", "2"}, {"e", ""}, {"f", "x=y"}}));
    EXPECT_EQ(tools::flattenParameters(parameters), "a=1;b=2;e=;f=x=y");
    EXPECT_EQ(tools::parameterTable({{"a", "1"}, {"long-key", "2"}}, {{"a", "1"}}),
              "* a         1\n"
              "  long-key  2\n");

    tools::ParameterMap changes;
    std::string error;
    EXPECT_TRUE(tools::addAssignment("rotation=90", &changes, &error));
    EXPECT_TRUE(tools::addAssignment("empty=", &changes, &error));
    EXPECT_EQ(changes, (tools::ParameterMap{{"rotation", "90"}, {"empty", ""}}));
    for (const char* wrong : {"novalue", "=1", "a=b=c", "a;b=1", "a=1;b=2"}) {
        EXPECT_FALSE(tools::addAssignment(wrong, &changes, &error)) << wrong;
    }
    EXPECT_EQ(changes.size(), 2u);
}

}  // namespace

}  // namespace test
}  // namespace vemo
