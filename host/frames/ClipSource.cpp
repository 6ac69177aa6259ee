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
    PictureFit::drawConverted(
        _clip->width(), _clip->height(),
        [this](uint8_t* argb, int rowBytes) { _clip->toArgb(_frame.data(), argb, rowBytes); },
        &_argb, canvas, stride, size);
    damage->push_back(all);
}

}  // namespace host
}  // namespace vemo
