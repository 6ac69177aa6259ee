#include "PngFile.h"

#include <string.h>

#include <png.h>

namespace vemo {
namespace tools {

bool writePng(const std::string& path, int width, int height, const uint8_t* rgb,
              std::string* error) {
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb, width * 3, nullptr) == 0) {
        *error = "cannot write " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace tools
}  // namespace vemo
