// EXIF data built from text elements with libexif.

#define LOG_TAG "jhead"

#include "ExifEditor.h"

#include <libexif/exif-data.h>
#include <log/log.h>

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <numeric>
#include <string>

#include "JpegFile.h"

namespace {

struct TagInfo {
    const char* name;
    uint16_t tag;
    ExifIfd ifd;
    ExifFormat format;
    unsigned count;  // values the tag takes; 0 for texts, byte strings and lists of any length
};

// Main-directory tags: IFD0 carries those of the image as a file, the EXIF sub-directory those
// of the capture. Some tags have both exiftool's and the EXIF standard's name.
const TagInfo kMainTags[] = {
    {"ImageDescription", 0x010E, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"Make", 0x010F, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"Model", 0x0110, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"Orientation", 0x0112, EXIF_IFD_0, EXIF_FORMAT_SHORT, 1},
    {"XResolution", 0x011A, EXIF_IFD_0, EXIF_FORMAT_RATIONAL, 1},
    {"YResolution", 0x011B, EXIF_IFD_0, EXIF_FORMAT_RATIONAL, 1},
    {"ResolutionUnit", 0x0128, EXIF_IFD_0, EXIF_FORMAT_SHORT, 1},
    {"Software", 0x0131, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"DateTime", 0x0132, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"ModifyDate", 0x0132, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"Artist", 0x013B, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"YCbCrPositioning", 0x0213, EXIF_IFD_0, EXIF_FORMAT_SHORT, 1},
    {"Copyright", 0x8298, EXIF_IFD_0, EXIF_FORMAT_ASCII, 0},
    {"ExposureTime", 0x829A, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"FNumber", 0x829D, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"ExposureProgram", 0x8822, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"ISO", 0x8827, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 0},
    {"ISOSpeedRatings", 0x8827, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 0},
    {"DateTimeOriginal", 0x9003, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"CreateDate", 0x9004, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"DateTimeDigitized", 0x9004, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"ShutterSpeedValue", 0x9201, EXIF_IFD_EXIF, EXIF_FORMAT_SRATIONAL, 1},
    {"ApertureValue", 0x9202, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"BrightnessValue", 0x9203, EXIF_IFD_EXIF, EXIF_FORMAT_SRATIONAL, 1},
    {"ExposureCompensation", 0x9204, EXIF_IFD_EXIF, EXIF_FORMAT_SRATIONAL, 1},
    {"ExposureBiasValue", 0x9204, EXIF_IFD_EXIF, EXIF_FORMAT_SRATIONAL, 1},
    {"MaxApertureValue", 0x9205, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"SubjectDistance", 0x9206, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"MeteringMode", 0x9207, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"LightSource", 0x9208, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"Flash", 0x9209, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"FocalLength", 0x920A, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"UserComment", 0x9286, EXIF_IFD_EXIF, EXIF_FORMAT_UNDEFINED, 0},
    {"SubSecTime", 0x9290, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"SubSecTimeOriginal", 0x9291, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"SubSecTimeDigitized", 0x9292, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
    {"ColorSpace", 0xA001, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"ExifImageWidth", 0xA002, EXIF_IFD_EXIF, EXIF_FORMAT_LONG, 1},
    {"ExifImageHeight", 0xA003, EXIF_IFD_EXIF, EXIF_FORMAT_LONG, 1},
    {"ExposureMode", 0xA402, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"WhiteBalance", 0xA403, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"DigitalZoomRatio", 0xA404, EXIF_IFD_EXIF, EXIF_FORMAT_RATIONAL, 1},
    {"FocalLengthIn35mmFormat", 0xA405, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"SceneCaptureType", 0xA406, EXIF_IFD_EXIF, EXIF_FORMAT_SHORT, 1},
    {"ImageUniqueID", 0xA420, EXIF_IFD_EXIF, EXIF_FORMAT_ASCII, 0},
};

const TagInfo kGpsTags[] = {
    {"GPSVersionID", 0x0000, EXIF_IFD_GPS, EXIF_FORMAT_BYTE, 4},
    {"GPSLatitudeRef", 0x0001, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSLatitude", 0x0002, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 3},
    {"GPSLongitudeRef", 0x0003, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSLongitude", 0x0004, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 3},
    {"GPSAltitudeRef", 0x0005, EXIF_IFD_GPS, EXIF_FORMAT_BYTE, 1},
    {"GPSAltitude", 0x0006, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 1},
    {"GPSTimeStamp", 0x0007, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 3},
    {"GPSSatellites", 0x0008, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSStatus", 0x0009, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSMeasureMode", 0x000A, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSDOP", 0x000B, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 1},
    {"GPSSpeedRef", 0x000C, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSSpeed", 0x000D, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 1},
    {"GPSTrackRef", 0x000E, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSTrack", 0x000F, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 1},
    {"GPSImgDirectionRef", 0x0010, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSImgDirection", 0x0011, EXIF_IFD_GPS, EXIF_FORMAT_RATIONAL, 1},
    {"GPSMapDatum", 0x0012, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSProcessingMethod", 0x001B, EXIF_IFD_GPS, EXIF_FORMAT_UNDEFINED, 0},
    {"GPSAreaInformation", 0x001C, EXIF_IFD_GPS, EXIF_FORMAT_UNDEFINED, 0},
    {"GPSDateStamp", 0x001D, EXIF_IFD_GPS, EXIF_FORMAT_ASCII, 0},
    {"GPSDifferential", 0x001E, EXIF_IFD_GPS, EXIF_FORMAT_SHORT, 1},
};

template <size_t N>
const TagInfo* findByNumber(const TagInfo (&table)[N], unsigned tag) {
    for (const TagInfo& info : table) {
        if (info.tag == tag) {
            return &info;
        }
    }
    return nullptr;
}

template <size_t N>
const TagInfo* findByName(const TagInfo (&table)[N], const char* name) {
    for (const TagInfo& info : table) {
        if (strcmp(info.name, name) == 0) {
            return &info;
        }
    }
    return nullptr;
}

constexpr ExifByteOrder kByteOrder = EXIF_BYTE_ORDER_INTEL;
constexpr unsigned kDpi = 72;
constexpr unsigned kResolutionUnitInch = 2;
constexpr unsigned kYCbCrCentered = 1;
constexpr unsigned kCompressionJpeg = 6;
constexpr unsigned kColorSpaceSrgb = 1;

// One value encoded in an entry's EXIF type, in the byte order of the data.
class EntryBytes {
public:
    explicit EntryBytes(ExifFormat format) : _format(format) {}

    ExifFormat format() const { return _format; }
    unsigned components() const { return _components; }
    const std::vector<uint8_t>& bytes() const { return _bytes; }

    void addShort(unsigned value) {
        exif_set_short(grow(2, 1), kByteOrder, static_cast<ExifShort>(value));
    }
    void addLong(uint32_t value) { exif_set_long(grow(4, 1), kByteOrder, value); }
    void addRational(uint32_t numerator, uint32_t denominator) {
        exif_set_rational(grow(8, 1), kByteOrder, ExifRational{numerator, denominator});
    }
    void addSRational(int32_t numerator, int32_t denominator) {
        exif_set_srational(grow(8, 1), kByteOrder, ExifSRational{numerator, denominator});
    }
    // Bytes, texts and byte strings: one component per byte.
    void addBytes(const void* data, size_t size) { memcpy(grow(size, size), data, size); }

private:
    unsigned char* grow(size_t size, size_t components) {
        const size_t at = _bytes.size();
        _bytes.resize(at + size);
        _components += static_cast<unsigned>(components);
        return _bytes.data() + at;
    }

    ExifFormat _format;
    unsigned _components = 0;
    std::vector<uint8_t> _bytes;
};

bool parseInteger(const std::string& text, long long min, long long max, long long* value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

// A decimal as n / 10^k with the smallest k whose quotient reads back as the same
// single-precision number: "4.309999942779541", which is 4.31 in single precision, becomes
// 431/100. A value finer than that takes the largest power of ten that still fits.
bool decimalToRational(double value, long long min, long long max, long long* numerator,
                       long long* denominator) {
    bool found = false;
    for (long long scale = 1; scale <= 1000000000LL; scale *= 10) {
        const double scaled = round(value * static_cast<double>(scale));
        if (scaled < static_cast<double>(min) || scaled > static_cast<double>(max)) {
            break;
        }
        *numerator = static_cast<long long>(scaled);
        *denominator = scale;
        found = true;
        if (static_cast<float>(scaled / static_cast<double>(scale)) == static_cast<float>(value)) {
            break;
        }
    }
    if (found) {
        const long long divisor = std::gcd(*numerator, *denominator);
        *numerator /= divisor;
        *denominator /= divisor;
    }
    return found;
}

// "n/d" or a decimal.
bool parseRational(const std::string& text, bool isSigned, long long* numerator,
                   long long* denominator) {
    const long long min = isSigned ? INT32_MIN : 0;
    const long long max = isSigned ? INT32_MAX : UINT32_MAX;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        return parseInteger(text.substr(0, slash), min, max, numerator) &&
               parseInteger(text.substr(slash + 1), 1, max, denominator);
    }
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double value = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !isfinite(value)) {
        return false;
    }
    return decimalToRational(value, min, max, numerator, denominator);
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool addNumber(const std::string& text, EntryBytes* out) {
    long long value;
    long long numerator;
    long long denominator;
    switch (out->format()) {
        case EXIF_FORMAT_BYTE: {
            if (!parseInteger(text, 0, UINT8_MAX, &value)) {
                return false;
            }
            const uint8_t byte = static_cast<uint8_t>(value);
            out->addBytes(&byte, 1);
            return true;
        }
        case EXIF_FORMAT_SHORT:
            if (!parseInteger(text, 0, UINT16_MAX, &value)) {
                return false;
            }
            out->addShort(static_cast<unsigned>(value));
            return true;
        case EXIF_FORMAT_LONG:
            if (!parseInteger(text, 0, UINT32_MAX, &value)) {
                return false;
            }
            out->addLong(static_cast<uint32_t>(value));
            return true;
        case EXIF_FORMAT_RATIONAL:
            if (!parseRational(text, false, &numerator, &denominator)) {
                return false;
            }
            out->addRational(static_cast<uint32_t>(numerator), static_cast<uint32_t>(denominator));
            return true;
        case EXIF_FORMAT_SRATIONAL:
            if (!parseRational(text, true, &numerator, &denominator)) {
                return false;
            }
            out->addSRational(static_cast<int32_t>(numerator), static_cast<int32_t>(denominator));
            return true;
        default:
            return false;
    }
}

// The element's value in the tag's type. The value is read up to its DataLength and no further.
bool encodeValue(const TagInfo& info, const ExifElement_t& element, EntryBytes* out) {
    const size_t length = static_cast<size_t>(element.DataLength);
    if (info.format == EXIF_FORMAT_UNDEFINED) {
        // A byte string such as a character code and its text; the NUL that ends the caller's
        // copy is not part of the field.
        size_t size = length;
        if (element.Value[size - 1] == '\0') {
            --size;
        }
        if (size == 0) {
            return false;
        }
        out->addBytes(element.Value, size);
        return true;
    }
    const std::string text(element.Value, strnlen(element.Value, length));
    if (info.format == EXIF_FORMAT_ASCII) {
        out->addBytes(text.c_str(), text.size() + 1);
        return true;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        if (!addNumber(trimmed(text.substr(start, comma - start)), out)) {
            return false;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return info.count == 0 || out->components() == info.count;
}

void setEntry(ExifData* data, ExifMem* mem, ExifIfd ifd, unsigned tag, const EntryBytes& value) {
    ExifContent* content = data->ifd[ifd];
    ExifEntry* previous = exif_content_get_entry(content, static_cast<ExifTag>(tag));
    if (previous != nullptr) {
        exif_content_remove_entry(content, previous);
    }
    ExifEntry* entry = exif_entry_new_mem(mem);
    if (entry == nullptr) {
        ALOGE("ExifEditor: no memory for tag 0x%04X", tag);
        return;
    }
    const size_t size = value.bytes().size();
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, static_cast<ExifLong>(size)));
    if (entry->data == nullptr) {
        ALOGE("ExifEditor: no memory for tag 0x%04X", tag);
        exif_entry_unref(entry);
        return;
    }
    memcpy(entry->data, value.bytes().data(), size);
    entry->size = static_cast<unsigned int>(size);
    entry->tag = static_cast<ExifTag>(tag);
    entry->format = value.format();
    entry->components = value.components();
    exif_content_add_entry(content, entry);
    exif_entry_unref(entry);
}

void setShort(ExifData* data, ExifMem* mem, ExifIfd ifd, unsigned tag, unsigned value) {
    EntryBytes bytes(EXIF_FORMAT_SHORT);
    bytes.addShort(value);
    setEntry(data, mem, ifd, tag, bytes);
}

void setLong(ExifData* data, ExifMem* mem, ExifIfd ifd, unsigned tag, uint32_t value) {
    EntryBytes bytes(EXIF_FORMAT_LONG);
    bytes.addLong(value);
    setEntry(data, mem, ifd, tag, bytes);
}

void setRational(ExifData* data, ExifMem* mem, ExifIfd ifd, unsigned tag, uint32_t numerator,
                 uint32_t denominator) {
    EntryBytes bytes(EXIF_FORMAT_RATIONAL);
    bytes.addRational(numerator, denominator);
    setEntry(data, mem, ifd, tag, bytes);
}

void setBytes(ExifData* data, ExifMem* mem, ExifIfd ifd, unsigned tag, ExifFormat format,
              const void* value, size_t size) {
    EntryBytes bytes(format);
    bytes.addBytes(value, size);
    setEntry(data, mem, ifd, tag, bytes);
}

// The resolution tags of IFD0, and of IFD1 with the thumbnail.
void setResolution(ExifData* data, ExifMem* mem, ExifIfd ifd) {
    setRational(data, mem, ifd, EXIF_TAG_X_RESOLUTION, kDpi, 1);
    setRational(data, mem, ifd, EXIF_TAG_Y_RESOLUTION, kDpi, 1);
    setShort(data, mem, ifd, EXIF_TAG_RESOLUTION_UNIT, kResolutionUnitInch);
}

void setThumbnailTags(ExifData* data, ExifMem* mem, bool present) {
    ExifContent* ifd1 = data->ifd[EXIF_IFD_1];
    while (ifd1->count > 0) {
        exif_content_remove_entry(ifd1, ifd1->entries[0]);
    }
    if (present) {
        setShort(data, mem, EXIF_IFD_1, EXIF_TAG_COMPRESSION, kCompressionJpeg);
        setResolution(data, mem, EXIF_IFD_1);
    }
}

// Copies an ASCII entry to another tag unless that tag is set already.
void copyText(ExifData* data, ExifMem* mem, ExifIfd fromIfd, unsigned from, ExifIfd toIfd,
              unsigned to) {
    const ExifEntry* source =
        exif_content_get_entry(data->ifd[fromIfd], static_cast<ExifTag>(from));
    if (source == nullptr || source->format != EXIF_FORMAT_ASCII || source->size == 0 ||
        exif_content_get_entry(data->ifd[toIfd], static_cast<ExifTag>(to)) != nullptr) {
        return;
    }
    setBytes(data, mem, toIfd, to, EXIF_FORMAT_ASCII, source->data, source->size);
}

void applyElement(ExifData* data, ExifMem* mem, const ExifElement_t& element) {
    if (element.Value == nullptr || element.DataLength <= 0) {
        return;
    }
    const bool gps = element.GpsTag != 0;
    const TagInfo* info =
        gps ? findByNumber(kGpsTags, element.Tag) : findByNumber(kMainTags, element.Tag);
    if (info == nullptr) {
        ALOGE("create_EXIF: unknown %s tag 0x%04X", gps ? "GPS" : "main-directory", element.Tag);
        return;
    }
    EntryBytes value(info->format);
    if (!encodeValue(*info, element, &value)) {
        ALOGE("create_EXIF: %s: the value is not of the tag's type", info->name);
        return;
    }
    setEntry(data, mem, info->ifd, info->tag, value);
}

}  // namespace

ExifEditor::ExifEditor() : _mem(exif_mem_new_default()) {}

ExifEditor::~ExifEditor() {
    clear();
    exif_mem_unref(_mem);
}

void ExifEditor::clear() {
    if (_data != nullptr) {
        exif_data_unref(_data);
        _data = nullptr;
    }
}

void ExifEditor::ensureData() {
    if (_data != nullptr) {
        return;
    }
    _data = exif_data_new_mem(_mem);
    if (_data == nullptr) {
        ALOGE("ExifEditor: no memory for EXIF data");
        return;
    }
    exif_data_set_byte_order(_data, kByteOrder);
    exif_data_set_data_type(_data, EXIF_DATA_TYPE_COMPRESSED);
}

void ExifEditor::load(const std::vector<uint8_t>& payload) {
    clear();
    _data = exif_data_new_mem(_mem);
    if (_data == nullptr) {
        ALOGE("ExifEditor::load: no memory for EXIF data");
        return;
    }
    // Keep the file's tags as they are: no tags added, none dropped, the maker note untouched.
    exif_data_unset_option(_data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_unset_option(_data, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_set_option(_data, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(_data, payload.data(), static_cast<unsigned int>(payload.size()));
}

void ExifEditor::build(const ExifElement_t* elements, int count, bool stampNow, int width,
                       int height) {
    clear();
    ensureData();
    if (_data == nullptr) {
        return;
    }
    setResolution(_data, _mem, EXIF_IFD_0);
    setShort(_data, _mem, EXIF_IFD_0, EXIF_TAG_YCBCR_POSITIONING, kYCbCrCentered);
    setBytes(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION, EXIF_FORMAT_UNDEFINED, "0220", 4);
    static const uint8_t kYCbCrComponents[] = {1, 2, 3, 0};
    setBytes(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_COMPONENTS_CONFIGURATION, EXIF_FORMAT_UNDEFINED,
             kYCbCrComponents, sizeof(kYCbCrComponents));
    setBytes(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_FLASH_PIX_VERSION, EXIF_FORMAT_UNDEFINED, "0100",
             4);
    setShort(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_COLOR_SPACE, kColorSpaceSrgb);
    if (width > 0 && height > 0) {
        setLong(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION,
                static_cast<uint32_t>(width));
        setLong(_data, _mem, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION,
                static_cast<uint32_t>(height));
    }

    for (int i = 0; i < count; ++i) {
        applyElement(_data, _mem, elements[i]);
    }

    if (_data->ifd[EXIF_IFD_GPS]->count > 0 &&
        exif_content_get_entry(_data->ifd[EXIF_IFD_GPS],
                               static_cast<ExifTag>(EXIF_TAG_GPS_VERSION_ID)) == nullptr) {
        static const uint8_t kGpsVersion[] = {2, 2, 0, 0};
        setBytes(_data, _mem, EXIF_IFD_GPS, EXIF_TAG_GPS_VERSION_ID, EXIF_FORMAT_BYTE, kGpsVersion,
                 sizeof(kGpsVersion));
    }
    if (stampNow && exif_content_get_entry(_data->ifd[EXIF_IFD_0], EXIF_TAG_DATE_TIME) == nullptr) {
        const time_t now = time(nullptr);
        struct tm local;
        char text[32];
        if (localtime_r(&now, &local) != nullptr &&
            strftime(text, sizeof(text), "%Y:%m:%d %H:%M:%S", &local) > 0) {
            setBytes(_data, _mem, EXIF_IFD_0, EXIF_TAG_DATE_TIME, EXIF_FORMAT_ASCII, text,
                     strlen(text) + 1);
        }
    }
    // A picture's capture time: the time the file was made, as readers look for it.
    copyText(_data, _mem, EXIF_IFD_0, EXIF_TAG_DATE_TIME, EXIF_IFD_EXIF,
             EXIF_TAG_DATE_TIME_ORIGINAL);
    copyText(_data, _mem, EXIF_IFD_0, EXIF_TAG_DATE_TIME, EXIF_IFD_EXIF,
             EXIF_TAG_DATE_TIME_DIGITIZED);
}

bool ExifEditor::serialise(std::vector<uint8_t>* payload) const {
    unsigned char* bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(_data, &bytes, &size);
    if (bytes == nullptr) {
        return false;
    }
    const bool fits = size <= JpegFile::kMaxPayload;
    if (fits && payload != nullptr) {
        payload->assign(bytes, bytes + size);
    }
    exif_mem_free(_mem, bytes);
    return fits;
}

bool ExifEditor::setThumbnail(const uint8_t* thumb, size_t size) {
    ensureData();
    if (_data == nullptr) {
        return false;
    }
    if (size > JpegFile::kMaxPayload) {
        ALOGE("ReplaceThumbnailFromBuffer: a thumbnail of %zu bytes can't fit the EXIF segment",
              size);
        return false;
    }
    unsigned char* copy = static_cast<unsigned char*>(exif_mem_alloc(_mem, size));
    if (copy == nullptr) {
        ALOGE("ReplaceThumbnailFromBuffer: no memory for %zu bytes", size);
        return false;
    }
    memcpy(copy, thumb, size);
    unsigned char* previous = _data->data;
    const unsigned int previousSize = _data->size;
    _data->data = copy;
    _data->size = static_cast<unsigned int>(size);
    setThumbnailTags(_data, _mem, true);
    if (!serialise(nullptr)) {
        ALOGE("ReplaceThumbnailFromBuffer: a thumbnail of %zu bytes can't fit the EXIF segment",
              size);
        _data->data = previous;
        _data->size = previousSize;
        setThumbnailTags(_data, _mem, previous != nullptr);
        exif_mem_free(_mem, copy);
        return false;
    }
    exif_mem_free(_mem, previous);
    return true;
}

bool ExifEditor::save(std::vector<uint8_t>* payload) const {
    if (_data == nullptr || !serialise(payload)) {
        ALOGE("WriteJpegToBuffer: the EXIF data can't be written into one segment");
        return false;
    }
    return true;
}

int ExifEditor::tagNumber(const char* name, bool gps) {
    if (name == nullptr) {
        return -1;
    }
    const TagInfo* info = gps ? findByName(kGpsTags, name) : findByName(kMainTags, name);
    return info != nullptr ? info->tag : -1;
}
