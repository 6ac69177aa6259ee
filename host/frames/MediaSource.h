#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "FrameSource.h"
#include "MediaPipeline.h"

namespace vemo {
namespace host {

// A GStreamer pipeline as a frame source: each capture takes the newest picture the pipeline
// decoded (the same picture again when none came since). The YUV formats are letterboxed straight
// from its planes (FrameConverter); for the others it is drawn letterboxed (PictureFit), at the
// frame's own size converted straight into the canvas. Before the first picture the canvas is
// black. The pipeline belongs to the camera and is shared by
// all its instances.
class MediaSource : public IFrameSource {
public:
    explicit MediaSource(std::shared_ptr<MediaPipeline> pipeline)
        : _pipeline(std::move(pipeline)) {}

    uint64_t capture() override;
    uint64_t number() const override { return _number; }
    void awaitNewer(std::chrono::nanoseconds limit) override {
        _pipeline->awaitAfter(_picture != nullptr ? _picture->number : 0, limit);
    }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;
    const PlanarPicture* planarPicture() const override { return _picture.get(); }
    std::optional<FrameRate> ownRate() const override { return _pipeline->rate(); }

    // The picture the current capture took; null before the pipeline's first.
    const std::shared_ptr<const MediaPicture>& picture() const { return _picture; }

private:
    // The pipeline's picture number that capture number showed, when still known.
    std::optional<uint64_t> pictureOf(uint64_t number) const;

    const std::shared_ptr<MediaPipeline> _pipeline;
    std::shared_ptr<const MediaPicture> _picture;
    uint64_t _number = 0;
    // The last captures with the pipeline's picture each took: enough for every stream of an
    // instance to know whether its canvas already shows the current picture.
    std::array<std::pair<uint64_t, uint64_t>, 8> _recent{};
    std::vector<uint8_t> _argb;  // the picture in ARGB, when it must be scaled
};

}  // namespace host
}  // namespace vemo
