// YUV images to JPEG with libjpeg's raw-data interface: the planes go to the compressor as they
// are, without a colour conversion.

#define LOG_TAG "YuvToJpegEncoder"

#include <SkStream.h>
#include <YuvToJpegEncoder.h>
#include <log/log.h>
#include <system/graphics.h>

#include <setjmp.h>
#include <stddef.h>
#include <stdio.h>

#include <algorithm>
#include <new>

// jpeglib.h needs stdio.h and stddef.h before it.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// libjpeg reports errors through error_exit, which must not return: it jumps back into encode.
struct ErrorManager {
    jpeg_error_mgr pub;  // first, so that cinfo->err points at the whole object
    jmp_buf jump;
};

void onError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    ALOGE("YuvToJpegEncoder::encode: %s", message);
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    ALOGW("YuvToJpegEncoder::encode: %s", message);
}

constexpr size_t kOutputBufferSize = 4096;

// Collects the compressed bytes and hands them to the stream a buffer at a time.
struct Destination {
    jpeg_destination_mgr pub;  // first, so that cinfo->dest points at the whole object
    SkWStream* stream;
    JOCTET buffer[kOutputBufferSize];
};

Destination* destinationOf(j_compress_ptr cinfo) {
    return reinterpret_cast<Destination*>(cinfo->dest);
}

void initDestination(j_compress_ptr cinfo) {
    Destination* destination = destinationOf(cinfo);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kOutputBufferSize;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    Destination* destination = destinationOf(cinfo);
    if (!destination->stream->write(destination->buffer, kOutputBufferSize)) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    Destination* destination = destinationOf(cinfo);
    const size_t pending = kOutputBufferSize - destination->pub.free_in_buffer;
    if (pending > 0 && !destination->stream->write(destination->buffer, pending)) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

// Chroma pairs a row of the image holds: one per two pixels, fewer when the stride leaves out
// the last pair of an odd width.
int chromaPairs(int width, int stride, int bytesPerPair) {
    return std::min((width + 1) / 2, stride / bytesPerPair);
}

// Rows are filled up to the MCU width the compressor reads; the samples past the image, or
// past what the stride holds, repeat the last one.
int paddedWidth(int width) {
    return (width + 15) & ~15;
}

void padRow(JSAMPROW row, int filled, int width) {
    std::fill(row + filled, row + width, row[filled - 1]);
}

JSAMPARRAY allocateRows(jpeg_compress_struct* cinfo, int width, int rows) {
    return (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                       static_cast<JDIMENSION>(width),
                                       static_cast<JDIMENSION>(rows));
}

const uint8_t* rowAt(const uint8_t* plane, int row, int stride) {
    return plane + static_cast<ptrdiff_t>(row) * stride;
}

}  // namespace

YuvToJpegEncoder* YuvToJpegEncoder::create(int format, int* strides) {
    switch (format) {
        case HAL_PIXEL_FORMAT_YCrCb_420_SP:
            return new (std::nothrow) Yuv420SpToJpegEncoder(strides);
        case HAL_PIXEL_FORMAT_YCbCr_422_I:
            return new (std::nothrow) Yuv422IToJpegEncoder(strides);
        default:
            ALOGE("YuvToJpegEncoder::create: format 0x%x is not supported", format);
            return nullptr;
    }
}

YuvToJpegEncoder::YuvToJpegEncoder(int* strides) : fNumPlanes(0), fStrides(strides) {}

bool YuvToJpegEncoder::encode(SkWStream* stream, void* inYuv, int width, int height, int* offsets,
                              int jpegQuality) {
    if (stream == nullptr || inYuv == nullptr || offsets == nullptr || fStrides == nullptr) {
        ALOGE("YuvToJpegEncoder::encode: missing stream, image, offsets or strides");
        return false;
    }
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        ALOGE("YuvToJpegEncoder::encode: bad size %dx%d", width, height);
        return false;
    }
    // NV21: a Y plane and a VU plane; YUYV: one plane of Y U Y V groups.
    const bool fits =
        fNumPlanes == 2
            ? fStrides[0] >= width && chromaPairs(width, fStrides[1], 2) >= std::max(1, width / 2)
            : chromaPairs(width, fStrides[0], 4) >= std::max(1, width / 2);
    if (!fits) {
        ALOGE("YuvToJpegEncoder::encode: strides too small for a width of %d", width);
        return false;
    }

    jpeg_compress_struct cinfo;
    ErrorManager errors;
    Destination destination;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onError;
    errors.pub.output_message = onMessage;
    jpeg_create_compress(&cinfo);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    destination.stream = stream;
    destination.pub.init_destination = initDestination;
    destination.pub.empty_output_buffer = emptyOutputBuffer;
    destination.pub.term_destination = termDestination;
    cinfo.dest = &destination.pub;

    setJpegCompressStruct(&cinfo, width, height, jpegQuality);
    jpeg_start_compress(&cinfo, TRUE);
    compress(&cinfo, static_cast<uint8_t*>(inYuv), offsets);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

