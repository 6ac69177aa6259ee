#include "Progress.h"

#include <stdio.h>
#include <unistd.h>

namespace vemo {
namespace tools {

namespace {

const std::chrono::milliseconds kInterval(100);

}  // namespace

Progress::Progress() : _shown(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    if (_shown && _width > 0) {
        fprintf(stderr, "\r%*s\r", static_cast<int>(_width), "");
    }
}

void Progress::show(const std::string& text) {
    const auto now = std::chrono::steady_clock::now();
    if (!_shown || (_width > 0 && now - _last < kInterval)) {
        return;
    }
    _last = now;
    // Blanks cover what is left of a longer line before.
    const size_t pad = _width > text.size() ? _width - text.size() : 0;
    fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
    _width = text.size();
    fflush(stderr);
}

}  // namespace tools
}  // namespace vemo
