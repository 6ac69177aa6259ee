// Splitting a JPEG file into its marker segments and its image data, and joining them again.

#define LOG_TAG "jhead"

#include "JpegFile.h"

#include <log/log.h>

#include <string.h>

namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kTem = 0x01;

bool isRestart(uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Markers without a length field.
bool isStandalone(uint8_t marker) {
    return marker == kSoi || marker == kEoi || marker == kTem || isRestart(marker);
}

// Start of frame: SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
bool isFrame(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool startsWith(const std::vector<uint8_t>& payload, const char* text, size_t length) {
    return payload.size() >= length && memcmp(payload.data(), text, length) == 0;
}

// Reads the bytes it was given and nothing else; every read reports whether the bytes were there.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : _data(data), _size(size) {}

    size_t offset() const { return _offset; }

    bool u8(uint8_t* value) {
        if (_size - _offset < 1) {
            return false;
        }
        *value = _data[_offset++];
        return true;
    }

    bool u16(uint16_t* value) {
        if (_size - _offset < 2) {
            return false;
        }
        *value = static_cast<uint16_t>((_data[_offset] << 8) | _data[_offset + 1]);
        _offset += 2;
        return true;
    }

    bool bytes(size_t count, const uint8_t** at) {
        if (_size - _offset < count) {
            return false;
        }
        *at = _data + _offset;
        _offset += count;
        return true;
    }

    // Moves past the next byte equal to value; false when there is none.
    bool skipPast(uint8_t value) {
        const void* found = memchr(_data + _offset, value, _size - _offset);
        if (found == nullptr) {
            _offset = _size;
            return false;
        }
        _offset = static_cast<size_t>(static_cast<const uint8_t*>(found) - _data) + 1;
        return true;
    }

private:
    const uint8_t* _data;
    size_t _size;
    size_t _offset = 0;
};

// Reads a marker: 0xFF, any number of 0xFF fill bytes, then the marker byte.
bool readMarker(Cursor* in, uint8_t* marker) {
    uint8_t byte;
    if (!in->u8(&byte) || byte != kMarkerPrefix) {
        return false;
    }
    do {
        if (!in->u8(&byte)) {
            return false;
        }
    } while (byte == kMarkerPrefix);
    *marker = byte;
    return true;
}

// Reads the length field of a segment and steps over its payload.
bool readPayload(Cursor* in, const uint8_t** payload, size_t* size) {
    uint16_t length;
    if (!in->u16(&length) || length < 2) {
        return false;
    }
    *size = length - 2u;
    return in->bytes(*size, payload);
}

// The end of the image data that starts at begin: just past its EOI marker. Entropy-coded data
// never holds the bytes FF D9 (a 0xFF in it is followed by a stuffed 0x00 or a restart marker),
// so the last EOI of the buffer ends the image; looking for it from the end costs nothing for a
// whole file, where it is the last two bytes, whatever the size of the image. NULL without one.
const uint8_t* findEndOfImage(const uint8_t* begin, const uint8_t* end) {
    while (end - begin >= 2) {
        const void* found = memrchr(begin + 1, kEoi, static_cast<size_t>(end - begin - 1));
        if (found == nullptr) {
            return nullptr;
        }
        const uint8_t* at = static_cast<const uint8_t*>(found);
        if (at[-1] == kMarkerPrefix) {
            return at + 1;
        }
        end = at;
    }
    return nullptr;
}

}  // namespace

void JpegFile::clear() {
    _loaded = false;
    _width = 0;
    _height = 0;
    _segments.clear();
    _image = nullptr;
    _imageSize = 0;
}

bool JpegFile::parse(const uint8_t* data, size_t size, bool withImage) {
    clear();
    if (!load(data, size, withImage)) {
        clear();
        return false;
    }
    _loaded = true;
    return true;
}

