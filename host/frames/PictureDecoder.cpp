#include "PictureDecoder.h"

#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <png.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace vemo {
namespace host {

namespace {

constexpr uint8_t kJpegMagic[] = {0xFF, 0xD8, 0xFF};
constexpr uint8_t kPngMagic[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool startsWith(const uint8_t* data, size_t size, const uint8_t* magic, size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

bool checkSize(uint64_t width, uint64_t height, std::string* error) {
    if (width == 0 || height == 0 || width > PictureDecoder::kMaxSide ||
        height > PictureDecoder::kMaxSide || width * height > PictureDecoder::kMaxPixels) {
        *error = "a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                 " pixels, which is empty or more than " +
                 std::to_string(PictureDecoder::kMaxSide) + " a side or " +
                 std::to_string(PictureDecoder::kMaxPixels >> 20) + " megapixels";
        return false;
    }
    return true;
}

bool decodeJpeg(const uint8_t* data, size_t size, Picture* picture, std::string* error) {
    const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    if (decoder == nullptr) {
        *error = std::string("not decodable here: no JPEG decompressor (") +
                 tjGetErrorStr2(nullptr) + ")";
        return false;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    auto* bytes = const_cast<unsigned char*>(data);
    const unsigned long length = static_cast<unsigned long>(size);
    if (tjDecompressHeader3(decoder.get(), bytes, length, &width, &height, &subsampling,
                            &colourspace) != 0) {
        *error = std::string("not a readable JPEG picture (") + tjGetErrorStr2(decoder.get()) + ")";
        return false;
    }
    if (width <= 0 || height <= 0) {
        *error = "not a readable JPEG picture (no frame header)";
        return false;
    }
    if (!checkSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error)) {
        return false;
    }
    picture->width = static_cast<uint32_t>(width);
    picture->height = static_cast<uint32_t>(height);
    picture->argb.resize(static_cast<size_t>(width) * height * 4);
    // Warnings (a few bytes missing at the end, say) still give a whole picture; errors don't.
    if (tjDecompress2(decoder.get(), bytes, length, picture->argb.data(), width, width * 4, height,
                      TJPF_BGRA, TJFLAG_STOPONWARNING) != 0) {
        *error = std::string("not a whole JPEG picture (") + tjGetErrorStr2(decoder.get()) + ")";
        return false;
    }
    return true;
}

bool decodePng(const uint8_t* data, size_t size, Picture* picture, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, data, size) == 0) {
        *error = std::string("not a readable PNG picture (") + image.message + ")";
        png_image_free(&image);
        return false;
    }
    if (!checkSize(image.width, image.height, error)) {
        png_image_free(&image);
        return false;
    }
    // libpng lays transparent pixels on the background as it reads: B, G, R bytes, which libyuv
    // calls RGB24.
    image.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> bgr(PNG_IMAGE_SIZE(image));
    const png_color white = {0xFF, 0xFF, 0xFF};
    if (png_image_finish_read(&image, &white, bgr.data(), 0, nullptr) == 0) {
        *error = std::string("not a whole PNG picture (") + image.message + ")";
        png_image_free(&image);
        return false;
    }
    picture->width = image.width;
    picture->height = image.height;
    const int width = static_cast<int>(image.width);
    const int height = static_cast<int>(image.height);
    picture->argb.resize(static_cast<size_t>(width) * height * 4);
    libyuv::RGB24ToARGB(bgr.data(), width * 3, picture->argb.data(), width * 4, width, height);
    return true;
}

// The whole file at path, at most PictureDecoder::kMaxFileBytes of it.
bool readFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (!ok) {
        *error = path + " is not a file";
    } else if (static_cast<uint64_t>(info.st_size) > PictureDecoder::kMaxFileBytes) {
        *error = path + " is larger than " + std::to_string(PictureDecoder::kMaxFileBytes >> 20) +
                 " MiB";
        ok = false;
    }
    bytes->resize(ok ? static_cast<size_t>(info.st_size) : 0);
    size_t done = 0;
    while (ok && done < bytes->size()) {
        const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = "cannot read " + path + ": " + (n < 0 ? std::strerror(errno) : "it shrank");
            ok = false;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool PictureDecoder::decode(const uint8_t* data, size_t size, Picture* picture,
                            std::string* error) {
    if (startsWith(data, size, kJpegMagic, sizeof(kJpegMagic))) {
        return decodeJpeg(data, size, picture, error);
    }
    if (startsWith(data, size, kPngMagic, sizeof(kPngMagic))) {
        return decodePng(data, size, picture, error);
    }
    *error = "neither a JPEG nor a PNG picture";
    return false;
}

bool PictureDecoder::decodeFile(const std::string& path, Picture* picture, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, &bytes, error)) {
        return false;
    }
    std::string why;
    if (!decode(bytes.data(), bytes.size(), picture, &why)) {
        *error = path + " is " + why;
        return false;
    }
    return true;
}

}  // namespace host
}  // namespace vemo
