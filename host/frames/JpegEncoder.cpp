#include "JpegEncoder.h"

#include <turbojpeg.h>

namespace vemo {
namespace host {

JpegEncoder::JpegEncoder() : _compressor(tjInitCompress()) {}

JpegEncoder::~JpegEncoder() {
    if (_compressor != nullptr) {
        tjDestroy(_compressor);
    }
}

bool JpegEncoder::encode(const uint8_t* argb, int stride, FrameSize size, int quality,
                         std::string* error) {
    _size = 0;
    if (_compressor == nullptr) {
        *error = std::string("no JPEG compressor: ") + tjGetErrorStr2(nullptr);
        return false;
    }
    const int width = static_cast<int>(size.width);
    const int height = static_cast<int>(size.height);
    // A buffer of the worst-case size, which libjpeg-turbo then never has to grow, keeps the
    // file in storage this encoder owns and reuses.
    const size_t needed = tjBufSize(width, height, TJSAMP_420);
    if (needed > _capacity) {
        _file.reset(new uint8_t[needed]);
        _capacity = needed;
    }
    unsigned char* file = _file.get();
    unsigned long length = _capacity;
    if (tjCompress2(_compressor, argb, width, stride, height, TJPF_BGRX, &file, &length, TJSAMP_420,
                    quality, TJFLAG_NOREALLOC) != 0) {
        *error = std::string("JPEG compression failed: ") + tjGetErrorStr2(_compressor);
        return false;
    }
    _size = length;
    return true;
}

}  // namespace host
}  // namespace vemo
