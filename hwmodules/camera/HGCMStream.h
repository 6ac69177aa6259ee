#pragma once

#include <stdint.h>

// Moves bytes between the guest and the host service "VemoVMGuestPropSvc" through the
// VirtualBox guest driver's HGCM calls. The calls are shaped like guest-property calls: a text
// label, a value buffer and a flags text. The stream also names a host buffer ("vemo_shm_99"
// by default) that some calls write into at a running position, used as a ring of
// kSpan bytes, and that the destructor releases.
//
// Not thread-safe: its owner makes one call at a time. Every call is one blocking ioctl; data is
// passed by address and never copied.
class HGCMStream {
public:
    // Span of the named host buffer: positions run from 0 to kSpan - 1.
    static const uint32_t kSpan = 0x3FFFFFC;

    // Each runs the connect step; its failure is only logged (the next call tries again).
    HGCMStream();
    HGCMStream(int a, int b);  // names the buffer "vemo_shm_<a>_<b>"
    // Releases the named buffer (call 8), disconnects and closes the driver, when open.
    virtual ~HGCMStream();

    int setPos(unsigned int pos);
    unsigned int getPos() const { return _pos; }
    unsigned int getAvail() const { return kSpan - _pos; }
    unsigned int seek(unsigned int delta);
    const char* getSharedMemoryName() const { return _name; }
    uint32_t getClientId() const { return _client_id; }

    // Every call returns the connect step's failure, -1 when the driver request fails, or the
    // result the host put into the request (0 or more on success).

    // Call 7: writes data into the named buffer at the position, which is handed back through
    // pos (a block that does not fit before the end goes to offset 0).
    int commitBuffer(void* data, unsigned int length, unsigned int* pos);
    // Call 7 with the label "<name>:<index>".
    int _VbglR3GuestPropWriteValue(void* data, unsigned int length, char* name, unsigned int index);
    // Call 8: releases the named host buffer.
    int freeBuffer(char* name);
    // Call 9: sends length bytes of data, in order.
    int sendData1(void* data, unsigned int length);
    // Call 10: receives at most length bytes into buffer, which holds length + 4 bytes: a signed
    // 32-bit count of the bytes delivered (negative: none), then the bytes. Resets the position.
    int recvData(void* buffer, unsigned int length);
    // Call 11.
    int mapBuffer(void* buffer, unsigned int length);

private:
    HGCMStream(const HGCMStream&) = delete;
    HGCMStream& operator=(const HGCMStream&) = delete;

    struct Parameter {
        const void* data;
        uint32_t size;
    };

    // Opens the driver and connects to the host service.
    int connect();
    // Makes call function with count parameters (1 to 3) in a request with room for slots;
    // *made tells whether the request reached the driver.
    int call(uint32_t function, const Parameter* parameters, unsigned count, unsigned slots,
             bool* made = nullptr);
    // Call 7 with a label, then the position rules.
    int writeValue(const char* label, void* data, unsigned int length);

    char _name[32];
    int _handle;
    uint32_t _client_id;
    uint32_t _pos;
};
