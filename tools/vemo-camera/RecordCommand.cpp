// vemo-camera record: a recording through the module while it previews, as a camera
// application records. In copy mode the video frames come to the client and go into a Y4M
// clip; in metadata mode the frames stay on the host and the client gets records naming them,
// which it hands back as an encoder would once done with each.

#include <stdio.h>
#include <string.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Arguments.h"
#include "CameraSession.h"
#include "Commands.h"
#include "FrameFormat.h"
#include "HostSamples.h"
#include "Progress.h"
#include "Report.h"
#include "Y4mFile.h"

namespace vemo {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

const double kDefaultSeconds = 3;
const double kMaxSeconds = 600;
const char kDefaultClip[] = "clip.y4m";
const std::chrono::milliseconds kPoll(50);
const size_t kRecordSize = 16;
const size_t kShownRecords = 5;
const char kReleaseFailure[] = "Can't release a sample of store";

struct RecordRequest {
    double seconds = kDefaultSeconds;
    std::string size;  // empty: the camera's current video size
    bool metadata = false;
    std::string out = kDefaultClip;
    std::string hostd;
};

int parseRequest(const Options& options, RecordRequest* request) {
    if (!options.arguments.empty()) {
        return usageError("record takes no arguments");
    }
    const auto value = [&options](const char* name) {
        const auto found = options.values.find(name);
        return found != options.values.end() ? found->second : std::string();
    };
    if (!value("--seconds").empty() &&
        !parseNumber(value("--seconds"), 0.1, kMaxSeconds, &request->seconds)) {
        return usageError("--seconds needs a number from 0.1 to " +
                          std::to_string(static_cast<int>(kMaxSeconds)));
    }
    int width = 0;
    int height = 0;
    request->size = value("--size");
    if (!request->size.empty() && !parseSize(request->size, 2, 8192, &width, &height)) {
        return usageError("--size needs WIDTHxHEIGHT, not '" + request->size + "'");
    }
    const std::string mode = value("--mode");
    if (!mode.empty() && mode != "copy" && mode != "metadata") {
        return usageError("--mode needs copy or metadata, not '" + mode + "'");
    }
    request->metadata = mode == "metadata";
    if (!value("--out").empty()) {
        if (request->metadata) {
            return usageError("--out is for copy mode: metadata mode writes no clip");
        }
        request->out = value("--out");
    }
    request->hostd = value("--hostd");
    if (!request->hostd.empty() && !request->metadata) {
        return usageError("--hostd is for metadata mode");
    }
    return 0;
}

// Copy mode: each video frame into the clip, on the device's thread. The frame size is the
// first of the candidate sizes whose frame has the length of the first frame.
class ClipWriter {
public:
    ClipWriter(const std::string& path, FrameFormat format, std::vector<std::string> sizes)
        : _path(path), _format(format), _sizes(std::move(sizes)) {}

    void add(const guest::CameraEvent& event) {
        std::lock_guard<std::mutex> guard(_lock);
        if (!_error.empty()) {
            return;
        }
        if (_frames == 0 && !start(event.bytes.size())) {
            return;
        }
        std::vector<uint8_t> i420;
        if (!frameToI420(_format, event.bytes.data(), event.bytes.size(), _width, _height, &i420)) {
            _error = "a video frame of " + std::to_string(event.bytes.size()) + " bytes is not a " +
                     frameFormatName(_format) + " frame of " + size();
            return;
        }
        if (!_clip.addFrame(i420.data(), i420.size())) {
            _error = _clip.error();
            return;
        }
        if (_frames++ == 0) {
            _first = event.timestamp;
        }
        _last = event.timestamp;
    }

    // Frames per second from the frames' timestamps (nanoseconds).
    double rate() const {
        std::lock_guard<std::mutex> guard(_lock);
        return _frames > 1 && _last > _first
                   ? static_cast<double>(_frames - 1) * 1e9 / static_cast<double>(_last - _first)
                   : 0;
    }
    size_t frames() const {
        std::lock_guard<std::mutex> guard(_lock);
        return _frames;
    }
    std::string error() const {
        std::lock_guard<std::mutex> guard(_lock);
        return _error;
    }
    std::string size() const { return std::to_string(_width) + "x" + std::to_string(_height); }
    // Puts the clip together at the frames' rate (30 fps when they do not tell), once no
    // more frames come.
    bool finish(std::string* error) {
        const double fps = rate();
        return _clip.finish(fps > 0 ? fps : 30, error);
    }
    Y4mFile& clip() { return _clip; }

private:
    bool start(size_t bytes) {
        for (const std::string& size : _sizes) {
            if (parseSize(size, 2, 8192, &_width, &_height) &&
                frameBytes(_format, _width, _height) == bytes) {
                return _clip.open(_path, _width, _height, &_error);
            }
        }
        _error = "the first video frame, " + std::to_string(bytes) + " bytes, is not a " +
                 frameFormatName(_format) + " frame of any size the camera names";
        return false;
    }

