#include "FrameFormat.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

namespace vemo {
namespace tools {

namespace {

int align16(int value) {
    return (value + 15) & ~15;
}

// Where the planes of a YV12 frame lie.
struct Yv12Layout {
    int yStride;
    int cStride;
    size_t vOffset;
    size_t uOffset;
    size_t size;
};

Yv12Layout yv12Layout(int width, int height) {
    Yv12Layout layout;
    layout.yStride = align16(width);
    layout.cStride = align16(layout.yStride / 2);
    const size_t ySize = static_cast<size_t>(layout.yStride) * static_cast<size_t>(height);
    const size_t cSize = static_cast<size_t>(layout.cStride) * static_cast<size_t>(height / 2);
    layout.vOffset = ySize;
    layout.uOffset = ySize + cSize;
    layout.size = ySize + 2 * cSize;
    return layout;
}

bool fits(FrameFormat format, size_t size, int width, int height) {
    return width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0 &&
           size == frameBytes(format, width, height);
}

}  // namespace

bool frameFormatOf(const std::string& name, FrameFormat* format) {
    for (FrameFormat candidate : {FrameFormat::kNv21, FrameFormat::kYv12, FrameFormat::kYuyv}) {
        if (name == frameFormatName(candidate)) {
            *format = candidate;
            return true;
        }
    }
    return false;
}

const char* frameFormatName(FrameFormat format) {
    switch (format) {
        case FrameFormat::kNv21:
            return "yuv420sp";
        case FrameFormat::kYv12:
            return "yuv420p";
        case FrameFormat::kYuyv:
            return "yuv422i-yuyv";
    }
    return "";
}

size_t frameBytes(FrameFormat format, int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    switch (format) {
        case FrameFormat::kNv21:
            return pixels * 3 / 2;
        case FrameFormat::kYv12:
            return yv12Layout(width, height).size;
        case FrameFormat::kYuyv:
            return pixels * 2;
    }
    return 0;
}

bool frameToRgb(FrameFormat format, const uint8_t* frame, size_t size, int width, int height,
                std::vector<uint8_t>* rgb) {
    if (!fits(format, size, width, height)) {
        return false;
    }
    rgb->resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    // libyuv calls byte order R, G, B "RAW"; its "RGB24" is B, G, R.
    uint8_t* out = rgb->data();
    const int outStride = width * 3;
    switch (format) {
        case FrameFormat::kNv21:
            return libyuv::NV21ToRAW(frame, width, frame + static_cast<size_t>(width) * height,
                                     width, out, outStride, width, height) == 0;
        case FrameFormat::kYv12: {
            const Yv12Layout l = yv12Layout(width, height);
            return libyuv::I420ToRAW(frame, l.yStride, frame + l.uOffset, l.cStride,
                                     frame + l.vOffset, l.cStride, out, outStride, width,
                                     height) == 0;
        }
        case FrameFormat::kYuyv: {
            std::vector<uint8_t> argb(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
            return libyuv::YUY2ToARGB(frame, width * 2, argb.data(), width * 4, width, height) ==
                       0 &&
                   libyuv::ARGBToRAW(argb.data(), width * 4, out, outStride, width, height) == 0;
        }
    }
    return false;
}

bool frameToI420(FrameFormat format, const uint8_t* frame, size_t size, int width, int height,
                 std::vector<uint8_t>* i420) {
    if (!fits(format, size, width, height)) {
        return false;
    }
    const size_t ySize = static_cast<size_t>(width) * static_cast<size_t>(height);
    i420->resize(ySize * 3 / 2);
    uint8_t* y = i420->data();
    uint8_t* u = y + ySize;
    uint8_t* v = u + ySize / 4;
    const int half = width / 2;
    switch (format) {
        case FrameFormat::kNv21:
            return libyuv::NV21ToI420(frame, width, frame + ySize, width, y, width, u, half, v,
                                      half, width, height) == 0;
        case FrameFormat::kYv12: {
            const Yv12Layout l = yv12Layout(width, height);
            return libyuv::I420Copy(frame, l.yStride, frame + l.uOffset, l.cStride,
                                    frame + l.vOffset, l.cStride, y, width, u, half, v, half, width,
                                    height) == 0;
        }
        case FrameFormat::kYuyv:
            return libyuv::YUY2ToI420(frame, width * 2, y, width, u, half, v, half, width,
                                      height) == 0;
    }
    return false;
}

}  // namespace tools
}  // namespace vemo
