#include "Y4mClip.h"

#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

namespace vemo {
namespace host {

namespace {

constexpr std::string_view kMagic = "YUV4MPEG2";
constexpr std::string_view kFrame = "FRAME";
constexpr size_t kMaxHeaderLine = 4096;
constexpr size_t kMaxFrameLine = 256;

// Reads up to size bytes at offset; the count, or -1 with errno.
ssize_t readAt(int fd, void* data, size_t size, off_t offset) {
    ssize_t n = 0;
    do {
        n = ::pread(fd, data, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

template <typename T>
bool parseNumber(std::string_view text, T* value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

}  // namespace

Y4mClip::~Y4mClip() {
    if (_fd >= 0) {
        ::close(_fd);
    }
}

std::shared_ptr<const Y4mClip> Y4mClip::open(const std::string& path, std::string* error) {
    std::shared_ptr<Y4mClip> clip(new Y4mClip());
    clip->_path = path;
    clip->_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (clip->_fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(clip->_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = path + " is not a file";
        return nullptr;
    }
    char head[kMaxHeaderLine];
    const ssize_t n = readAt(clip->_fd, head, sizeof(head), 0);
    if (n < 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const std::string_view text(head, static_cast<size_t>(n));
    const size_t end = text.find('\n');
    std::string why;
    if (end == std::string_view::npos) {
        why = "no YUV4MPEG2 header line";
    } else if (clip->parseHeader(std::string(text.substr(0, end)), &why)) {
        clip->index(static_cast<off_t>(end + 1), info.st_size, &why);
    }
    if (!why.empty()) {
        *error = path + " is not a clip this host plays: " + why;
        return nullptr;
    }
    return clip;
}

bool Y4mClip::parseHeader(const std::string& line, std::string* error) {
    std::string_view rest(line);
    if (rest.substr(0, kMagic.size()) != kMagic ||
        (rest.size() > kMagic.size() && rest[kMagic.size()] != ' ')) {
        *error = "it does not start with YUV4MPEG2";
        return false;
    }
    rest.remove_prefix(kMagic.size());
    bool haveRate = false;
    uint64_t width = 0;
    uint64_t height = 0;
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(start);
        const std::string_view token = rest.substr(0, rest.find(' '));
        rest.remove_prefix(token.size());
        const std::string_view value = token.substr(1);
        switch (token[0]) {
            case 'W':
                if (!parseNumber(value, &width)) {
                    *error = "bad width W" + std::string(value);
                    return false;
                }
                break;
            case 'H':
                if (!parseNumber(value, &height)) {
                    *error = "bad height H" + std::string(value);
                    return false;
                }
                break;
            case 'F': {
                const size_t colon = value.find(':');
                haveRate = colon != std::string_view::npos &&
                           parseNumber(value.substr(0, colon), &_rate.numerator) &&
                           parseNumber(value.substr(colon + 1), &_rate.denominator) &&
                           _rate.inRange();
                if (!haveRate) {
                    *error = "frame rate F" + std::string(value) + " is not from " +
                             std::to_string(FrameRate::kMinFps) + " to " +
                             std::to_string(FrameRate::kMaxFps) + " frames a second";
                    return false;
                }
                break;
            }
            case 'C':
                if (value.substr(0, 3) == "420" && (value.size() == 3 || value == "420jpeg" ||
                                                    value == "420paldv" || value == "420mpeg2")) {
                    _chroma = Chroma::k420;
                } else if (value == "422") {
                    _chroma = Chroma::k422;
                } else if (value == "444") {
                    _chroma = Chroma::k444;
                } else if (value == "mono") {
                    _chroma = Chroma::kMono;
                } else {
                    *error = "colour space C" + std::string(value) +
                             " is not one of 420, 422, 444 and mono in 8 bits";
                    return false;
                }
                break;
            case 'X':
                if (value == "COLORRANGE=FULL") {
                    _fullRange = true;
                } else if (value == "COLORRANGE=LIMITED") {
                    _fullRange = false;
                }
                break;
            default:
                // Interlacing, pixel aspect and comments change nothing here.
                break;
        }
    }
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide ||
        width * height > kMaxPixels) {
        *error = "its size " + std::to_string(width) + "x" + std::to_string(height) +
                 " is empty or more than " + std::to_string(kMaxSide) + " a side or " +
                 std::to_string(kMaxPixels >> 20) + " megapixels";
        return false;
    }
    if (!haveRate) {
        *error = "its header has no frame rate";
        return false;
    }
    _width = static_cast<uint32_t>(width);
    _height = static_cast<uint32_t>(height);
    const size_t luma = static_cast<size_t>(width * height);
    const size_t halfWidth = static_cast<size_t>((width + 1) / 2);
    switch (_chroma) {
        case Chroma::k420:
            _frameBytes = luma + 2 * halfWidth * static_cast<size_t>((height + 1) / 2);
            break;
        case Chroma::k422:
            _frameBytes = luma + 2 * halfWidth * _height;
            break;
        case Chroma::k444:
            _frameBytes = 3 * luma;
            break;
        case Chroma::kMono:
            _frameBytes = luma;
            break;
    }
    return true;
}

bool Y4mClip::index(off_t start, off_t end, std::string* error) {
    char line[kMaxFrameLine];
    off_t at = start;
    while (at < end && _offsets.size() < kMaxFrames) {
        const ssize_t n = readAt(_fd, line, sizeof(line), at);
        if (n < 0) {
            *error = std::string("reading it failed: ") + std::strerror(errno);
            return false;
        }
        const std::string_view text(line, static_cast<size_t>(n));
        const size_t newline = text.find('\n');
        if (text.substr(0, kFrame.size()) != kFrame || newline == std::string_view::npos ||
            (newline > kFrame.size() && text[kFrame.size()] != ' ')) {
            if (newline == std::string_view::npos && text.size() < sizeof(line) &&
                kFrame.substr(0, text.size()) == text.substr(0, kFrame.size())) {
                break;  // the file ends in the middle of a frame header
            }
            *error = "no FRAME header at byte " + std::to_string(at);
            return false;
        }
        const off_t data = at + static_cast<off_t>(newline + 1);
        if (end - data < static_cast<off_t>(_frameBytes)) {
            break;
        }
        _offsets.push_back(data);
        at = data + static_cast<off_t>(_frameBytes);
    }
    if (_offsets.empty()) {
        *error = "it holds no whole frame";
        return false;
    }
    return true;
}

std::string Y4mClip::describe() const {
    static constexpr const char* kChroma[] = {"4:2:0", "4:2:2", "4:4:4", "mono"};
    return std::to_string(_width) + "x" + std::to_string(_height) + " " +
           kChroma[static_cast<int>(_chroma)] + " at " + _rate.text() + " fps, " +
           std::to_string(_offsets.size()) + (_offsets.size() == 1 ? " frame" : " frames");
}

bool Y4mClip::readFrame(size_t index, std::vector<uint8_t>* bytes, std::string* error) const {
    bytes->resize(_frameBytes);
    size_t done = 0;
    while (done < _frameBytes) {
        const ssize_t n = readAt(_fd, bytes->data() + done, _frameBytes - done,
                                 _offsets[index] + static_cast<off_t>(done));
        if (n <= 0) {
            *error = "frame " + std::to_string(index) + " of " + _path + " can't be read: " +
                     (n < 0 ? std::strerror(errno) : "the file is shorter now");
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void Y4mClip::toArgb(const uint8_t* frame, uint8_t* argb, int stride) const {
    const int w = static_cast<int>(_width);
    const int h = static_cast<int>(_height);
    const int cw = _chroma == Chroma::k444 ? w : (w + 1) / 2;
    const int ch = _chroma == Chroma::k420 ? (h + 1) / 2 : h;
    const uint8_t* y = frame;
    const uint8_t* u = y + static_cast<size_t>(w) * h;
    const uint8_t* v = u + static_cast<size_t>(cw) * ch;
    switch (_chroma) {
        case Chroma::k420:
            (_fullRange ? libyuv::J420ToARGB : libyuv::I420ToARGB)(y, w, u, cw, v, cw, argb, stride,
                                                                   w, h);
            break;
        case Chroma::k422:
            (_fullRange ? libyuv::J422ToARGB : libyuv::I422ToARGB)(y, w, u, cw, v, cw, argb, stride,
                                                                   w, h);
            break;
        case Chroma::k444:
            (_fullRange ? libyuv::J444ToARGB : libyuv::I444ToARGB)(y, w, u, cw, v, cw, argb, stride,
                                                                   w, h);
            break;
        case Chroma::kMono:
            (_fullRange ? libyuv::J400ToARGB : libyuv::I400ToARGB)(y, w, argb, stride, w, h);
            break;
    }
}

}  // namespace host
}  // namespace vemo
