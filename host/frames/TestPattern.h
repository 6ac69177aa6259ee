#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "FrameSource.h"

namespace vemo {
namespace host {

// The default frame source: colour bars over the top three fifths, a band in which a square
// moves from side to side, and at the bottom the picture number in large seven-segment digits,
// so that a person or a test can read which picture a frame shows. Everything is a function of
// the picture number and the size alone, so a redraw of only what changed gives exactly the
// frame a full draw gives.
class TestPattern : public IFrameSource {
public:
    static constexpr int kDigits = 6;  // the counter shows the number modulo 10^kDigits
    static constexpr int kBars = 8;

    // Colours as 0xAARRGGBB (libyuv's ARGB in a little-endian word).
    static constexpr uint32_t kBarColours[kBars] = {
        0xFFBFBFBF, 0xFFBFBF00, 0xFF00BFBF, 0xFF00BF00,  // 75% white, yellow, cyan, green
        0xFFBF00BF, 0xFFBF0000, 0xFF0000BF, 0xFF000000,  // 75% magenta, red, blue; black
    };
    static constexpr uint32_t kMotionBackground = 0xFF404040;
    static constexpr uint32_t kCounterBackground = 0xFF000000;
    static constexpr uint32_t kDigitColour = 0xFFFFFFFF;

    // Where things are drawn at one size; all coordinates even.
    struct Layout {
        Rect bars[kBars];
        Rect motionBand;
        Rect counterBand;
        Rect digits[kDigits];  // most significant first
        int segment = 0;       // thickness of a digit's segments
        int squareSide = 0;
        int squareStep = 0;  // horizontal distance the square moves per picture
    };

    // squareColour tells cameras apart.
    explicit TestPattern(uint32_t squareColour) : _squareColour(squareColour) {}

    static Layout layout(FrameSize size);
    // The square of picture number at size.
    static Rect square(const Layout& layout, uint64_t number);
    // Bit i set when segment "abcdefg"[i] of digit is lit.
    static uint8_t segmentsOf(int digit);
    // The rectangle of segment i of a digit drawn in cell.
    static Rect segmentRect(const Layout& layout, const Rect& cell, int i);

    uint64_t capture() override { return ++_number; }
    uint64_t number() const override { return _number; }
    void render(uint8_t* canvas, int stride, FrameSize size, std::optional<uint64_t> previous,
                std::vector<Rect>* damage) override;

private:
    void drawDigit(uint8_t* canvas, int stride, const Layout& layout, int cell, int digit) const;

    const uint32_t _squareColour;
    uint64_t _number = 0;
};

}  // namespace host
}  // namespace vemo
