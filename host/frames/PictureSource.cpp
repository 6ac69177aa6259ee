#include "PictureSource.h"

#include "PictureFit.h"

namespace vemo {
namespace host {

void PictureSource::render(uint8_t* canvas, int stride, FrameSize size,
                           std::optional<uint64_t> previous, std::vector<Rect>* damage) {
    if (previous && indexOf(*previous) == indexOf(_number)) {
        return;
    }
    const Picture& picture = (*_pictures)[indexOf(_number)];
    PictureFit::draw(picture.argb.data(), static_cast<int>(picture.width * 4), picture.width,
                     picture.height, canvas, stride, size);
    damage->push_back({0, 0, static_cast<int>(size.width), static_cast<int>(size.height)});
}

}  // namespace host
}  // namespace vemo