    mutable std::mutex _lock;
    const std::string _path;
    const FrameFormat _format;
    const std::vector<std::string> _sizes;
    Y4mFile _clip;
    int _width = 0;
    int _height = 0;
    size_t _frames = 0;
    int64_t _first = 0;
    int64_t _last = 0;
    std::string _error;
};

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

uint32_t le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A metadata record as it came, for the lines that show it.
struct Record {
    uint8_t bytes[kRecordSize];
    int64_t timestamp;
};

void printRecord(size_t number, const Record& record) {
    const uint64_t sample =
        static_cast<uint64_t>(le32(record.bytes + 12)) << 32 | le32(record.bytes + 8);
    printf("record %zu: store %u, sample %llu, timestamp %lld ns\n", number, le32(record.bytes + 4),
           static_cast<unsigned long long>(sample), static_cast<long long>(record.timestamp));
}

// Metadata mode: each record goes back at once, from the callback, as an encoder that takes
// the sample synchronously hands it back; the host's store holds few samples. Only the records
// shown afterwards are kept: the first kShownRecords and the last.
class RecordReturner {
public:
    explicit RecordReturner(guest::CameraDevice& device) : _device(device) {}

    void handBack(const guest::CameraEvent& event) {
        if (event.bytes.size() != kRecordSize) {
            std::lock_guard<std::mutex> guard(_lock);
            ++_malformed;
            return;
        }
        _device.releaseRecordingFrame(event.bytes.data());
        Record record;
        memcpy(record.bytes, event.bytes.data(), kRecordSize);
        record.timestamp = event.timestamp;
        std::lock_guard<std::mutex> guard(_lock);
        if (_first.size() < kShownRecords) {
            _first.push_back(record);
        }
        _last = record;
        ++_handed;
    }
    size_t handed() const {
        std::lock_guard<std::mutex> guard(_lock);
        return _handed;
    }
    size_t malformed() const {
        std::lock_guard<std::mutex> guard(_lock);
        return _malformed;
    }
    void print() const {
        std::lock_guard<std::mutex> guard(_lock);
        for (size_t i = 0; i < _first.size(); ++i) {
            printRecord(i + 1, _first[i]);
        }
        if (_handed > kShownRecords + 1) {
            printf("... %zu more\n", _handed - kShownRecords - 1);
        }
        if (_handed > kShownRecords) {
            printRecord(_handed, _last);
        }
    }

private:
    guest::CameraDevice& _device;
    mutable std::mutex _lock;
    std::vector<Record> _first;
    Record _last = {};
    size_t _handed = 0;
    size_t _malformed = 0;
};

}  // namespace

