#pragma once

// Loopback sockets for the tests: a bound socket, a listener that can tell whether a connection
// arrived, a port where nothing listens, and a check that the guest's NAT is in force.

#include <string>

namespace vemo {
namespace test {

// A new TCP socket bound to an ephemeral port of 127.0.0.1, *port set; -1 on failure.
int bindLoopback(int* port);

// A TCP socket listening on an ephemeral port of 127.0.0.1.
class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();

    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return _port; }
    // Waits up to timeoutMs for a connection and accepts it; returns the peer's address
    // ("127.0.0.1"), or an empty text when none came.
    std::string accept(int timeoutMs);

private:
    int _fd = -1;
    int _port = -1;
};

// A loopback port that is bound, so that nothing else takes it, but not listening: every
// connect to it is refused at once.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();

    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return _port; }

private:
    int _fd = -1;
    int _port = -1;
};

// True when this process's connect is the guest's NAT: it refuses a datagram connect to
// 0.0.0.0, which the system itself accepts. Sends nothing. Tests check it before anything
// that connects to the host alias, which must never go out unmapped.
bool guestNatActive();

}  // namespace test
}  // namespace vemo
