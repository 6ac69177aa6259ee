#pragma once

#include <condition_variable>
#include <mutex>

#include "IClock.h"

namespace vemo {
namespace host {

// The steady clock, whose waits stop() ends at once, and every later one too. The host calls
// stop() first when it stops, so no thread waits for its next frame time any more. Thread-safe.
class HostClock : public IClock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void waitUntil(TimePoint deadline) override;

    void stop();

private:
    mutable std::mutex _lock;
    std::condition_variable _stopping;
    bool _stopped = false;  // guarded by _lock
};

}  // namespace host
}  // namespace vemo
