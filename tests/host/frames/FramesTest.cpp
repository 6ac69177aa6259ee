// The host's pixel work on its own: sizes and layouts, the test pattern, conversion with colour
// adjustment, JPEG files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ColorAdjustment.h"
#include "FrameConverter.h"
#include "FrameTestSupport.h"
#include "JpegEncoder.h"
#include "PictureFit.h"
#include "TestPattern.h"

namespace vemo {
namespace host {
namespace {

using test::readCounter;
using test::Yuv;
using test::yuvAt;

constexpr uint32_t kBackSquare = 0xFFE65A28;
constexpr PixelFormat kYuvFormats[] = {PixelFormat::kNV21, PixelFormat::kYV12, PixelFormat::kYUYV};

// Centre of bar i at a size.
std::pair<int, int> barCentre(FrameSize size, int i) {
    const Rect bar = TestPattern::layout(size).bars[i];
    return {bar.x + bar.width / 2, bar.height / 2};
}

void expectNear(const Yuv& actual, const Yuv& expected, int tolerance, const std::string& what) {
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.u, expected.u, tolerance) << what;
    EXPECT_NEAR(actual.v, expected.v, tolerance) << what;
}

std::string nameOf(PixelFormat format, FrameSize size) {
    return std::string(formatName(format)) + " " + size.text();
}

TEST(FrameSize, ParsesEvenSizesWithinBoundsOnly) {
    ASSERT_TRUE(FrameSize::parse("1280x720"));
    EXPECT_EQ(*FrameSize::parse("1280x720"), (FrameSize{1280, 720}));
    EXPECT_EQ(FrameSize::parse("16x4096")->text(), "16x4096");
    for (const char* bad :
         {"", "x", "1280x", "x720", "1281x720", "1280x721", "14x16", "4098x16", "1280*720",
          "1280x720x2", "+1280x720", " 1280x720", "1280x 720", "99999999999x16"}) {
        EXPECT_FALSE(FrameSize::parse(bad)) << bad;
    }
    const auto list = FrameSize::parseList("1920x1080/640x480");
    ASSERT_TRUE(list);
    EXPECT_EQ(*list, (std::vector<FrameSize>{{1920, 1080}, {640, 480}}));
    for (const char* bad : {"", "/", "1920x1080/", "/640x480", "1920x1080,640x480"}) {
        EXPECT_FALSE(FrameSize::parseList(bad)) << bad;
    }
}

TEST(PixelFormat, FrameBytesAndStridesFollowAndroidRules) {
    const struct {
        PixelFormat format;
        FrameSize size;
        size_t bytes;
        uint32_t strides[3];
    } cases[] = {
        {PixelFormat::kNV21, {176, 144}, 176 * 144 * 3 / 2, {176, 176, 0}},
        {PixelFormat::kNV21, {1920, 1080}, 3110400, {1920, 1920, 0}},
        {PixelFormat::kYV12, {1280, 720}, 1280 * 720 * 3 / 2, {1280, 640, 640}},
        // Y stride 176; V and U strides round 88 up to 96.
        {PixelFormat::kYV12, {176, 144}, 176 * 144 + 2 * 96 * 72, {176, 96, 96}},
        // Y stride rounds 360 up to 368, V and U 184 up to 192.
        {PixelFormat::kYV12, {360, 240}, 368 * 240 + 2 * 192 * 120, {368, 192, 192}},
        {PixelFormat::kYUYV, {640, 480}, 640 * 480 * 2, {1280, 0, 0}},
        {PixelFormat::kRGB888, {640, 480}, 640 * 480 * 3, {1920, 0, 0}},
    };
    for (const auto& c : cases) {
        const FrameLayout layout = FrameLayout::of(c.format, c.size);
        const std::string what = nameOf(c.format, c.size);
        EXPECT_EQ(layout.bytes, c.bytes) << what;
        for (int i = 0; i < layout.planeCount; ++i) {
            EXPECT_EQ(layout.planes[i].stride, c.strides[i]) << what << " plane " << i;
        }
    }
    EXPECT_EQ(streamFormatFromName("yuv420sp"), PixelFormat::kNV21);
    EXPECT_EQ(streamFormatFromName("yuv420p"), PixelFormat::kYV12);
    EXPECT_EQ(streamFormatFromName("yuv422i-yuyv"), PixelFormat::kYUYV);
    for (const char* other : {"YUV420SP", "jpeg", "rgb565", "rgb888", "argb", ""}) {
        EXPECT_FALSE(streamFormatFromName(other)) << other;
    }
}

// The current picture of source in a fresh converter: drawn and converted in full.
std::vector<uint8_t> frameOf(IFrameSource& source, PixelFormat format, FrameSize size,
                             const ColorAdjustment& adjustment = {}) {
    FrameConverter converter;
    converter.configure(format, size);
    return converter.update(source, adjustment);
}

class Frames : public ::testing::Test {
protected:
    std::vector<uint8_t> fullFrame(PixelFormat format, FrameSize size,
                                   const ColorAdjustment& adjustment = {}) {
        return frameOf(_source, format, size, adjustment);
    }

