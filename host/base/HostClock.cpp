#include "HostClock.h"

namespace vemo {
namespace host {

void HostClock::waitUntil(TimePoint deadline) {
    std::unique_lock<std::mutex> lock(_lock);
    _stopping.wait_until(lock, deadline, [this] { return _stopped; });
}

void HostClock::stop() {
    {
        std::lock_guard<std::mutex> guard(_lock);
        _stopped = true;
    }
    _stopping.notify_all();
}

}  // namespace host
}  // namespace vemo
