#pragma once

#include <stddef.h>

#include <SkStream.h>
#include <YuvToJpegEncoder.h>

namespace android {

// Compresses NV21 images to JPEG in memory with the platform's YUV-to-JPEG encoder. The
// compressed bytes accumulate in the output stream: each compression appends to it. One thread
// at a time. Part of what camera.vemo.so exports, beside HMI.
class __attribute__((visibility("default"))) NV21JpegCompressor : public Yuv420SpToJpegEncoder {
public:
    NV21JpegCompressor();
    ~NV21JpegCompressor() override;

    // Compresses the width x height NV21 image at image: a full Y plane of width x height bytes
    // followed at once by the interleaved VU plane, (height + 1) / 2 rows of width bytes. 0 on
    // success, else a positive errno value.
    int compressRawImage(const void* image, int width, int height, int quality);

    // The bytes compressed so far.
    size_t getCompressedSize() const { return _stream.bytesWritten(); }
    const unsigned char* getCompressedData() const { return _stream.data(); }
    // Copies the compressed bytes to dst, which holds getCompressedSize() bytes.
    void getCompressedImage(void* dst) const { _stream.copyTo(dst); }

private:
    SkDynamicMemoryWStream _stream;
    int _strides[2];
};

}  // namespace android
