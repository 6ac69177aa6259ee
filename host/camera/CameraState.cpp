#include "CameraState.h"

#include <libyuv/scale_argb.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

uint64_t monotonicMicros() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

std::string quoted(std::string_view text) {
    return "\"" + logSafe(text) + "\"";
}

std::string sizeList(const std::vector<FrameSize>& sizes) {
    std::string list;
    for (const FrameSize& size : sizes) {
        list += (list.empty() ? "" : std::string(1, FrameSize::kListSeparator)) + size.text();
    }
    return list;
}

// The size named by text when it is one of sizes.
CallStatus offeredSize(std::string_view what, std::string_view text,
                       const std::vector<FrameSize>& sizes, FrameSize* size) {
    const std::optional<FrameSize> parsed = FrameSize::parse(text);
    if (!parsed) {
        return CallStatus::error(std::string(what) + " " + quoted(text) +
                                 " is not a size WIDTHxHEIGHT");
    }
    if (std::find(sizes.begin(), sizes.end(), *parsed) == sizes.end()) {
        return CallStatus::error(std::string(what) + " " + parsed->text() + " is not offered (" +
                                 sizeList(sizes) + ")");
    }
    *size = *parsed;
    return CallStatus::ok();
}

CallStatus streamFormat(std::string_view what, std::string_view name, PixelFormat* format) {
    const std::optional<PixelFormat> parsed = streamFormatFromName(name);
    if (!parsed) {
        return CallStatus::error("unknown " + std::string(what) + " " + quoted(name) +
                                 " (yuv420sp, yuv420p or yuv422i-yuyv)");
    }
    *format = *parsed;
    return CallStatus::ok();
}

std::atomic<uint64_t> gLastOwner{0};

// Makes *bytes a copy of frame. Storage that has to grow gets all its pages at once: page by
// page, as the copy touches them, costs several times as much where page faults are dear (as in
// virtual machines), and a sample store fills with frames of fresh storage.
void copyFrame(const std::vector<uint8_t>& frame, std::vector<uint8_t>* bytes) {
    if (bytes->capacity() < frame.size()) {
        std::vector<uint8_t> fresh;
        fresh.reserve(frame.size());
        const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<uintptr_t>(fresh.data());
        const uintptr_t first = (start + page - 1) & ~(page - 1);
        const uintptr_t end = (start + frame.size()) & ~(page - 1);
        if (end > first) {
            // Only a way to go faster: where it fails, the pages come as they are touched.
            ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
        }
        *bytes = std::move(fresh);
    }
    bytes->assign(frame.begin(), frame.end());
}

}  // namespace

CameraState::CameraState(HostState& state, size_t ix)
    : _camera(state.config.cameras[ix]),
      _ix(ix),
      _samples(state.samples),
      _sources(state.sources),
      _content(state.sources.open(ix)),
      _source(_content->makeSource()),
      _paced(state.config.paced),
      _clock(state.clock),
      _pacer(state.clock),
      _timestampOffset(state.config.timestampOffsetUs),
      _timestamp(monotonicMicros() + _timestampOffset),
      _previewFps(_camera.fps),
      _preview{PixelFormat::kNV21, _camera.preferredPreviewSize, {}},
      _video{PixelFormat::kYV12, _camera.videoSizes.front(), {}},
      _owner(++gLastOwner) {
    const std::vector<FrameSize>& pictureSizes = _camera.offeredPictureSizes();
    const bool preferred = std::find(pictureSizes.begin(), pictureSizes.end(),
                                     _camera.preferredPreviewSize) != pictureSizes.end();
    _pictureSize = preferred ? _camera.preferredPreviewSize : pictureSizes.front();
}

CameraState::~CameraState() {
    _sources.close(_ix);
    if (_sampleStore != 0) {
        _samples.close(_sampleStore);
    }
}

CallStatus CameraState::setPreviewSize(std::string_view text) {
    return offeredSize("preview size", text, _camera.previewSizes, &_preview.size);
}

CallStatus CameraState::setPictureSize(std::string_view text) {
    return offeredSize("picture size", text, _camera.offeredPictureSizes(), &_pictureSize);
}

CallStatus CameraState::setVideoSize(std::string_view text) {
    return offeredSize("video size", text, _camera.videoSizes, &_video.size);
}

CallStatus CameraState::setPreviewFormat(std::string_view name) {
    return streamFormat("preview format", name, &_preview.format);
}

CallStatus CameraState::setVideoFormat(std::string_view name) {
    return streamFormat("video format", name, &_video.format);
}

