#pragma once

#include <stdint.h>

class SkWStream;
struct jpeg_compress_struct;

// Compresses a YUV image into a JPEG stream with libjpeg. The image's planes start at the given
// offsets and have the strides given at creation.
class YuvToJpegEncoder {
public:
    // An encoder for format (HAL_PIXEL_FORMAT_YCrCb_420_SP or HAL_PIXEL_FORMAT_YCbCr_422_I), or
    // NULL for another format. strides stays the caller's.
    static YuvToJpegEncoder* create(int format, int* strides);

    explicit YuvToJpegEncoder(int* strides);
    virtual ~YuvToJpegEncoder() {}

    // Writes the JPEG file of the width x height image at inYuv to stream. False on failure.
    bool encode(SkWStream* stream, void* inYuv, int width, int height, int* offsets,
                int jpegQuality);

protected:
    int fNumPlanes;
    int* fStrides;
    void setJpegCompressStruct(jpeg_compress_struct* cinfo, int width, int height, int quality);
    virtual void configSamplingFactors(jpeg_compress_struct* cinfo) = 0;
    virtual void compress(jpeg_compress_struct* cinfo, uint8_t* yuv, int* offsets) = 0;
};

// NV21: a full Y plane, then interleaved V and U at half resolution both ways.
class Yuv420SpToJpegEncoder : public YuvToJpegEncoder {
public:
    explicit Yuv420SpToJpegEncoder(int* strides);
    ~Yuv420SpToJpegEncoder() override {}

private:
    void configSamplingFactors(jpeg_compress_struct* cinfo) override;
    void compress(jpeg_compress_struct* cinfo, uint8_t* yuv, int* offsets) override;
};

// YUYV: Y, U, Y, V for each pair of pixels.
class Yuv422IToJpegEncoder : public YuvToJpegEncoder {
public:
    explicit Yuv422IToJpegEncoder(int* strides);
    ~Yuv422IToJpegEncoder() override {}

private:
    void configSamplingFactors(jpeg_compress_struct* cinfo) override;
    void compress(jpeg_compress_struct* cinfo, uint8_t* yuv, int* offsets) override;
};
