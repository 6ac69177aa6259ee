#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FrameSize.h"

namespace vemo {
namespace host {

// Compresses frames into complete JPEG files (JFIF, 4:2:0 chroma) with libjpeg-turbo. Keeps its
// compressor and the storage of the last file from call to call. Used by one thread at a time.
class JpegEncoder {
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Makes the file of an ARGB image (B, G, R, A bytes) of size with stride bytes per row, at
    // quality 1 to 100. On failure returns false and sets *error to why.
    bool encode(const uint8_t* argb, int stride, FrameSize size, int quality, std::string* error);

    // The file of the last successful encode; valid until the next one.
    const uint8_t* data() const { return _file.get(); }
    size_t size() const { return _size; }

private:
    void* _compressor;  // tjhandle; null when libjpeg-turbo could not make one
    std::unique_ptr<uint8_t[]> _file;
    size_t _capacity = 0;
    size_t _size = 0;
};

}  // namespace host
}  // namespace vemo
