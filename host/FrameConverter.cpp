#include "FrameConverter.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>

namespace vemo {
namespace host {

void FrameConverter::configure(PixelFormat format, FrameSize size) {
    if (format == _layout.format && size == _layout.size && !_output.empty()) {
        return;
    }
    if (size != _layout.size) {
        _canvas.assign(size.pixels() * 4, 0);
        _drawn.reset();
    }
    _layout = FrameLayout::of(format, size);
    // Zeros, so that the padding of the rows is 0 in every frame.
    _output.assign(_layout.bytes, 0);
    _applied.reset();
}

const std::vector<uint8_t>& FrameConverter::update(IFrameSource& source,
                                                   const ColorAdjustment& adjustment) {
    _damage.clear();
    if (_drawn != source.number()) {
        source.render(_canvas.data(), static_cast<int>(_layout.size.width * 4), _layout.size,
                      _drawn, &_damage);
        _drawn = source.number();
    }
    if (_applied != adjustment) {
        _applied = adjustment;
        _damage.assign(1, Rect{0, 0, static_cast<int>(_layout.size.width),
                               static_cast<int>(_layout.size.height)});
    }
    for (const Rect& rect : _damage) {
        convert(rect);
    }
    return _output;
}

void FrameConverter::convert(const Rect& damaged) {
    const int frameWidth = static_cast<int>(_layout.size.width);
    const int frameHeight = static_cast<int>(_layout.size.height);
    const int x = std::max(0, damaged.x) & ~1;
    const int y = std::max(0, damaged.y) & ~1;
    const int w = ((std::min(frameWidth, damaged.x + damaged.width) + 1) & ~1) - x;
    const int h = ((std::min(frameHeight, damaged.y + damaged.height) + 1) & ~1) - y;
    if (w <= 0 || h <= 0) {
        return;
    }

    const uint8_t* src = _canvas.data() + (static_cast<size_t>(y) * frameWidth + x) * 4;
    int srcStride = frameWidth * 4;
    if (!_applied->isIdentity()) {
        _scratch.resize(static_cast<size_t>(w) * h * 4);
        libyuv::ARGBCopy(src, srcStride, _scratch.data(), w * 4, w, h);
        libyuv::ARGBColorTable(_scratch.data(), w * 4, _applied->table(), 0, 0, w, h);
        src = _scratch.data();
        srcStride = w * 4;
    }

    // Position of pixel (x, y) in plane i; chroma planes of the 4:2:0 formats are halved in
    // both directions.
    const auto at = [&](int i, int bytesPerPixel, int subsampling) {
        const FrameLayout::Plane& plane = _layout.planes[i];
        return _output.data() + plane.offset + static_cast<size_t>(y / subsampling) * plane.stride +
               static_cast<size_t>(x / subsampling) * bytesPerPixel;
    };
    const auto stride = [&](int i) { return static_cast<int>(_layout.planes[i].stride); };
    switch (_layout.format) {
        case PixelFormat::kNV21:
            // The VU plane holds two bytes per 2x2 block: x / 2 blocks in, 2 bytes each.
            libyuv::ARGBToNV21(src, srcStride, at(0, 1, 1), stride(0), at(1, 2, 2), stride(1), w,
                               h);
            break;
        case PixelFormat::kYV12:
            libyuv::ARGBToI420(src, srcStride, at(0, 1, 1), stride(0), at(2, 1, 2), stride(2),
                               at(1, 1, 2), stride(1), w, h);
            break;
        case PixelFormat::kYUYV:
            libyuv::ARGBToYUY2(src, srcStride, at(0, 2, 1), stride(0), w, h);
            break;
        case PixelFormat::kRGB888:
            libyuv::ARGBToRAW(src, srcStride, at(0, 3, 1), stride(0), w, h);
            break;
        case PixelFormat::kARGB:
            libyuv::ARGBCopy(src, srcStride, at(0, 4, 1), stride(0), w, h);
            break;
    }
}

}  // namespace host
}  // namespace vemo
