// The EXIF elements of a picture: order, tag numbers, counts, values and data lengths.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <utility>
#include <vector>

#include "Exif.h"
#include "support/LogCapture.h"

using android::CameraParameters;
using android::ExifTable;
using vemo::test::LogCapture;

namespace {

struct Element {
    unsigned tag;
    std::string value;  // the text, with a trailing NUL shown as nothing
    int length;
    bool gps;
    bool operator==(const Element& o) const {
        return tag == o.tag && value == o.value && length == o.length && gps == o.gps;
    }
};

std::ostream& operator<<(std::ostream& out, const Element& e) {
    return out << "{0x" << std::hex << e.tag << std::dec << " \"" << e.value << "\" " << e.length
               << (e.gps ? " gps}" : "}");
}

std::vector<Element> elementsOf(const ExifTable& table) {
    std::vector<Element> out;
    for (int i = 0; i < table.count(); ++i) {
        const ExifElement_t& e = table.elements()[i];
        std::string value(e.Value, e.Value + (e.DataLength > 0 ? e.DataLength - 1 : 0));
        out.push_back({e.Tag, value, e.DataLength, e.GpsTag != 0});
    }
    return out;
}

// 2026-12-06 14:05:09 UTC.
const time_t kNow = 1796565909;

class ExifTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }

    void setGps(const char* latitude, const char* longitude, const char* altitude,
                const char* timestamp, const char* method) {
        _params.set(CameraParameters::KEY_GPS_LATITUDE, latitude);
        _params.set(CameraParameters::KEY_GPS_LONGITUDE, longitude);
        _params.set(CameraParameters::KEY_GPS_ALTITUDE, altitude);
        _params.set(CameraParameters::KEY_GPS_TIMESTAMP, timestamp);
        _params.set(CameraParameters::KEY_GPS_PROCESSING_METHOD, method);
    }

    std::vector<Element> gpsElements() {
        std::vector<Element> gps;
        for (const Element& e : elementsOf(_table)) {
            if (e.gps) {
                gps.push_back(e);
            }
        }
        return gps;
    }

    CameraParameters _params;
    ExifTable _table;
    LogCapture _log;
};

const Element kMake = {0x010f, "Vemo", 5, false};
const Element kModel = {0x0110, "Vemo", 5, false};
const Element kFocal = {0x920a, "4.309999942779541", 18, false};
const Element kDateTime = {0x0132, "2026:12:06 14:05:09", 20, false};

std::string method(const std::string& text) {
    return std::string("ASCII\0\0\0", 8) + text;
}

}  // namespace

TEST_F(ExifTableTest, WithoutRotationOrGpsHoldsTheFourFixedTags) {
    _table.build(_params, kNow);
    EXPECT_EQ(elementsOf(_table), (std::vector<Element>{kMake, kModel, kFocal, kDateTime}));
    EXPECT_EQ(_table.tagCount(), 4);
    EXPECT_EQ(_table.gpsCount(), 0);
}

TEST_F(ExifTableTest, RotationGivesTheOrientationAfterTheFocalLength) {
    const std::pair<const char*, const char*> cases[] = {
        {"90", "6"}, {"180", "3"}, {"270", "8"}, {"45", "1"}, {"0", "1"}};
    for (const auto& c : cases) {
        _params.set(CameraParameters::KEY_ROTATION, c.first);
        _table.build(_params, kNow);
        EXPECT_EQ(
            elementsOf(_table),
            (std::vector<Element>{kMake, kModel, kFocal, {0x0112, c.second, 2, false}, kDateTime}))
            << "rotation " << c.first;
    }
}

TEST_F(ExifTableTest, GpsBlockInItsOrderWithItsTexts) {
    setGps("37.5", "-122.084", "-3.7", "0", "GPS");
    _table.build(_params, kNow);
    EXPECT_EQ(gpsElements(), (std::vector<Element>{
                                 {0x02, "37/1,30/1,0/1000", 17, true},
                                 {0x04, "122/1,5/1,2400/1000", 20, true},
                                 {0x01, "N", 2, true},
                                 {0x03, "W", 2, true},
                                 {0x06, "3/1", 4, true},
                                 {0x05, "1", 2, true},
                                 {0x07, "0/1,0/1,0/1", 12, true},
                                 {0x1d, "1970:01:01", 11, true},
                                 {0x1b, method("GPS"), 12, true},
                             }));
    EXPECT_EQ(_table.gpsCount(), 9);
    EXPECT_EQ(_table.tagCount(), 4);
    EXPECT_TRUE(_log.contains("LATLONG 37/1,30/1,0/1000 122/1,5/1,2400/1000"));

    // Without any one of its parameters the whole block goes.
    _params.remove(CameraParameters::KEY_GPS_TIMESTAMP);
    _table.build(_params, kNow);
    EXPECT_EQ(_table.gpsCount(), 0);
    EXPECT_EQ(_table.count(), 4);
}

