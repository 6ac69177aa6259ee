// Decodes arbitrary bytes with the host's message decoder. Whatever decodes is canonical, so it
// must encode to exactly the bytes it came from; whatever does not decode must say where, within
// the bytes.

#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "EventRecord.h"
#include "Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vemo::host::Message message;
    const vemo::host::DecodeResult decoded = message.decode(data, size);
    if (!decoded.ok()) {
        if (decoded.offset > size || decoded.describe().empty()) {
            __builtin_trap();
        }
        return 0;
    }
    const std::vector<uint8_t> again = message.encode();
    if (again.size() != size || message.encodedSize() != size ||
        !std::equal(again.begin(), again.end(), data)) {
        __builtin_trap();
    }
    // The record line of a request holds nothing of the guest's unescaped.
    for (const char c : vemo::host::EventRecord::entries(message)) {
        if (c == '\n' || c == '\0') {
            __builtin_trap();
        }
    }
    return 0;
}
