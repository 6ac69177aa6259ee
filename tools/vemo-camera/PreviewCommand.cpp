// vemo-camera preview: a preview through the module into a window of the simulated guest's
// allocator, with preview-frame callbacks; what the window shows and the last callback frame
// can be saved as pictures.

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CameraSession.h"
#include "Commands.h"
#include "FrameFormat.h"
#include "PngFile.h"
#include "Progress.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

using Clock = std::chrono::steady_clock;

const long kDefaultFrames = 30;
const long kMaxFrames = 100000;
const int kMaxSide = 8192;
const std::chrono::milliseconds kPoll(100);

double rate(size_t frames, Clock::time_point first, Clock::time_point last) {
    const double seconds = std::chrono::duration<double>(last - first).count();
    return frames > 1 && seconds > 0 ? static_cast<double>(frames - 1) / seconds : 0;
}

std::string sizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// The preview-frame callbacks as the hook sees them on the device's thread: how many, when
// the first and the last came, and the last one's bytes.
struct PreviewFrames {
    std::mutex lock;
    size_t count = 0;
    Clock::time_point first;
    Clock::time_point last;
    std::vector<uint8_t> bytes;
};

struct PreviewRequest {
    long frames = kDefaultFrames;
    int width = 0;  // 0: not asked
    int height = 0;
    std::string format;  // empty: the device's current one
    std::string saveDir;
};

int parseRequest(const Options& options, PreviewRequest* request) {
    if (!options.arguments.empty()) {
        return usageError("preview takes no arguments");
    }
    const auto value = [&options](const char* name) {
        const auto found = options.values.find(name);
        return found != options.values.end() ? found->second : std::string();
    };
    if (!value("--frames").empty() &&
        !parseInt(value("--frames"), 1, kMaxFrames, &request->frames)) {
        return usageError("--frames needs a number from 1 to " + std::to_string(kMaxFrames));
    }
    if (!value("--size").empty() &&
        !parseSize(value("--size"), 1, kMaxSide, &request->width, &request->height)) {
        return usageError("--size needs WIDTHxHEIGHT, not '" + value("--size") + "'");
    }
    FrameFormat format;
    request->format = value("--format");
    if (!request->format.empty() && !frameFormatOf(request->format, &format)) {
        return usageError("--format needs yuv420sp, yuv420p or yuv422i-yuyv, not '" +
                          request->format + "'");
    }
    request->saveDir = value("--save");
    return 0;
}

bool makeDirectory(const std::string& path, std::string* error) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        *error = path + " is not a directory";
        return false;
    }
    if (mkdir(path.c_str(), 0755) != 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

// Converts the callback frame at the window's size, else at the size the parameters name.
bool saveCallbackFrame(const std::string& path, FrameFormat format,
                       const std::vector<uint8_t>& bytes, const std::vector<std::string>& sizes,
                       std::string* saved, std::string* error) {
    for (const std::string& size : sizes) {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> rgb;
        if (!parseSize(size, 1, kMaxSide, &width, &height) ||
            !frameToRgb(format, bytes.data(), bytes.size(), width, height, &rgb)) {
            continue;
        }
        if (!writePng(path, width, height, rgb.data(), error)) {
            return false;
        }
        *saved = path + " (" + size + ", from " + frameFormatName(format) + ")";
        return true;
    }
    *error = "cannot convert the last preview frame: " + std::to_string(bytes.size()) +
             " bytes is not a " + frameFormatName(format) + " frame of " +
             (sizes.empty() ? std::string("a known size") : sizes.front());
    return false;
}

}  // namespace

