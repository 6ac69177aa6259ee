#include "PixelFormat.h"

namespace vemo {
namespace host {

namespace {

uint32_t align16(uint32_t value) {
    return (value + 15) & ~15u;
}

}  // namespace

std::optional<PixelFormat> streamFormatFromName(std::string_view name) {
    for (PixelFormat format : {PixelFormat::kNV21, PixelFormat::kYV12, PixelFormat::kYUYV}) {
        if (name == formatName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

std::string_view formatName(PixelFormat format) {
    switch (format) {
        case PixelFormat::kNV21:
            return "yuv420sp";
        case PixelFormat::kYV12:
            return "yuv420p";
        case PixelFormat::kYUYV:
            return "yuv422i-yuyv";
        case PixelFormat::kRGB888:
            return "rgb888";
        case PixelFormat::kARGB:
            return "argb";
    }
    return "?";
}

FrameLayout FrameLayout::of(PixelFormat format, FrameSize size) {
    FrameLayout layout;
    layout.format = format;
    layout.size = size;
    const uint32_t w = size.width;
    const size_t h = size.height;
    switch (format) {
        case PixelFormat::kNV21:
            layout.planes[0] = {0, w};
            layout.planes[1] = {w * h, w};
            layout.planeCount = 2;
            layout.bytes = w * h + w * (h / 2);
            break;
        case PixelFormat::kYV12: {
            const uint32_t yStride = align16(w);
            const uint32_t cStride = align16(yStride / 2);
            const size_t cBytes = cStride * (h / 2);
            layout.planes[0] = {0, yStride};
            layout.planes[1] = {yStride * h, cStride};
            layout.planes[2] = {yStride * h + cBytes, cStride};
            layout.planeCount = 3;
            layout.bytes = yStride * h + 2 * cBytes;
            break;
        }
        case PixelFormat::kYUYV:
            layout.planes[0] = {0, 2 * w};
            layout.bytes = 2 * w * h;
            break;
        case PixelFormat::kRGB888:
            layout.planes[0] = {0, 3 * w};
            layout.bytes = 3 * w * h;
            break;
        case PixelFormat::kARGB:
            layout.planes[0] = {0, 4 * w};
            layout.bytes = 4 * w * h;
            break;
    }
    return layout;
}

}  // namespace host
}  // namespace vemo
