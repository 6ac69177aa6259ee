#include "WindowBuffers.h"

#include <endian.h>
#include <fcntl.h>
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vemo/gralloc_shm.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "BusErrorGuard.h"

namespace vemo {
namespace host {

namespace {

constexpr uint32_t kRgb888 = 3;  // HAL_PIXEL_FORMAT_RGB_888
constexpr uint32_t kBytesPerPixel = 3;
// Ids whose failure is remembered; a guest that cycles through more starts afresh.
constexpr size_t kMaxFailing = 1024;
constexpr const char* kShrank = "the object shrank while the frame was written";

// Header fields, by offset.
constexpr size_t kMagic = 0;
constexpr size_t kVersion = 4;
constexpr size_t kWidth = 8;
constexpr size_t kHeight = 12;
constexpr size_t kStride = 16;
constexpr size_t kFormat = 20;
constexpr size_t kCapacity = 24;
constexpr size_t kSequence = 28;
constexpr size_t kTimestamp = 32;
constexpr size_t kFrameNumber = 40;

uint32_t loadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof(v));
    return le32toh(v);
}

void storeLe32(uint8_t* p, uint32_t v) {
    v = htole32(v);
    std::memcpy(p, &v, sizeof(v));
}

void storeLe64(uint8_t* p, uint64_t v) {
    v = htole64(v);
    std::memcpy(p, &v, sizeof(v));
}

std::string objectName(uint32_t id) {
    char name[32];
    std::snprintf(name, sizeof(name), VEMO_GRALLOC_NAME_FORMAT, id);
    return name;
}

}  // namespace

WindowBuffers::~WindowBuffers() {
    while (!_mapped.empty()) {
        unmap(_mapped.size() - 1);
    }
}

std::vector<uint32_t> WindowBuffers::mappedIds() const {
    std::vector<Mapping> byUse = _mapped;
    std::sort(byUse.begin(), byUse.end(),
              [](const Mapping& a, const Mapping& b) { return a.lastUse < b.lastUse; });
    std::vector<uint32_t> ids;
    for (const Mapping& mapping : byUse) {
        ids.push_back(mapping.id);
    }
    return ids;
}

void WindowBuffers::unmap(size_t index) {
    ::munmap(_mapped[index].base, _mapped[index].size);
    ::close(_mapped[index].fd);
    _mapped.erase(_mapped.begin() + static_cast<ptrdiff_t>(index));
}

WindowBuffers::Mapping* WindowBuffers::map(uint32_t id, std::string* why) {
    const auto known =
        std::find_if(_mapped.begin(), _mapped.end(), [id](const Mapping& m) { return m.id == id; });
    if (known != _mapped.end()) {
        struct stat info {};
        if (::fstat(known->fd, &info) == 0 && info.st_nlink > 0 &&
            static_cast<size_t>(info.st_size) == known->size) {
            known->lastUse = ++_uses;
            return &*known;
        }
        unmap(static_cast<size_t>(known - _mapped.begin()));
    }

    const std::string name = objectName(id);
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        *why = "no shared memory object " + name + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = name + " is not a shared memory object";
    } else if (static_cast<uint64_t>(info.st_size) < VEMO_GRALLOC_HEADER_SIZE) {
        *why = name + " has " + std::to_string(info.st_size) + " bytes, less than its " +
               std::to_string(VEMO_GRALLOC_HEADER_SIZE) + "-byte header";
    } else if (static_cast<uint64_t>(info.st_size) > kMaxObjectSize) {
        *why = name + " has " + std::to_string(info.st_size) + " bytes, more than the " +
               std::to_string(kMaxObjectSize) + " a window buffer may have";
    }
    void* base = MAP_FAILED;
    if (why->empty()) {
        base = ::mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ | PROT_WRITE,
                      MAP_SHARED, fd, 0);
        if (base == MAP_FAILED) {
            *why = "cannot map " + name + ": " + std::strerror(errno);
        }
    }
    if (!why->empty()) {
        ::close(fd);
        return nullptr;
    }
    if (_mapped.size() >= kMaxMapped) {
        const auto oldest = std::min_element(
            _mapped.begin(), _mapped.end(),
            [](const Mapping& a, const Mapping& b) { return a.lastUse < b.lastUse; });
        unmap(static_cast<size_t>(oldest - _mapped.begin()));
    }
    _mapped.push_back(
        Mapping{id, fd, static_cast<uint8_t*>(base), static_cast<size_t>(info.st_size), ++_uses});
    return &_mapped.back();
}

