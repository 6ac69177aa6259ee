#pragma once

// Parsers of the values the subcommands take. Each returns false, leaving *out alone, for
// text that is not entirely one such value in range.

#include <string>

namespace vemo {
namespace tools {

// A camera number: decimal, 0 to INT_MAX.
bool parseCamera(const std::string& text, int* camera);
// A decimal integer from min to max.
bool parseInt(const std::string& text, long min, long max, long* out);
// A decimal number (fractions allowed) from min to max.
bool parseNumber(const std::string& text, double min, double max, double* out);
// "WIDTHxHEIGHT", each side from min to max.
bool parseSize(const std::string& text, int min, int max, int* width, int* height);

}  // namespace tools
}  // namespace vemo
