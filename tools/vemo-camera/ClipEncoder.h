#pragma once

// A recording written as a playable clip: the frames are kept as a Y4M clip first (Y4mFile), at
// the rate measured once recording ends, and then encoded through GStreamer: VP8 in WebM for
// .webm, H.264 in MP4 for .mp4, H.264 in Matroska for .mkv. A .y4m stays raw.

#include <string>

namespace vemo {
namespace tools {

class ClipEncoder {
public:
    // Where the raw clip for out goes: out itself when it is a .y4m or of no known kind, else a
    // file beside it that encode() removes.
    static std::string rawPath(const std::string& out);

    // Encodes the raw clip into out at the raw clip's rate, showing progress, and removes the
    // raw clip. False with *error, GStreamer's reason, when it can't.
    static bool encode(const std::string& raw, const std::string& out, std::string* error);
};

}  // namespace tools
}  // namespace vemo
