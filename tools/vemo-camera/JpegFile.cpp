#include "JpegFile.h"

#include <stdio.h>
#include <string.h>

#include <libexif/exif-data.h>

namespace vemo {
namespace tools {

namespace {

const uint8_t kMarker = 0xFF;
const uint8_t kStart = 0xD8;
const uint8_t kEnd = 0xD9;
const uint8_t kScan = 0xDA;

bool isStandalone(uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

bool isFrameHeader(uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

const char* ifdName(int ifd) {
    switch (ifd) {
        case EXIF_IFD_0:
            return "IFD0";
        case EXIF_IFD_1:
            return "IFD1";
        default:
            return exif_ifd_get_name(static_cast<ExifIfd>(ifd));
    }
}

// The value as text. libexif shows an undefined-type value by its size only; the GPS
// processing method is text behind an 8-byte character code.
std::string valueText(ExifEntry* entry) {
    static const char kAscii[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
    if (entry->tag == EXIF_TAG_GPS_PROCESSING_METHOD && entry->size >= sizeof(kAscii) &&
        memcmp(entry->data, kAscii, sizeof(kAscii)) == 0) {
        std::string text(reinterpret_cast<const char*>(entry->data) + sizeof(kAscii),
                         entry->size - sizeof(kAscii));
        return text.substr(0, text.find('\0'));
    }
    char value[256];
    exif_entry_get_value(entry, value, sizeof(value));
    return value;
}

size_t be16(const uint8_t* at) {
    return static_cast<size_t>(at[0]) << 8 | at[1];
}

// Walks the file's segments and calls found(marker, offset of its length field) for each
// one with a length. Returns the file's length through its end marker, or 0.
template <typename Found>
size_t walk(const uint8_t* bytes, size_t size, Found found) {
    if (size < 4 || bytes[0] != kMarker || bytes[1] != kStart) {
        return 0;
    }
    size_t pos = 2;
    while (pos < size) {
        if (bytes[pos] != kMarker) {
            return 0;
        }
        while (pos < size && bytes[pos] == kMarker) {
            ++pos;
        }
        if (pos >= size) {
            return 0;
        }
        const uint8_t marker = bytes[pos++];
        if (marker == kEnd) {
            return pos;
        }
        if (isStandalone(marker)) {
            continue;
        }
        if (pos + 2 > size || be16(bytes + pos) < 2 || pos + be16(bytes + pos) > size) {
            return 0;
        }
        found(marker, pos);
        pos += be16(bytes + pos);
        if (marker != kScan) {
            continue;
        }
        // Entropy-coded data: a marker byte followed by 0 is a data byte, by a restart
        // marker part of the data; any other marker ends it.
        while (pos + 1 < size) {
            if (bytes[pos] != kMarker) {
                ++pos;
            } else if (bytes[pos + 1] == 0x00 ||
                       (bytes[pos + 1] >= 0xD0 && bytes[pos + 1] <= 0xD7)) {
                pos += 2;
            } else if (bytes[pos + 1] == kMarker) {
                ++pos;
            } else {
                break;
            }
        }
        if (pos + 1 >= size) {
            return 0;
        }
    }
    return 0;
}

}  // namespace

size_t jpegLength(const uint8_t* bytes, size_t size) {
    return walk(bytes, size, [](uint8_t, size_t) {});
}

bool jpegSize(const uint8_t* bytes, size_t size, int* width, int* height) {
    bool found = false;
    walk(bytes, size, [&](uint8_t marker, size_t at) {
        // Length, precision, height, width.
        if (!found && isFrameHeader(marker) && be16(bytes + at) >= 7) {
            *height = static_cast<int>(be16(bytes + at + 3));
            *width = static_cast<int>(be16(bytes + at + 5));
            found = true;
        }
    });
    return found;
}

std::vector<std::string> exifLines(const uint8_t* bytes, size_t size) {
    std::vector<std::string> lines;
    ExifData* exif = exif_data_new_from_data(bytes, static_cast<unsigned int>(size));
    if (exif == nullptr) {
        return lines;
    }
    for (int ifd = 0; ifd < EXIF_IFD_COUNT; ++ifd) {
        const ExifContent* content = exif->ifd[ifd];
        for (unsigned int i = 0; content != nullptr && i < content->count; ++i) {
            ExifEntry* entry = content->entries[i];
            const char* name = exif_tag_get_name_in_ifd(entry->tag, static_cast<ExifIfd>(ifd));
            char unknown[16];
            if (name == nullptr) {
                snprintf(unknown, sizeof(unknown), "0x%04x", entry->tag);
                name = unknown;
            }
            lines.push_back(std::string(ifdName(ifd)) + " " + name + ": " + valueText(entry));
        }
    }
    if (exif->data != nullptr && exif->size > 0) {
        int width = 0;
        int height = 0;
        std::string line = "thumbnail: " + std::to_string(exif->size) + " bytes";
        if (jpegSize(exif->data, exif->size, &width, &height)) {
            line += ", JPEG " + std::to_string(width) + "x" + std::to_string(height);
        }
        lines.push_back(line);
    }
    exif_data_unref(exif);
    return lines;
}

}  // namespace tools
}  // namespace vemo
