#include "FrameTestSupport.h"

#include <turbojpeg.h>

#include "TestPattern.h"

namespace vemo {
namespace host {
namespace test {

namespace {

uint32_t align16(uint32_t v) {
    return (v + 15) / 16 * 16;
}

}  // namespace

Yuv yuvAt(PixelFormat format, const std::vector<uint8_t>& frame, FrameSize size, int x, int y) {
    const size_t w = size.width;
    const size_t h = size.height;
    const size_t col = static_cast<size_t>(x);
    const size_t row = static_cast<size_t>(y);
    switch (format) {
        case PixelFormat::kNV21: {
            const size_t vu = w * h + (row / 2) * w + (col & ~size_t{1});
            return {frame[row * w + col], frame[vu + 1], frame[vu]};
        }
        case PixelFormat::kYV12: {
            const size_t yStride = align16(size.width);
            const size_t cStride = align16(static_cast<uint32_t>(yStride / 2));
            const size_t v = yStride * h + (row / 2) * cStride + col / 2;
            const size_t u = v + cStride * (h / 2);
            return {frame[row * yStride + col], frame[u], frame[v]};
        }
        case PixelFormat::kYUYV: {
            const size_t pair = row * 2 * w + (col & ~size_t{1}) * 2;
            return {frame[pair + (col % 2 == 0 ? 0 : 2)], frame[pair + 1], frame[pair + 3]};
        }
        default:
            return {};
    }
}

std::optional<uint32_t> readCounter(FrameSize size, const std::function<int(int x, int y)>& luma) {
    const TestPattern::Layout layout = TestPattern::layout(size);
    const int t = layout.segment;
    uint32_t number = 0;
    for (const Rect& cell : layout.digits) {
        const int w = cell.width;
        const int h = cell.height;
        // Centres of the segments a to g.
        const int points[7][2] = {
            {w / 2, t / 2},         {w - 1 - t / 2, h / 4}, {w - 1 - t / 2, 3 * h / 4},
            {w / 2, h - 1 - t / 2}, {t / 2, 3 * h / 4},     {t / 2, h / 4},
            {w / 2, h / 2},
        };
        uint8_t lit = 0;
        for (int i = 0; i < 7; ++i) {
            if (luma(cell.x + points[i][0], cell.y + points[i][1]) > 128) {
                lit |= static_cast<uint8_t>(1u << i);
            }
        }
        static constexpr uint8_t kDigits[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                0x6D, 0x7D, 0x07, 0x7F, 0x6F};
        int digit = 0;
        while (digit < 10 && kDigits[digit] != lit) {
            ++digit;
        }
        if (digit == 10) {
            return std::nullopt;
        }
        number = number * 10 + static_cast<uint32_t>(digit);
    }
    return number;
}

std::optional<uint32_t> readCounter(PixelFormat format, const std::vector<uint8_t>& frame,
                                    FrameSize size) {
    return readCounter(size, [&](int x, int y) { return yuvAt(format, frame, size, x, y).y; });
}

std::optional<DecodedJpeg> decodeJpeg(const uint8_t* file, size_t size) {
    tjhandle decoder = tjInitDecompress();
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    DecodedJpeg decoded;
    bool ok =
        tjDecompressHeader3(decoder, file, size, &width, &height, &subsampling, &colourspace) == 0;
    if (ok) {
        decoded.size = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
        decoded.rgb.resize(decoded.size.pixels() * 3);
        decoded.gray.resize(decoded.size.pixels());
        ok = tjDecompress2(decoder, file, size, decoded.rgb.data(), width, 0, height, TJPF_RGB,
                           0) == 0 &&
             tjDecompress2(decoder, file, size, decoded.gray.data(), width, 0, height, TJPF_GRAY,
                           0) == 0;
    }
    tjDestroy(decoder);
    if (!ok) {
        return std::nullopt;
    }
    return decoded;
}

}  // namespace test
}  // namespace host
}  // namespace vemo
