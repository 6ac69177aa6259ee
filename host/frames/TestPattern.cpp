#include "TestPattern.h"

#include <libyuv/planar_functions.h>

#include <algorithm>

namespace vemo {
namespace host {

namespace {

int even(int value) {
    return value & ~1;
}

void fill(uint8_t* canvas, int stride, const Rect& r, uint32_t colour) {
    if (r.width > 0 && r.height > 0) {
        libyuv::ARGBRect(canvas, stride, r.x, r.y, r.width, r.height, colour);
    }
}

Rect unite(const Rect& a, const Rect& b) {
    const int x = std::min(a.x, b.x);
    const int y = std::min(a.y, b.y);
    return {x, y, std::max(a.x + a.width, b.x + b.width) - x,
            std::max(a.y + a.height, b.y + b.height) - y};
}

int digitAt(uint64_t number, int position) {
    for (int i = position + 1; i < TestPattern::kDigits; ++i) {
        number /= 10;
    }
    return static_cast<int>(number % 10);
}

}  // namespace

TestPattern::Layout TestPattern::layout(FrameSize size) {
    const int w = static_cast<int>(size.width);
    const int h = static_cast<int>(size.height);
    const int barsBottom = even(h * 3 / 5);
    const int motionBottom = even(h * 3 / 4);

    Layout l;
    for (int i = 0; i < kBars; ++i) {
        const int left = even(i * w / kBars);
        const int right = even((i + 1) * w / kBars);
        l.bars[i] = {left, 0, right - left, barsBottom};
    }
    l.motionBand = {0, barsBottom, w, motionBottom - barsBottom};
    l.counterBand = {0, motionBottom, w, h - motionBottom};

    const int margin = std::max(2, even(l.counterBand.height / 8));
    const int digitHeight = std::max(0, even(l.counterBand.height - 2 * margin));
    // Digits are 11/20 as wide as high, a quarter of that apart, unless the width can't hold them.
    const int widest = std::max(0, even((w - 2 * margin) * 4 / (5 * kDigits - 1)));
    const int digitWidth = std::min(even(digitHeight * 11 / 20), widest);
    const int gap = even(digitWidth / 4);
    for (int i = 0; i < kDigits; ++i) {
        l.digits[i] = {margin + i * (digitWidth + gap), motionBottom + margin, digitWidth,
                       digitHeight};
    }
    l.segment = std::min(std::max(2, even(digitWidth / 5)), even(digitWidth / 2));
    l.squareSide = std::max(2, even(l.motionBand.height * 3 / 4));
    l.squareStep = std::max(2, even(w / 96));
    return l;
}

Rect TestPattern::square(const Layout& layout, uint64_t number) {
    const int side = layout.squareSide;
    const int travel = std::max(0, layout.motionBand.width - side);
    int x = 0;
    if (travel > 0) {
        // There and back again: position p of a period of twice the travel.
        const uint64_t period = 2 * static_cast<uint64_t>(travel);
        const uint64_t p = (number % period) * static_cast<uint64_t>(layout.squareStep) % period;
        x = static_cast<int>(p <= static_cast<uint64_t>(travel) ? p : period - p);
    }
    const int y = layout.motionBand.y + even((layout.motionBand.height - side) / 2);
    return {x, y, side, std::min(side, layout.motionBand.height)};
}

uint8_t TestPattern::segmentsOf(int digit) {
    static constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                              0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    return kSegments[digit];
}

Rect TestPattern::segmentRect(const Layout& layout, const Rect& cell, int i) {
    const int t = layout.segment;
    const int w = cell.width;
    const int h = cell.height;
    const int half = h / 2;
    const int middle = (h - t) / 2;
    const Rect rects[7] = {
        {0, 0, w, t},                // a: top
        {w - t, 0, t, half},         // b: top right
        {w - t, half, t, h - half},  // c: bottom right
        {0, h - t, w, t},            // d: bottom
        {0, half, t, h - half},      // e: bottom left
        {0, 0, t, half},             // f: top left
        {0, middle, w, t},           // g: middle
    };
    const Rect& r = rects[i];
    return {cell.x + r.x, cell.y + r.y, r.width, r.height};
}

void TestPattern::drawDigit(uint8_t* canvas, int stride, const Layout& layout, int cell,
                            int digit) const {
    const Rect& box = layout.digits[cell];
    fill(canvas, stride, box, kCounterBackground);
    if (box.width < 2 * layout.segment || box.height < 2 * layout.segment) {
        return;  // too small to draw a digit in
    }
    const uint8_t segments = segmentsOf(digit);
    for (int i = 0; i < 7; ++i) {
        if (segments & (1u << i)) {
            fill(canvas, stride, segmentRect(layout, box, i), kDigitColour);
        }
    }
}

void TestPattern::render(uint8_t* canvas, int stride, FrameSize size,
                         std::optional<uint64_t> previous, std::vector<Rect>* damage) {
    const Layout l = layout(size);
    if (!previous) {
        for (int i = 0; i < kBars; ++i) {
            fill(canvas, stride, l.bars[i], kBarColours[i]);
        }
        fill(canvas, stride, l.motionBand, kMotionBackground);
        fill(canvas, stride, square(l, _number), _squareColour);
        fill(canvas, stride, l.counterBand, kCounterBackground);
        for (int i = 0; i < kDigits; ++i) {
            drawDigit(canvas, stride, l, i, digitAt(_number, i));
        }
        damage->push_back({0, 0, static_cast<int>(size.width), static_cast<int>(size.height)});
        return;
    }
    const Rect before = square(l, *previous);
    const Rect now = square(l, _number);
    if (!(before == now)) {
        const Rect both = unite(before, now);
        fill(canvas, stride, both, kMotionBackground);
        fill(canvas, stride, now, _squareColour);
        damage->push_back(both);
    }
    for (int i = 0; i < kDigits; ++i) {
        const int digit = digitAt(_number, i);
        if (digit != digitAt(*previous, i)) {
            drawDigit(canvas, stride, l, i, digit);
            damage->push_back(l.digits[i]);
        }
    }
}

}  // namespace host
}  // namespace vemo
