// The module's NV21 compressor: pictures that decode at their size and in their colours, the
// stream that each compression appends to, and the log lines of a compression.

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "ImagingSupport.h"
#include "NV21JpegCompressor.h"
#include "support/LogCapture.h"

namespace vemo {
namespace test {
namespace {

using android::NV21JpegCompressor;

const Yuv kLeft = {200, 90, 160};
const Yuv kRight = {50, 170, 100};

// An NV21 image, left half one colour and right half another, laid out exactly as
// compressRawImage reads it: Y rows then VU rows, both width bytes apart.
std::vector<uint8_t> halves(int width, int height) {
    std::vector<uint8_t> image(static_cast<size_t>(width) * (height + (height + 1) / 2));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image[static_cast<size_t>(y) * width + x] = x < width / 2 ? kLeft.y : kRight.y;
        }
    }
    uint8_t* vu = image.data() + static_cast<size_t>(width) * height;
    for (int y = 0; y < (height + 1) / 2; ++y) {
        for (int x = 0; x + 1 < width; x += 2) {
            const Yuv& c = x < width / 2 ? kLeft : kRight;
            vu[static_cast<size_t>(y) * width + x] = c.v;
            vu[static_cast<size_t>(y) * width + x + 1] = c.u;
        }
    }
    return image;
}

std::vector<uint8_t> compressed(const NV21JpegCompressor& compressor, size_t from = 0) {
    const unsigned char* data = compressor.getCompressedData();
    return std::vector<uint8_t>(data + from, data + compressor.getCompressedSize());
}

void expectNear(const Yuv& seen, const Yuv& expected) {
    EXPECT_NEAR(seen.y, expected.y, 4);
    EXPECT_NEAR(seen.u, expected.u, 4);
    EXPECT_NEAR(seen.v, expected.v, 4);
}

TEST(NV21JpegCompressor, CompressesToAPictureOfTheImagesSizeAndColours) {
    LogCapture log;
    NV21JpegCompressor compressor;
    const std::vector<uint8_t> image = halves(640, 480);
    ASSERT_EQ(compressor.compressRawImage(image.data(), 640, 480, 95), 0);

    DecodedImage decoded;
    ASSERT_TRUE(decodeJpeg(compressed(compressor), &decoded));
    EXPECT_EQ(decoded.width, 640);
    EXPECT_EQ(decoded.height, 480);
    expectNear(decoded.at(100, 240), kLeft);
    expectNear(decoded.at(540, 240), kRight);

    std::vector<uint8_t> copy(compressor.getCompressedSize());
    compressor.getCompressedImage(copy.data());
    EXPECT_EQ(copy, compressed(compressor));

    char entry[128];
    snprintf(entry, sizeof(entry), "V/EmulatedCamera_JPEG: compressRawImage: %p[640x480]",
             static_cast<const void*>(image.data()));
    const std::string done = "V/EmulatedCamera_JPEG: compressRawImage: Compressed JPEG: " +
                             std::to_string(640 * 480 * 12 / 8) + "[640x480] -> " +
                             std::to_string(compressor.getCompressedSize()) + " bytes";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{entry, done}));
}

TEST(NV21JpegCompressor, EachCompressionAppendsToTheStream) {
    NV21JpegCompressor compressor;
    const std::vector<uint8_t> big = halves(320, 240);
    const std::vector<uint8_t> odd = halves(33, 17);
    ASSERT_EQ(compressor.compressRawImage(big.data(), 320, 240, 80), 0);
    const std::vector<uint8_t> first = compressed(compressor);
    ASSERT_EQ(compressor.compressRawImage(odd.data(), 33, 17, 80), 0);

    const std::vector<uint8_t> both = compressed(compressor);
    ASSERT_GT(both.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), both.begin()));
    DecodedImage second;
    ASSERT_TRUE(decodeJpeg(compressed(compressor, first.size()), &second));
    EXPECT_EQ(second.width, 33);
    EXPECT_EQ(second.height, 17);
}

TEST(NV21JpegCompressor, ImpossibleSizesFailWithEinvalAndWriteNothing) {
    LogCapture log;
    NV21JpegCompressor compressor;
    const uint8_t pixel[2] = {0, 0};
    EXPECT_EQ(compressor.compressRawImage(pixel, 0, 480, 90), 22);
    EXPECT_EQ(compressor.compressRawImage(pixel, 640, -1, 90), 22);
    EXPECT_EQ(compressor.compressRawImage(pixel, 1 << 16, 1 << 16, 90), 22);
    EXPECT_EQ(compressor.getCompressedSize(), 0u);
    EXPECT_EQ(log.count("compressRawImage: JPEG compression failed"), 3u);
}

}  // namespace
}  // namespace test
}  // namespace vemo
