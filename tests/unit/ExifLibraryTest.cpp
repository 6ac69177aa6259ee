// The EXIF library: files it writes read back in exiftool with every tag in its directory and
// type, the rest of the file survives, and hostile input is refused without a read out of
// bounds.

#include <gtest/gtest.h>

#include <jhead.h>

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>

#include "ImagingSupport.h"
#include "support/HostProcess.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace vemo {
namespace test {
namespace {

// What exiftool's verbose listing says of a tag: its value, rationals followed by their
// "(n/d ...)" list, and its stored type ("string[5]", "rational64u[3]", ...).
struct ExifField {
    std::string value;
    std::string type;
};

const char kExiftool[] = "/usr/bin/exiftool";

std::string exiftool(const std::vector<std::string>& args) {
    return runProgram(kExiftool, args).out;
}

// A file of the bytes for exiftool to read, removed at the end of the test.
struct TempFile {
    explicit TempFile(const std::vector<uint8_t>& bytes) : path(folder.file("picture.jpg")) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    const TempFolder folder;
    const std::string path;
};

// The EXIF tags of the file as exiftool reads them, keyed "<directory>:<tag name>" with the
// directories IFD0, ExifIFD, GPS and IFD1. The verbose listing nests each directory one "| "
// deeper than the entry that points at it:
//   + [IFD0 directory with 10 entries]
//   | 0)  Make = Vemo
//   |     - Tag 0x010f (5 bytes, string[5])
std::map<std::string, ExifField> exiftoolFields(const std::string& path) {
    static const std::regex directory(R"(^\s*((?:\| )*)\+ \[(\w+) directory)");
    static const std::regex entry(R"(^\s*((?:\| )*)\d+\)\s+(\w+) = (.*)$)");
    static const std::regex type(R"(- Tag 0x[0-9a-f]+ \(\d+ bytes, (\w+\[\d+\]))");
    std::map<std::string, ExifField> fields;
    std::vector<std::string> directories;
    std::string pending;
    std::istringstream listing(exiftool({"-v2", path}));
    std::string line;
    std::smatch match;
    while (std::getline(listing, line)) {
        if (std::regex_search(line, match, directory)) {
            directories.resize(match[1].length() / 2);
            directories.push_back(match[2]);
        } else if (std::regex_search(line, match, entry)) {
            const size_t depth = match[1].length() / 2;
            pending.clear();
            if (depth >= 1 && depth <= directories.size()) {
                pending = directories[depth - 1] + ":" + match[2].str();
                fields[pending].value = match[3];
            }
        } else if (!pending.empty() && std::regex_search(line, match, type)) {
            fields[pending].type = match[1];
            pending.clear();
        }
    }
    return fields;
}

void expectFields(std::map<std::string, ExifField>& fields,
                  const std::map<std::string, ExifField>& expected) {
    for (const auto& [key, field] : expected) {
        EXPECT_EQ(fields[key].value, field.value) << key;
        EXPECT_EQ(fields[key].type, field.type) << key;
    }
}

// The markers of a JPEG file's segments up to its first scan.
std::vector<uint8_t> segmentMarkers(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> markers;
    for (size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF;
         at += 2 + ((file[at + 2] << 8) | file[at + 3])) {
        markers.push_back(file[at + 1]);
        if (file[at + 1] == 0xDA) {
            break;
        }
    }
    return markers;
}

// Elements as the camera module hands them over: each value a heap copy of exactly DataLength
// bytes, so that a read past it is caught by the address sanitizer.
class Elements {
public:
    void add(const char* name, const std::string& text, bool gps) {
        add(gps ? GpsTagNameToValue(name) : TagNameToValue(name), text,
            static_cast<int>(text.size()) + 1, gps);
    }

