#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "CallStatus.h"
#include "FrameSize.h"

namespace vemo {
namespace host {

// The preview window buffers that one instance fills: POSIX shared memory objects in the
// layout of vemo/gralloc_shm.h, which the guest's graphics allocator creates and sizes and
// names by the id the guest passes to updateFrameToCB. Used by one thread at a time.
//
// Nothing the guest controls is trusted. The header is read once per frame into locals and
// checked: magic, version, format RGB888, a size from 1 to kMaxSide each way, rows of at least
// width x 3 bytes, and height rows of stride bytes within both the header's capacity and the
// object's real size. Only then are pixels written, at the buffer's own width and height,
// never past the rows the header describes. A guest that shrinks the object while it is being
// written costs the frame, not the process (BusErrorGuard).
//
// Mappings are kept by id, at most kMaxMapped of them (the least recently used goes first),
// and checked with one fstat per frame: an object that has been unlinked or resized since is
// mapped afresh. They are unmapped when the instance is deleted.
class WindowBuffers {
public:
    static constexpr size_t kMaxMapped = 8;
    static constexpr uint32_t kMaxSide = 8192;
    // Objects larger than this are not mapped.
    static constexpr size_t kMaxObjectSize = 512u << 20;

    // One picture as window buffers want it: RGB888 (R, G, B bytes) without row padding.
    struct Picture {
        const uint8_t* rgb = nullptr;
        FrameSize size;
        uint64_t timestamp = 0;  // microseconds on the monotonic clock
        uint64_t number = 0;     // of the source's picture
    };

    WindowBuffers() = default;
    ~WindowBuffers();
    WindowBuffers(const WindowBuffers&) = delete;
    WindowBuffers& operator=(const WindowBuffers&) = delete;

    // Draws the picture into buffer id, scaled to the buffer's size, then sets the header's
    // frame number and timestamp and increments its sequence, in that order, the sequence
    // last. A buffer that is missing or does not fit is an error saying why; the first error of
    // an id since it last worked is CallStatus::error, later ones CallStatus::repeatedError, so
    // that a guest that keeps asking for a bad buffer gets one warning, not one a frame.
    CallStatus write(uint32_t id, const Picture& picture);

    // Ids mapped now, least recently used first.
    std::vector<uint32_t> mappedIds() const;

private:
    struct Mapping {
        uint32_t id = 0;
        int fd = -1;
        uint8_t* base = nullptr;
        size_t size = 0;
        uint64_t lastUse = 0;
    };

    // The mapping of id, made or checked afresh; null with *why when there is none.
    Mapping* map(uint32_t id, std::string* why);
    // Draws into a mapping under a bus error guard; false with *why when it can't.
    bool draw(Mapping& mapping, const Picture& picture, std::string* why);
    void unmap(size_t index);
    CallStatus failure(uint32_t id, const std::string& why);

    std::vector<Mapping> _mapped;
    uint64_t _uses = 0;
    std::set<uint32_t> _failing;  // ids whose failure has been reported once
    // Scaling goes through ARGB; the storage is kept from frame to frame.
    std::vector<uint8_t> _argbIn;
    std::vector<uint8_t> _argbOut;
};

}  // namespace host
}  // namespace vemo
