#pragma once

#include <array>
#include <cstdint>

namespace vemo {
namespace host {

// Exposure compensation and white balance as the frames show them: one lookup table per colour
// channel, built once when a setting changes and applied to the pixels that change (libyuv's
// ARGBColorTable). A value type; comparing two tells whether frames made under one are valid
// under the other.
class ColorAdjustment {
public:
    // Exposure compensation index: steps of half an EV, from -6 EV to +6 EV.
    static constexpr int32_t kMinExposure = -12;
    static constexpr int32_t kMaxExposure = 12;
    // White balance: the colour temperature in kelvin the camera corrects for, or 0 for auto.
    // The scene is lit as by daylight of kSceneTemperature, so a lower temperature turns the
    // frames blue and a higher one yellow.
    static constexpr uint32_t kAutoWhiteBalance = 0;
    static constexpr uint32_t kMinTemperature = 1500;
    static constexpr uint32_t kMaxTemperature = 15000;
    static constexpr uint32_t kSceneTemperature = 6500;

    static bool validExposure(int32_t index) {
        return index >= kMinExposure && index <= kMaxExposure;
    }
    static bool validWhiteBalance(uint32_t mode) {
        return mode == kAutoWhiteBalance || (mode >= kMinTemperature && mode <= kMaxTemperature);
    }

    // No change to the pixels.
    ColorAdjustment() : ColorAdjustment(0, kAutoWhiteBalance) {}
    // Both values must be valid.
    ColorAdjustment(int32_t exposure, uint32_t whiteBalance);

    int32_t exposure() const { return _exposure; }
    uint32_t whiteBalance() const { return _whiteBalance; }
    bool isIdentity() const { return _exposure == 0 && _whiteBalance == kAutoWhiteBalance; }
    // 256 entries of B, G, R, A, the layout ARGBColorTable takes; alpha is left as it is.
    const uint8_t* table() const { return _table.data(); }

    bool operator==(const ColorAdjustment& other) const {
        return _exposure == other._exposure && _whiteBalance == other._whiteBalance;
    }
    bool operator!=(const ColorAdjustment& other) const { return !(*this == other); }

private:
    int32_t _exposure;
    uint32_t _whiteBalance;
    std::array<uint8_t, 256 * 4> _table;
};

}  // namespace host
}  // namespace vemo
