#include "Y4mFile.h"

#include <errno.h>
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <vector>

namespace vemo {
namespace tools {

namespace {

const char kFrameTag[] = "FRAME\n";
const size_t kCopyChunk = 1 << 20;

std::string reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

}  // namespace

Y4mFile::~Y4mFile() {
    if (_part != nullptr) {
        fclose(_part);
    }
    if (!_partPath.empty()) {
        unlink(_partPath.c_str());
    }
    if (_created && !_finished) {
        unlink(_path.c_str());
    }
}

bool Y4mFile::open(const std::string& path, int width, int height, std::string* error) {
    std::lock_guard<std::mutex> guard(_lock);
    _partPath = path + ".part";
    _part = fopen(_partPath.c_str(), "w+bx");
    if (_part == nullptr) {
        *error = reason("cannot create", _partPath);
        _partPath.clear();
        return false;
    }
    _path = path;
    _width = width;
    _height = height;
    return true;
}

bool Y4mFile::addFrame(const uint8_t* i420, size_t size) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!_error.empty()) {
        return false;
    }
    const size_t expected = static_cast<size_t>(_width) * static_cast<size_t>(_height) * 3 / 2;
    if (size != expected) {
        _error = "a frame of " + std::to_string(size) + " bytes, not " + std::to_string(expected);
        return false;
    }
    if (fwrite(kFrameTag, 1, sizeof(kFrameTag) - 1, _part) != sizeof(kFrameTag) - 1 ||
        fwrite(i420, 1, size, _part) != size) {
        _error = reason("cannot write", _partPath);
        return false;
    }
    ++_frames;
    return true;
}

bool Y4mFile::finish(double fps, std::string* error) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!_error.empty()) {
        *error = _error;
        return false;
    }
    if (fflush(_part) != 0 || fseek(_part, 0, SEEK_SET) != 0) {
        *error = reason("cannot write", _partPath);
        return false;
    }
    FILE* clip = fopen(_path.c_str(), "wb");
    if (clip == nullptr) {
        *error = reason("cannot create", _path);
        return false;
    }
    _created = true;
    // The rate in thousandths keeps fractional rates such as 29.97.
    const long rate = lround(fps * 1000);
    const std::string header = "YUV4MPEG2 W" + std::to_string(_width) + " H" +
                               std::to_string(_height) + " F" +
                               std::to_string(rate > 0 ? rate : 1) + ":1000 Ip A1:1 C420jpeg\n";
    bool ok = fwrite(header.data(), 1, header.size(), clip) == header.size();
    _bytes = header.size();
    std::vector<uint8_t> chunk(kCopyChunk);
    while (ok) {
        const size_t got = fread(chunk.data(), 1, chunk.size(), _part);
        if (got == 0) {
            ok = ferror(_part) == 0;
            break;
        }
        ok = fwrite(chunk.data(), 1, got, clip) == got;
        _bytes += got;
    }
    if (fclose(clip) != 0 || !ok) {
        *error = reason("cannot write", _path);
        return false;
    }
    _finished = true;
    return true;
}

size_t Y4mFile::frames() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _frames;
}

std::string Y4mFile::error() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _error;
}

}  // namespace tools
}  // namespace vemo