int runRecord(guest::CameraService* service, const Options& options) {
    RecordRequest request;
    const int usage = parseRequest(options, &request);
    if (usage != 0) {
        return usage;
    }
    // Declared before the session: the callbacks' hook uses them until the session's close
    // ends the callbacks.
    std::unique_ptr<ClipWriter> writer;
    std::unique_ptr<RecordReturner> returner;
    int status = 0;
    std::unique_ptr<CameraSession> session = CameraSession::open(*service, options, &status);
    if (session == nullptr) {
        return status;
    }
    // The host learns the video size and format from a parameter push.
    ParameterMap changes;
    if (!request.size.empty()) {
        changes["video-size"] = request.size;
    }
    const int pushed = session->apply(changes);
    if (pushed != 0) {
        return fail(session->error("set_parameters refused the video settings (" +
                                   std::to_string(pushed) + ")"));
    }
    ParameterMap parameters;
    if (!session->parameters(&parameters)) {
        return fail(session->error("get_parameters gave nothing"));
    }
    const std::string formatName =
        parameters.count("video-frame-format") != 0 ? parameters["video-frame-format"] : "yuv420p";
    FrameFormat format = FrameFormat::kYv12;
    if (!request.metadata && !frameFormatOf(formatName, &format)) {
        return fail("cannot write video frames of format '" + formatName + "' into a clip");
    }
    guest::CameraDevice& device = session->device();
    const int mode = device.storeMetaDataInBuffers(request.metadata ? 1 : 0);
    if (mode != 0) {
        return fail(
            session->error("store_meta_data_in_buffers failed (" + std::to_string(mode) + ")"));
    }
    std::vector<std::string> sizes = {parameters["video-size"]};
    const std::string offered = parameters["video-size-values"] + ",";
    for (size_t start = 0, comma; (comma = offered.find(',', start)) != std::string::npos;
         start = comma + 1) {
        sizes.push_back(offered.substr(start, comma - start));
    }
    writer = std::make_unique<ClipWriter>(request.out, format, sizes);
    returner = std::make_unique<RecordReturner>(device);
    // Only the hook looks at the events: a long recording keeps none of them.
    session->callbacks().setKeepData(false);
    session->callbacks().setKeepEvents(false);
    session->setHook([&](const guest::CameraEvent& event) {
        if (event.message != CAMERA_MSG_VIDEO_FRAME) {
            return;
        }
        if (request.metadata) {
            returner->handBack(event);
        } else {
            writer->add(event);
        }
    });
    session->log().watch(kReleaseFailure);
    device.enableMsgType(CAMERA_MSG_VIDEO_FRAME);
    std::string error;
    if (!session->startPreview(&error)) {
        return fail(error);
    }
    const int started = device.startRecording();
    if (started != 0) {
        return fail(session->error("start_recording failed (" + std::to_string(started) + ")"));
    }

    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(request.seconds);
    std::string stopped;
    {
        Progress progress;
        while (Clock::now() < end && stopped.empty()) {
            std::this_thread::sleep_for(kPoll);
            const size_t frames = session->callbacks().count(CAMERA_MSG_VIDEO_FRAME);
            stopped = session->stopReason(frames);
            char line[96];
            snprintf(line, sizeof(line), "recording: %.1f/%g s, %zu frames", seconds(start),
                     request.seconds, frames);
            progress.show(line);
        }
    }
    const double recorded = seconds(start);
    device.stopRecording();
    device.stopPreview();
    device.setPreviewWindow(nullptr);
    session->setHook(nullptr);

    const size_t received = session->callbacks().count(CAMERA_MSG_VIDEO_FRAME);
    if (!stopped.empty()) {
        // What did arrive stays: the records went back, the frames go into the clip.
        char span[64];
        snprintf(span, sizeof(span), " in %.1f of %g s: ", recorded, request.seconds);
        std::string what;
        if (request.metadata) {
            what = "handed back " + std::to_string(returner->handed()) + " records";
        } else if (writer->frames() != 0 && writer->error().empty()) {
            if (!writer->finish(&error)) {
                return fail(error);
            }
            what = "recorded " + std::to_string(writer->frames()) + " frames into " + request.out;
        } else {
            what = "recorded " + std::to_string(writer->frames()) + " frames";
        }
        what += span + stopped;
        return fail(session->error(what));
    }
    if (received == 0) {
        char what[64];
        snprintf(what, sizeof(what), "no video frames in %g s", request.seconds);
        return fail(session->error(what));
    }
    if (request.metadata) {
        if (returner->malformed() != 0) {
            return fail(session->error(std::to_string(returner->malformed()) +
                                       " metadata records were not 16 bytes"));
        }
        returner->print();
        printf(
            "camera %d: %zu metadata records in %g s; %zu handed back with "
            "release_recording_frame, %zu release%s failed\n",
            session->index(), received, request.seconds, returner->handed(),
            session->log().watched(), session->log().watched() == 1 ? "" : "s");
        if (request.hostd.empty()) {
            return 0;
        }
        return reportHostSamples(request.hostd);
    }
    if (!writer->error().empty()) {
        return fail(session->error(writer->error()));
    }
    if (!writer->finish(&error)) {
        return fail(error);
    }
    const double fps = writer->rate();
    printf("camera %d: %zu video frames in %g s (%.1f fps), %s %s\n", session->index(),
           writer->frames(), request.seconds, fps, writer->size().c_str(), formatName.c_str());
    if (!request.size.empty() && request.size != writer->size()) {
        printf("note: asked for %s, but the host sent %s frames\n", request.size.c_str(),
               writer->size().c_str());
    }
    printf("wrote %s: Y4M, I420, %zu frames, %.1f MB\n", request.out.c_str(), writer->frames(),
           static_cast<double>(writer->clip().bytes()) / 1e6);
    return 0;
}

}  // namespace tools
}  // namespace vemo
