#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>

namespace vemo {
namespace host {

// Guards the accesses of one thread to a shared memory mapping that another process may shrink
// at any moment. Touching a page of the mapping that lies past the end of the shrunken object
// raises SIGBUS, which would end the process; inside a guarded region the handler instead puts
// private anonymous memory in place of the whole mapping and returns, so the access that
// faulted is retried and completes on memory nobody else sees, and faulted() tells the owner
// that what it wrote went nowhere. The mapping's address range stays mapped (now anonymously)
// until the owner unmaps it.
//
// The handler is installed for the process on the first guard and stays. A bus error outside
// a guarded region goes to the handler that was installed before, or ends the process as
// usual. One guard at a time per thread; guards of different threads are independent.
class BusErrorGuard {
public:
    // base and size: the whole mapping, as mmap returned it.
    BusErrorGuard(void* base, size_t size);
    ~BusErrorGuard();
    BusErrorGuard(const BusErrorGuard&) = delete;
    BusErrorGuard& operator=(const BusErrorGuard&) = delete;

    // A bus error hit the region since the guard was made.
    bool faulted() const { return _region.faulted != 0; }

    // What the handler needs of a guarded region.
    struct Region {
        uint8_t* base;
        size_t size;
        volatile sig_atomic_t faulted;
    };

private:
    Region _region;
};

}  // namespace host
}  // namespace vemo
