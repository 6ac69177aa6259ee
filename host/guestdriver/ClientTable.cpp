#include "ClientTable.h"

#include <sys/random.h>

#include <algorithm>
#include <random>

namespace vemo {
namespace host {

namespace {

// Unpredictable without a look at this process: from the kernel's generator, or where that
// fails (early boot, say) from std::random_device, which reads the same source another way.
uint32_t randomId() {
    uint32_t value = 0;
    if (::getrandom(&value, sizeof(value), GRND_NONBLOCK) == static_cast<ssize_t>(sizeof(value))) {
        return value;
    }
    return std::random_device()();
}

}  // namespace

bool ClientTable::add(unsigned handle, uint32_t* id, std::string* why) {
    std::lock_guard<std::mutex> guard(_lock);
    if (_stopping) {
        *why = "the host is stopping";
        return false;
    }
    const uint32_t maxPerHandle = _state.config.limits.maxDriverClients;
    const size_t ofHandle = static_cast<size_t>(
        std::count_if(_clients.begin(), _clients.end(),
                      [handle](const auto& c) { return c.second.handle == handle; }));
    if (ofHandle >= maxPerHandle) {
        *why = "the handle has " + std::to_string(maxPerHandle) + " clients already";
        return false;
    }
    if (_clients.size() >= kMaxClients) {
        *why = std::to_string(kMaxClients) + " clients already";
        return false;
    }
    uint32_t candidate = 0;
    do {
        candidate = randomId();
    } while (candidate == 0 || _clients.count(candidate) != 0);
    _clients[candidate] = Client{handle, nullptr};
    *id = candidate;
    return true;
}

bool ClientTable::find(unsigned handle, uint32_t id, std::shared_ptr<Pairing>* pairing) const {
    std::lock_guard<std::mutex> guard(_lock);
    const auto it = _clients.find(id);
    if (it == _clients.end() || it->second.handle != handle) {
        return false;
    }
    *pairing = it->second.pairing;
    return true;
}

bool ClientTable::remove(unsigned handle, uint32_t id) {
    std::shared_ptr<Pairing> pairing;
    {
        std::lock_guard<std::mutex> guard(_lock);
        const auto it = _clients.find(id);
        if (it == _clients.end() || it->second.handle != handle) {
            return false;
        }
        pairing = std::move(it->second.pairing);
        _clients.erase(it);
    }
    // Outside the lock: ending may wait for a request the session is answering.
    if (pairing != nullptr) {
        pairing->end();
    }
    return true;
}

std::vector<uint32_t> ClientTable::clientsOf(unsigned handle) const {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<uint32_t> ids;
    for (const auto& [id, client] : _clients) {
        if (client.handle == handle) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<ClientTable::ClientSummary> ClientTable::clients() const {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<ClientSummary> clients;
    for (const auto& [id, client] : _clients) {
        clients.push_back(ClientSummary{id, client.handle, client.pairing});
    }
    return clients;
}

std::shared_ptr<Pairing> ClientTable::open(uint64_t id, uint32_t port, int controlFd,
                                           std::string* why) {
    std::lock_guard<std::mutex> guard(_lock);
    if (_stopping) {
        *why = "the host is stopping";
        return nullptr;
    }
    const auto it = id <= UINT32_MAX ? _clients.find(static_cast<uint32_t>(id)) : _clients.end();
    if (it == _clients.end()) {
        *why = "no HGCM client " + std::to_string(id);
        return nullptr;
    }
    if (it->second.pairing != nullptr && it->second.pairing->live()) {
        *why = "client " + std::to_string(id) + " is open already";
        return nullptr;
    }
    it->second.pairing = std::make_shared<Pairing>(_state, it->first, port, controlFd);
    return it->second.pairing;
}

void ClientTable::shutdown() {
    std::vector<std::shared_ptr<Pairing>> pairings;
    {
        std::lock_guard<std::mutex> guard(_lock);
        _stopping = true;
        for (auto& [id, client] : _clients) {
            if (client.pairing != nullptr) {
                pairings.push_back(client.pairing);
            }
        }
    }
    for (const auto& pairing : pairings) {
        pairing->end();
    }
}

}  // namespace host
}  // namespace vemo
