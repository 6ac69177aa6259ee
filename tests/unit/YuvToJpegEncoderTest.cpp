// The YUV-to-JPEG encoder: NV21 and YUYV images of any size decode at their size in their
// colours, and failures come back as false without ending the process.

#include <gtest/gtest.h>

#include <SkStream.h>
#include <YuvToJpegEncoder.h>
#include <system/graphics.h>

#include <algorithm>
#include <memory>

#include "ImagingSupport.h"
#include "support/LogCapture.h"

namespace vemo {
namespace test {
namespace {

const Yuv kQuadrants[4] = {{200, 90, 160}, {60, 170, 100}, {120, 128, 128}, {30, 100, 200}};
const Yuv kUniform[4] = {{180, 70, 150}, {180, 70, 150}, {180, 70, 150}, {180, 70, 150}};

// Odd sizes, sizes just past an MCU, and one of a camera's order.
const int kSizes[][2] = {{1, 1}, {2, 1}, {1, 3}, {3, 5}, {17, 9}, {33, 47}, {641, 479}};

Yuv colourAt(int width, int height, const Yuv colours[4], int x, int y) {
    return colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
}

// An image of four quadrants (top-left, top-right, bottom-left, bottom-right) laid out as the
// encoder reads it, each plane behind a gap and its rows extraStride bytes longer than needed.
// Exactly its bytes are on the heap, so that the address sanitizer sees a read past them.
struct YuvImage {
    int width;
    int height;
    int strides[2];
    int offsets[2];
    std::vector<uint8_t> bytes;
};

YuvImage makeImage(int format, int width, int height, const Yuv colours[4], int extraStride,
                   int vuStride = 0) {
    const bool nv21 = format == HAL_PIXEL_FORMAT_YCrCb_420_SP;
    const int pairs = (width + 1) / 2;
    YuvImage image{width, height, {(nv21 ? width : pairs * 4) + extraStride, 0}, {7, 0}, {}};
    image.strides[1] = vuStride != 0 ? vuStride : pairs * 2 + extraStride;
    image.offsets[1] = image.offsets[0] + image.strides[0] * height + 5;
    image.bytes.assign(
        nv21 ? image.offsets[1] + image.strides[1] * ((height + 1) / 2) : image.offsets[1] - 5,
        0xEE);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &image.bytes[image.offsets[0] + y * image.strides[0]];
        for (int x = 0; x < width; ++x) {
            const Yuv c = colourAt(width, height, colours, x, y);
            if (nv21) {
                row[x] = c.y;
            } else {
                // Y U Y V: U follows the even pixel, V the odd one.
                row[2 * x] = c.y;
                row[2 * x + 1] = x % 2 == 0 ? c.u : c.v;
                if (x % 2 == 0 && x == width - 1) {
                    row[2 * x + 3] = c.v;
                }
            }
        }
    }
    for (int y = 0; nv21 && y < (height + 1) / 2; ++y) {
        uint8_t* vu = &image.bytes[image.offsets[1] + y * image.strides[1]];
        for (int p = 0; p < std::min(pairs, image.strides[1] / 2); ++p) {
            const Yuv c = colourAt(width, height, colours, 2 * p, 2 * y);
            vu[2 * p] = c.v;
            vu[2 * p + 1] = c.u;
        }
    }
    return image;
}

DecodedImage encodeAndDecode(int format, YuvImage image, int quality) {
    std::unique_ptr<YuvToJpegEncoder> encoder(YuvToJpegEncoder::create(format, image.strides));
    SkDynamicMemoryWStream stream;
    DecodedImage decoded;
    EXPECT_TRUE(encoder->encode(&stream, image.bytes.data(), image.width, image.height,
                                image.offsets, quality));
    EXPECT_TRUE(decodeJpeg(
        std::vector<uint8_t>(stream.data(), stream.data() + stream.bytesWritten()), &decoded));
    return decoded;
}

void expectNear(const DecodedImage& image, int x, int y, const Yuv& expected, int tolerance) {
    const Yuv actual = image.at(x, y);
    EXPECT_NEAR(actual.y, expected.y, tolerance) << "Y at " << x << "," << y;
    EXPECT_NEAR(actual.u, expected.u, tolerance) << "U at " << x << "," << y;
    EXPECT_NEAR(actual.v, expected.v, tolerance) << "V at " << x << "," << y;
}

// A uniform image stays uniform up to its last row and column even at a low quality, as the
// blocks past the image repeat its edge; quadrants keep their colours inside and at the corners.
void expectSizesAndColours(int format, int extraStride) {
    for (const auto& size : kSizes) {
        const int w = size[0];
        const int h = size[1];
        SCOPED_TRACE(testing::Message() << w << "x" << h << " with " << extraStride);
        const DecodedImage uniform =
            encodeAndDecode(format, makeImage(format, w, h, kUniform, extraStride), 20);
        ASSERT_EQ(uniform.width, w);
        ASSERT_EQ(uniform.height, h);
        for (int y : {0, h - 1}) {
            for (int x : {0, w - 1}) {
                expectNear(uniform, x, y, kUniform[0], 3);
            }
        }
        if (w < 32 || h < 32) {
            continue;
        }
        const DecodedImage quadrants =
            encodeAndDecode(format, makeImage(format, w, h, kQuadrants, extraStride), 90);
        for (int y : {0, h / 4, 3 * h / 4, h - 1}) {
            for (int x : {0, w / 4, 3 * w / 4, w - 1}) {
                expectNear(quadrants, x, y, colourAt(w, h, kQuadrants, x, y), 8);
            }
        }
    }
}

// Accepts bytes up to a limit, then refuses.
class LimitedStream : public SkWStream {
public:
    explicit LimitedStream(size_t limit) : _limit(limit) {}
    bool write(const void*, size_t size) override {
        _written += size;
        return _written <= _limit;
    }
    size_t bytesWritten() const override { return _written; }

private:
    size_t _limit;
    size_t _written = 0;
};

TEST(YuvToJpegEncoder, Nv21AndYuyvOfAnySizeDecodeAtTheirSizeInTheirColours) {
    expectSizesAndColours(HAL_PIXEL_FORMAT_YCrCb_420_SP, 0);
    expectSizesAndColours(HAL_PIXEL_FORMAT_YCrCb_420_SP, 13);
    expectSizesAndColours(HAL_PIXEL_FORMAT_YCbCr_422_I, 0);
    expectSizesAndColours(HAL_PIXEL_FORMAT_YCbCr_422_I, 6);
}

TEST(YuvToJpegEncoder, Nv21WithBothStridesTheOddWidthRepeatsTheLastChroma) {
    // The camera module gives both strides as the width: one VU pair too few for an odd width.
    const YuvImage image = makeImage(HAL_PIXEL_FORMAT_YCrCb_420_SP, 33, 35, kUniform, 0, 33);
    const DecodedImage decoded = encodeAndDecode(HAL_PIXEL_FORMAT_YCrCb_420_SP, image, 90);
    ASSERT_EQ(decoded.width, 33);
    expectNear(decoded, 32, 34, kUniform[0], 3);
}

TEST(YuvToJpegEncoder, UnknownFormatsBadArgumentsAndStreamFailuresGiveNullOrFalse) {
    LogCapture log;
    YuvImage image = makeImage(HAL_PIXEL_FORMAT_YCrCb_420_SP, 64, 48, kQuadrants, 0);
    EXPECT_EQ(YuvToJpegEncoder::create(HAL_PIXEL_FORMAT_YV12, image.strides), nullptr);
    std::unique_ptr<YuvToJpegEncoder> encoder(
        YuvToJpegEncoder::create(HAL_PIXEL_FORMAT_YCrCb_420_SP, image.strides));
    SkDynamicMemoryWStream stream;
    uint8_t* pixels = image.bytes.data();
    int* offsets = image.offsets;
    EXPECT_FALSE(encoder->encode(&stream, pixels, 0, 48, offsets, 90));
    EXPECT_FALSE(encoder->encode(&stream, pixels, 70000, 48, offsets, 90));
    EXPECT_FALSE(encoder->encode(nullptr, pixels, 64, 48, offsets, 90));
    EXPECT_FALSE(encoder->encode(&stream, nullptr, 64, 48, offsets, 90));
    EXPECT_FALSE(encoder->encode(&stream, pixels, 64, 48, nullptr, 90));
    EXPECT_FALSE(encoder->encode(&stream, pixels, 66, 48, offsets, 90));  // strides too narrow
    EXPECT_EQ(stream.bytesWritten(), 0u);

    // A stream that refuses the first buffer or the last fails the encoding through libjpeg's
    // error exit; the encoder works on afterwards, with qualities out of range clamped.
    ASSERT_TRUE(encoder->encode(&stream, pixels, 64, 48, offsets, 90));
    for (size_t limit : {size_t{0}, stream.bytesWritten() - 1}) {
        LimitedStream refusing(limit);
        EXPECT_FALSE(encoder->encode(&refusing, pixels, 64, 48, offsets, 90)) << limit;
    }
    EXPECT_EQ(log.count("YuvToJpegEncoder::encode: Output file write error --- out of disk space?"),
              2u);
    for (int quality : {0, 1000}) {
        SkDynamicMemoryWStream again;
        EXPECT_TRUE(encoder->encode(&again, pixels, 64, 48, offsets, quality));
        DecodedImage decoded;
        EXPECT_TRUE(decodeJpeg(
            std::vector<uint8_t>(again.data(), again.data() + again.bytesWritten()), &decoded));
    }
}

}  // namespace
}  // namespace test
}  // namespace vemo
