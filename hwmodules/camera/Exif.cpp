// The EXIF data of a picture: make, model, focal length, orientation, date and time, and the
// GPS block, as texts for the EXIF library.

#include "Exif.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <log/log.h>

namespace android {

namespace {

const char kMake[] = "Vemo";
const char kModel[] = "Vemo";
const char kFocalLength[] = "4.309999942779541";
// "ASCII" in the 8-byte character code that leads an EXIF text of undefined type.
const char kAsciiCode[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};

const char* orientationOf(const char* rotation) {
    switch (atoi(rotation)) {
        case 90:
            return "6";
        case 180:
            return "3";
        case 270:
            return "8";
        default:
            return "1";
    }
}

// convertGPSCoord for a coordinate that must lie within -limit..limit degrees: a latitude past
// a pole or a longitude past the date line names no place, and no reader should be given one.
int convertGPSCoordWithin(const char* coord, double limit, char* out, size_t outSize) {
    if (fabs(strtod(coord, nullptr)) > limit) {
        ALOGE("Invalid GPS coordinate");
        return -22;
    }
    return convertGPSCoord(coord, out, outSize);
}

}  // namespace

int convertGPSCoord(const char* coord, char* out, size_t outSize) {
    const double x = strtod(coord, nullptr);
    // Whole degrees must fit an int: anything beyond is no coordinate.
    if (x == 0 || !isfinite(x) || fabs(x) >= 2147483647.0) {
        ALOGE("Invalid GPS coordinate");
        return -22;
    }
    const double a = fabs(x);
    const double d = floor(a);
    int degrees = static_cast<int>(d);
    const double m = (a - d) * 60.0;
    const double mm = floor(m);
    int minutes = static_cast<int>(mm);
    const double s = (m - mm) * 60000.0;
    int seconds = static_cast<int>(floor(s));
    if (seconds > 59999) {
        seconds = 0;
        minutes += 1;
    }
    if (minutes > 59) {
        minutes = 0;
        degrees += 1;
    }
    snprintf(out, outSize, "%d/%d,%d/%d,%d/%d", degrees, 1, minutes, 1, seconds, 1000);
    return 0;
}

ExifTable::ExifTable() : _exif_count(0), _exif_gps_count(0), _exif_tag_count(0) {
    memset(_exif_elements, 0, sizeof(_exif_elements));
}

ExifTable::~ExifTable() {
    reset();
}

void ExifTable::reset() {
    for (int i = 0; i < _exif_count; ++i) {
        free(_exif_elements[i].Value);
    }
    memset(_exif_elements, 0, sizeof(_exif_elements));
    _exif_count = 0;
    _exif_gps_count = 0;
    _exif_tag_count = 0;
}

int ExifTable::insert(const char* name, const char* value, unsigned int length, bool gps) {
    if (name == nullptr || value == nullptr) {
        return -22;
    }
    if (_exif_count > kMaxElements - 1) {
        ALOGE("Max number of EXIF elements already inserted");
        return 0;
    }
    ExifElement_t& element = _exif_elements[_exif_count];
    element.GpsTag = gps ? 1 : 0;
    if (gps) {
        element.Tag = static_cast<unsigned short>(GpsTagNameToValue(name));
        ++_exif_gps_count;
    } else {
        element.Tag = static_cast<unsigned short>(TagNameToValue(name));
        ++_exif_tag_count;
    }
    element.DataLength = 0;
    element.Value = static_cast<char*>(malloc(length + 1));
    if (element.Value != nullptr) {
        memcpy(element.Value, value, length + 1);
        element.DataLength = static_cast<int>(length + 1);
    }
    ++_exif_count;
    return 0;
}

void ExifTable::build(const CameraParameters& params, time_t now) {
    reset();
    insert("Make", kMake, sizeof(kMake) - 1, false);
    insert("Model", kModel, sizeof(kModel) - 1, false);
    insert("FocalLength", kFocalLength, sizeof(kFocalLength) - 1, false);
    const char* rotation = params.get(CameraParameters::KEY_ROTATION);
    if (rotation != nullptr) {
        insert("Orientation", orientationOf(rotation), 1, false);
    }
    char dateTime[32] = {0};
    struct tm local;
    if (localtime_r(&now, &local) != nullptr) {
        strftime(dateTime, sizeof(dateTime), "%Y:%m:%d %H:%M:%S", &local);
    }
    insert("DateTime", dateTime, static_cast<unsigned int>(strlen(dateTime)), false);
    addGps(params);
}

void ExifTable::addGps(const CameraParameters& params) {
    const char* latitude = params.get(CameraParameters::KEY_GPS_LATITUDE);
    const char* longitude = params.get(CameraParameters::KEY_GPS_LONGITUDE);
    const char* altitude = params.get(CameraParameters::KEY_GPS_ALTITUDE);
    const char* timestamp = params.get(CameraParameters::KEY_GPS_TIMESTAMP);
    const char* method = params.get(CameraParameters::KEY_GPS_PROCESSING_METHOD);
    if (latitude == nullptr || longitude == nullptr || altitude == nullptr ||
        timestamp == nullptr || method == nullptr) {
        return;
    }
    const char* latitudeRef = strtod(latitude, nullptr) > 0 ? "N" : "S";
    const char* longitudeRef = strtod(longitude, nullptr) > 0 ? "E" : "W";
    const double height = strtod(altitude, nullptr);
    const char* altitudeRef = height > 0 ? "0" : "1";

    // A coordinate that is rejected leaves its tags out, reference letter included.
    char latitudeText[64] = {0};
    char longitudeText[64] = {0};
    const bool hasLatitude =
        convertGPSCoordWithin(latitude, 90.0, latitudeText, sizeof(latitudeText)) == 0;
    const bool hasLongitude =
        convertGPSCoordWithin(longitude, 180.0, longitudeText, sizeof(longitudeText)) == 0;
    // An altitude whose metres do not fit the rational's numerator is left out likewise.
    char altitudeText[32] = {0};
    const bool hasAltitude = isfinite(height) && fabs(height) < 2147483647.0;
    if (hasAltitude) {
        snprintf(altitudeText, sizeof(altitudeText), "%d/%d", abs(static_cast<int>(height)), 1);
    }
    // A time gmtime can't express leaves the time and date stamps out.
    char timeText[64] = {0};
    char dateText[32] = {0};
    const time_t seconds = static_cast<time_t>(strtol(timestamp, nullptr, 10));
    struct tm utc;
    const bool hasTime = gmtime_r(&seconds, &utc) != nullptr;
    if (hasTime) {
        snprintf(timeText, sizeof(timeText), "%d/%d,%d/%d,%d/%d", utc.tm_hour, 1, utc.tm_min, 1,
                 utc.tm_sec, 1);
        strftime(dateText, sizeof(dateText), "%Y:%m:%d", &utc);
    }

    ALOGE("LATLONG %s %s", latitudeText, longitudeText);
    if (hasLatitude) {
        insert("GPSLatitude", latitudeText, static_cast<unsigned int>(strlen(latitudeText)), true);
    }
    if (hasLongitude) {
        insert("GPSLongitude", longitudeText, static_cast<unsigned int>(strlen(longitudeText)),
               true);
    }
    if (hasLatitude) {
        insert("GPSLatitudeRef", latitudeRef, 1, true);
    }
    if (hasLongitude) {
        insert("GPSLongitudeRef", longitudeRef, 1, true);
    }
    if (hasAltitude) {
        insert("GPSAltitude", altitudeText, static_cast<unsigned int>(strlen(altitudeText)), true);
        insert("GPSAltitudeRef", altitudeRef, 1, true);
    }
    if (hasTime) {
        insert("GPSTimeStamp", timeText, static_cast<unsigned int>(strlen(timeText)), true);
        insert("GPSDateStamp", dateText, static_cast<unsigned int>(strlen(dateText)), true);
    }
    // The method follows its character code; one too long for the buffer is cut.
    char methodValue[kProcessingMethodSize] = {0};
    const size_t room = sizeof(methodValue) - sizeof(kAsciiCode) - 1;
    size_t methodLength = strlen(method);
    if (methodLength > room) {
        methodLength = room;
    }
    memcpy(methodValue, kAsciiCode, sizeof(kAsciiCode));
    memcpy(methodValue + sizeof(kAsciiCode), method, methodLength);
    insert("GPSProcessingMethod", methodValue,
           static_cast<unsigned int>(methodLength + sizeof(kAsciiCode)), true);
}

}  // namespace android
