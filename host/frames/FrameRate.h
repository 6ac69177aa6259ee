#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vemo {
namespace host {

// Pictures per second as a fraction, so that a clip's 30000:1001 keeps its exact period.
struct FrameRate {
    static constexpr uint32_t kMinFps = 1;
    static constexpr uint32_t kMaxFps = 120;

    uint32_t numerator = 30;
    uint32_t denominator = 1;

    // Time from one picture to the next.
    std::chrono::nanoseconds period() const {
        return std::chrono::nanoseconds(uint64_t{1000000000} * denominator / numerator);
    }
    // Whether the rate is from kMinFps to kMaxFps pictures a second (and has no zero in it).
    bool inRange() const {
        return numerator != 0 && denominator != 0 &&
               uint64_t{numerator} >= uint64_t{kMinFps} * denominator &&
               uint64_t{numerator} <= uint64_t{kMaxFps} * denominator;
    }
    // "30" for whole rates, else "30000/1001".
    std::string text() const {
        return denominator == 1 ? std::to_string(numerator)
                                : std::to_string(numerator) + "/" + std::to_string(denominator);
    }

    bool operator==(const FrameRate& other) const {
        return uint64_t{numerator} * other.denominator == uint64_t{other.numerator} * denominator;
    }
};

}  // namespace host
}  // namespace vemo
