#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemo {
namespace host {

// Width and height of a frame in pixels. Every size the host accepts has even sides, so that the
// chroma planes of the 4:2:0 formats cover whole 2x2 blocks.
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

    // "WIDTHxHEIGHT" in decimal, both sides even and from kMinSide to kMaxSide; nothing for any
    // other text.
    static std::optional<FrameSize> parse(std::string_view text);
    // One or more sizes joined with kListSeparator; nothing when any of them is not a size.
    static std::optional<std::vector<FrameSize>> parseList(std::string_view text);
};

}  // namespace host
}  // namespace vemo
