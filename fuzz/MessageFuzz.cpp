// Decodes arbitrary bytes as a remote-call message. Whatever decodes must encode again to a
// message that decodes to the same bytes.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include <vemo/log_hook.h>

#include "RemoteParameters.h"

namespace {
void quiet(int, const char*, const char*, void*) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vemo_log_set_hook(quiet, nullptr, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    android::CRemoteParameters message;
    const int end = message.unflatten(data, size);
    if (end < -1 || end >= static_cast<int>(size == 0 ? 1 : size)) {
        __builtin_trap();
    }
    std::vector<unsigned char> again(static_cast<size_t>(message.getFlattenedSize()));
    if (message.flatten(again.data()) != static_cast<int>(again.size())) {
        __builtin_trap();
    }
    android::CRemoteParameters decoded;
    if (decoded.unflatten(again.data(), again.size()) != static_cast<int>(again.size()) - 1) {
        __builtin_trap();
    }
    std::vector<unsigned char> third(static_cast<size_t>(decoded.getFlattenedSize()));
    decoded.flatten(third.data());
    if (third != again) {
        __builtin_trap();
    }
    return 0;
}
