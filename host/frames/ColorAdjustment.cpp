#include "ColorAdjustment.h"

#include <algorithm>
#include <cmath>

namespace vemo {
namespace host {

namespace {

struct Rgb {
    double r, g, b;
};

// The colour of black-body light at kelvin on a 0 to 255 scale: a widely used curve fit of
// black-body colours, close enough from 1000 K to 40000 K for a visible cast.
Rgb blackBody(double kelvin) {
    const double t = kelvin / 100.0;
    Rgb c;
    if (t <= 66.0) {
        c.r = 255.0;
        c.g = 99.4708025861 * std::log(t) - 161.1195681661;
    } else {
        c.r = 329.698727446 * std::pow(t - 60.0, -0.1332047592);
        c.g = 288.1221695283 * std::pow(t - 60.0, -0.0755148492);
    }
    if (t >= 66.0) {
        c.b = 255.0;
    } else if (t <= 19.0) {
        c.b = 0.0;
    } else {
        c.b = 138.5177312231 * std::log(t - 10.0) - 305.0447927307;
    }
    c.r = std::clamp(c.r, 1.0, 255.0);
    c.g = std::clamp(c.g, 1.0, 255.0);
    c.b = std::clamp(c.b, 1.0, 255.0);
    return c;
}

}  // namespace

ColorAdjustment::ColorAdjustment(int32_t exposure, uint32_t whiteBalance)
    : _exposure(exposure), _whiteBalance(whiteBalance) {
    // Half an EV per step doubles the light every two steps; the frames' values are gamma
    // encoded (about 2.2), so the light's gain g scales them by g^(1/2.2).
    const double exposureGain = std::pow(2.0, exposure / 2.0 / 2.2);
    // A camera set for a light of temperature T divides each channel by that light's colour;
    // the scene's own light divided by it is the cast that remains. Green stays, so brightness
    // barely moves.
    Rgb gain{1.0, 1.0, 1.0};
    if (whiteBalance != kAutoWhiteBalance) {
        const Rgb scene = blackBody(kSceneTemperature);
        const Rgb set = blackBody(whiteBalance);
        gain = {scene.r / set.r, scene.g / set.g, scene.b / set.b};
        const double green = gain.g;
        gain = {gain.r / green, 1.0, gain.b / green};
    }
    const double gains[3] = {gain.b * exposureGain, gain.g * exposureGain, gain.r * exposureGain};
    for (int v = 0; v < 256; ++v) {
        for (int channel = 0; channel < 3; ++channel) {
            const double out = std::round(v * gains[channel]);
            _table[v * 4 + channel] = static_cast<uint8_t>(std::clamp(out, 0.0, 255.0));
        }
        _table[v * 4 + 3] = static_cast<uint8_t>(v);
    }
}

}  // namespace host
}  // namespace vemo
