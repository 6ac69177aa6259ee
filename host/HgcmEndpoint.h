#pragma once

#include <string>

#include "IHgcmService.h"
#include "TcpServer.h"

namespace vemo {
namespace host {

// The guest-driver endpoint: a Unix stream socket where every connection is one open driver
// handle of a guest, speaking the wire of vemo/hgcm_wire.h (see HgcmChannel) to the service.
class HgcmEndpoint {
public:
    // service must outlive the endpoint.
    explicit HgcmEndpoint(IHgcmService& service);
    ~HgcmEndpoint();

    HgcmEndpoint(const HgcmEndpoint&) = delete;
    HgcmEndpoint& operator=(const HgcmEndpoint&) = delete;

    // Listens at path or, when path is empty, at "hgcm.sock" in a new private directory under
    // $TMPDIR (or /tmp). A socket left at path by a host that is gone is replaced; anything else
    // there is an error. Returns 0 or a negative errno, logged here. Called once.
    int start(const std::string& path);

    // Where the endpoint listens, once started.
    const std::string& path() const { return _path; }

    // Stops accepting, ends every connection, joins all threads and removes the socket file and
    // the directory made for it. Whoever wakes the calls that wait (ClientTable::shutdown) does
    // so first, or the threads end only as they notice their guest gone.
    void stop();

private:
    // Removes what start made on the file system.
    void removeFiles();

    IHgcmService& _service;
    TcpServer _server;
    std::string _path;
    std::string _directory;  // made by start; empty when the path was given
};

}  // namespace host
}  // namespace vemo
