#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HostState.h"
#include "Pairing.h"

namespace vemo {
namespace host {

// The HGCM clients while they are connected: the driver handle each belongs to and its pairing
// with a control socket (the current one, or the last until a new open). Client ids are random,
// non-zero and unique among the clients connected: pairing needs the id the driver handed to
// the guest, so that no other local process can take over a guest's client by counting.
// Thread-safe: the endpoint threads and the control port's threads share it.
class ClientTable {
public:
    // Clients of all handles together: as many as the endpoint's handles may have.
    static constexpr size_t kMaxClients = 4096;

    // state must outlive the table.
    explicit ClientTable(HostState& state) : _state(state) {}

    ClientTable(const ClientTable&) = delete;
    ClientTable& operator=(const ClientTable&) = delete;

    // A new client of the driver handle: true and its id, or false with *why when the handle
    // has its limit of clients already (HostLimits), the table is full or the host is stopping.
    bool add(unsigned handle, uint32_t* id, std::string* why);

    // Whether the handle has the client; if so, *pairing is its pairing (null if none yet).
    bool find(unsigned handle, uint32_t id, std::shared_ptr<Pairing>* pairing) const;

    // Removes the handle's client and ends its pairing. False when the handle has no such client.
    bool remove(unsigned handle, uint32_t id);

    // The ids of the handle's clients.
    std::vector<uint32_t> clientsOf(unsigned handle) const;

    struct ClientSummary {
        uint32_t id = 0;
        unsigned handle = 0;
        std::shared_ptr<Pairing> pairing;  // null before the first open
    };
    // Every client connected now, by id.
    std::vector<ClientSummary> clients() const;

    // Pairs the client with the control socket and a session for the port (see Pairing). Null
    // with *why when there is no such client, it is open already or the host is stopping.
    std::shared_ptr<Pairing> open(uint64_t id, uint32_t port, int controlFd, std::string* why);

    // Ends every pairing and takes no new clients or pairings, so that nothing waits any more.
    void shutdown();

private:
    struct Client {
        unsigned handle;
        std::shared_ptr<Pairing> pairing;
    };

    HostState& _state;
    mutable std::mutex _lock;
    std::map<uint32_t, Client> _clients;  // guarded by _lock
    bool _stopping = false;               // guarded by _lock
};

}  // namespace host
}  // namespace vemo
