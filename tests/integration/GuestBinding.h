#pragma once

// Points this process's simulated guest at one vemo-hostd: the NAT forwards the camera and
// control ports to the host's loopback ports and the guest driver reaches its endpoint. For
// tests that open a camera through the module in the test process itself.

#include <string>
#include <utility>
#include <vector>

#include "support/HostProcess.h"

namespace vemo {
namespace test {

// Sets the environment the emulation reads for the lifetime of the object and restores what
// was there before. One at a time per process; the host must outlive the devices opened.
class GuestBinding {
public:
    explicit GuestBinding(const HostProcess& host);
    ~GuestBinding();

    GuestBinding(const GuestBinding&) = delete;
    GuestBinding& operator=(const GuestBinding&) = delete;

    // False when the host's ready line lacked a port or the endpoint.
    bool complete() const { return _complete; }

private:
    void set(const char* name, const std::string& value);

    std::vector<std::pair<std::string, std::pair<bool, std::string>>> _saved;
    bool _complete = false;
};

}  // namespace test
}  // namespace vemo
