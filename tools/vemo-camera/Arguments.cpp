#include "Arguments.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdlib.h>

namespace vemo {
namespace tools {

bool parseInt(const std::string& text, long min, long max, long* out) {
    if (text.empty() || isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool parseCamera(const std::string& text, int* camera) {
    long value = 0;
    if (!parseInt(text, 0, INT_MAX, &value)) {
        return false;
    }
    *camera = static_cast<int>(value);
    return true;
}

bool parseNumber(const std::string& text, double min, double max, double* out) {
    if (text.empty() || isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double value = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !isfinite(value) || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool parseSize(const std::string& text, int min, int max, int* width, int* height) {
    const size_t x = text.find('x');
    long w = 0;
    long h = 0;
    if (x == std::string::npos || !parseInt(text.substr(0, x), min, max, &w) ||
        !parseInt(text.substr(x + 1), min, max, &h)) {
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

}  // namespace tools
}  // namespace vemo
