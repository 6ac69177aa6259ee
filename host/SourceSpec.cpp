#include "SourceSpec.h"

#include <charconv>

#include "FrameRate.h"

namespace vemo {
namespace host {

namespace {

constexpr const char* kExpected =
    "expected pattern, image:PATH, folder:PATH, folder@N:PATH or y4m:PATH";

}  // namespace

std::optional<SourceSpec> SourceSpec::parse(std::string_view text, std::string* error) {
    SourceSpec spec;
    if (text == "pattern") {
        return spec;
    }
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        *error = kExpected;
        return std::nullopt;
    }
    std::string_view kind = text.substr(0, colon);
    spec.path = std::string(text.substr(colon + 1));
    if (kind == "image") {
        spec.kind = Kind::kImage;
    } else if (kind == "y4m") {
        spec.kind = Kind::kClip;
    } else if (kind.substr(0, 6) == "folder") {
        spec.kind = Kind::kFolder;
        if (kind.size() > 6) {
            const std::string_view rate = kind.substr(6);
            const char* end = rate.data() + rate.size();
            const auto [ptr, ec] = std::from_chars(rate.data() + 1, end, spec.folderFps);
            if (rate[0] != '@' || rate.size() < 2 || ec != std::errc() || ptr != end ||
                spec.folderFps < FrameRate::kMinFps || spec.folderFps > FrameRate::kMaxFps) {
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
    if (spec.path.empty()) {
        *error = "expected a path after \"" + std::string(kind) + ":\"";
        return std::nullopt;
    }
    return spec;
}

std::string SourceSpec::text() const {
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
    }
    return "pattern";
}

SourceSpec SourceSpec::resolvedAgainst(const std::string& directory) const {
    SourceSpec resolved = *this;
    if (kind != Kind::kPattern && path[0] != '/') {
        resolved.path =
            directory + (directory.empty() || directory.back() == '/' ? "" : "/") + path;
    }
    return resolved;
}

}  // namespace host
}  // namespace vemo
