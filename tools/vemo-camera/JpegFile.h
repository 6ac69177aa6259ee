#pragma once

// A JPEG file inside a larger block, found by its structure, and the EXIF tags it carries.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace vemo {
namespace tools {

// Bytes of the JPEG file that starts the block: from its start marker through the end marker
// that follows its entropy-coded data. Segments are skipped by their lengths, so the end
// marker of a thumbnail inside the EXIF segment does not count. 0 when the block does not
// hold a complete file.
size_t jpegLength(const uint8_t* bytes, size_t size);

// The picture's size from its frame header. False when the file has none.
bool jpegSize(const uint8_t* bytes, size_t size, int* width, int* height);

// The EXIF tags of the file as lines "<IFD> <tag name>: <value>", in the order of the IFDs,
// read with libexif; then "thumbnail: ..." when the EXIF data holds one. Empty when the file
// has no EXIF data.
std::vector<std::string> exifLines(const uint8_t* bytes, size_t size);

}  // namespace tools
}  // namespace vemo