void YuvToJpegEncoder::setJpegCompressStruct(jpeg_compress_struct* cinfo, int width, int height,
                                             int quality) {
    cinfo->image_width = static_cast<JDIMENSION>(width);
    cinfo->image_height = static_cast<JDIMENSION>(height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_YCbCr;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_set_colorspace(cinfo, JCS_YCbCr);
    cinfo->raw_data_in = TRUE;
    cinfo->dct_method = JDCT_ISLOW;
    configSamplingFactors(cinfo);
}

Yuv420SpToJpegEncoder::Yuv420SpToJpegEncoder(int* strides) : YuvToJpegEncoder(strides) {
    fNumPlanes = 2;
}

void Yuv420SpToJpegEncoder::configSamplingFactors(jpeg_compress_struct* cinfo) {
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 2;
    cinfo->comp_info[1].h_samp_factor = 1;
    cinfo->comp_info[1].v_samp_factor = 1;
    cinfo->comp_info[2].h_samp_factor = 1;
    cinfo->comp_info[2].v_samp_factor = 1;
}

// One MCU row is 16 rows of Y and 8 of Cb and Cr, taken apart from the VU plane. The VU plane
// has (height + 1) / 2 rows.
void Yuv420SpToJpegEncoder::compress(jpeg_compress_struct* cinfo, uint8_t* yuv, int* offsets) {
    const int width = static_cast<int>(cinfo->image_width);
    const int height = static_cast<int>(cinfo->image_height);
    const int chromaHeight = (height + 1) / 2;
    const int pairs = chromaPairs(width, fStrides[1], 2);
    const int lumaWidth = paddedWidth(width);
    const int chromaWidth = lumaWidth / 2;
    const uint8_t* yPlane = yuv + offsets[0];
    const uint8_t* vuPlane = yuv + offsets[1];

    JSAMPARRAY y = allocateRows(cinfo, lumaWidth, 16);
    JSAMPARRAY cb = allocateRows(cinfo, chromaWidth, 8);
    JSAMPARRAY cr = allocateRows(cinfo, chromaWidth, 8);
    JSAMPARRAY planes[3] = {y, cb, cr};

    while (cinfo->next_scanline < cinfo->image_height) {
        const int top = static_cast<int>(cinfo->next_scanline);
        for (int r = 0; r < 16; ++r) {
            const uint8_t* source = rowAt(yPlane, std::min(top + r, height - 1), fStrides[0]);
            std::copy(source, source + width, y[r]);
            padRow(y[r], width, lumaWidth);
        }
        for (int r = 0; r < 8; ++r) {
            const uint8_t* vu =
                rowAt(vuPlane, std::min(top / 2 + r, chromaHeight - 1), fStrides[1]);
            for (int x = 0; x < pairs; ++x) {
                cr[r][x] = vu[2 * x];
                cb[r][x] = vu[2 * x + 1];
            }
            padRow(cb[r], pairs, chromaWidth);
            padRow(cr[r], pairs, chromaWidth);
        }
        jpeg_write_raw_data(cinfo, planes, 16);
    }
}

Yuv422IToJpegEncoder::Yuv422IToJpegEncoder(int* strides) : YuvToJpegEncoder(strides) {
    fNumPlanes = 1;
}

void Yuv422IToJpegEncoder::configSamplingFactors(jpeg_compress_struct* cinfo) {
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 1;
    cinfo->comp_info[1].h_samp_factor = 1;
    cinfo->comp_info[1].v_samp_factor = 1;
    cinfo->comp_info[2].h_samp_factor = 1;
    cinfo->comp_info[2].v_samp_factor = 1;
}

// One MCU row is 8 rows of each plane, taken apart from the Y U Y V groups.
void Yuv422IToJpegEncoder::compress(jpeg_compress_struct* cinfo, uint8_t* yuv, int* offsets) {
    const int width = static_cast<int>(cinfo->image_width);
    const int height = static_cast<int>(cinfo->image_height);
    const int pairs = chromaPairs(width, fStrides[0], 4);
    const int lumaFilled = std::min(width, 2 * pairs);
    const int lumaWidth = paddedWidth(width);
    const int chromaWidth = lumaWidth / 2;
    const uint8_t* plane = yuv + offsets[0];

    JSAMPARRAY y = allocateRows(cinfo, lumaWidth, 8);
    JSAMPARRAY cb = allocateRows(cinfo, chromaWidth, 8);
    JSAMPARRAY cr = allocateRows(cinfo, chromaWidth, 8);
    JSAMPARRAY planes[3] = {y, cb, cr};

    while (cinfo->next_scanline < cinfo->image_height) {
        const int top = static_cast<int>(cinfo->next_scanline);
        for (int r = 0; r < 8; ++r) {
            const uint8_t* source = rowAt(plane, std::min(top + r, height - 1), fStrides[0]);
            for (int p = 0; p < pairs; ++p) {
                y[r][2 * p] = source[4 * p];
                cb[r][p] = source[4 * p + 1];
                y[r][2 * p + 1] = source[4 * p + 2];
                cr[r][p] = source[4 * p + 3];
            }
            padRow(y[r], lumaFilled, lumaWidth);
            padRow(cb[r], pairs, chromaWidth);
            padRow(cr[r], pairs, chromaWidth);
        }
        jpeg_write_raw_data(cinfo, planes, 8);
    }
}
