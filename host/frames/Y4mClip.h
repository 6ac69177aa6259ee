#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FrameRate.h"

namespace vemo {
namespace host {

// A YUV4MPEG2 clip on disk, opened and indexed once: its header read, the offset of every
// whole frame found. Frames are read from the file when they are wanted, so a long clip costs
// no memory. 8-bit 4:2:0 (any siting), 4:2:2, 4:4:4 and monochrome clips are read, in BT.601
// colours, studio range unless the header says XCOLORRANGE=FULL; interlaced clips are shown as
// they are stored. A frame cut short at the end of the file is left out. Read-only once open,
// so any number of threads may read frames at once.
class Y4mClip {
public:
    enum class Chroma { k420, k422, k444, kMono };

    static constexpr uint32_t kMaxSide = 16384;
    static constexpr uint64_t kMaxPixels = 64u << 20;
    static constexpr size_t kMaxFrames = 1000000;

    // Opens and indexes the clip at path. Null with *error, one sentence that names the path,
    // when it can't be read or is not a clip this class reads.
    static std::shared_ptr<const Y4mClip> open(const std::string& path, std::string* error);
    ~Y4mClip();
    Y4mClip(const Y4mClip&) = delete;
    Y4mClip& operator=(const Y4mClip&) = delete;

    uint32_t width() const { return _width; }
    uint32_t height() const { return _height; }
    FrameRate rate() const { return _rate; }
    size_t frames() const { return _offsets.size(); }
    // Bytes of one frame's planes (Y, then U and V).
    size_t frameBytes() const { return _frameBytes; }
    // "640x480 4:2:0 at 25 fps, 50 frames".
    std::string describe() const;

    // Reads frame index (below frames()) into *bytes. False with *error when the file no longer
    // holds it.
    bool readFrame(size_t index, std::vector<uint8_t>* bytes, std::string* error) const;
    // Converts a frame's bytes to ARGB, width x height at argb with stride bytes a row (libyuv).
    void toArgb(const uint8_t* frame, uint8_t* argb, int stride) const;

private:
    Y4mClip() = default;
    // Reads the header line; false with *error (without the path).
    bool parseHeader(const std::string& line, std::string* error);
    // Finds the frames after the header; false with *error (without the path).
    bool index(off_t start, off_t end, std::string* error);

    std::string _path;
    int _fd = -1;
    uint32_t _width = 0;
    uint32_t _height = 0;
    FrameRate _rate;
    Chroma _chroma = Chroma::k420;
    bool _fullRange = false;
    size_t _frameBytes = 0;
    std::vector<off_t> _offsets;  // of each frame's planes
};

}  // namespace host
}  // namespace vemo
