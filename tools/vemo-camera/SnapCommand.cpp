// vemo-camera snap: a picture through the module, taken while it previews as a camera
// application takes one: shutter, raw-image notification, then the compressed image, whose JPEG
// file the command writes and whose EXIF tags it prints.

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CameraSession.h"
#include "Commands.h"
#include "JpegFile.h"
#include "Report.h"

namespace vemo {
namespace tools {

namespace {

const char kDefaultPhoto[] = "photo.jpg";
const int kMaxSide = 8192;
// Window frames shown before the picture is taken.
const uint64_t kPreviewFrames = 2;
const std::chrono::seconds kPictureTimeout(20);
const std::chrono::milliseconds kPoll(100);

struct SnapRequest {
    std::string out = kDefaultPhoto;
    ParameterMap changes;
    int width = 0;  // 0: not asked
    int height = 0;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// --gps LAT,LON,ALT[,UNIX_TIME[,METHOD]] as the platform's GPS parameters.
bool parseGps(const std::string& text, ParameterMap* changes) {
    const std::vector<std::string> parts = split(text, ',');
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    long time = 0;
    if (parts.size() < 3 || parts.size() > 5 || !parseNumber(parts[0], -90, 90, &latitude) ||
        !parseNumber(parts[1], -180, 180, &longitude) ||
        !parseNumber(parts[2], -1e6, 1e6, &altitude) ||
        (parts.size() >= 4 && !parseInt(parts[3], 0, 1L << 40, &time)) ||
        (parts.size() == 5 &&
         (parts[4].empty() || parts[4].find_first_of("=;") != std::string::npos))) {
        return false;
    }
    (*changes)["gps-latitude"] = parts[0];
    (*changes)["gps-longitude"] = parts[1];
    (*changes)["gps-altitude"] = parts[2];
    if (parts.size() >= 4) {
        (*changes)["gps-timestamp"] = parts[3];
    }
    if (parts.size() == 5) {
        (*changes)["gps-processing-method"] = parts[4];
    }
    return true;
}

int parseRequest(const Options& options, SnapRequest* request) {
    if (!options.arguments.empty()) {
        return usageError("snap takes no arguments");
    }
    const auto value = [&options](const char* name) {
        const auto found = options.values.find(name);
        return found != options.values.end() ? found->second : std::string();
    };
    if (!value("--out").empty()) {
        request->out = value("--out");
    }
    if (!value("--size").empty()) {
        if (!parseSize(value("--size"), 1, kMaxSide, &request->width, &request->height)) {
            return usageError("--size needs WIDTHxHEIGHT, not '" + value("--size") + "'");
        }
        request->changes["picture-size"] = value("--size");
    }
    const std::string rotation = value("--rotation");
    if (!rotation.empty()) {
        if (rotation != "0" && rotation != "90" && rotation != "180" && rotation != "270") {
            return usageError("--rotation needs 0, 90, 180 or 270, not '" + rotation + "'");
        }
        request->changes["rotation"] = rotation;
    }
    if (!value("--gps").empty() && !parseGps(value("--gps"), &request->changes)) {
        return usageError("--gps needs LAT,LON,ALT[,UNIX_TIME[,METHOD]], not '" + value("--gps") +
                          "'");
    }
    if (!value("--thumbnail").empty()) {
        int width = 0;
        int height = 0;
        if (!parseSize(value("--thumbnail"), 0, kMaxSide, &width, &height)) {
            return usageError("--thumbnail needs WIDTHxHEIGHT (0x0 for none), not '" +
                              value("--thumbnail") + "'");
        }
        request->changes["jpeg-thumbnail-width"] = std::to_string(width);
        request->changes["jpeg-thumbnail-height"] = std::to_string(height);
    }
    return 0;
}

const char* messageName(int32_t message) {
    switch (message) {
        case CAMERA_MSG_SHUTTER:
            return "shutter";
        case CAMERA_MSG_RAW_IMAGE_NOTIFY:
            return "raw-image notify";
        case CAMERA_MSG_RAW_IMAGE:
            return "raw image";
        case CAMERA_MSG_POSTVIEW_FRAME:
            return "postview frame";
        case CAMERA_MSG_COMPRESSED_IMAGE:
            return "compressed image";
        case CAMERA_MSG_ERROR:
            return "error";
        default:
            return "other";
    }
}

bool writeFile(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    const bool written = fwrite(bytes, 1, size, file) == size;
    if (fclose(file) != 0 || !written) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

int runSnap(guest::CameraService* service, const Options& options) {
    SnapRequest request;
    const int usage = parseRequest(options, &request);
    if (usage != 0) {
        return usage;
    }
    int status = 0;
    std::unique_ptr<CameraSession> session = CameraSession::open(*service, options, &status);
    if (session == nullptr) {
        return status;
    }
    if (!request.changes.empty()) {
        const int result = session->apply(request.changes);
        if (result != 0) {
            return fail(session->error("set_parameters refused the picture settings (" +
                                       std::to_string(result) + ")"));
        }
    }
    guest::CameraDevice& device = session->device();
    guest::CallbackRecorder& callbacks = session->callbacks();
    device.enableMsgType(CAMERA_MSG_SHUTTER | CAMERA_MSG_RAW_IMAGE_NOTIFY |
                         CAMERA_MSG_COMPRESSED_IMAGE | CAMERA_MSG_ERROR);
    std::string error;
    if (!session->startPreview(&error)) {
        return fail(error);
    }
    while (!session->window().waitForEnqueued(kPreviewFrames, kPoll)) {
        const std::string stopped = session->stopReason(session->window().enqueued());
        if (!stopped.empty()) {
            return fail(
                session->error("no picture, no preview in the window before it: " + stopped));
        }
    }
    const int taken = device.takePicture();
    if (taken != 0) {
        return fail(session->error("take_picture failed (" + std::to_string(taken) + ")"));
    }
    // The preview pauses for the picture, so only the picture's own deadline applies.
    const auto deadline = std::chrono::steady_clock::now() + kPictureTimeout;
    std::string stopped;
    while (!callbacks.waitFor(CAMERA_MSG_COMPRESSED_IMAGE, 1, kPoll) && stopped.empty()) {
        stopped = session->interruption();
        if (stopped.empty() && std::chrono::steady_clock::now() >= deadline) {
            stopped = "none within " + std::to_string(kPictureTimeout.count()) + " s";
        }
    }
    device.stopPreview();
    device.setPreviewWindow(nullptr);
    if (!stopped.empty()) {
        return fail(session->error("no picture: " + stopped));
    }

    std::string sequence;
    guest::CameraEvent picture;
    for (const guest::CameraEvent& event : callbacks.events()) {
        sequence += (sequence.empty() ? "" : ", ") + std::string(messageName(event.message));
        if (event.message == CAMERA_MSG_COMPRESSED_IMAGE) {
            picture = event;
            break;
        }
    }
    const size_t length = jpegLength(picture.bytes.data(), picture.bytes.size());
    printf("camera %d: %s\n", session->index(), sequence.c_str());
    if (length == 0) {
        return fail(session->error("the compressed image of " +
                                   std::to_string(picture.bytes.size()) +
                                   " bytes holds no complete JPEG file"));
    }
    if (!writeFile(request.out, picture.bytes.data(), length, &error)) {
        return fail(error);
    }
    int width = 0;
    int height = 0;
    jpegSize(picture.bytes.data(), length, &width, &height);
    printf("wrote %s: JPEG %dx%d, %zu bytes (the callback block has %zu)\n", request.out.c_str(),
           width, height, length, picture.bytes.size());
    if (request.width != 0 && (request.width != width || request.height != height)) {
        printf("note: asked for %dx%d, but the host decides the picture size\n", request.width,
               request.height);
    }
    const std::vector<std::string> tags = exifLines(picture.bytes.data(), length);
    if (tags.empty()) {
        printf("no EXIF data\n");
    }
    for (const std::string& tag : tags) {
        printf("  %s\n", tag.c_str());
    }
    return 0;
}

}  // namespace tools
}  // namespace vemo
