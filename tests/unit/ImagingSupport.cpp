#include "ImagingSupport.h"

#include <SkStream.h>
#include <YuvToJpegEncoder.h>
#include <system/graphics.h>

#include <setjmp.h>
#include <stdio.h>

#include <memory>
#include <random>

#include <jpeglib.h>

namespace vemo {
namespace test {

namespace {

struct DecodeErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void onDecodeError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<DecodeErrors*>(cinfo->err)->jump, 1);
}

void onDecodeMessage(j_common_ptr) {}

}  // namespace

Yuv DecodedImage::at(int x, int y) const {
    const uint8_t* pixel = &ycbcr[(static_cast<size_t>(y) * width + x) * 3];
    return Yuv{pixel[0], pixel[1], pixel[2]};
}

bool decodeJpeg(const std::vector<uint8_t>& file, DecodedImage* image) {
    jpeg_decompress_struct cinfo;
    DecodeErrors errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onDecodeError;
    errors.pub.output_message = onDecodeMessage;
    jpeg_create_decompress(&cinfo);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_YCbCr;
    jpeg_start_decompress(&cinfo);
    image->width = static_cast<int>(cinfo.output_width);
    image->height = static_cast<int>(cinfo.output_height);
    image->ycbcr.assign(static_cast<size_t>(image->width) * image->height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &image->ycbcr[static_cast<size_t>(cinfo.output_scanline) * image->width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

std::vector<uint8_t> encodedPicture(int width, int height, int quality) {
    int strides[2] = {width, (width + 1) / 2 * 2};
    int offsets[2] = {0, width * height};
    std::vector<uint8_t> nv21(static_cast<size_t>(offsets[1] + strides[1] * ((height + 1) / 2)));
    std::mt19937 random(12345);
    for (uint8_t& byte : nv21) {
        byte = static_cast<uint8_t>(64 + random() % 128);
    }
    std::unique_ptr<YuvToJpegEncoder> encoder(
        YuvToJpegEncoder::create(HAL_PIXEL_FORMAT_YCrCb_420_SP, strides));
    SkDynamicMemoryWStream stream;
    if (!encoder->encode(&stream, nv21.data(), width, height, offsets, quality)) {
        return {};
    }
    return std::vector<uint8_t>(stream.data(), stream.data() + stream.bytesWritten());
}

}  // namespace test
}  // namespace vemo
