#pragma once

#include <stddef.h>
#include <time.h>

#include <camera/CameraParameters.h>
#include <jhead.h>

namespace android {

// Writes the degrees, minutes and seconds text ("d/1,m/1,s/1000") of the decimal coordinate
// text into out (outSize bytes). 0, or -22 for a coordinate that is 0, unparsable, not finite
// or too large for whole degrees to fit an int; out is then not written.
int convertGPSCoord(const char* coord, char* out, size_t outSize);

// The EXIF elements of one picture, as the EXIF library takes them: tag numbers and value
// texts, filled in insertion order. Each value is a heap copy the table owns; they are released
// when the table is rebuilt or destroyed.
class ExifTable {
public:
    static const int kMaxElements = 40;
    // Room for the processing method with its 8-byte character code and its NUL.
    static const size_t kProcessingMethodSize = 200;

    ExifTable();
    ~ExifTable();

    // Empties the table.
    void reset();
    // Appends one element; length is the text's length without its NUL. -22 for a NULL name or
    // value; 0 otherwise, also when the table is full (logged, nothing added).
    int insert(const char* name, const char* value, unsigned int length, bool gps);
    // Fills the table for a picture taken at now with params: make, model, focal length,
    // orientation from the rotation, the date and time, and the GPS block when all five GPS
    // parameters are present.
    void build(const CameraParameters& params, time_t now);

    int count() const { return _exif_count; }
    int gpsCount() const { return _exif_gps_count; }
    int tagCount() const { return _exif_tag_count; }
    ExifElement_t* elements() { return _exif_elements; }
    const ExifElement_t* elements() const { return _exif_elements; }

private:
    ExifTable(const ExifTable&) = delete;
    ExifTable& operator=(const ExifTable&) = delete;

    void addGps(const CameraParameters& params);

    int _exif_count;
    int _exif_gps_count;
    int _exif_tag_count;
    ExifElement_t _exif_elements[kMaxElements];
};

}  // namespace android