TEST_F(ExifTableTest, CoordinateSecondsAreFlooredAndAltitudeZeroIsBelowSeaLevel) {
    setGps("37.422", "139.7", "0", "1796565909", "NETWORK");
    _table.build(_params, kNow);
    const std::vector<Element> gps = gpsElements();
    ASSERT_EQ(gps.size(), 9u);
    EXPECT_EQ(gps[0].value, "37/1,25/1,19199/1000");
    EXPECT_EQ(gps[3].value, "E");
    EXPECT_EQ(gps[4].value, "0/1");
    EXPECT_EQ(gps[5].value, "1");
    EXPECT_EQ(gps[6].value, "14/1,5/1,9/1");
    EXPECT_EQ(gps[7].value, "2026:12:06");
}

TEST_F(ExifTableTest, RejectedValuesLeaveOnlyTheirOwnTagsOut) {
    // A latitude of 0 can't be told from an unparsable one, and one past a pole or a longitude
    // past the date line names no place: each goes, with its reference.
    const std::pair<const char*, const char*> rejected[] = {{"0", "abc"}, {"91", "-181"}};
    for (const auto& coordinates : rejected) {
        setGps(coordinates.first, coordinates.second, "12.9", "99999999999999999", "GPS");
        _table.build(_params, kNow);
        EXPECT_EQ(gpsElements(), (std::vector<Element>{{0x06, "12/1", 5, true},
                                                       {0x05, "0", 2, true},
                                                       {0x1b, method("GPS"), 12, true}}))
            << coordinates.first << " " << coordinates.second;
    }
    EXPECT_EQ(_log.count("Invalid GPS coordinate"), 4u);
    EXPECT_EQ(_log.count("LATLONG  "), 2u);
    // The poles and the date line themselves are places.
    setGps("-90", "180", "12.9", "0", "GPS");
    _table.build(_params, kNow);
    EXPECT_EQ(gpsElements()[0].value, "90/1,0/1,0/1000");
    EXPECT_EQ(gpsElements()[1].value, "180/1,0/1,0/1000");
}

TEST_F(ExifTableTest, OverlongProcessingMethodIsCutToItsBuffer) {
    setGps("1", "1", "1", "0", std::string(500, 'm').c_str());
    _table.build(_params, kNow);
    const Element last = gpsElements().back();
    EXPECT_EQ(last.length, static_cast<int>(ExifTable::kProcessingMethodSize));
    EXPECT_EQ(last.value, method(std::string(191, 'm')));
}

TEST_F(ExifTableTest, InsertRefusesNullsAndStopsAtForty) {
    EXPECT_EQ(_table.insert(nullptr, "v", 1, false), -22);
    EXPECT_EQ(_table.insert("Make", nullptr, 1, false), -22);
    EXPECT_EQ(_table.count(), 0);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(_table.insert("Make", "x", 1, false), 0);
    }
    EXPECT_EQ(_table.insert("Model", "y", 1, false), 0);
    EXPECT_EQ(_table.count(), 40);
    EXPECT_EQ(_log.count("Max number of EXIF elements already inserted"), 1u);
    // Rebuilding releases the forty copies (the leak checker watches this).
    _table.build(_params, kNow);
    EXPECT_EQ(_table.count(), 4);
}

TEST(ConvertGpsCoord, DegreesMinutesAndThousandthsOfSeconds) {
    LogCapture log;
    char out[64] = "untouched";
    EXPECT_EQ(android::convertGPSCoord("-122.084", out, sizeof(out)), 0);
    EXPECT_STREQ(out, "122/1,5/1,2400/1000");
    EXPECT_EQ(android::convertGPSCoord("0.0", out, sizeof(out)), -22);
    EXPECT_EQ(android::convertGPSCoord("1e300", out, sizeof(out)), -22);
    EXPECT_EQ(android::convertGPSCoord("nan", out, sizeof(out)), -22);
    EXPECT_STREQ(out, "122/1,5/1,2400/1000");
}
