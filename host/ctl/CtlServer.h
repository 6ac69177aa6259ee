#pragma once

#include <string>

#include "CtlCommands.h"
#include "TcpServer.h"

namespace vemo {
namespace host {

// The control socket: a Unix stream socket where each connection, on a thread of its own, sends
// request lines and gets the commands' replies (CtlProtocol.h).
class CtlServer {
public:
    // commands must outlive the server.
    explicit CtlServer(const CtlCommands& commands);
    ~CtlServer();
    CtlServer(const CtlServer&) = delete;
    CtlServer& operator=(const CtlServer&) = delete;

    // Listens at path (see listenUnix). Returns 0 or a negative errno, logged here. Called once.
    int start(const std::string& path);
    // Where the socket is, once started.
    const std::string& path() const { return _path; }
    // Ends every connection, joins all threads and removes the socket file.
    void stop();

private:
    // Runs on the connection's own thread.
    void serve(int fd, unsigned id);

    const CtlCommands& _commands;
    TcpServer _server;
    std::string _path;
};

}  // namespace host
}  // namespace vemo
