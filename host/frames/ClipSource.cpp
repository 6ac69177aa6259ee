#include "ClipSource.h"

#include <libyuv/planar_functions.h>

#include <string>

#include "Log.h"
#include "PictureFit.h"

namespace vemo {
namespace host {

void ClipSource::render(uint8_t* canvas, int stride, FrameSize size,
                        std::optional<uint64_t> previous, std::vector<Rect>* damage) {
    if (previous && indexOf(*previous) == indexOf(_number)) {
        return;
    }
    const Rect all{0, 0, static_cast<int>(size.width), static_cast<int>(size.height)};
    std::string error;
    if (!_clip->readFrame(indexOf(_number), &_frame, &error)) {
        if (!_warned) {
            logLine(LogLevel::kWarning, "%s", error.c_str());
            _warned = true;
        }
        if (!previous) {
            libyuv::ARGBRect(canvas, stride, 0, 0, all.width, all.height, PictureFit::kBarColour);
            damage->push_back(all);
        }
        return;
    }
    const uint32_t width = _clip->width();
    const uint32_t height = _clip->height();
    const Rect fitted = PictureFit::fit(width, height, size);
    if (static_cast<uint32_t>(fitted.width) == width &&
        static_cast<uint32_t>(fitted.height) == height) {
        // The clip's own size: converted straight into the canvas.
        PictureFit::drawBars(fitted, canvas, stride, size);
        _clip->toArgb(
            _frame.data(),
            canvas + static_cast<size_t>(fitted.y) * stride + static_cast<size_t>(fitted.x) * 4,
            stride);
    } else {
        _argb.resize(static_cast<size_t>(width) * height * 4);
        _clip->toArgb(_frame.data(), _argb.data(), static_cast<int>(width * 4));
        PictureFit::draw(_argb.data(), static_cast<int>(width * 4), width, height, canvas, stride,
                         size);
    }
    damage->push_back(all);
}

}  // namespace host
}  // namespace vemo
