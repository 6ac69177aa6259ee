#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vemo {
namespace host {

// A camera's frame source as a user names it, on the command line (--camera IX:source=SOURCE)
// and to the control socket (source IX SOURCE):
//
//   pattern               the moving test pattern
//   image:PATH            a still picture, JPEG or PNG
//   folder:PATH           the JPEG and PNG pictures of a folder in turn, by name, one a second
//   folder@N:PATH         the same at N pictures a second (1 to 120)
//   y4m:PATH              a YUV4MPEG2 clip played in a loop at its own rate, through the
//                         host's own reader: 1.4 ms of CPU a 1080p NV21 frame all told,
//                         where GStreamer's filesrc ! y4mdec takes 5.7 ms only to read it
//   video:PATH            any clip GStreamer decodes, in a loop at its own rate
//   url:URI               a network stream or remote file (rtsp://, http://, https://, file://)
//   webcam                the first video capture device
//   webcam:DEVICE         a capture device by its path or its name
//   gst:PIPELINE          a GStreamer pipeline that ends in raw video
//   pushed                pictures handed over as they come (the web console sends a browser's
//                         camera this way); black until the first
//
// The path is everything after the first ':' after the kind, spaces included. This class only
// reads and writes the text; CameraSources loads what it names.
struct SourceChoice {
    enum class Kind { kPattern, kImage, kFolder, kClip, kPushed, kVideo, kUrl, kWebcam, kPipeline };
    static constexpr uint32_t kDefaultFolderFps = 1;

    Kind kind = Kind::kPattern;
    std::string path;  // or URI, device, pipeline
    uint32_t folderFps = kDefaultFolderFps;

    // The choice, or nothing with *error saying what is wrong (a sentence without the text).
    static std::optional<SourceChoice> parse(std::string_view text, std::string* error);
    // The text that parse reads back into this choice.
    std::string text() const;
    // Whether GStreamer runs it (a pipeline of the camera's).
    bool live() const { return kind >= Kind::kVideo; }
    // The same choice with a relative path made absolute against directory.
    SourceChoice resolvedAgainst(const std::string& directory) const;
};

}  // namespace host
}  // namespace vemo