    TestPattern _source{kBackSquare};
};

TEST_F(Frames, CounterBarsAndSquareReadBackInEveryStreamFormat) {
    for (int i = 0; i < 123456; ++i) {
        _source.capture();
    }
    for (PixelFormat format : kYuvFormats) {
        for (FrameSize size : {FrameSize{176, 144}, FrameSize{360, 240}, FrameSize{1280, 720}}) {
            const std::string what = nameOf(format, size);
            const std::vector<uint8_t> frame = fullFrame(format, size);
            ASSERT_EQ(frame.size(), FrameLayout::of(format, size).bytes) << what;
            EXPECT_EQ(readCounter(format, frame, size), 123456u) << what;
            // 75% red and black bars in BT.601 studio range.
            const auto [redX, redY] = barCentre(size, 5);
            expectNear(yuvAt(format, frame, size, redX, redY), {65, 100, 212}, 2, what + " red");
            const auto [blackX, blackY] = barCentre(size, 7);
            expectNear(yuvAt(format, frame, size, blackX, blackY), {16, 128, 128}, 1,
                       what + " black");
            // The orange square on its grey band.
            const TestPattern::Layout layout = TestPattern::layout(size);
            const Rect square = TestPattern::square(layout, 123456);
            expectNear(yuvAt(format, frame, size, square.x + square.width / 2,
                             square.y + square.height / 2),
                       {125, 85, 193}, 2, what + " square");
        }
    }
    // In window buffers' RGB888 the bytes are R, G, B.
    const FrameSize size{176, 144};
    const std::vector<uint8_t> rgb = fullFrame(PixelFormat::kRGB888, size);
    const auto [x, y] = barCentre(size, 1);
    const size_t at = (static_cast<size_t>(y) * size.width + x) * 3;
    EXPECT_EQ(std::vector<uint8_t>(rgb.begin() + at, rgb.begin() + at + 3),
              (std::vector<uint8_t>{191, 191, 0}));
}

TEST_F(Frames, SquareMovesAndTurnsAtTheEdges) {
    const TestPattern::Layout layout = TestPattern::layout({640, 480});
    const int rightmost = layout.motionBand.width - layout.squareSide;
    EXPECT_EQ(TestPattern::square(layout, 0).x, 0);
    int previous = 0;
    int direction = 1;
    int turns = 0;
    for (uint64_t n = 1; n < 300; ++n) {
        const int x = TestPattern::square(layout, n).x;
        EXPECT_GE(x, 0);
        EXPECT_LE(x, rightmost);
        EXPECT_LE(std::abs(x - previous), layout.squareStep) << n;
        EXPECT_NE(x, previous) << n;
        if ((x - previous) * direction < 0) {
            direction = -direction;
            ++turns;
        }
        previous = x;
    }
    EXPECT_EQ(turns, 3);  // right, left, right again
}

TEST_F(Frames, PartialUpdatesGiveExactlyTheFullFrame) {
    const FrameSize size{360, 240};
    for (PixelFormat format : {PixelFormat::kNV21, PixelFormat::kYV12, PixelFormat::kYUYV,
                               PixelFormat::kRGB888, PixelFormat::kARGB}) {
        TestPattern source(kBackSquare);
        FrameConverter converter;
        converter.configure(format, size);
        const uint8_t* storage = converter.update(source, {}).data();
        ColorAdjustment adjustment;
        // Single steps, then jumps over digit carries (9 to 10, 99 to 100, 999 to 1000).
        for (int step : {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 87, 3, 897, 5, 1}) {
            for (int i = 0; i < step; ++i) {
                source.capture();
            }
            if (source.number() == 100) {
                adjustment = ColorAdjustment(3, 3000);
            }
            const std::vector<uint8_t>& updated = converter.update(source, adjustment);
            const std::string what = nameOf(format, size) + " #" + std::to_string(source.number());
            ASSERT_EQ(updated, frameOf(source, format, size, adjustment)) << what;
            EXPECT_EQ(updated.data(), storage) << what;
        }
    }
}

// A picture of pseudo-random pixels, or one whose pixels inside a rectangle come from a second
// seed; always drawn in full.
class NoiseSource : public IFrameSource {
public:
    NoiseSource(uint32_t seed, uint32_t inside = 0, Rect rect = {})
        : _seed(seed), _inside(inside), _rect(rect) {}
    uint64_t capture() override { return 0; }
    uint64_t number() const override { return 0; }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t>,
                std::vector<Rect>* damage) override {
        for (int y = 0; y < static_cast<int>(size.height); ++y) {
            for (int x = 0; x < static_cast<int>(size.width); ++x) {
                const bool in = x >= _rect.x && x < _rect.x + _rect.width && y >= _rect.y &&
                                y < _rect.y + _rect.height;
                uint32_t v = (in ? _inside : _seed) * 2654435761u ^ (x * 40503u + y * 65599u);
                v ^= v >> 13;
                v *= 0x5bd1e995u;
                std::memcpy(canvas + y * stride + x * 4, &v, 4);
            }
        }
        damage->push_back({0, 0, static_cast<int>(size.width), static_cast<int>(size.height)});
    }

private:
    const uint32_t _seed;
    const uint32_t _inside;
    const Rect _rect;
};

TEST_F(Frames, CopiedRectangleGivesTheFrameOfBothPictures) {
    const FrameSize size{360, 240};
    // Odd coordinates: the copy widens to even ones, as conversion does.
    const Rect rect{33, 17, 101, 63};
    const Rect widened{32, 16, 102, 64};
    for (PixelFormat format : {PixelFormat::kNV21, PixelFormat::kYV12, PixelFormat::kYUYV,
                               PixelFormat::kRGB888, PixelFormat::kARGB}) {
        NoiseSource first(1);
        NoiseSource second(2);
        NoiseSource both(1, 2, widened);
        const std::vector<uint8_t> from = frameOf(second, format, size);
        FrameConverter converter;
        converter.configure(format, size);
        converter.update(first, {});
        converter.copyRect(rect, from.data());
        EXPECT_EQ(converter.update(first, {}), frameOf(both, format, size))
            << nameOf(format, size);
    }
}

TEST_F(Frames, ExposureAndWhiteBalanceChangeTheFrameVisibly) {
    const FrameSize size{176, 144};
    const auto [x, y] = barCentre(size, 0);  // 75% grey
    const auto greyUnder = [&](const ColorAdjustment& adjustment) {
        return yuvAt(PixelFormat::kNV21, fullFrame(PixelFormat::kNV21, size, adjustment), size, x,
                     y);
    };
    const Yuv plain = greyUnder({});
    expectNear(plain, {180, 128, 128}, 1, "grey");

    EXPECT_GT(greyUnder({4, 0}).y, plain.y + 20);   // +2 EV
    EXPECT_LT(greyUnder({-4, 0}).y, plain.y - 20);  // -2 EV
    EXPECT_LT(greyUnder({-12, 0}).y, greyUnder({-4, 0}).y);
    // Set for incandescent light, a daylight scene turns blue; set for shade, yellow.
    const Yuv incandescent = greyUnder({0, 3000});
    EXPECT_GT(incandescent.u, 128 + 10);
    EXPECT_LT(incandescent.v, 128 - 10);
    const Yuv daylight = greyUnder({0, 5500});
    EXPECT_GT(daylight.u, 128);
    EXPECT_LT(daylight.u, incandescent.u);
    const Yuv shade = greyUnder({0, 10000});
    EXPECT_LT(shade.u, 128 - 3);
    EXPECT_GT(shade.v, 128 + 3);
    // The adjustment is of the frames only: back to neutral, back to the same bytes.
    FrameConverter converter;
    converter.configure(PixelFormat::kYV12, size);
    const std::vector<uint8_t> before = converter.update(_source, {});
    EXPECT_NE(converter.update(_source, {2, 3000}), before);
    EXPECT_EQ(converter.update(_source, {}), before);
}

// A decoded-video-like source: an I420 picture (a diagonal gradient with a coloured block, all
// within what RGB can hold) that it hands over as planes, or only draws when planes are withheld.
class PlanarSource : public IFrameSource {
public:
    PlanarSource(uint32_t width, uint32_t height) {
        const uint32_t chromaWidth = (width + 1) / 2;
        const uint32_t chromaHeight = (height + 1) / 2;
        _planes[0].resize(size_t{width} * height);
        _planes[1].resize(size_t{chromaWidth} * chromaHeight);
        _planes[2].resize(size_t{chromaWidth} * chromaHeight);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                _planes[0][y * width + x] = static_cast<uint8_t>(60 + (x + y) * 140 / (width + height));
            }
        }
        for (uint32_t y = 0; y < chromaHeight; ++y) {
            for (uint32_t x = 0; x < chromaWidth; ++x) {
                const bool block = x > chromaWidth / 3 && x < chromaWidth / 2 && y > chromaHeight / 3;
                _planes[1][y * chromaWidth + x] = block ? 108 : static_cast<uint8_t>(118 + x % 20);
                _planes[2][y * chromaWidth + x] = block ? 150 : static_cast<uint8_t>(138 - y % 20);
            }
        }
        for (int i = 0; i < 3; ++i) {
            _picture.planes[i] = _planes[i].data();
            _picture.strides[i] = static_cast<int>(i == 0 ? width : chromaWidth);
        }
        _picture.width = width;
        _picture.height = height;
        _picture.number = 1;
    }

    bool offerPlanes = true;

    uint64_t capture() override { return _number; }
    uint64_t number() const override { return _number; }
    const PlanarPicture* planarPicture() const override {
        return offerPlanes ? &_picture : nullptr;
    }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t>,
                std::vector<Rect>* damage) override {
        PictureFit::drawPlanar(_picture, &_argb, canvas, stride, size);
        damage->push_back({0, 0, static_cast<int>(size.width), static_cast<int>(size.height)});
    }

