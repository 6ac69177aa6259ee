#include "MediaSource.h"

#include <libyuv/planar_functions.h>

#include "PictureFit.h"

namespace vemo {
namespace host {

uint64_t MediaSource::capture() {
    _picture = _pipeline->newest();
    return number();
}

void MediaSource::render(uint8_t* canvas, int stride, FrameSize size,
                         std::optional<uint64_t> previous, std::vector<Rect>* damage) {
    if (previous == number()) {
        return;
    }
    const Rect all{0, 0, static_cast<int>(size.width), static_cast<int>(size.height)};
    if (_picture == nullptr) {
        libyuv::ARGBRect(canvas, stride, 0, 0, all.width, all.height, PictureFit::kBarColour);
        damage->push_back(all);
        return;
    }
    PictureFit::drawPlanar(*_picture, &_argb, canvas, stride, size);
    damage->push_back(all);
}

}  // namespace host
}  // namespace vemo
