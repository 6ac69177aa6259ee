#pragma once

#include "PacketReader.h"
#include "RemoteConnection.h"
#include "SocketStream.h"

namespace android {

// The plain TCP packet connection of the short module-level queries. Lives for one query on
// one thread.
class CRemoteSocketConnection : public IRemoteConnection {
public:
    CRemoteSocketConnection();
    ~CRemoteSocketConnection() override;

    // Connects to port of the host named by "ro.tolvd.ip" (default "10.0.2.2"): up to 5
    // attempts with a 1-second sleep after each failed one. 0, or -1 after the fifth failure.
    int open(int port);

    // A fresh array of exactly size bytes; the previous one is released.
    unsigned char* getPktBuffer(unsigned int size) override;
    // Writes the length, then the payload; the packet array is released once both are out.
    int sendPkt(unsigned char* data, unsigned int length) override;
    // Refuses a zero length and one above kMaxPacketLength, closing the stream in the latter
    // case since the bytes that follow can no longer be framed.
    int receivePkt(unsigned char** pkt) override;
    int close() override;

private:
    void releaseBuffer();

    CSocketStream _stream;
    unsigned char* _buffer;
    CPacketReader _reader;
};

}  // namespace android
