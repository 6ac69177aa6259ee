#pragma once

#include <optional>

#include "FrameRate.h"
#include "IClock.h"

namespace vemo {
namespace host {

// Spaces one camera instance's pictures at a frame rate, as a real camera delivers them: each
// picture is due one period after the one before, and next() waits on the clock until it is.
// A caller that keeps up gets the rate exactly, without drift; one that asks late by less than
// a period gets its picture at once and the cadence stays; one that is later than that (or
// asks for the first time) starts a new cadence from now, so a pause never earns a burst of
// quick pictures. Used by one thread at a time.
class FramePacer {
public:
    // clock must outlive the pacer.
    explicit FramePacer(IClock& clock) : _clock(clock) {}

    // Waits, when need be, until the next picture at rate is due, and counts it as taken.
    void next(FrameRate rate);

private:
    IClock& _clock;
    std::optional<IClock::TimePoint> _due;
};

}  // namespace host
}  // namespace vemo
