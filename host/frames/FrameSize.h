#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {
namespace host {

// Width and height of a frame in pixels. Every frame size the host accepts has even sides, so
// that the chroma planes of the 4:2:0 formats cover whole 2x2 blocks; thumbnails, which are
// made from RGB pictures, may have odd ones.
struct FrameSize {
    static constexpr uint32_t kMinSide = 16;
    static constexpr uint32_t kMaxSide = 4096;
    // Separates the sizes of a list in option values ("1920x1080/1280x720").
    static constexpr char kListSeparator = '/';

    uint32_t width = 0;
    uint32_t height = 0;

    size_t pixels() const { return static_cast<size_t>(width) * height; }
    // "WIDTHxHEIGHT", as the guest writes sizes.
    std::string text() const;

    bool operator==(const FrameSize& other) const {
        return width == other.width && height == other.height;
    }
    bool operator!=(const FrameSize& other) const { return !(*this == other); }

    enum class Sides { kEven, kAny };

    // "WIDTHxHEIGHT" in decimal, both sides from kMinSide to kMaxSide and, unless sides says
    // otherwise, even; nothing for any other text.
    static std::optional<FrameSize> parse(std::string_view text, Sides sides = Sides::kEven);
    // One or more sizes joined with kListSeparator; nothing when any of them is not a size.
    static std::optional<std::vector<FrameSize>> parseList(std::string_view text);
};

}  // namespace host
}  // namespace vemo
