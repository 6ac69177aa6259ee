#pragma once

// Pictures the tool saves, as PNG files written with libpng.

#include <stdint.h>

#include <string>

namespace vemo {
namespace tools {

// Writes width x height packed RGB888 pixels to path. Returns false and sets *error to what
// went wrong.
bool writePng(const std::string& path, int width, int height, const uint8_t* rgb,
              std::string* error);

}  // namespace tools
}  // namespace vemo