private:
    std::vector<uint8_t> _planes[3];
    PlanarPicture _picture;
    std::vector<uint8_t> _argb;
    uint64_t _number = 0;
};

// How far apart two frames' bytes are: the largest difference, and the mean.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference differenceOf(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        return {255, 255};
    }
    Difference d;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int difference = std::abs(a[i] - b[i]);
        d.largest = std::max(d.largest, difference);
        sum += static_cast<uint64_t>(difference);
    }
    d.mean = static_cast<double>(sum) / static_cast<double>(a.size());
    return d;
}

TEST(PlanarPictures, GoStraightIntoTheYuvFormatsAsTheyWouldThroughTheCanvas) {
    for (const FrameSize picture : {FrameSize{320, 180}, FrameSize{321, 181}}) {
        PlanarSource source(picture.width, picture.height);
        for (const PixelFormat format : kYuvFormats) {
            // Its own size, larger with bars above and below, smaller with bars, padded strides.
            for (const FrameSize size : {FrameSize{320, 180}, FrameSize{640, 480},
                                         FrameSize{176, 144}, FrameSize{360, 240}}) {
                const std::string what = nameOf(format, size) + " from " + picture.text();
                source.offerPlanes = true;
                const std::vector<uint8_t> straight = frameOf(source, format, size, {});
                source.offerPlanes = false;
                const std::vector<uint8_t> drawn = frameOf(source, format, size, {});
                // Rounding through RGB, and scaling chroma apart from luma, differ a little, most
                // at the block's edges; misplaced bars or planes differ by far more.
                const Difference d = differenceOf(straight, drawn);
                EXPECT_LE(d.largest, 20) << what;
                EXPECT_LE(d.mean, 1.5) << what;
            }
        }
    }

    // An adjusted colour goes through the canvas, and back to neutral the planes serve again;
    // the same picture again converts nothing.
    PlanarSource source(320, 180);
    const FrameSize size{640, 480};
    const std::vector<uint8_t> neutral = frameOf(source, PixelFormat::kNV21, size, {});
    source.offerPlanes = false;
    const std::vector<uint8_t> brighter =
        frameOf(source, PixelFormat::kNV21, size, {4, 0});
    source.offerPlanes = true;
    FrameConverter converter;
    converter.configure(PixelFormat::kNV21, size);
    EXPECT_EQ(converter.update(source, {}), neutral);
    EXPECT_EQ(converter.update(source, {4, 0}), brighter);
    EXPECT_EQ(converter.update(source, {}), neutral);
    converter.update(source, {});
    EXPECT_TRUE(converter.changed().empty());
}

TEST_F(Frames, JpegFilesDecodeToTheirSizeAndColours) {
    const FrameSize size{640, 480};
    const std::vector<uint8_t> argb = fullFrame(PixelFormat::kARGB, size);
    JpegEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.encode(argb.data(), 640 * 4, size, 90, &error)) << error;
    ASSERT_GT(encoder.size(), 2u);
    EXPECT_EQ(encoder.data()[0], 0xFF);
    EXPECT_EQ(encoder.data()[1], 0xD8);
    const std::optional<test::DecodedJpeg> decoded =
        test::decodeJpeg(encoder.data(), encoder.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size, size);
    const auto [x, y] = barCentre(size, 5);
    const uint8_t* red = &decoded->rgb[(static_cast<size_t>(y) * 640 + x) * 3];
    EXPECT_NEAR(red[0], 191, 8);
    EXPECT_NEAR(red[1], 0, 8);
    EXPECT_NEAR(red[2], 0, 8);
    EXPECT_EQ(readCounter(size,
                          [&](int px, int py) {
                              return decoded->gray[static_cast<size_t>(py) * 640 + px];
                          }),
              0u);
}

}  // namespace
}  // namespace host
}  // namespace vemo