    void add(int tag, const std::string& text, int dataLength, bool gps) {
        ExifElement_t element{};
        element.Tag = static_cast<unsigned short>(tag);
        element.GpsTag = gps ? 1 : 0;
        element.DataLength = dataLength;
        if (dataLength > 0) {
            _values.emplace_back(new char[dataLength]);
            memcpy(_values.back().get(), text.c_str(),
                   std::min(static_cast<size_t>(dataLength), text.size() + 1));
            element.Value = _values.back().get();
        }
        _elements.push_back(element);
        ++(gps ? _gps : _main);
    }

    void create(int hasDateTimeTag = 1) {
        create_EXIF(_elements.data(), _main, _gps, hasDateTimeTag);
    }

private:
    std::vector<std::unique_ptr<char[]>> _values;
    std::vector<ExifElement_t> _elements;
    int _main = 0;
    int _gps = 0;
};

const std::string kProcessingMethod("ASCII\0\0\0GPS", 11);

Elements cameraElements() {
    Elements elements;
    elements.add("Make", "Vemo", false);
    elements.add("Model", "Vemo", false);
    elements.add("FocalLength", "4.309999942779541", false);
    elements.add("Orientation", "6", false);
    elements.add("DateTime", "2026:12:06 14:05:09", false);
    elements.add("GPSLatitude", "37/1,25/1,19199/1000", true);
    elements.add("GPSLongitude", "122/1,5/1,2400/1000", true);
    elements.add("GPSLatitudeRef", "N", true);
    elements.add("GPSLongitudeRef", "W", true);
    elements.add("GPSAltitude", "3/1", true);
    elements.add("GPSAltitudeRef", "1", true);
    elements.add("GPSTimeStamp", "14/1,5/1,9/1", true);
    elements.add("GPSDateStamp", "2026:12:06", true);
    elements.add("GPSProcessingMethod", kProcessingMethod, true);
    return elements;
}

// Loads file, which is kept until the next load: the library reads the image data from it when
// it writes.
int load(std::vector<uint8_t> file, ReadMode_t mode = READ_IMAGE) {
    static std::vector<uint8_t> loaded;
    ResetJpgfile();
    loaded = std::move(file);
    return ReadJpegSectionsFromBuffer(loaded.data(), static_cast<unsigned int>(loaded.size()),
                                      mode);
}

int replaceThumbnail(const std::vector<uint8_t>& thumbnail) {
    return ReplaceThumbnailFromBuffer(reinterpret_cast<const char*>(thumbnail.data()),
                                      static_cast<int>(thumbnail.size()));
}

std::vector<uint8_t> written(size_t capacity = 1 << 20) {
    std::vector<uint8_t> file(capacity);
    const int size = WriteJpegToBuffer(file.data(), static_cast<unsigned int>(capacity));
    file.resize(size > 0 ? static_cast<size_t>(size) : 0);
    return file;
}

std::vector<uint8_t> withSegment(std::vector<uint8_t> file, size_t at, uint8_t marker,
                                 const std::string& payload) {
    std::vector<uint8_t> segment = {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
                                    static_cast<uint8_t>(payload.size() + 2)};
    segment.insert(segment.end(), payload.begin(), payload.end());
    file.insert(file.begin() + static_cast<ptrdiff_t>(at), segment.begin(), segment.end());
    return file;
}

// A JPEG file of exactly size bytes: a comment segment pads a small picture.
std::vector<uint8_t> jpegOfSize(size_t size) {
    const std::vector<uint8_t> picture = encodedPicture(16, 16);
    return withSegment(picture, 2, 0xFE, std::string(size - picture.size() - 4, 'c'));
}

bool contains(const std::vector<uint8_t>& file, const std::vector<uint8_t>& part) {
    return std::search(file.begin(), file.end(), part.begin(), part.end()) != file.end();
}

// From the start of the first scan to the end.
std::vector<uint8_t> imageData(const std::vector<uint8_t>& file) {
    const uint8_t sos[] = {0xFF, 0xDA};
    return std::vector<uint8_t>(std::search(file.begin(), file.end(), sos, sos + 2), file.end());
}

TEST(ExifLibrary, TagNamesAreExiftoolsAndEachDirectoryKnowsOnlyItsOwn) {
    EXPECT_EQ(TagNameToValue("Orientation"), 0x0112);
    EXPECT_EQ(TagNameToValue("FocalLength"), 0x920A);
    EXPECT_EQ(GpsTagNameToValue("GPSAltitudeRef"), 5);
    EXPECT_EQ(GpsTagNameToValue("GPSProcessingMethod"), 0x1B);
    EXPECT_EQ(TagNameToValue("GPSLatitude"), -1);
    EXPECT_EQ(GpsTagNameToValue("Make"), -1);
    EXPECT_EQ(TagNameToValue("make"), -1);
    EXPECT_EQ(TagNameToValue(nullptr), -1);
}

TEST(ExifLibrary, CameraPictureReadsBackInExiftoolWithEveryTagTypedAndPlaced) {
    if (access(kExiftool, X_OK) != 0) {
        GTEST_SKIP() << "exiftool is not installed";
    }
    const std::vector<uint8_t> picture = encodedPicture(643, 481);
    const std::vector<uint8_t> thumbnail = encodedPicture(160, 120, 70);
    ASSERT_NE(load(picture), 0);
    cameraElements().create();
    ASSERT_NE(replaceThumbnail(thumbnail), 0);
    // The block the still-capture step writes into.
    const std::vector<uint8_t> file = written(picture.size() + thumbnail.size() + 1024);
    ASSERT_FALSE(file.empty());

    // The EXIF segment comes right after SOI; the encoder's JFIF segment is gone.
    const std::vector<uint8_t> markers = segmentMarkers(file);
    ASSERT_FALSE(markers.empty());
    EXPECT_EQ(markers.front(), 0xE1);
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xE0), 0);
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xE1), 1);

    const TempFile temp(file);
    const std::string& path = temp.path;
    std::map<std::string, ExifField> fields = exiftoolFields(path);
    const std::map<std::string, ExifField> expected = {
        {"IFD0:Make", {"Vemo", "string[5]"}},
        {"IFD0:Model", {"Vemo", "string[5]"}},
        {"IFD0:Orientation", {"6", "int16u[1]"}},
        {"IFD0:ModifyDate", {"2026:12:06 14:05:09", "string[20]"}},
        {"ExifIFD:FocalLength", {"4.31 (431/100)", "rational64u[1]"}},
        {"ExifIFD:ExifVersion", {"0220", "undef[4]"}},
        {"GPS:GPSVersionID", {"2 2 0 0", "int8u[4]"}},
        {"GPS:GPSLatitude", {"37 25 19.199 (37/1 25/1 19199/1000)", "rational64u[3]"}},
        {"GPS:GPSLatitudeRef", {"N", "string[2]"}},
        {"GPS:GPSLongitude", {"122 5 2.4 (122/1 5/1 2400/1000)", "rational64u[3]"}},
        {"GPS:GPSLongitudeRef", {"W", "string[2]"}},
        {"GPS:GPSAltitude", {"3 (3/1)", "rational64u[1]"}},
        {"GPS:GPSAltitudeRef", {"1", "int8u[1]"}},
        {"GPS:GPSTimeStamp", {"14 5 9 (14/1 5/1 9/1)", "rational64u[3]"}},
        {"GPS:GPSDateStamp", {"2026:12:06", "string[11]"}},
        // The character code and the text, without the NUL of the element's copy.
        {"GPS:GPSProcessingMethod", {"ASCIIGPS", "undef[11]"}},
        {"IFD1:Compression", {"6", "int16u[1]"}},
    };
    expectFields(fields, expected);

    // exiftool's own reading: no errors or warnings, and the values a viewer shows.
    EXPECT_EQ(exiftool({"-n", "-s3", "-Validate", "-ExifIFD:FocalLength", "-GPSProcessingMethod",
                        "-Composite:GPSLatitude", "-Composite:GPSLongitude",
                        "-Composite:GPSAltitude", path}),
              "0 0 0\n4.31\nGPS\n37.4219997222222\n-122.084\n-3\n");

    const std::string extracted = exiftool({"-b", "-ThumbnailImage", path});
    EXPECT_EQ(std::vector<uint8_t>(extracted.begin(), extracted.end()), thumbnail);
    DecodedImage image;
    ASSERT_TRUE(decodeJpeg(std::vector<uint8_t>(extracted.begin(), extracted.end()), &image));
    EXPECT_EQ(image.width, 160);
    EXPECT_EQ(image.height, 120);
    ASSERT_TRUE(decodeJpeg(file, &image));
    EXPECT_EQ(image.width, 643);
    EXPECT_EQ(image.height, 481);
}

