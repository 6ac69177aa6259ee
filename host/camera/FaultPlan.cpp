#include "FaultPlan.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Log.h"

namespace vemo {
namespace host {

void HostRequestCount::take(const HostFaults& faults) {
    using Clock = std::chrono::steady_clock;
    const uint32_t count = ++_count;
    if (faults.exitAfter != 0 && count >= faults.exitAfter) {
        logLine(LogLevel::kError, "exiting at request %u (exit-after fault)", count);
        std::_Exit(kExitStatus);
    }
    const auto nowNs = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    };
    if (faults.freezeAfter != 0 && count == faults.freezeAfter) {
        logLine(LogLevel::kInfo, "frozen for %u ms at request %u (freeze-after fault)",
                faults.freezeMs, count);
        _frozenUntilNs = nowNs() + int64_t{faults.freezeMs} * 1000000;
    }
    const int64_t until = _frozenUntilNs;
    const int64_t left = until - nowNs();
    if (until != 0 && left > 0) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(left));
    }
}

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
