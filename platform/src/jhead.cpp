// The EXIF library: one JPEG file at a time in a global working state, its segments kept by
// JpegFile and its new EXIF data by ExifEditor.

#define LOG_TAG "jhead"

#include <jhead.h>
#include <log/log.h>

#include <limits.h>

#include "ExifEditor.h"
#include "JpegFile.h"

namespace {

struct WorkingFile {
    JpegFile file;
    // Empty while the file's own EXIF segment, if any, is to be written back unchanged.
    ExifEditor exif;
};

WorkingFile& working() {
    static WorkingFile state;
    return state;
}

// Starts editing the EXIF data of the loaded file from what it carries.
void adoptFileExif(WorkingFile* state) {
    for (const JpegFile::Segment& segment : state->file.segments()) {
        if (JpegFile::isExif(segment)) {
            state->exif.load(segment.payload);
            return;
        }
    }
    state->exif.build(nullptr, 0, false, state->file.width(), state->file.height());
}

}  // namespace

extern "C" void ResetJpgfile(void) {
    WorkingFile& state = working();
    state.file.clear();
    state.exif.clear();
}

extern "C" int ReadJpegSectionsFromBuffer(unsigned char* buffer, unsigned int buffer_size,
                                          ReadMode_t ReadMode) {
    ResetJpgfile();
    return working().file.parse(buffer, buffer_size, (ReadMode & READ_IMAGE) != 0) ? 1 : 0;
}

extern "C" void create_EXIF(ExifElement_t* elements, int exifTagCount, int gpsTagCount,
                            int hasDateTimeTag) {
    WorkingFile& state = working();
    if (!state.file.loaded()) {
        ALOGE("create_EXIF: no file loaded");
        return;
    }
    int count = (exifTagCount > 0 ? exifTagCount : 0) + (gpsTagCount > 0 ? gpsTagCount : 0);
    if (elements == nullptr) {
        count = 0;
    }
    state.exif.build(elements, count, hasDateTimeTag == 0, state.file.width(), state.file.height());
}

extern "C" int ReplaceThumbnailFromBuffer(const char* Thumb, int ThumbLen) {
    WorkingFile& state = working();
    if (!state.file.loaded()) {
        ALOGE("ReplaceThumbnailFromBuffer: no file loaded");
        return 0;
    }
    if (Thumb == nullptr || ThumbLen <= 0) {
        ALOGE("ReplaceThumbnailFromBuffer: no thumbnail");
        return 0;
    }
    const uint8_t* thumb = reinterpret_cast<const uint8_t*>(Thumb);
    const size_t size = static_cast<size_t>(ThumbLen);
    JpegFile thumbnail;
    if (!thumbnail.parse(thumb, size, true)) {
        return 0;
    }
    if (state.exif.empty()) {
        adoptFileExif(&state);
    }
    return state.exif.setThumbnail(thumb, size) ? 1 : 0;
}

extern "C" int WriteJpegToBuffer(unsigned char* buffer, unsigned int buffer_size) {
    WorkingFile& state = working();
    if (!state.file.hasImage()) {
        ALOGE("WriteJpegToBuffer: no image loaded");
        return 0;
    }
    if (buffer == nullptr) {
        ALOGE("WriteJpegToBuffer: no buffer");
        return 0;
    }
    std::vector<uint8_t> payload;
    const std::vector<uint8_t>* exif = nullptr;
    if (!state.exif.empty()) {
        if (!state.exif.save(&payload)) {
            return 0;
        }
        exif = &payload;
    }
    const size_t size = state.file.fileSize(exif);
    if (size > buffer_size || size > INT_MAX) {
        ALOGE("WriteJpegToBuffer: a file of %zu bytes doesn't fit %u bytes", size, buffer_size);
        return 0;
    }
    state.file.write(exif, buffer);
    return static_cast<int>(size);
}

extern "C" int TagNameToValue(const char* tagName) {
    return ExifEditor::tagNumber(tagName, false);
}

extern "C" int GpsTagNameToValue(const char* tagName) {
    return ExifEditor::tagNumber(tagName, true);
}