TEST(ExifLibrary, ValuesAreReadWithinTheirDataLengthAndUnfitOnesSkipped) {
    if (access(kExiftool, X_OK) != 0) {
        GTEST_SKIP() << "exiftool is not installed";
    }
    LogCapture log;
    ASSERT_NE(load(encodedPicture(64, 48)), 0);
    Elements elements;
    // GPS and main-directory elements mixed.
    elements.add("GPSAltitudeRef", "0", true);
    elements.add(TagNameToValue("Make"), "Vemo Camera", 4, false);  // no NUL within
    elements.add(TagNameToValue("Model"), "", 0, false);            // no value at all
    elements.add(TagNameToValue("Software"), "x", 0, false);
    elements.add(TagNameToValue("FocalLength"), "4.3125", 3, false);
    elements.add("GPSLongitude", "122/1,5/1,2.5", true);
    elements.add(GpsTagNameToValue("GPSProcessingMethod"), kProcessingMethod, 11, true);
    elements.add("ExposureCompensation", "-0.5", false);
    elements.add("Orientation", "sideways", false);
    elements.add("Orientation", "70000", false);
    elements.add("GPSLatitude", "37/1,25/1", true);
    elements.add("GPSAltitude", "3/0", true);
    elements.add("GPSDOP", "-1", true);
    elements.add(0x1234, "1", 2, false);
    elements.create(0);
    const std::vector<uint8_t> file = written();
    ASSERT_FALSE(file.empty());

    const TempFile temp(file);
    const std::string& path = temp.path;
    std::map<std::string, ExifField> fields = exiftoolFields(path);
    const std::map<std::string, ExifField> expected = {
        {"IFD0:Make", {"Vemo", "string[5]"}},
        {"ExifIFD:FocalLength", {"4.3 (43/10)", "rational64u[1]"}},
        {"ExifIFD:ExposureCompensation", {"-0.5 (-1/2)", "rational64s[1]"}},
        {"GPS:GPSLongitude", {"122 5 2.5 (122/1 5/1 5/2)", "rational64u[3]"}},
        {"GPS:GPSAltitudeRef", {"0", "int8u[1]"}},
        // No NUL ends this copy, so all its bytes are the field.
        {"GPS:GPSProcessingMethod", {"ASCIIGPS", "undef[11]"}},
    };
    expectFields(fields, expected);
    for (const char* absent : {"IFD0:Model", "IFD0:Software", "IFD0:Orientation", "GPS:GPSLatitude",
                               "GPS:GPSAltitude", "GPS:GPSDOP"}) {
        EXPECT_EQ(fields.count(absent), 0u) << absent;
    }
    // Without a DateTime element the library stamps the time of writing.
    EXPECT_EQ(fields["IFD0:ModifyDate"].type, "string[20]");
    EXPECT_EQ(log.count("create_EXIF: Orientation: the value is not of the tag's type"), 2u);
    EXPECT_TRUE(log.contains("create_EXIF: unknown main-directory tag 0x1234"));
}

