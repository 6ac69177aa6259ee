#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

// One JPEG file split into the marker segments that come before its first scan and the image
// data from the first scan on. Parsing reads through a bounds-checked cursor and never past the
// bytes it is given; anything malformed or truncated is refused as a whole.
class JpegFile {
public:
    struct Segment {
        uint8_t marker;                // the byte after 0xFF
        std::vector<uint8_t> payload;  // the bytes after the length field
    };

    // Loads the file in data. withImage: also find the entropy-coded data's end (EOI) and take
    // everything from the first SOS marker through EOI as the image data; otherwise stop at the
    // first SOS. The segments are copied; the image data stays where it is, so data must stay
    // valid while the object uses it (until write, clear or the next parse). On failure the
    // object is left empty and false comes back; the reason is logged.
    bool parse(const uint8_t* data, size_t size, bool withImage);
    void clear();

    bool loaded() const { return _loaded; }
    bool hasImage() const { return _imageSize != 0; }
    int width() const { return _width; }
    int height() const { return _height; }
    const std::vector<Segment>& segments() const { return _segments; }

    // The bytes write() puts out with this APP1 payload (none when exifPayload is NULL).
    size_t fileSize(const std::vector<uint8_t>* exifPayload) const;
    // Writes SOI, the APP1 segment with exifPayload (when not NULL), the other segments and the
    // image data. With an EXIF payload, the file's own EXIF segments and its JFIF APP0 are left
    // out, so that the new EXIF segment comes right after SOI. out must hold fileSize() bytes.
    void write(const std::vector<uint8_t>* exifPayload, uint8_t* out) const;

    // An APP1 segment that carries EXIF data.
    static bool isExif(const Segment& segment);
    // An APP0 segment of the JFIF format or of its extension.
    static bool isJfif(const Segment& segment);

    // Largest payload of a marker segment: the 16-bit length counts itself.
    static constexpr size_t kMaxPayload = 65533;

private:
    bool load(const uint8_t* data, size_t size, bool withImage);

    bool _loaded = false;
    int _width = 0;
    int _height = 0;
    std::vector<Segment> _segments;
    const uint8_t* _image = nullptr;  // in the caller's buffer
    size_t _imageSize = 0;
};
