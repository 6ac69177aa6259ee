#pragma once

// How vemo-camera ends a failed run: one line on stderr and its exit status.

#include <string>

namespace vemo {
namespace tools {

const int kExitFailure = 1;
const int kExitUsage = 2;

// Prints "vemo-camera: <message>" and returns kExitFailure.
int fail(const std::string& message);

// Prints "vemo-camera: <message> (see --help)" and returns kExitUsage.
int usageError(const std::string& message);

}  // namespace tools
}  // namespace vemo
