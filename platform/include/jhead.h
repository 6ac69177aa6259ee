#pragma once

// The EXIF library: it loads one JPEG file into its working state, replaces the file's EXIF
// data with elements given as text, replaces the thumbnail, and writes the file back. One file
// at a time: the state is global and not thread-safe.

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    READ_METADATA = 1,
    READ_IMAGE = 2,
    READ_ALL = 3,
} ReadMode_t;

// One EXIF element: the tag number, the value as text, and whether it belongs to the GPS
// directory. The library turns the text into the tag's EXIF type (rationals from "n/d" lists or
// decimals, numbers, texts). Format is the library's.
typedef struct {
    unsigned short Tag;
    int Format;
    char* Value;  // NUL-terminated text, DataLength bytes with the NUL
    int DataLength;
    int GpsTag;  // non-zero for a GPS tag
} ExifElement_t;

// Forgets the file loaded before.
void ResetJpgfile(void);

// Loads the JPEG file in buffer. Non-zero on success, 0 when it is not a whole JPEG file. The
// image data is read from buffer when the file is written: buffer must stay valid until
// WriteJpegToBuffer or ResetJpgfile.
int ReadJpegSectionsFromBuffer(unsigned char* buffer, unsigned int buffer_size,
                               ReadMode_t ReadMode);

// Replaces the EXIF data of the loaded file with the elements: exifTagCount of the main
// directories and gpsTagCount of the GPS directory, in any order in the array.
void create_EXIF(ExifElement_t* elements, int exifTagCount, int gpsTagCount, int hasDateTimeTag);

// Puts the JPEG file Thumb into the EXIF data as its thumbnail. Non-zero on success.
int ReplaceThumbnailFromBuffer(const char* Thumb, int ThumbLen);

// Writes the whole file into buffer. The bytes written, or 0 when it does not fit or nothing
// is loaded.
int WriteJpegToBuffer(unsigned char* buffer, unsigned int buffer_size);

// The number of a tag of the main directories ("Make", "FocalLength", ...) or of the GPS
// directory ("GPSLatitude", ...); -1 for a name the library does not know.
int TagNameToValue(const char* tagName);
int GpsTagNameToValue(const char* tagName);

#ifdef __cplusplus
}
#endif
