#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "HostConfig.h"
#include "PacketBuffer.h"

namespace vemo {
namespace host {

// The requests the whole host has taken, for the faults that count them across every
// connection and pairing (exit-after, freeze-after). Thread-safe.
class HostRequestCount {
public:
    // Exit status of a host that the exit-after fault ends.
    static constexpr int kExitStatus = 3;

    // Counts one request. Exits the process at once on the exit-after'th; starts the freeze on
    // the freeze-after'th; returns once no freeze holds any more.
    void take(const HostFaults& faults);

private:
    std::atomic<uint32_t> _count{0};
    std::atomic<int64_t> _frozenUntilNs{0};  // steady clock; 0: no freeze
};

// How the configured faults bend the answers of one connection (TCP camera port) or one
// pairing (HGCM client): whether to serve at all, whether to answer, what a reply looks like,
// how many bytes go in one transfer and when to end. One per connection or pairing, used by one
// thread at a time.
class FaultPlan {
public:
    // Byte that takes the place of the first entry's type code in a malformed reply.
    static constexpr uint8_t kBadTypeCode = 0xEE;

    // host counts the requests of the whole host (see HostRequestCount); it must outlive the
    // plan.
    FaultPlan(const HostFaults& faults, HostRequestCount& host) : _faults(faults), _host(host) {}

    // Connections are accepted and closed at once.
    bool refuses() const { return _faults.refuse; }
    // Requests are taken but never answered.
    bool answers() const { return !_faults.stall; }
    // Most bytes one transfer of reply bytes may carry.
    size_t transferLimit() const { return _faults.bytePerTransfer ? 1 : SIZE_MAX; }

    // Counts one request taken, here and host-wide, and waits out a freeze; true when the
    // connection or pairing ends after it.
    bool takeRequest() {
        _host.take(_faults);
        ++_requests;
        return _faults.closeAfter != 0 && _requests >= _faults.closeAfter;
    }

    // Makes the reply the session built ill-formed when the malformed fault is on: the first
    // entry gets a type code no message knows, or an empty message loses its end byte.
    void shape(PacketBuffer* reply) const;

private:
    const HostFaults _faults;
    HostRequestCount& _host;
    uint32_t _requests = 0;
};

}  // namespace host
}  // namespace vemo
