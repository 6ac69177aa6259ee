#pragma once

// Pixel formats of graphics buffers.

#ifdef __cplusplus
extern "C" {
#endif

enum {
    HAL_PIXEL_FORMAT_RGBA_8888 = 1,
    HAL_PIXEL_FORMAT_RGBX_8888 = 2,
    HAL_PIXEL_FORMAT_RGB_888 = 3,
    HAL_PIXEL_FORMAT_RGB_565 = 4,
    HAL_PIXEL_FORMAT_BGRA_8888 = 5,
    HAL_PIXEL_FORMAT_YCbCr_422_SP = 0x10,  // NV16
    HAL_PIXEL_FORMAT_YCrCb_420_SP = 0x11,  // NV21
    HAL_PIXEL_FORMAT_YCbCr_422_I = 0x14,   // YUY2
    HAL_PIXEL_FORMAT_YV12 = 0x32315659,
};

#ifdef __cplusplus
}
#endif
