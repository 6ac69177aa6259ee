#include "SourceTestSupport.h"

#include <png.h>

#include <cstring>
#include <fstream>

#include "JpegEncoder.h"

namespace vemo {
namespace host {
namespace test {

Picture quadrants(uint32_t width, uint32_t height, int shift) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.argb.resize(static_cast<size_t>(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const int quadrant = (x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0);
            const uint32_t colour = kQuadrants[(quadrant + shift) % 4].argb;
            uint8_t* p = &picture.argb[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(colour);
            p[1] = static_cast<uint8_t>(colour >> 8);
            p[2] = static_cast<uint8_t>(colour >> 16);
            p[3] = static_cast<uint8_t>(colour >> 24);
        }
    }
    return picture;
}

bool writePng(const std::string& path, const Picture& picture) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&image, path.c_str(), 0, picture.argb.data(), 0, nullptr) != 0;
}

bool writeJpeg(const std::string& path, const Picture& picture) {
    JpegEncoder encoder;
    std::string error;
    if (!encoder.encode(picture.argb.data(), static_cast<int>(picture.width * 4),
                        {picture.width, picture.height}, 95, &error)) {
        return false;
    }
    return writeFile(path, std::vector<uint8_t>(encoder.data(), encoder.data() + encoder.size()));
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

std::vector<uint8_t> y4mClip(const std::string& parameters, uint32_t width, uint32_t height,
                             int frames, const std::string& chroma, bool fullRange) {
    const std::string header = "YUV4MPEG2 " + parameters + "\n";
    std::vector<uint8_t> clip(header.begin(), header.end());
    const uint32_t cw = chroma == "444" ? width : (width + 1) / 2;
    const uint32_t ch = chroma == "420" ? (height + 1) / 2 : height;
    // Full range stretches studio-range values from 16..235 (luma) and 16..240 (chroma).
    const auto stretch = [fullRange](int value, int top) {
        return fullRange ? (value - 16) * 255 / (top - 16) : value;
    };
    const auto quadrantOf = [](uint32_t x, uint32_t w, uint32_t y, uint32_t h) {
        return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
    };
    for (int k = 0; k < frames; ++k) {
        const std::string frame = "FRAME\n";
        clip.insert(clip.end(), frame.begin(), frame.end());
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const Yuv& c = kQuadrants[(quadrantOf(x, width, y, height) + k) % 4].yuv;
                clip.push_back(static_cast<uint8_t>(stretch(c.y, 235)));
            }
        }
        if (chroma == "mono") {
            continue;
        }
        for (int plane = 0; plane < 2; ++plane) {
            for (uint32_t y = 0; y < ch; ++y) {
                for (uint32_t x = 0; x < cw; ++x) {
                    const Yuv& c = kQuadrants[(quadrantOf(x, cw, y, ch) + k) % 4].yuv;
                    const int value = plane == 0 ? c.u : c.v;
                    clip.push_back(
                        static_cast<uint8_t>(fullRange ? (value - 128) * 255 / 224 + 128 : value));
                }
            }
        }
    }
    return clip;
}

}  // namespace test
}  // namespace host
}  // namespace vemo