CallStatus CameraState::setPictureFormat(std::string_view name) {
    if (name != "jpeg") {
        return CallStatus::error("unknown picture format " + quoted(name) + " (jpeg)");
    }
    return CallStatus::ok();
}

CallStatus CameraState::setPreviewFps(uint32_t fps) {
    if (fps < FrameRate::kMinFps || fps > FrameRate::kMaxFps) {
        return CallStatus::error("preview rate " + std::to_string(fps) + " fps is not from " +
                                 std::to_string(FrameRate::kMinFps) + " to " +
                                 std::to_string(FrameRate::kMaxFps));
    }
    _previewFps = fps;
    return CallStatus::ok();
}

CallStatus CameraState::setExposure(int32_t index) {
    if (!_camera.exposure) {
        return CallStatus::error("this camera has no exposure compensation");
    }
    if (!ColorAdjustment::validExposure(index)) {
        return CallStatus::error("exposure compensation " + std::to_string(index) +
                                 " is not from " + std::to_string(ColorAdjustment::kMinExposure) +
                                 " to " + std::to_string(ColorAdjustment::kMaxExposure));
    }
    _adjustment = ColorAdjustment(index, _adjustment.whiteBalance());
    return CallStatus::ok();
}

CallStatus CameraState::setWhiteBalance(uint32_t mode) {
    if (!_camera.whiteBalance) {
        return CallStatus::error("this camera has no white balance control");
    }
    if (!ColorAdjustment::validWhiteBalance(mode)) {
        return CallStatus::error("white balance " + std::to_string(mode) +
                                 " is neither 0 (auto) nor a temperature from " +
                                 std::to_string(ColorAdjustment::kMinTemperature) + " to " +
                                 std::to_string(ColorAdjustment::kMaxTemperature) + " K");
    }
    _adjustment = ColorAdjustment(_adjustment.exposure(), mode);
    return CallStatus::ok();
}

FrameRate CameraState::frameRate() const {
    return _source->ownRate().value_or(FrameRate{std::min(_camera.fps, _previewFps), 1});
}

void CameraState::takeCurrentSource() {
    std::shared_ptr<const SourceContent> current = _sources.current(_ix);
    if (current == _content) {
        return;
    }
    _content = std::move(current);
    _source = _content->makeSource();
    for (FrameConverter* converter :
         {&_preview.converter, &_video.converter, &_window, &_picture}) {
        converter->redraw();
    }
}

void CameraState::capture() {
    takeCurrentSource();
    const std::optional<FrameRate> own = _source->ownRate();
    if (!_paced) {
        _source->capture();
    } else if (!own) {
        _pacer.next(frameRate());
        _source->capture();
    } else {
        _pacer.next(*own);
        // A picture due about now is waited for briefly; the pacer keeps the cadence all the
        // same, as the next capture is due a period after this one was.
        _source->awaitNewer(own->period() / 4);
        const auto elapsed = _clock.now() - _content->chosenAt();
        _source->captureTick(static_cast<uint64_t>(std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() /
                   own->period().count())));
    }
    _timestamp = monotonicMicros() + _timestampOffset;
    ++_captures;
}

const std::vector<uint8_t>& CameraState::frame(Stream which) {
    StreamState& s = stream(which);
    if (which == Stream::kVideo) {
        if (s.delivered == _captures) {
            capture();
        }
        s.delivered = _captures;
    }
    s.converter.configure(s.format, s.size);
    const std::vector<uint8_t>& bytes = s.converter.update(*_source, _adjustment);
    if (which == Stream::kVideo) {
        noteVideoChanges();
    }
    return bytes;
}

void CameraState::noteVideoChanges() {
    const std::vector<Rect>& changed = _video.converter.changed();
    if (changed.empty()) {
        return;
    }
    ++_videoVersion;
    const auto width = static_cast<int>(_video.size.width);
    const auto height = static_cast<int>(_video.size.height);
    const uint32_t columns = (_video.size.width + kTileSide - 1) / kTileSide;
    const uint32_t rows = (_video.size.height + kTileSide - 1) / kTileSide;
    if (columns != _tileColumns || _tileVersions.size() != size_t{columns} * rows) {
        // A new size: the update converted the whole frame.
        _tileColumns = columns;
        _tileVersions.assign(size_t{columns} * rows, _videoVersion);
        return;
    }
    const int side = static_cast<int>(kTileSide);
    for (const Rect& rect : changed) {
        const int left = std::max(0, rect.x);
        const int top = std::max(0, rect.y);
        const int right = std::min(width, rect.x + rect.width);
        const int bottom = std::min(height, rect.y + rect.height);
        // Tiles have even sides, so the rectangle widened to even coordinates, as it is
        // converted, lies in the same tiles.
        for (int row = top / side; right > left && row * side < bottom; ++row) {
            for (int column = left / side; column * side < right; ++column) {
                _tileVersions[static_cast<size_t>(row) * columns + column] = _videoVersion;
            }
        }
    }
}

