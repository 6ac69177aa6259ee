#include "FrameSize.h"

#include <charconv>

namespace vemo {
namespace host {

namespace {

std::optional<uint32_t> parseSide(std::string_view text, FrameSize::Sides sides) {
    uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end ||
        (sides == FrameSize::Sides::kEven && value % 2 != 0) || value < FrameSize::kMinSide ||
        value > FrameSize::kMaxSide) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string FrameSize::text() const {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::optional<FrameSize> FrameSize::parse(std::string_view text, Sides sides) {
    const size_t x = text.find('x');
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<uint32_t> width = parseSide(text.substr(0, x), sides);
    const std::optional<uint32_t> height = parseSide(text.substr(x + 1), sides);
    if (!width || !height) {
        return std::nullopt;
    }
    return FrameSize{*width, *height};
}

std::optional<std::vector<FrameSize>> FrameSize::parseList(std::string_view text) {
    std::vector<FrameSize> sizes;
    for (;;) {
        const size_t separator = text.find(kListSeparator);
        const std::optional<FrameSize> size = parse(text.substr(0, separator));
        if (!size) {
            return std::nullopt;
        }
        sizes.push_back(*size);
        if (separator == std::string_view::npos) {
            return sizes;
        }
        text = text.substr(separator + 1);
    }
}

}  // namespace host
}  // namespace vemo
