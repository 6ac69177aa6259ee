#include "NV21JpegCompressor.h"

#include <errno.h>
#include <stdint.h>

#include <log/log.h>

namespace android {

namespace {
const char kTag[] = "EmulatedCamera_JPEG";
}

// The strides array is handed to the base as an address; it is filled by each compression.
NV21JpegCompressor::NV21JpegCompressor() : Yuv420SpToJpegEncoder(_strides), _strides{0, 0} {}

NV21JpegCompressor::~NV21JpegCompressor() {}

int NV21JpegCompressor::compressRawImage(const void* image, int width, int height, int quality) {
    __android_log_print(ANDROID_LOG_VERBOSE, kTag, "%s: %p[%dx%d]", "compressRawImage", image,
                        width, height);
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > INT32_MAX / 2) {
        __android_log_print(ANDROID_LOG_ERROR, kTag, "%s: JPEG compression failed",
                            "compressRawImage");
        return 22;
    }
    _strides[0] = width;
    _strides[1] = width;
    int offsets[2] = {0, width * height};
    if (!encode(&_stream, const_cast<void*>(image), width, height, offsets, quality)) {
        __android_log_print(ANDROID_LOG_ERROR, kTag, "%s: JPEG compression failed",
                            "compressRawImage");
        return errno != 0 ? errno : 22;
    }
    __android_log_print(ANDROID_LOG_VERBOSE, kTag, "%s: Compressed JPEG: %d[%dx%d] -> %d bytes",
                        "compressRawImage",
                        static_cast<int>(static_cast<int64_t>(width) * height * 12 / 8), width,
                        height, static_cast<int>(_stream.bytesWritten()));
    return 0;
}

}  // namespace android