TEST(ExifLibrary, OtherSegmentsAndImageDataAreKeptAndOldExifAndJfifDropped) {
    const std::vector<uint8_t> picture = encodedPicture(40, 30);
    ASSERT_EQ(segmentMarkers(picture).front(), 0xE0);
    // SOI, JFIF, then an old EXIF segment, a comment and an ICC profile before the tables.
    std::vector<uint8_t> input = picture;
    const size_t afterJfif = 4 + ((picture[4] << 8) | picture[5]);
    input = withSegment(input, afterJfif, 0xE2, std::string("ICC_PROFILE\0profile", 19));
    input = withSegment(input, afterJfif, 0xFE, "a comment");
    input = withSegment(input, afterJfif, 0xE1, std::string("Exif\0\0old data", 14));

    // Loaded and written back untouched, the file is the same bytes.
    ASSERT_NE(load(input), 0);
    EXPECT_EQ(written(), input);

    ASSERT_NE(load(input), 0);
    cameraElements().create();
    const std::vector<uint8_t> file = written();
    std::vector<uint8_t> expected = segmentMarkers(input);
    expected.erase(expected.begin(), expected.begin() + 2);  // JFIF and the old EXIF
    expected.insert(expected.begin(), 0xE1);
    EXPECT_EQ(segmentMarkers(file), expected);
    EXPECT_FALSE(contains(file, std::vector<uint8_t>{'o', 'l', 'd', ' ', 'd'}));
    EXPECT_TRUE(contains(file, std::vector<uint8_t>{'a', ' ', 'c', 'o', 'm'}));
    EXPECT_EQ(imageData(file), imageData(input));
    DecodedImage image;
    ASSERT_TRUE(decodeJpeg(file, &image));
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, 30);
}

