#pragma once

#include <jhead.h>

#include <stddef.h>
#include <stdint.h>

#include <vector>

typedef struct _ExifData ExifData;
typedef struct _ExifMem ExifMem;

// The EXIF data of the file being edited, held as libexif's tree of directories: built from
// elements given as text, or loaded from the file; given a thumbnail; serialised into the
// payload of an APP1 segment ("Exif\0\0" and the TIFF structure).
class ExifEditor {
public:
    ExifEditor();
    ~ExifEditor();
    ExifEditor(const ExifEditor&) = delete;
    ExifEditor& operator=(const ExifEditor&) = delete;

    // Forgets the EXIF data.
    void clear();
    bool empty() const { return _data == nullptr; }

    // Takes the EXIF data of a file's APP1 payload as it is; what libexif can't read is left out.
    void load(const std::vector<uint8_t>& payload);

    // Replaces the EXIF data with the elements (count of them, main-directory and GPS ones in
    // any order) and the tags a reader expects of a camera picture. width and height are the
    // image's, for the pixel dimensions; 0 leaves them out. stampNow: DateTime is the local time
    // now unless an element gives it. DateTimeOriginal and CreateDate repeat DateTime unless
    // given. An element that can't be converted is skipped and logged.
    void build(const ExifElement_t* elements, int count, bool stampNow, int width, int height);

    // Makes the JPEG file thumb the thumbnail. False, with the previous thumbnail kept, when the
    // EXIF data would then no longer fit one APP1 segment.
    bool setThumbnail(const uint8_t* thumb, size_t size);

    // The APP1 payload. False when the EXIF data doesn't fit one segment or can't be written.
    bool save(std::vector<uint8_t>* payload) const;

    // The tag number of a main-directory or GPS tag name as exiftool spells it; -1 when unknown.
    static int tagNumber(const char* name, bool gps);

private:
    void ensureData();
    // Serialises into payload (when not NULL); false, without logging, when it doesn't fit.
    bool serialise(std::vector<uint8_t>* payload) const;

    ExifMem* _mem;
    ExifData* _data = nullptr;
};