void CameraState::exchangeVideoFrame(const std::vector<uint8_t>& frame,
                                     SampleStore::Storage* spare) {
    if (_tileColumns == 0 || spare->note.owner != _owner || spare->bytes.size() != frame.size()) {
        copyFrame(frame, &spare->bytes);
        _video.converter.swapFrame(&spare->bytes);
    } else {
        _video.converter.swapFrame(&spare->bytes);
        // Runs of tiles changed since, along each row of tiles, from the frame now in *spare.
        const int side = static_cast<int>(kTileSide);
        const size_t rows = _tileVersions.size() / _tileColumns;
        for (size_t row = 0; row < rows; ++row) {
            const uint64_t* versions = &_tileVersions[row * _tileColumns];
            for (uint32_t column = 0; column < _tileColumns;) {
                uint32_t end = column;
                while (end < _tileColumns && versions[end] > spare->note.version) {
                    ++end;
                }
                if (end > column) {
                    _video.converter.copyRect(
                        {static_cast<int>(column) * side, static_cast<int>(row) * side,
                         static_cast<int>(end - column) * side, side},
                        spare->bytes.data());
                }
                column = end + 1;
            }
        }
    }
    spare->note.owner = _owner;
    spare->note.version = _videoVersion;
}

const std::vector<uint8_t>& CameraState::windowFrame() {
    _window.configure(PixelFormat::kRGB888, _preview.size);
    return _window.update(*_source, _adjustment);
}

const std::vector<uint8_t>& CameraState::pictureFrame() {
    _picture.configure(PixelFormat::kARGB, _pictureSize);
    return _picture.update(*_source, _adjustment);
}

CallStatus CameraState::photo(const uint8_t** file, size_t* size) {
    const std::vector<uint8_t>& argb = pictureFrame();
    std::string error;
    if (!_photoEncoder.encode(argb.data(), static_cast<int>(_pictureSize.width * 4), _pictureSize,
                              kJpegQuality, &error)) {
        return CallStatus::error(error);
    }
    *file = _photoEncoder.data();
    *size = _photoEncoder.size();
    return CallStatus::ok();
}

CallStatus CameraState::thumbnail(const uint8_t** file, size_t* size) {
    const std::vector<uint8_t>& argb = pictureFrame();
    const FrameSize from = _pictureSize;
    const FrameSize to = _camera.thumbnailSize;
    // The largest part of the picture in the middle that has the thumbnail's shape.
    uint32_t cropWidth = from.width;
    uint32_t cropHeight = from.height;
    if (static_cast<uint64_t>(from.width) * to.height >
        static_cast<uint64_t>(to.width) * from.height) {
        cropWidth =
            static_cast<uint32_t>(static_cast<uint64_t>(from.height) * to.width / to.height);
    } else {
        cropHeight =
            static_cast<uint32_t>(static_cast<uint64_t>(from.width) * to.height / to.width);
    }
    const size_t left = (from.width - cropWidth) / 2;
    const size_t top = (from.height - cropHeight) / 2;
    _thumbnailCanvas.resize(to.pixels() * 4);
    libyuv::ARGBScale(argb.data() + (top * from.width + left) * 4, static_cast<int>(from.width * 4),
                      static_cast<int>(cropWidth), static_cast<int>(cropHeight),
                      _thumbnailCanvas.data(), static_cast<int>(to.width * 4),
                      static_cast<int>(to.width), static_cast<int>(to.height), libyuv::kFilterBox);
    std::string error;
    if (!_thumbnailEncoder.encode(_thumbnailCanvas.data(), static_cast<int>(to.width * 4), to,
                                  kJpegQuality, &error)) {
        return CallStatus::error(error);
    }
    *file = _thumbnailEncoder.data();
    *size = _thumbnailEncoder.size();
    return CallStatus::ok();
}

CameraState::SavedSample CameraState::saveVideoFrame() {
    const std::vector<uint8_t>& current = frame(Stream::kVideo);
    if (_sampleStore == 0) {
        _sampleStore = _samples.open();
    }
    SampleStore::Storage storage = _samples.takeSpare();
    exchangeVideoFrame(current, &storage);
    SavedSample saved;
    saved.store = _sampleStore;
    saved.timestamp = _timestamp;
    saved.number =
        _samples.save(_sampleStore, _video.format, _video.size, std::move(storage), _timestamp);
    return saved;
}

}  // namespace host
}  // namespace vemo
