#pragma once

#include "CameraSources.h"
#include "EventRecord.h"
#include "FaultPlan.h"
#include "HostClock.h"
#include "HostConfig.h"
#include "SampleStore.h"

namespace vemo {
namespace host {

// Everything the host's services share while they run: the configuration, read-only, and the
// runtime state that outlives a single connection (kept by the services that own it, each
// guarding its own). Created once in main and passed by reference to every service and
// session; it outlives them all.
struct HostState {
    explicit HostState(const HostConfig& configuration)
        : config(configuration),
          samples(configuration.limits.sampleMemoryBytes),
          sources(configuration) {}
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    const HostConfig& config;
    // What the host saw, for tests (--record); off unless opened.
    EventRecord record;
    // The requests of every connection and pairing, for the faults that count them host-wide.
    HostRequestCount requests;
    // Video frames kept for recording guests, by store and sample number.
    SampleStore samples;
    // What each camera shows now.
    CameraSources sources;
    // What frame pacing waits on; stopped first when the host stops.
    HostClock clock;
};

}  // namespace host
}  // namespace vemo
