#include "Report.h"

#include <stdio.h>

namespace vemo {
namespace tools {

int fail(const std::string& message) {
    fprintf(stderr, "vemo-camera: %s\n", message.c_str());
    return kExitFailure;
}

int usageError(const std::string& message) {
    fprintf(stderr, "vemo-camera: %s (see --help)\n", message.c_str());
    return kExitUsage;
}

}  // namespace tools
}  // namespace vemo
