// Feeds arbitrary bytes from a loopback peer to the TCP packet connection and decodes every
// packet it accepts as a message.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cutils/properties.h>
#include <vemo/log_hook.h>

#include "RemoteParameters.h"
#include "RemoteSocketConnection.h"

namespace {

int gListener = -1;
int gPort = 0;

void quiet(int, const char*, const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vemo_log_set_hook(quiet, nullptr, 1);
    property_set("ro.tolvd.ip", "127.0.0.1");
    gListener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(gListener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(gListener, 4) != 0 ||
        getsockname(gListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        __builtin_trap();
    }
    gPort = ntohs(address.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) {
        return 0;  // the peer writes everything before the reader starts
    }
    android::CRemoteSocketConnection connection;
    if (connection.open(gPort) != 0) {
        __builtin_trap();
    }
    const int peer = accept(gListener, nullptr, nullptr);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = send(peer, data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    shutdown(peer, SHUT_WR);
    // Each accepted packet consumes at least 5 bytes, so this ends.
    for (;;) {
        unsigned char* packet = nullptr;
        const int length = connection.receivePkt(&packet);
        if (length <= 0) {
            if (packet != nullptr) {
                __builtin_trap();
            }
            break;
        }
        android::CRemoteParameters message;
        message.unflatten(packet, static_cast<size_t>(length));
    }
    close(peer);
    return 0;
}