int runPreview(guest::CameraService* service, const Options& options) {
    PreviewRequest request;
    const int usage = parseRequest(options, &request);
    if (usage != 0) {
        return usage;
    }
    std::string error;
    if (!request.saveDir.empty() && !makeDirectory(request.saveDir, &error)) {
        return fail(error);
    }
    // Declared before the session: the callbacks' hook writes it until the session's close
    // ends the callbacks.
    PreviewFrames frames;
    int status = 0;
    std::unique_ptr<CameraSession> session = CameraSession::open(*service, options, &status);
    if (session == nullptr) {
        return status;
    }
    ParameterMap changes;
    if (!request.format.empty()) {
        changes["preview-format"] = request.format;
    }
    if (request.width != 0) {
        changes["preview-size"] = sizeText(request.width, request.height);
    }
    if (!changes.empty()) {
        const int result = session->apply(changes);
        if (result != 0) {
            return fail(session->error("set_parameters refused the preview settings (" +
                                       std::to_string(result) + ")"));
        }
    }
    ParameterMap parameters;
    if (!session->parameters(&parameters)) {
        return fail(session->error("get_parameters gave nothing"));
    }
    FrameFormat format = FrameFormat::kNv21;
    const bool knownFormat = frameFormatOf(parameters["preview-format"], &format);

    guest::CallbackRecorder& callbacks = session->callbacks();
    guest::PreviewWindow& window = session->window();
    // Only the hook looks at the events: a long preview keeps none of them.
    callbacks.setKeepData(false);
    callbacks.setKeepEvents(false);
    session->setHook([&frames](const guest::CameraEvent& event) {
        if (event.message == CAMERA_MSG_PREVIEW_FRAME) {
            std::lock_guard<std::mutex> guard(frames.lock);
            frames.first = frames.count++ == 0 ? event.received : frames.first;
            frames.last = event.received;
            frames.bytes = event.bytes;
        }
    });
    session->device().enableMsgType(CAMERA_MSG_PREVIEW_FRAME);
    if (!session->startPreview(&error)) {
        return fail(error);
    }

    const size_t wanted = static_cast<size_t>(request.frames);
    std::string stopped;
    {
        Progress progress;
        while (stopped.empty() &&
               (window.enqueued() < wanted || callbacks.count(CAMERA_MSG_PREVIEW_FRAME) < wanted)) {
            // Both must grow: a module that lost its host may still queue empty buffers.
            stopped = session->stopReason(
                std::min<uint64_t>(window.enqueued(), callbacks.count(CAMERA_MSG_PREVIEW_FRAME)));
            if (stopped.empty() && session->device().previewEnabled() == 0) {
                stopped = "the preview stopped";
            }
            progress.show("preview: " + std::to_string(window.enqueued()) + "/" +
                          std::to_string(wanted) + " frames");
            window.waitForEnqueued(wanted, kPoll);
        }
    }
    session->device().stopPreview();
    session->device().setPreviewWindow(nullptr);
    session->setHook(nullptr);
    if (!stopped.empty()) {
        // The pictures keep what did arrive; the session's close takes the window down with
        // its shared memory.
        guest::WindowFrame shown;
        std::string kept;
        if (!request.saveDir.empty() && window.shownFrame(&shown) &&
            writePng(request.saveDir + "/window.png", window.width(), window.height(),
                     shown.rgb.data(), &error)) {
            kept = ", " + request.saveDir + "/window.png saved";
        }
        std::lock_guard<std::mutex> guard(frames.lock);
        std::string saved;
        if (!request.saveDir.empty() && knownFormat && !frames.bytes.empty() &&
            saveCallbackFrame(
                request.saveDir + "/preview-frame.png", format, frames.bytes,
                {sizeText(window.width(), window.height()), parameters["preview-size"]}, &saved,
                &error)) {
            kept += ", " + request.saveDir + "/preview-frame.png saved";
        }
        return fail(session->error("preview: " + std::to_string(window.enqueued()) + " of " +
                                   std::to_string(wanted) + " frames in the window, " +
                                   std::to_string(frames.count) + " callbacks" + kept + ": " +
                                   stopped));
    }

    const int width = window.width();
    const int height = window.height();
    printf("camera %d: preview %s %s\n", session->index(), sizeText(width, height).c_str(),
           parameters["preview-format"].c_str());
    if (request.width != 0 && (request.width != width || request.height != height)) {
        printf(
            "note: asked for %s, but the host decides the preview size: the window got its "
            "preferred size %s\n",
            sizeText(request.width, request.height).c_str(), sizeText(width, height).c_str());
    }
    guest::WindowFrame shown;
    if (!window.shownFrame(&shown)) {
        return fail(session->error("the window shows nothing"));
    }
    printf("window: %llu frames at %.1f fps; shows buffer %u, sequence %u, host frame %u\n",
           static_cast<unsigned long long>(window.enqueued()),
           rate(window.enqueued(), window.firstEnqueue(), window.lastEnqueue()), shown.bufferId,
           shown.sequence, shown.frameNumber);
    if (shown.sequence == 0) {
        printf("note: the host has not written into the window's buffers\n");
    }
    std::lock_guard<std::mutex> guard(frames.lock);
    printf("preview-frame callbacks: %zu at %.1f fps, the last %zu bytes\n", frames.count,
           rate(frames.count, frames.first, frames.last), frames.bytes.size());

    if (request.saveDir.empty()) {
        return 0;
    }
    const std::string windowPath = request.saveDir + "/window.png";
    if (!writePng(windowPath, width, height, shown.rgb.data(), &error)) {
        return fail(error);
    }
    printf("saved %s (%s, what the window shows)\n", windowPath.c_str(),
           sizeText(width, height).c_str());
    if (!knownFormat) {
        return fail("cannot convert the preview frames of format '" + parameters["preview-format"] +
                    "'");
    }
    std::string saved;
    if (!saveCallbackFrame(request.saveDir + "/preview-frame.png", format, frames.bytes,
                           {sizeText(width, height), parameters["preview-size"]}, &saved, &error)) {
        return fail(error);
    }
    printf("saved %s\n", saved.c_str());
    return 0;
}

}  // namespace tools
}  // namespace vemo
