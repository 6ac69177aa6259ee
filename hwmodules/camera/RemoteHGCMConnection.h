#pragma once

#include <stdint.h>

#include <memory>

#include "HGCMStream.h"
#include "RemoteConnection.h"
#include "SocketStream.h"

namespace android {

// The connection of an open camera. Request packets go to the host through the guest driver
// (call 9) and replies come back through it (call 10); a TCP control socket to port 10088 of
// the host pairs the driver's client with the service port the caller names.
//
// Control record, 13 bytes, little-endian: command (1 open, 2 close, 3 read), the stream's
// client id as a 64-bit number, and an argument (the port, 0, or a byte count).
//
// Not thread-safe: used under the camera proxy's call lock.
class CRemoteHGCMConnection : public IRemoteConnection {
public:
    enum ControlCommand { CONTROL_OPEN = 1, CONTROL_CLOSE = 2, CONTROL_READ = 3 };

    // The stream connects to the host service at once; the control socket stays closed.
    CRemoteHGCMConnection();
    // Releases the stream's client first, then closes the control socket without a close
    // record.
    ~CRemoteHGCMConnection() override;

    // Connects the control socket to port 10088 of the host named by "ro.tolvd.ip" (up to 5
    // attempts, 1 second apart) and sends the open record naming port. 0 or -1.
    int open(int port);

    // The payload area of the packet buffer, which only grows; NULL while not connected.
    unsigned char* getPktBuffer(unsigned int size) override;
    // One transfer when data is the payload area, else two (length, then payload). Returns 0:
    // a failed transfer makes the following receivePkt fail at once.
    int sendPkt(unsigned char* data, unsigned int length) override;
    // Refuses a zero length and one above kMaxPacketLength. The payload is received in place
    // into the staging area, which it shares with readFully.
    int receivePkt(unsigned char** pkt) override;
    // Sends the close record and closes the control socket; the stream's client stays.
    int close() override;

    // A packet built in the payload area followed by an extra block: one transfer of the
    // packet and the block's length, then one of the block.
    virtual int sendPktWithPtr(unsigned char* data, unsigned int length, unsigned char* extra,
                               unsigned int extraLength);
    // Reads exactly count bytes from the stream; returns dst, or NULL on failure. A host that
    // keeps answering with nothing is asked again with a growing pause, and given up after
    // kQuietLimitMs.
    virtual unsigned char* readFully(unsigned char* dst, unsigned long count);
    // Reads exactly count bytes over the control socket after a read record; dst or NULL.
    virtual unsigned char* readFullyWithStream(unsigned char* dst, unsigned long count);

    bool isConnected() const { return _connected; }

private:
    CRemoteHGCMConnection(const CRemoteHGCMConnection&) = delete;
    CRemoteHGCMConnection& operator=(const CRemoteHGCMConnection&) = delete;

    int writeControl(ControlCommand command, uint32_t argument);
    // The staging area of readFully, room for count bytes after the 4-byte count; it grows, and
    // receivePkt lets go of it when it has grown past kKeptStagingSize.
    unsigned char* staging(unsigned long count);
    // Receives count bytes into area + 4 (area holds count + 4 bytes), however the host splits
    // them: each transfer's count lands in the 4 bytes before the place its data goes, whose
    // bytes are put back afterwards. area or NULL on failure.
    unsigned char* receiveInPlace(unsigned char* area, unsigned long count);

    CSocketStream _control;
    HGCMStream _stream;
    unsigned char* _buffer;
    unsigned int _capacity;
    bool _connected;
    // A request transfer failed: the reply to it will never come.
    bool _send_failed;
    std::unique_ptr<unsigned char[]> _staging;
    unsigned long _staging_capacity;
};

}  // namespace android