bool WindowBuffers::draw(Mapping& mapping, const Picture& picture, std::string* why) {
    BusErrorGuard guard(mapping.base, mapping.size);
    // One copy of the header: what is checked is what is used, whatever the guest writes
    // meanwhile.
    uint8_t header[VEMO_GRALLOC_HEADER_SIZE];
    std::memcpy(header, mapping.base, sizeof(header));
    const uint32_t magic = loadLe32(header + kMagic);
    const uint32_t version = loadLe32(header + kVersion);
    const uint32_t width = loadLe32(header + kWidth);
    const uint32_t height = loadLe32(header + kHeight);
    const uint32_t stride = loadLe32(header + kStride);
    const uint32_t format = loadLe32(header + kFormat);
    const uint32_t capacity = loadLe32(header + kCapacity);
    const uint64_t rows = static_cast<uint64_t>(stride) * height;
    const uint64_t room = mapping.size - VEMO_GRALLOC_HEADER_SIZE;
    char text[160];
    if (magic != VEMO_GRALLOC_MAGIC) {
        std::snprintf(text, sizeof(text), "magic 0x%08X is not 0x%08X", magic, VEMO_GRALLOC_MAGIC);
    } else if (version != VEMO_GRALLOC_VERSION) {
        std::snprintf(text, sizeof(text), "version %u is not %u", version, VEMO_GRALLOC_VERSION);
    } else if (format != kRgb888) {
        std::snprintf(text, sizeof(text), "format %u is not %u (RGB888)", format, kRgb888);
    } else if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        std::snprintf(text, sizeof(text), "size %ux%u is not from 1 to %u each way", width, height,
                      kMaxSide);
    } else if (stride < width * kBytesPerPixel) {
        std::snprintf(text, sizeof(text), "stride %u is less than the %u bytes of a row", stride,
                      width * kBytesPerPixel);
    } else if (rows > capacity) {
        std::snprintf(text, sizeof(text), "%u rows of %u bytes do not fit the capacity of %u",
                      height, stride, capacity);
    } else if (rows > room) {
        std::snprintf(text, sizeof(text),
                      "%u rows of %u bytes do not fit the %llu bytes after the header", height,
                      stride, static_cast<unsigned long long>(room));
    } else {
        text[0] = '\0';
    }
    if (text[0] != '\0') {
        *why = guard.faulted() ? kShrank : text;
        return false;
    }

    uint8_t* pixels = mapping.base + VEMO_GRALLOC_HEADER_SIZE;
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    const int pw = static_cast<int>(picture.size.width);
    const int ph = static_cast<int>(picture.size.height);
    if (w == pw && h == ph) {
        libyuv::CopyPlane(picture.rgb, pw * 3, pixels, static_cast<int>(stride), w * 3, h);
    } else {
        _argbIn.resize(picture.size.pixels() * 4);
        _argbOut.resize(static_cast<size_t>(width) * height * 4);
        libyuv::RAWToARGB(picture.rgb, pw * 3, _argbIn.data(), pw * 4, pw, ph);
        libyuv::ARGBScale(_argbIn.data(), pw * 4, pw, ph, _argbOut.data(), w * 4, w, h,
                          libyuv::kFilterBilinear);
        libyuv::ARGBToRAW(_argbOut.data(), w * 4, pixels, static_cast<int>(stride), w, h);
    }
    storeLe32(mapping.base + kFrameNumber, static_cast<uint32_t>(picture.number));
    storeLe64(mapping.base + kTimestamp, picture.timestamp);
    // Release: a reader that sees the new sequence sees the frame and the fields before it.
    auto* sequence = reinterpret_cast<uint32_t*>(mapping.base + kSequence);
    __atomic_store_n(sequence, htole32(loadLe32(mapping.base + kSequence) + 1), __ATOMIC_RELEASE);
    if (guard.faulted()) {
        *why = kShrank;
        return false;
    }
    return true;
}

CallStatus WindowBuffers::write(uint32_t id, const Picture& picture) {
    std::string why;
    Mapping* mapping = map(id, &why);
    if (mapping == nullptr) {
        return failure(id, why);
    }
    if (!draw(*mapping, picture, &why)) {
        // Dropped, so that the next frame looks at the object afresh.
        unmap(static_cast<size_t>(mapping - _mapped.data()));
        return failure(id, why);
    }
    _failing.erase(id);
    return CallStatus::ok();
}

CallStatus WindowBuffers::failure(uint32_t id, const std::string& why) {
    const std::string text = "window buffer " + std::to_string(id) + ": " + why;
    if (_failing.count(id) != 0) {
        return CallStatus::repeatedError(text);
    }
    if (_failing.size() >= kMaxFailing) {
        _failing.clear();
    }
    _failing.insert(id);
    return CallStatus::error(text);
}

}  // namespace host
}  // namespace vemo