TEST(ExifLibrary, ThumbnailThatCantFitTheExifSegmentIsRefusedAndTheLastOneKept) {
    LogCapture log;
    ASSERT_NE(load(encodedPicture(64, 48)), 0);
    cameraElements().create();
    const std::vector<uint8_t> fits = jpegOfSize(60000);
    ASSERT_NE(replaceThumbnail(fits), 0);

    // Under the segment's limit alone, but not with the tags beside it.
    EXPECT_EQ(replaceThumbnail(jpegOfSize(65400)), 0);
    EXPECT_EQ(replaceThumbnail(encodedPicture(400, 300, 100)), 0);
    EXPECT_EQ(replaceThumbnail(std::vector<uint8_t>(100, 0xFF)), 0);
    EXPECT_EQ(ReplaceThumbnailFromBuffer(nullptr, 100), 0);
    EXPECT_TRUE(log.contains("can't fit the EXIF segment"));

    const std::vector<uint8_t> file = written();
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(contains(file, fits));
    const size_t app1Length = (file[4] << 8) | file[5];
    EXPECT_GT(app1Length, fits.size());
    EXPECT_LE(app1Length, 0xFFFFu);
}

TEST(ExifLibrary, WriteNeverPassesTheBufferItIsGiven) {
    LogCapture log;
    ResetJpgfile();
    uint8_t untouched[16];
    memset(untouched, 0xA5, sizeof(untouched));
    EXPECT_EQ(WriteJpegToBuffer(untouched, sizeof(untouched)), 0);

    const std::vector<uint8_t> picture = encodedPicture(64, 48);
    // Metadata alone can't be written back as a whole file.
    ASSERT_NE(load(picture, READ_METADATA), 0);
    EXPECT_TRUE(written().empty());

    ASSERT_NE(load(picture), 0);
    cameraElements().create();
    ASSERT_NE(replaceThumbnail(encodedPicture(32, 24)), 0);
    const std::vector<uint8_t> whole = written();
    ASSERT_FALSE(whole.empty());
    for (size_t size : {whole.size() - 1, whole.size() / 2, size_t{3}}) {
        // Exactly size bytes on the heap, so that the address sanitizer sees any byte past them.
        std::vector<uint8_t> block(size, 0xA5);
        EXPECT_EQ(WriteJpegToBuffer(block.data(), static_cast<unsigned int>(size)), 0) << size;
        EXPECT_EQ(std::count(block.begin(), block.end(), 0xA5), static_cast<ptrdiff_t>(size));
    }
    EXPECT_EQ(WriteJpegToBuffer(nullptr, 1 << 20), 0);
    EXPECT_EQ(written(whole.size()), whole);
}

