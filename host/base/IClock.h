#pragma once

#include <chrono>

namespace vemo {
namespace host {

// The time the host waits on: monotonic, and interruptible so that a stopping host is not held
// up by a wait. Tests put a clock of their own in its place.
class IClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IClock() = default;

    virtual TimePoint now() const = 0;
    // Waits until deadline, or less when the host stops. Any thread.
    virtual void waitUntil(TimePoint deadline) = 0;
};

}  // namespace host
}  // namespace vemo
