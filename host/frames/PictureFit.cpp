#include "PictureFit.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>

namespace vemo {
namespace host {

namespace {

// value rounded to the nearest even number, from 2 to most.
int evenWithin(uint64_t value, int most) {
    const int even = static_cast<int>(std::min<uint64_t>((value + 1) & ~uint64_t{1}, most));
    return std::max(2, even);
}

void fill(uint8_t* canvas, int stride, int x, int y, int width, int height) {
    if (width > 0 && height > 0) {
        libyuv::ARGBRect(canvas, stride, x, y, width, height, PictureFit::kBarColour);
    }
}

}  // namespace

Rect PictureFit::fit(uint32_t width, uint32_t height, FrameSize size) {
    const int frameWidth = static_cast<int>(size.width);
    const int frameHeight = static_cast<int>(size.height);
    int w = frameWidth;
    int h = frameHeight;
    if (uint64_t{width} * size.height > uint64_t{size.width} * height) {
        // Wider than the frame: full width, bars above and below.
        h = evenWithin(uint64_t{height} * size.width / width, frameHeight);
    } else {
        w = evenWithin(uint64_t{width} * size.height / height, frameWidth);
    }
    return {((frameWidth - w) / 2) & ~1, ((frameHeight - h) / 2) & ~1, w, h};
}

std::array<Rect, 4> PictureFit::bars(const Rect& r, FrameSize size) {
    const int frameWidth = static_cast<int>(size.width);
    const int frameHeight = static_cast<int>(size.height);
    return {Rect{0, 0, frameWidth, r.y},
            Rect{0, r.y + r.height, frameWidth, frameHeight - r.y - r.height},
            Rect{0, r.y, r.x, r.height},
            Rect{r.x + r.width, r.y, frameWidth - r.x - r.width, r.height}};
}

void PictureFit::drawBars(const Rect& r, uint8_t* canvas, int canvasStride, FrameSize size) {
    for (const Rect& bar : bars(r, size)) {
        fill(canvas, canvasStride, bar.x, bar.y, bar.width, bar.height);
    }
}

void PictureFit::draw(const uint8_t* argb, int stride, uint32_t width, uint32_t height,
                      uint8_t* canvas, int canvasStride, FrameSize size) {
    const Rect r = fit(width, height, size);
    drawBars(r, canvas, canvasStride, size);
    uint8_t* target =
        canvas + static_cast<size_t>(r.y) * canvasStride + static_cast<size_t>(r.x) * 4;
    libyuv::ARGBScale(argb, stride, static_cast<int>(width), static_cast<int>(height), target,
                      canvasStride, r.width, r.height, libyuv::kFilterBox);
}

void PictureFit::drawConverted(uint32_t width, uint32_t height,
                               const std::function<void(uint8_t* argb, int stride)>& toArgb,
                               std::vector<uint8_t>* scratch, uint8_t* canvas, int canvasStride,
                               FrameSize size) {
    const Rect fitted = fit(width, height, size);
    if (static_cast<uint32_t>(fitted.width) == width &&
        static_cast<uint32_t>(fitted.height) == height) {
        drawBars(fitted, canvas, canvasStride, size);
        toArgb(canvas + static_cast<size_t>(fitted.y) * canvasStride +
                   static_cast<size_t>(fitted.x) * 4,
               canvasStride);
        return;
    }
    const int stride = static_cast<int>(width * 4);
    scratch->resize(static_cast<size_t>(stride) * height);
    toArgb(scratch->data(), stride);
    draw(scratch->data(), stride, width, height, canvas, canvasStride, size);
}

void PictureFit::drawPlanar(const PlanarPicture& picture, std::vector<uint8_t>* scratch,
                            uint8_t* canvas, int canvasStride, FrameSize size) {
    drawConverted(
        picture.width, picture.height,
        [&picture](uint8_t* argb, int stride) {
            libyuv::I420ToARGB(picture.planes[0], picture.strides[0], picture.planes[1],
                               picture.strides[1], picture.planes[2], picture.strides[2], argb,
                               stride, static_cast<int>(picture.width),
                               static_cast<int>(picture.height));
        },
        scratch, canvas, canvasStride, size);
}

}  // namespace host
}  // namespace vemo
