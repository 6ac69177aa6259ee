#pragma once

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
// decoded (the same picture, with the same number, when none came since). The YUV formats are
// letterboxed straight from its planes (FrameConverter); for the others it is drawn letterboxed
// (PictureFit), at the frame's own size converted straight into the canvas. Before the first
// picture the canvas is black. The pipeline belongs to the camera and is shared by all its
// instances.
class MediaSource : public IFrameSource {
public:
    explicit MediaSource(std::shared_ptr<MediaPipeline> pipeline)
        : _pipeline(std::move(pipeline)) {}

    uint64_t capture() override;
    // The pipeline's number of the picture taken; 0 before the first.
    uint64_t number() const override { return _picture != nullptr ? _picture->number : 0; }
    void awaitNewer(std::chrono::nanoseconds limit) override {
        _pipeline->awaitAfter(number(), limit);
    }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;
    const PlanarPicture* planarPicture() const override { return _picture.get(); }
    std::optional<FrameRate> ownRate() const override { return _pipeline->rate(); }

private:
    const std::shared_ptr<MediaPipeline> _pipeline;
    std::shared_ptr<const MediaPicture> _picture;
    std::vector<uint8_t> _argb;  // the picture in ARGB, when it must be scaled
};

}  // namespace host
}  // namespace vemo
