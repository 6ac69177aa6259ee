#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemo {
namespace host {

// A decoded picture in the host's working format: ARGB (B, G, R, A bytes), opaque, rows of
// width * 4 bytes without padding. Sides need not be even.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> argb;
};

// Reads JPEG files with libjpeg-turbo and PNG files with libpng, told apart by their first
// bytes whatever the file is called. Transparent parts of a PNG picture are laid on white, as a
// printed picture would be. The EXIF orientation of a JPEG file is not applied.
class PictureDecoder {
public:
    // Bounds on what is decoded, so that a hostile file can't make the host hoard memory.
    static constexpr size_t kMaxFileBytes = 256u << 20;
    static constexpr uint32_t kMaxSide = 16384;
    static constexpr uint64_t kMaxPixels = 64u << 20;

    // Decodes the file at path. False with *error, one sentence that names the path, when it
    // can't be read or is not a whole JPEG or PNG picture within the bounds.
    static bool decodeFile(const std::string& path, Picture* picture, std::string* error);
    // The same for a file's bytes; *error says what they are instead ("not a whole ...").
    static bool decode(const uint8_t* data, size_t size, Picture* picture, std::string* error);
};

}  // namespace host
}  // namespace vemo
