#include "HandleTable.h"

#include <pthread.h>
#include <sys/stat.h>

#include <utility>

namespace vemo {
namespace guest {

HandleTable& HandleTable::instance() {
    static HandleTable* const table = new HandleTable;
    return *table;
}

// A child forked while another thread holds the lock would find it held for ever; holding it
// across fork gives the child a table in a known state.
HandleTable::HandleTable() {
    pthread_atfork([] { instance()._lock.lock(); }, [] { instance()._lock.unlock(); },
                   [] { instance()._lock.unlock(); });
}

void HandleTable::add(int fd, std::shared_ptr<DriverSession> session) {
    std::lock_guard<std::mutex> guard(_lock);
    eraseLocked(fd);
    _sessions.emplace(fd, std::move(session));
    _count.store(_sessions.size(), std::memory_order_release);
}

std::shared_ptr<DriverSession> HandleTable::find(int fd) {
    if (empty()) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _sessions.find(fd);
    if (found == _sessions.end()) {
        return nullptr;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !found->second->isSocket(status.st_dev, status.st_ino)) {
        eraseLocked(fd);
        return nullptr;
    }
    return found->second;
}

void HandleTable::remove(int fd) {
    if (empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(_lock);
    eraseLocked(fd);
}

void HandleTable::copy(int fd, int target) {
    if (empty()) {
        return;
    }
    std::lock_guard<std::mutex> guard(_lock);
    eraseLocked(target);
    const auto found = _sessions.find(fd);
    if (found != _sessions.end()) {
        _sessions.emplace(target, found->second);
    }
    _count.store(_sessions.size(), std::memory_order_release);
}

void HandleTable::eraseLocked(int fd) {
    _sessions.erase(fd);
    _count.store(_sessions.size(), std::memory_order_release);
}

}  // namespace guest
}  // namespace vemo
