#include "FramePacer.h"

namespace vemo {
namespace host {

void FramePacer::next(FrameRate rate) {
    const std::chrono::nanoseconds period = rate.period();
    IClock::TimePoint taken = _clock.now();
    if (_due && taken < *_due + period) {
        if (taken < *_due) {
            _clock.waitUntil(*_due);
        }
        taken = *_due;
    }
    _due = taken + period;
}

}  // namespace host
}  // namespace vemo