TEST(ExifLibraryHostileInput, EveryTruncationIsRefused) {
    LogCapture log;
    ASSERT_NE(load(encodedPicture(33, 17)), 0);
    cameraElements().create();
    ASSERT_NE(replaceThumbnail(encodedPicture(16, 8)), 0);
    const std::vector<uint8_t> file = written();
    ASSERT_FALSE(file.empty());
    for (size_t size = 0; size < file.size(); ++size) {
        EXPECT_EQ(load(std::vector<uint8_t>(file.begin(), file.begin() + size)), 0) << size;
    }
    EXPECT_TRUE(written().empty());
    EXPECT_NE(load(file), 0);
}

TEST(ExifLibraryHostileInput, GarbageAndBadSegmentLengthsAreRefused) {
    LogCapture log;
    std::mt19937 random(7);
    std::vector<uint8_t> garbage(2000);
    for (uint8_t& byte : garbage) {
        byte = static_cast<uint8_t>(random());
    }
    std::vector<uint8_t> soiThenGarbage = garbage;
    soiThenGarbage[0] = 0xFF;
    soiThenGarbage[1] = 0xD8;
    std::vector<uint8_t> endsInHugeSegment = encodedPicture(16, 16);
    endsInHugeSegment.resize(endsInHugeSegment.size() - 2);  // EOI becomes a huge DHT
    endsInHugeSegment.insert(endsInHugeSegment.end(), {0xFF, 0xC4, 0xFF, 0xFF, 0x00});

    const std::vector<std::vector<uint8_t>> hostile = {
        {},
        {0xFF},
        {0xFF, 0xD8},
        {0xD8, 0xFF},
        {0xFF, 0xD8, 0xFF, 0xD9},              // EOI before any scan
        {0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xD9},  // SOI twice
        {0xFF, 0xD8, 0x00, 0xFF, 0xD9},        // no marker where one belongs
        {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f'},
        {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xD9},
        {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9},
        {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0x00, 0xFF, 0xD9},  // a scan without a frame
        {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x04, 0x08, 0x00, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9},
        garbage,
        soiThenGarbage,
        endsInHugeSegment,
    };
    for (size_t i = 0; i < hostile.size(); ++i) {
        EXPECT_EQ(load(hostile[i]), 0) << "case " << i;
    }
    ResetJpgfile();
    EXPECT_EQ(ReadJpegSectionsFromBuffer(nullptr, 100, READ_IMAGE), 0);
}

TEST(ExifLibraryHostileInput, BitFlippedFilesAreRefusedOrWrittenBackReadable) {
    LogCapture log;
    ASSERT_NE(load(encodedPicture(24, 16)), 0);
    cameraElements().create();
    ASSERT_NE(replaceThumbnail(encodedPicture(16, 8)), 0);
    const std::vector<uint8_t> file = written();
    const std::vector<uint8_t> thumbnail = encodedPicture(8, 8);
    int accepted = 0;
    for (size_t at = 0; at < file.size(); ++at) {
        for (uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
            std::vector<uint8_t> damaged = file;
            damaged[at] ^= flip;
            if (load(damaged) == 0) {
                continue;
            }
            ++accepted;
            // The damaged EXIF data goes through libexif when the thumbnail is replaced.
            replaceThumbnail(thumbnail);
            const std::vector<uint8_t> again = written(file.size() * 4);
            ASSERT_FALSE(again.empty()) << at;
            EXPECT_NE(load(again), 0) << at;
        }
    }
    // Most flips land in data that no check covers.
    EXPECT_GT(accepted, static_cast<int>(file.size()));
}

}  // namespace
}  // namespace test
}  // namespace vemo
