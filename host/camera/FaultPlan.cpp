#include "FaultPlan.h"

#include <cstring>
#include <vector>

namespace vemo {
namespace host {

void FaultPlan::shape(PacketBuffer* reply) const {
    if (!_faults.malformed) {
        return;
    }
    std::vector<uint8_t> bytes(reply->payload(), reply->payload() + reply->payloadSize());
    const void* keyEnd =
        bytes.size() > 1 ? std::memchr(bytes.data(), 0, bytes.size() - 1) : nullptr;
    if (bytes[0] != 0 && keyEnd != nullptr) {
        bytes[static_cast<size_t>(static_cast<const uint8_t*>(keyEnd) - bytes.data()) + 1] =
            kBadTypeCode;
    } else {
        bytes.assign(1, '?');
    }
    std::memcpy(reply->preparePayload(bytes.size()), bytes.data(), bytes.size());
}

}  // namespace host
}  // namespace vemo
