// Frames arbitrary bytes into packets as the TCP packet connection does, from memory, and
// decodes every packet it accepts as a message.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vemo/log_hook.h>

#include "PacketReader.h"
#include "RemoteParameters.h"

namespace {

void quiet(int, const char*, const char*, void*) {}

// The input as the stream a peer wrote and then closed.
class MemorySource : public android::CPacketReader::ISource {
public:
    MemorySource(const uint8_t* data, size_t size) : _data(data), _left(size) {}
    int readFully(void* buffer, unsigned int length) override {
        if (length > _left) {
            _left = 0;
            return -1;
        }
        memcpy(buffer, _data, length);
        _data += length;
        _left -= length;
        return 0;
    }

private:
    const uint8_t* _data;
    size_t _left;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vemo_log_set_hook(quiet, nullptr, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource source(data, size);
    // One reader for the run, as one connection reads packet after packet: its area only grows,
    // so a length near the limit costs its allocation once, not on every input.
    static android::CPacketReader reader;
    // Each accepted packet consumes at least 5 bytes, so this ends.
    for (;;) {
        unsigned char* packet = nullptr;
        const int length = reader.receive(&source, &packet);
        if (length <= 0) {
            if (packet != nullptr) {
                __builtin_trap();
            }
            break;
        }
        android::CRemoteParameters message;
        message.unflatten(packet, static_cast<size_t>(length));
    }
    return 0;
}
