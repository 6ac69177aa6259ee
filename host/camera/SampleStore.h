#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "FrameSize.h"
#include "PixelFormat.h"

namespace vemo {
namespace host {

// Video frames kept on the host for a recording guest that hands out only their names: a store
// number and a sample number. Each recording camera instance has a store of its own; a sample
// stays until it is released or its store is closed.
//
// A store is bounded: it holds at most kMaxSamples samples and kMaxBytes bytes of them (64
// frames of 1920x1080 take 190 MiB). Saving into a full store drops its oldest outstanding
// sample (a warning for the first drop of a store, debug lines for later ones), so a client that
// never releases slows nothing down and can't exhaust memory; a release of a dropped sample
// answers as for an unknown one.
//
// All stores together hold no more sample bytes than the host's budget: a save that would
// pass it fails (one warning for the first refusal of a store), so that clients that never
// release can't take the host's memory between them. The memory of a closed store goes back to
// the system, not only to the allocator.
//
// Samples take the storage of the frames saved into them as it is, without a copy. The storage
// of released and dropped samples that nobody reads any more is kept, a few frames worth, for
// the next frames, so that recording allocates no frame memory in its steady state. Storage
// carries a note of its saver's (Storage): what it held when it was saved, so that a saver that
// gets it back can tell how much of it is still up to date.
//
// Shared by every connection: all functions may be called from any thread.
class SampleStore {
public:
    static constexpr size_t kMaxSamples = 64;
    static constexpr size_t kMaxBytes = 256u << 20;
    // Sample storage kept for reuse.
    static constexpr size_t kSpareFrames = 4;

    // The saver's note of what frame storage holds; the store keeps it with the bytes and hands
    // both back together.
    struct Note {
        uint64_t owner = 0;
        uint64_t version = 0;
    };
    // Frame storage on its way into the store or back out.
    struct Storage {
        std::vector<uint8_t> bytes;
        Note note;
    };

    struct Sample {
        uint64_t number = 0;
        uint64_t timestamp = 0;  // microseconds on the monotonic clock
        PixelFormat format = PixelFormat::kYV12;
        FrameSize size;
        std::vector<uint8_t> bytes;
        Note note;
    };

    // budget: sample bytes of all stores together.
    explicit SampleStore(size_t budget = SIZE_MAX) : _budget(budget) {}
    // Other bounds of a store than the usual, for tests.
    SampleStore(size_t maxSamples, size_t maxBytes, size_t budget = SIZE_MAX)
        : _maxSamples(maxSamples), _maxBytes(maxBytes), _budget(budget) {}

    // A new, empty store; its number is never 0 nor one in use.
    uint32_t open();
    // Drops the store and every sample in it.
    void close(uint32_t store);

    // Keeps the frame in the store, taking its storage, and returns the sample's number. Numbers
    // rise from store x 2^32 + 1, so they are unique across stores and the high half of a number
    // is in use from the first sample on. 0 when the store is not open or the budget would be
    // passed (the storage is then kept as a spare).
    uint64_t save(uint32_t store, PixelFormat format, FrameSize size, Storage frame,
                  uint64_t timestamp);
    // Storage of a sample that is gone, with its note, for the next frame; none (no bytes, a
    // note of zeros) when none is kept.
    Storage takeSpare();
    // False when the store holds no such sample.
    bool release(uint32_t store, uint64_t number);

    // Null when the store holds no such sample. The sample stays readable through the pointer
    // after it is released.
    std::shared_ptr<const Sample> find(uint32_t store, uint64_t number) const;
    // Samples saved and neither released nor dropped; 0 for a store that is not open.
    size_t outstanding(uint32_t store) const;

    struct StoreSummary {
        uint32_t store = 0;
        size_t outstanding = 0;
        uint64_t oldest = 0;  // sample numbers; 0 when there are none
        uint64_t newest = 0;
    };
    // Every open store, by number.
    std::vector<StoreSummary> summary() const;
    // Sample bytes of all stores together, and what they may come to.
    size_t bytes() const;
    size_t budget() const { return _budget; }

private:
    struct Store {
        uint64_t next = 0;
        std::map<uint64_t, std::shared_ptr<const Sample>> samples;  // oldest first
        size_t bytes = 0;
        uint64_t dropped = 0;
        bool refused = false;  // a save has passed the budget
    };

    // Drops the oldest sample of a store; the lock must be held.
    void dropOldest(uint32_t number, Store* store);
    // Storage of samples that are gone, for the next ones: a sample gives its bytes back when
    // its last holder lets it go, whichever thread that is.
    struct SparePool {
        std::mutex lock;
        std::vector<Storage> frames;  // guarded by lock
    };

    const size_t _maxSamples = kMaxSamples;
    const size_t _maxBytes = kMaxBytes;
    const size_t _budget;
    mutable std::mutex _lock;
    size_t _bytes = 0;  // guarded by _lock; of all stores
    uint32_t _lastStore = 0;
    std::map<uint32_t, Store> _stores;
    const std::shared_ptr<SparePool> _spare = std::make_shared<SparePool>();
};

}  // namespace host
}  // namespace vemo