bool JpegFile::load(const uint8_t* data, size_t size, bool withImage) {
    if (data == nullptr) {
        ALOGE("JpegFile::parse: no data");
        return false;
    }
    Cursor in(data, size);
    uint8_t marker;
    if (!readMarker(&in, &marker) || marker != kSoi) {
        ALOGE("JpegFile::parse: no SOI marker");
        return false;
    }
    bool haveFrame = false;
    size_t scanStart = 0;
    for (;;) {
        if (!readMarker(&in, &marker)) {
            ALOGE("JpegFile::parse: no marker at offset %zu", in.offset());
            return false;
        }
        const size_t markerAt = in.offset() - 2;
        if (isStandalone(marker)) {
            ALOGE("JpegFile::parse: marker 0x%02X before the first scan", marker);
            return false;
        }
        const uint8_t* payload;
        size_t payloadSize;
        if (!readPayload(&in, &payload, &payloadSize)) {
            ALOGE("JpegFile::parse: segment 0x%02X at offset %zu is truncated", marker, markerAt);
            return false;
        }
        if (isFrame(marker)) {
            // Precision, then the 16-bit height and width.
            if (payloadSize < 5) {
                ALOGE("JpegFile::parse: frame header of %zu bytes", payloadSize);
                return false;
            }
            _height = (payload[1] << 8) | payload[2];
            _width = (payload[3] << 8) | payload[4];
            haveFrame = true;
        }
        if (marker == kSos) {
            if (!haveFrame) {
                ALOGE("JpegFile::parse: scan without a frame header");
                return false;
            }
            scanStart = markerAt;
            break;
        }
        _segments.push_back(Segment{marker, std::vector<uint8_t>(payload, payload + payloadSize)});
    }
    if (withImage) {
        const uint8_t* end = findEndOfImage(data + in.offset(), data + size);
        if (end == nullptr) {
            ALOGE("JpegFile::parse: image data ends without EOI");
            return false;
        }
        _image = data + scanStart;
        _imageSize = static_cast<size_t>(end - _image);
    }
    return true;
}

bool JpegFile::isExif(const Segment& segment) {
    return segment.marker == kApp1 && startsWith(segment.payload, "Exif\0\0", 6);
}

bool JpegFile::isJfif(const Segment& segment) {
    return segment.marker == kApp0 &&
           (startsWith(segment.payload, "JFIF\0", 5) || startsWith(segment.payload, "JFXX\0", 5));
}

namespace {

bool keptWith(const std::vector<uint8_t>* exifPayload, const JpegFile::Segment& segment) {
    return exifPayload == nullptr || (!JpegFile::isExif(segment) && !JpegFile::isJfif(segment));
}

uint8_t* putSegment(uint8_t marker, const std::vector<uint8_t>& payload, uint8_t* out) {
    const size_t length = payload.size() + 2;
    *out++ = kMarkerPrefix;
    *out++ = marker;
    *out++ = static_cast<uint8_t>(length >> 8);
    *out++ = static_cast<uint8_t>(length);
    if (!payload.empty()) {
        memcpy(out, payload.data(), payload.size());
    }
    return out + payload.size();
}

}  // namespace

size_t JpegFile::fileSize(const std::vector<uint8_t>* exifPayload) const {
    size_t size = 2 + _imageSize;
    if (exifPayload != nullptr) {
        size += 4 + exifPayload->size();
    }
    for (const Segment& segment : _segments) {
        if (keptWith(exifPayload, segment)) {
            size += 4 + segment.payload.size();
        }
    }
    return size;
}

void JpegFile::write(const std::vector<uint8_t>* exifPayload, uint8_t* out) const {
    *out++ = kMarkerPrefix;
    *out++ = kSoi;
    if (exifPayload != nullptr) {
        out = putSegment(kApp1, *exifPayload, out);
    }
    for (const Segment& segment : _segments) {
        if (keptWith(exifPayload, segment)) {
            out = putSegment(segment.marker, segment.payload, out);
        }
    }
    if (_imageSize != 0) {
        memcpy(out, _image, _imageSize);
    }
}
