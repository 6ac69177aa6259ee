#pragma once

#include <cstdint>
#include <string>

#include "IHgcmService.h"
#include "TcpServer.h"

namespace vemo {
namespace host {

// The guest-driver endpoint: a Unix stream socket where every connection is one open driver
// handle of a guest, speaking the wire of vemo/hgcm_wire.h (see HgcmChannel) to the service.
// A handle that has connected no client within the idle limit is closed (TcpServer).
class HgcmEndpoint {
public:
    // service must outlive the endpoint. idleLimitMs: see TcpServer (0: none).
    HgcmEndpoint(IHgcmService& service, uint32_t idleLimitMs);
    ~HgcmEndpoint();

    HgcmEndpoint(const HgcmEndpoint&) = delete;
    HgcmEndpoint& operator=(const HgcmEndpoint&) = delete;

    // Listens at path (see listenUnix). Returns 0 or a negative errno, logged here. Called once.
    int start(const std::string& path);

    // Where the endpoint listens, once started.
    const std::string& path() const { return _path; }

    // Stops accepting, ends every connection, joins all threads and removes the socket file.
    // Whoever wakes the calls that wait (ClientTable::shutdown) does so first, or the threads
    // end only as they notice their guest gone.
    void stop();

private:
    IHgcmService& _service;
    TcpServer _server;
    std::string _path;
};

}  // namespace host
}  // namespace vemo
