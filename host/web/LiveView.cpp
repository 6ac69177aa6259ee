#include "LiveView.h"

#include <algorithm>
#include <optional>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

// kWidth wide (or narrower for a smaller camera) in the shape of the camera's preferred preview
// size, even sides.
FrameSize viewSize(const CameraConfig& camera) {
    const FrameSize preferred = camera.preferredPreviewSize;
    if (preferred.width <= LiveView::kWidth) {
        return preferred;
    }
    const uint32_t height = preferred.height * LiveView::kWidth / preferred.width;
    return FrameSize{LiveView::kWidth, std::max<uint32_t>(2, height & ~1u)};
}

}  // namespace

LiveView::LiveView(const HostConfig& config, CameraSources& sources) : _sources(sources) {
    for (const CameraConfig& camera : config.cameras) {
        auto view = std::make_unique<Camera>();
        view->size = viewSize(camera);
        view->canvas.resize(static_cast<size_t>(view->size.width) * view->size.height * 4);
        _cameras.push_back(std::move(view));
    }
}

std::shared_ptr<const std::vector<uint8_t>> LiveView::picture(size_t ix) {
    Camera& view = *_cameras[ix];
    std::lock_guard<std::mutex> guard(view.lock);
    const auto now = std::chrono::steady_clock::now();
    if (view.picture != nullptr && now - view.made < std::chrono::milliseconds(1000 / kMaxFps)) {
        return view.picture;
    }
    // A viewer holds the camera open for the picture, as a guest would, so that a webcam's or
    // stream's pipeline runs while someone watches; it stops a few seconds after the viewers
    // stop asking.
    std::shared_ptr<const SourceContent> content = _sources.open(ix);
    _sources.close(ix);
    std::optional<uint64_t> previous;
    if (content != view.content) {
        view.content = std::move(content);
        view.source = view.content->makeSource();
    } else {
        previous = view.source->number();
    }
    view.source->capture();
    const int stride = static_cast<int>(view.size.width * 4);
    std::vector<Rect> damage;
    view.source->render(view.canvas.data(), stride, view.size, previous, &damage);
    std::string error;
    if (!view.encoder.encode(view.canvas.data(), stride, view.size, kQuality, &error)) {
        logLine(LogLevel::kWarning, "web console: camera %zu: %s", ix, error.c_str());
        return std::make_shared<const std::vector<uint8_t>>();
    }
    view.picture = std::make_shared<const std::vector<uint8_t>>(
        view.encoder.data(), view.encoder.data() + view.encoder.size());
    view.made = now;
    return view.picture;
}

}  // namespace host
}  // namespace vemo
