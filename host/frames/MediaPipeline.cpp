#include "MediaPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>

#include "Log.h"

namespace vemo {
namespace host {

namespace {

// What the host appends to every pipeline: I420, one picture kept. libyuv turns it into ARGB
// several times faster than videoconvert would.
constexpr const char* kSinkTail =
    " ! videoconvert ! video/x-raw,format=I420 ! appsink name=vemosink max-buffers=1 drop=true "
    "sync=true enable-last-sample=false";

uint64_t steadyNanos() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A GError's message, freed.
std::string takeMessage(GError* error) {
    std::string text = error != nullptr && error->message != nullptr ? error->message : "";
    g_clear_error(&error);
    return text;
}

struct Unref {
    void operator()(GstElement* element) const { gst_object_unref(element); }
    void operator()(GstBus* bus) const { gst_object_unref(bus); }
};
using ElementPtr = std::unique_ptr<GstElement, Unref>;
using BusPtr = std::unique_ptr<GstBus, Unref>;

// An error message's text with the name of the element that posted it.
std::string errorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    g_free(debug);
    std::string text = takeMessage(error);
    if (GST_MESSAGE_SRC(message) != nullptr) {
        text = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) + ": " + text;
    }
    return text;
}

}  // namespace

struct PipelineCallbacks {
    static GstFlowReturn newSample(GstAppSink* sink, gpointer data) {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (sample == nullptr) {
            return GST_FLOW_OK;
        }
        // Only the buffer is kept: the sink reuses its sample for the next picture.
        GstVideoInfo info;
        GstCaps* caps = gst_sample_get_caps(sample);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        auto* frame = new GstVideoFrame;
        const bool mapped = caps != nullptr && buffer != nullptr &&
                            gst_video_info_from_caps(&info, caps) &&
                            gst_video_frame_map(frame, &info, buffer, GST_MAP_READ);
        gst_sample_unref(sample);
        if (!mapped) {
            delete frame;
            return GST_FLOW_OK;
        }
        auto picture = std::make_shared<MediaPicture>();
        for (int plane = 0; plane < 3; ++plane) {
            picture->planes[plane] = static_cast<const uint8_t*>(frame->data[plane]);
            picture->strides[plane] = GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane);
        }
        picture->width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info));
        picture->height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
        picture->decodedAtNs = steadyNanos();
        picture->keep = std::shared_ptr<void>(frame, [](void* held) {
            auto* video = static_cast<GstVideoFrame*>(held);
            gst_video_frame_unmap(video);
            delete video;
        });
        std::optional<FrameRate> rate;
        if (GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0) {
            const FrameRate announced{static_cast<uint32_t>(GST_VIDEO_INFO_FPS_N(&info)),
                                      static_cast<uint32_t>(GST_VIDEO_INFO_FPS_D(&info))};
            if (announced.inRange()) {
                rate = announced;
            }
        }
        static_cast<MediaPipeline*>(data)->received(std::move(picture), rate);
        return GST_FLOW_OK;
    }
};

MediaPipeline::MediaPipeline(std::string name, std::string description, Ending ending, void* device)
    : _name(std::move(name)),
      _description(std::move(description)),
      _ending(ending),
      _device(device) {}

MediaPipeline::~MediaPipeline() {
    {
        std::lock_guard<std::mutex> guard(_lock);
        _closing = true;
    }
    _changed.notify_all();
    _arrived.notify_all();
    if (_thread.joinable()) {
        _thread.join();
    }
    if (_device != nullptr) {
        gst_object_unref(_device);
    }
}

std::string MediaPipeline::quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

bool MediaPipeline::initialise(std::string* error) {
    static std::once_flag once;
    static std::string failure;
    static bool ready = false;
    std::call_once(once, [] {
        GError* gerror = nullptr;
        ready = gst_init_check(nullptr, nullptr, &gerror) == TRUE;
        if (!ready) {
            failure = "GStreamer cannot start: " + takeMessage(gerror);
        }
    });
    if (!ready) {
        *error = failure;
    }
    return ready;
}

bool MediaPipeline::start(std::string* error) {
    if (!initialise(error)) {
        return false;
    }
    std::unique_lock<std::mutex> guard(_lock);
    _lingerUntil = std::chrono::steady_clock::now() + kLinger;
    _thread = std::thread(&MediaPipeline::run, this);
    const bool ended = _changed.wait_for(guard, kStartTimeout,
                                         [this] { return _started || !_startError.empty(); });
    if (_started) {
        return true;
    }
    *error = ended ? _startError
                   : "no picture came within " + std::to_string(kStartTimeout.count()) + " s";
    return false;
}

void MediaPipeline::hold() {
    {
        std::lock_guard<std::mutex> guard(_lock);
        ++_users;
    }
    _changed.notify_all();
}

void MediaPipeline::release() {
    std::lock_guard<std::mutex> guard(_lock);
    if (--_users == 0) {
        _lingerUntil = std::chrono::steady_clock::now() + kLinger;
    }
}

