#pragma once

namespace android {

// Largest packet payload a connection accepts from the host. Frames of the largest sizes the
// host offers are a few megabytes; anything beyond this is a broken or hostile peer.
static const unsigned int kMaxPacketLength = 64u * 1024u * 1024u;

// A packet connection to the host. One call is: getPktBuffer, flatten into the area, sendPkt
// with that area, receivePkt. Packets are a 4-byte little-endian payload length, then the
// payload. The request area and each received payload belong to the connection: a reply is
// read where it lies and dropped at the next receivePkt, and the hybrid connection reuses its
// areas from call to call, so that a frame of several MB costs no fresh pages on its way.
// Not thread-safe: one call at a time.
class IRemoteConnection {
public:
    virtual ~IRemoteConnection() {}
    // A writable area of at least size bytes that belongs to the connection, or NULL.
    virtual unsigned char* getPktBuffer(unsigned int size) = 0;
    // Sends the packet built in data, which must be the area getPktBuffer returned. 0 = sent.
    virtual int sendPkt(unsigned char* data, unsigned int length) = 0;
    // Waits for one whole packet and stores the address of its payload through pkt; returns
    // the payload length. The payload belongs to the connection and stays valid until the
    // next receivePkt or close. 0 with *pkt NULL on failure.
    virtual int receivePkt(unsigned char** pkt) = 0;
    // Ends the connection; harmless on a closed one. Returns 0.
    virtual int close() = 0;
};

}  // namespace android
