#include "PushedPictures.h"

#include "PictureFit.h"

namespace vemo {
namespace host {

void PushedPictures::push(Picture picture) {
    auto newest = std::make_shared<const Picture>(std::move(picture));
    std::lock_guard<std::mutex> guard(_lock);
    _newest = std::move(newest);
    ++_number;
}

std::shared_ptr<const Picture> PushedPictures::newest(uint64_t* number) const {
    std::lock_guard<std::mutex> guard(_lock);
    *number = _number;
    return _newest;
}

uint64_t PushedSource::capture() {
    ++_number;
    uint64_t pushed = 0;
    std::shared_ptr<const Picture> picture = _pictures->newest(&pushed);
    if (pushed != _pushed) {
        _picture = std::move(picture);
        _pushed = pushed;
        _changedAt = _number;
    }
    return _number;
}

void PushedSource::render(uint8_t* canvas, int stride, FrameSize size,
                          std::optional<uint64_t> previous, std::vector<Rect>* damage) {
    if (previous && *previous >= _changedAt) {
        return;
    }
    if (_picture != nullptr) {
        PictureFit::draw(_picture->argb.data(), static_cast<int>(_picture->width * 4),
                         _picture->width, _picture->height, canvas, stride, size);
    } else {
        PictureFit::drawBars(Rect{}, canvas, stride, size);
    }
    damage->push_back({0, 0, static_cast<int>(size.width), static_cast<int>(size.height)});
}

}  // namespace host
}  // namespace vemo
