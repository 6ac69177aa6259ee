#pragma once

// A YUV4MPEG2 clip of I420 frames, the plain format video players open. The header names the
// frame rate, known only once recording ends, so the frames go to "<path>.part" first and the
// clip is put together by finish().

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <mutex>
#include <string>

namespace vemo {
namespace tools {

// addFrame() may run on another thread than open() and finish(), not at the same time as
// finish().
class Y4mFile {
public:
    Y4mFile() = default;
    // Removes the part file, and a clip that finish() began but did not complete.
    ~Y4mFile();

    Y4mFile(const Y4mFile&) = delete;
    Y4mFile& operator=(const Y4mFile&) = delete;

    bool open(const std::string& path, int width, int height, std::string* error);
    // Appends one frame of width * height * 3 / 2 bytes. After a failure it takes no more
    // frames and error() says why.
    bool addFrame(const uint8_t* i420, size_t size);
    // Writes the clip with frames per second fps (a positive number), then the frames.
    bool finish(double fps, std::string* error);

    size_t frames() const;
    std::string error() const;
    // Bytes of the finished clip.
    uint64_t bytes() const { return _bytes; }

private:
    mutable std::mutex _lock;
    std::string _path;
    std::string _partPath;
    FILE* _part = nullptr;
    int _width = 0;
    int _height = 0;
    size_t _frames = 0;
    std::string _error;
    bool _created = false;
    bool _finished = false;
    uint64_t _bytes = 0;
};

}  // namespace tools
}  // namespace vemo
