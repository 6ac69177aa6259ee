#pragma once

// The descriptors of the process that stand for "/dev/vboxguest", each mapped to its session.
// Copies made with dup, dup2 and dup3 share the session of their original, as copies of a
// driver handle share its file. A descriptor that was closed behind the emulation's back (by
// a call it does not replace) and reused for another file is recognised by the file's
// identity and forgotten, never taken for the driver.

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "DriverSession.h"

namespace vemo {
namespace guest {

class HandleTable {
public:
    // The process's one table. It is never destroyed: descriptors are closed until the very end
    // of the process.
    static HandleTable& instance();

    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    void add(int fd, std::shared_ptr<DriverSession> session);
    // The session of fd, or null when fd is not (or no longer) a driver handle.
    std::shared_ptr<DriverSession> find(int fd);
    // fd was closed.
    void remove(int fd);
    // target became a copy of fd (target's earlier file, if any, was closed).
    void copy(int fd, int target);

    // Cheap test for the calls that every program makes: false while no driver handle exists.
    bool empty() const { return _count.load(std::memory_order_acquire) == 0; }

private:
    HandleTable();

    // Runs with _lock held.
    void eraseLocked(int fd);

    std::mutex _lock;
    std::unordered_map<int, std::shared_ptr<DriverSession>> _sessions;  // guarded by _lock
    std::atomic<size_t> _count{0};
};

}  // namespace guest
}  // namespace vemo
