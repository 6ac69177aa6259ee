#include "FrameConverter.h"

#include <libyuv/convert.h>
#include <libyuv/convert_from.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>

#include "PictureFit.h"

namespace vemo {
namespace host {

void FrameConverter::configure(PixelFormat format, FrameSize size) {
    if (format == _layout.format && size == _layout.size && !_output.empty()) {
        return;
    }
    if (size != _layout.size) {
        // Made when first drawn into: frames letterboxed from planes never need it.
        std::vector<uint8_t>().swap(_canvas);
        _drawn.reset();
    }
    _layout = FrameLayout::of(format, size);
    // Zeros, so that the padding of the rows is 0 in every frame.
    _output.assign(_layout.bytes, 0);
    _applied.reset();
    _fitted.reset();
}

const std::vector<uint8_t>& FrameConverter::update(IFrameSource& source,
                                                   const ColorAdjustment& adjustment) {
    _damage.clear();
    const PlanarPicture* planar = source.planarPicture();
    if (planar != nullptr && adjustment.isIdentity() && takesPlanes()) {
        if (_fitted != planar->number || _applied != adjustment) {
            fitPlanes(*planar);
            _fitted = planar->number;
            if (_applied != adjustment) {
                _applied = adjustment;
            }
            _drawn.reset();  // the canvas no longer matches the frame
            _damage.assign(1, Rect{0, 0, static_cast<int>(_layout.size.width),
                                   static_cast<int>(_layout.size.height)});
        }
        return _output;
    }
    _fitted.reset();
    if (_canvas.empty()) {
        _canvas.assign(_layout.size.pixels() * 4, 0);
        _drawn.reset();
    }
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

bool FrameConverter::evenRect(const Rect& rect, Rect* even) const {
    const int frameWidth = static_cast<int>(_layout.size.width);
    const int frameHeight = static_cast<int>(_layout.size.height);
    even->x = std::max(0, rect.x) & ~1;
    even->y = std::max(0, rect.y) & ~1;
    even->width = ((std::min(frameWidth, rect.x + rect.width) + 1) & ~1) - even->x;
    even->height = ((std::min(frameHeight, rect.y + rect.height) + 1) & ~1) - even->y;
    return even->width > 0 && even->height > 0;
}

FrameConverter::PlaneGeometry FrameConverter::geometry(int plane) const {
    switch (_layout.format) {
        case PixelFormat::kNV21:
            // The VU plane holds two bytes per 2x2 block.
            return plane == 0 ? PlaneGeometry{1, 1} : PlaneGeometry{2, 2};
        case PixelFormat::kYV12:
            return plane == 0 ? PlaneGeometry{1, 1} : PlaneGeometry{1, 2};
        case PixelFormat::kYUYV:
            return {2, 1};
        case PixelFormat::kRGB888:
            return {3, 1};
        case PixelFormat::kARGB:
            break;
    }
    return {4, 1};
}

size_t FrameConverter::offsetOf(int plane, int x, int y) const {
    const PlaneGeometry g = geometry(plane);
    return _layout.planes[plane].offset +
           static_cast<size_t>(y / g.subsampling) * _layout.planes[plane].stride +
           static_cast<size_t>(x / g.subsampling) * g.bytesPerPixel;
}

void FrameConverter::convert(const Rect& damaged) {
    Rect r;
    if (!evenRect(damaged, &r)) {
        return;
    }
    const int x = r.x;
    const int y = r.y;
    const int w = r.width;
    const int h = r.height;
    const int frameWidth = static_cast<int>(_layout.size.width);
    const uint8_t* src = _canvas.data() + (static_cast<size_t>(y) * frameWidth + x) * 4;
    int srcStride = frameWidth * 4;
    if (!_applied->isIdentity()) {
        _scratch.resize(static_cast<size_t>(w) * h * 4);
        libyuv::ARGBCopy(src, srcStride, _scratch.data(), w * 4, w, h);
        libyuv::ARGBColorTable(_scratch.data(), w * 4, _applied->table(), 0, 0, w, h);
        src = _scratch.data();
        srcStride = w * 4;
    }

    const auto at = [&](int i) { return _output.data() + offsetOf(i, x, y); };
    const auto stride = [&](int i) { return static_cast<int>(_layout.planes[i].stride); };
    switch (_layout.format) {
        case PixelFormat::kNV21:
            libyuv::ARGBToNV21(src, srcStride, at(0), stride(0), at(1), stride(1), w, h);
            break;
        case PixelFormat::kYV12:
            libyuv::ARGBToI420(src, srcStride, at(0), stride(0), at(2), stride(2), at(1), stride(1),
                               w, h);
            break;
        case PixelFormat::kYUYV:
            libyuv::ARGBToYUY2(src, srcStride, at(0), stride(0), w, h);
            break;
        case PixelFormat::kRGB888:
            libyuv::ARGBToRAW(src, srcStride, at(0), stride(0), w, h);
            break;
        case PixelFormat::kARGB:
            libyuv::ARGBCopy(src, srcStride, at(0), stride(0), w, h);
            break;
    }
}

bool FrameConverter::takesPlanes() const {
    return _layout.format == PixelFormat::kNV21 || _layout.format == PixelFormat::kYV12 ||
           _layout.format == PixelFormat::kYUYV;
}

void FrameConverter::fitPlanes(const PlanarPicture& picture) {
    const Rect r = PictureFit::fit(picture.width, picture.height, _layout.size);
    // The bars in black: what the canvas's black converts to, Y 16, U and V 128.
    for (const Rect& bar : PictureFit::bars(r, _layout.size)) {
        Rect b;
        if (!evenRect(bar, &b)) {
            continue;
        }
        if (_layout.format == PixelFormat::kYUYV) {
            // Y U Y V for two pixels, as one 32-bit value.
            libyuv::ARGBRect(_output.data(), static_cast<int>(_layout.planes[0].stride), b.x / 2,
                             b.y, b.width / 2, b.height, 0x80108010u);
            continue;
        }
        for (int i = 0; i < _layout.planeCount; ++i) {
            const PlaneGeometry g = geometry(i);
            libyuv::SetPlane(_output.data() + offsetOf(i, b.x, b.y),
                             static_cast<int>(_layout.planes[i].stride),
                             b.width / g.subsampling * g.bytesPerPixel, b.height / g.subsampling,
                             i == 0 ? 16 : 128);
        }
    }

    // The picture at its size in the frame, scaled when it must be.
    const uint8_t* planes[3] = {picture.planes[0], picture.planes[1], picture.planes[2]};
    int strides[3] = {picture.strides[0], picture.strides[1], picture.strides[2]};
    const auto at = [&](int i) { return _output.data() + offsetOf(i, r.x, r.y); };
    const auto stride = [&](int i) { return static_cast<int>(_layout.planes[i].stride); };
    const auto srcWidth = static_cast<int>(picture.width);
    const auto srcHeight = static_cast<int>(picture.height);
    const bool scaled = r.width != srcWidth || r.height != srcHeight;
    if (scaled && _layout.format == PixelFormat::kYV12) {
        // Scaled straight into the frame's planes (V before U).
        libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
                          srcWidth, srcHeight, at(0), stride(0), at(2), stride(2), at(1),
                          stride(1), r.width, r.height, libyuv::kFilterBox);
        return;
    }
    if (scaled) {
        const size_t lumaBytes = static_cast<size_t>(r.width) * r.height;
        _scaled.resize(lumaBytes * 3 / 2);
        uint8_t* y = _scaled.data();
        uint8_t* u = y + lumaBytes;
        uint8_t* v = u + lumaBytes / 4;
        libyuv::I420Scale(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
                          srcWidth, srcHeight, y, r.width, u, r.width / 2, v, r.width / 2,
                          r.width, r.height, libyuv::kFilterBox);
        planes[0] = y;
        planes[1] = u;
        planes[2] = v;
        strides[0] = r.width;
        strides[1] = strides[2] = r.width / 2;
    }
    switch (_layout.format) {
        case PixelFormat::kNV21:
            libyuv::I420ToNV21(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
                               at(0), stride(0), at(1), stride(1), r.width, r.height);
            break;
        case PixelFormat::kYV12:
            libyuv::I420Copy(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
                             at(0), stride(0), at(2), stride(2), at(1), stride(1), r.width,
                             r.height);
            break;
        case PixelFormat::kYUYV:
            libyuv::I420ToYUY2(planes[0], strides[0], planes[1], strides[1], planes[2], strides[2],
                               at(0), stride(0), r.width, r.height);
            break;
        case PixelFormat::kRGB888:
        case PixelFormat::kARGB:
            break;  // drawn through the canvas
    }
}

void FrameConverter::copyRect(const Rect& rect, const uint8_t* from) {
    Rect r;
    if (!evenRect(rect, &r)) {
        return;
    }
    for (int i = 0; i < _layout.planeCount; ++i) {
        const PlaneGeometry g = geometry(i);
        const size_t at = offsetOf(i, r.x, r.y);
        const int stride = static_cast<int>(_layout.planes[i].stride);
        libyuv::CopyPlane(from + at, stride, _output.data() + at, stride,
                          r.width / g.subsampling * g.bytesPerPixel, r.height / g.subsampling);
    }
}

}  // namespace host
}  // namespace vemo