std::shared_ptr<const MediaPicture> MediaPipeline::newest() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _newest;
}

void MediaPipeline::awaitAfter(uint64_t number, std::chrono::nanoseconds limit) const {
    std::unique_lock<std::mutex> guard(_lock);
    _arrived.wait_for(guard, limit, [&] { return _closing || _pictures > number; });
}

std::optional<FrameRate> MediaPipeline::rate() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _rate;
}

std::string MediaPipeline::stalled() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _stalled;
}

bool MediaPipeline::running() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _running;
}

bool MediaPipeline::wanted() const {
    return !_closing &&
           (!_started || _users > 0 || std::chrono::steady_clock::now() < _lingerUntil);
}

void MediaPipeline::received(std::shared_ptr<MediaPicture> picture, std::optional<FrameRate> rate) {
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        picture->number = ++_pictures;
        _newest = std::move(picture);
        _lastPictureAt = std::chrono::steady_clock::now();
        _rate = rate;
        first = !_started;
        _started = true;
        if (!_stalled.empty()) {
            logLine(LogLevel::kInfo, "%s: pictures come again", _name.c_str());
            _stalled.clear();
        }
    }
    _arrived.notify_all();
    if (first) {
        _changed.notify_all();
    }
}

void MediaPipeline::run() {
    std::chrono::milliseconds pause = kFirstPause;
    std::unique_lock<std::mutex> guard(_lock);
    while (!_closing) {
        if (!wanted()) {
            _changed.wait(guard, [this] { return _closing || _users > 0; });
            continue;
        }
        guard.unlock();
        std::string reason;
        const Outcome outcome = playOnce(&reason);
        guard.lock();
        if (outcome == Outcome::kUnwanted) {
            pause = kFirstPause;
            continue;
        }
        if (!_started) {
            _startError = reason;
            _changed.notify_all();
            return;
        }
        if (_stalled.empty()) {
            logLine(LogLevel::kWarning, "%s stalled: %s", _name.c_str(), reason.c_str());
        }
        _stalled = reason;
        if (_ending != Ending::kRetry) {
            // Tried again only once it was let go and is wanted anew.
            while (wanted()) {
                _changed.wait_for(guard, std::chrono::milliseconds(100));
            }
            continue;
        }
        _changed.wait_for(guard, pause, [this] { return _closing; });
        pause = std::min(pause * 2, std::chrono::milliseconds(kMaxPause));
    }
}

MediaPipeline::Outcome MediaPipeline::playOnce(std::string* reason) {
    GError* parseError = nullptr;
    const std::string text =
        (_device != nullptr ? "decodebin name=vemodecode" : _description) + kSinkTail;
    ElementPtr pipeline(gst_parse_launch(text.c_str(), &parseError));
    if (pipeline == nullptr || parseError != nullptr) {
        *reason = takeMessage(parseError);
        return Outcome::kFailed;
    }
    if (_device != nullptr) {
        GstElement* source = gst_device_create_element(static_cast<GstDevice*>(_device), nullptr);
        ElementPtr decode(gst_bin_get_by_name(GST_BIN(pipeline.get()), "vemodecode"));
        if (source == nullptr || !gst_bin_add(GST_BIN(pipeline.get()), source) ||
            !gst_element_link(source, decode.get())) {
            *reason = "the device gives no element to capture with";
            return Outcome::kFailed;
        }
    }
    ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "vemosink"));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &PipelineCallbacks::newSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, this, nullptr);

    BusPtr bus(gst_element_get_bus(pipeline.get()));
    Outcome outcome = Outcome::kUnwanted;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        outcome = Outcome::kFailed;
        *reason = "the pipeline does not start";
    }
    {
        std::lock_guard<std::mutex> guard(_lock);
        _running = true;
        _lastPictureAt = std::chrono::steady_clock::now();
    }
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
    for (;;) {
        GstMessage* message = gst_bus_timed_pop_filtered(bus.get(), 100 * GST_MSECOND, types);
        if (message != nullptr) {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                // The element's own words say more than a failed state change.
                *reason = errorText(message);
                outcome = Outcome::kFailed;
            } else if (_ending == Ending::kLoop &&
                       gst_element_seek_simple(
                           pipeline.get(), GST_FORMAT_TIME,
                           static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                           0)) {
                gst_message_unref(message);
                continue;
            } else {
                *reason = "the stream ended";
                outcome = Outcome::kFailed;
            }
            gst_message_unref(message);
        }
        if (outcome == Outcome::kFailed) {
            break;
        }
        std::lock_guard<std::mutex> guard(_lock);
        if (!wanted()) {
            break;
        }
        if (_ending == Ending::kRetry && _started &&
            std::chrono::steady_clock::now() - _lastPictureAt > kSilence) {
            *reason = "no picture for " + std::to_string(kSilence.count()) + " s";
            outcome = Outcome::kFailed;
            break;
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    std::lock_guard<std::mutex> guard(_lock);
    _running = false;
    return outcome;
}

}  // namespace host
}  // namespace vemo
