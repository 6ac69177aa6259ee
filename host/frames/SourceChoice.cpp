#include "SourceChoice.h"

#include <charconv>

#include "FrameRate.h"

namespace vemo {
namespace host {

namespace {

constexpr const char* kExpected =
    "expected pattern, image:PATH, folder:PATH, folder@N:PATH, y4m:PATH, video:PATH, url:URI, "
    "webcam, webcam:DEVICE or gst:PIPELINE";

}  // namespace

std::optional<SourceChoice> SourceChoice::parse(std::string_view text, std::string* error) {
    SourceChoice choice;
    if (text == "pattern") {
        return choice;
    }
    if (text == "webcam") {
        choice.kind = Kind::kWebcam;
        return choice;
    }
    if (text == "pushed") {
        choice.kind = Kind::kPushed;
        return choice;
    }
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        *error = kExpected;
        return std::nullopt;
    }
    std::string_view kind = text.substr(0, colon);
    choice.path = std::string(text.substr(colon + 1));
    if (kind == "image") {
        choice.kind = Kind::kImage;
    } else if (kind == "y4m") {
        choice.kind = Kind::kClip;
    } else if (kind == "video") {
        choice.kind = Kind::kVideo;
    } else if (kind == "url") {
        choice.kind = Kind::kUrl;
    } else if (kind == "webcam") {
        choice.kind = Kind::kWebcam;
    } else if (kind == "gst") {
        choice.kind = Kind::kPipeline;
    } else if (kind.substr(0, 6) == "folder") {
        choice.kind = Kind::kFolder;
        if (kind.size() > 6) {
            const std::string_view rate = kind.substr(6);
            const char* end = rate.data() + rate.size();
            const auto [ptr, ec] = std::from_chars(rate.data() + 1, end, choice.folderFps);
            if (rate[0] != '@' || rate.size() < 2 || ec != std::errc() || ptr != end ||
                choice.folderFps < FrameRate::kMinFps || choice.folderFps > FrameRate::kMaxFps) {
                *error = "expected folder@N:PATH with N pictures a second from " +
                         std::to_string(FrameRate::kMinFps) + " to " +
                         std::to_string(FrameRate::kMaxFps);
                return std::nullopt;
            }
        }
    } else {
        *error = kExpected;
        return std::nullopt;
    }
    if (choice.path.empty()) {
        *error = "expected a path after \"" + std::string(kind) + ":\"";
        return std::nullopt;
    }
    return choice;
}

std::string SourceChoice::text() const {
    switch (kind) {
        case Kind::kPattern:
            return "pattern";
        case Kind::kImage:
            return "image:" + path;
        case Kind::kFolder:
            return folderFps == kDefaultFolderFps
                       ? "folder:" + path
                       : "folder@" + std::to_string(folderFps) + ":" + path;
        case Kind::kClip:
            return "y4m:" + path;
        case Kind::kVideo:
            return "video:" + path;
        case Kind::kUrl:
            return "url:" + path;
        case Kind::kWebcam:
            return path.empty() ? "webcam" : "webcam:" + path;
        case Kind::kPipeline:
            return "gst:" + path;
        case Kind::kPushed:
            return "pushed";
    }
    return "pattern";
}

SourceChoice SourceChoice::resolvedAgainst(const std::string& directory) const {
    SourceChoice resolved = *this;
    const bool file = kind == Kind::kImage || kind == Kind::kFolder || kind == Kind::kClip ||
                      kind == Kind::kVideo;
    if (file && !path.empty() && path[0] != '/') {
        resolved.path =
            directory + (directory.empty() || directory.back() == '/' ? "" : "/") + path;
    }
    return resolved;
}

}  // namespace host
}  // namespace vemo
