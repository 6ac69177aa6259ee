#pragma once

// The camera service's side of a device's callbacks: it records every event the device
// reports and hands out the memory the device asks for, as heap blocks it counts.

#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <hardware/camera.h>

#include "service/CameraDevice.h"

namespace vemo {
namespace guest {

struct CameraEvent {
    enum class Kind { kNotify, kData, kDataTimestamp };

    Kind kind = Kind::kNotify;
    int32_t message = 0;
    int32_t ext1 = 0;        // notify only
    int32_t ext2 = 0;        // notify only
    unsigned int index = 0;  // data and data-timestamp
    int64_t timestamp = 0;   // data-timestamp only
    bool hasMemory = false;  // a memory block came with the data
    // The block is one that request_memory handed out (to any recorder) and that had not been
    // released yet.
    bool ownBlock = false;
    bool hasMetadata = false;    // data only: frame metadata came with it
    size_t size = 0;             // the block's size, also when its bytes are not kept
    std::vector<uint8_t> bytes;  // a copy of the block's data (see setKeepData)
    std::thread::id thread;
    std::chrono::steady_clock::time_point received;
};

// What request_memory was asked for.
struct MemoryRequest {
    void* user = nullptr;
    int fd = 0;
    size_t size = 0;
    unsigned int count = 0;
    bool granted = false;
};

// Thread-safe: the device calls it from its own threads while a test or the tool reads it. The
// recorder's lock is never held while the hook runs, so the hook may call into the device.
// The recorder must outlive the device's use of it: close the device (or install other
// callbacks) before destroying it. Blocks still outstanding then are freed.
class CallbackRecorder {
public:
    using Hook = std::function<void(const CameraEvent&)>;

    CallbackRecorder();
    ~CallbackRecorder();

    CallbackRecorder(const CallbackRecorder&) = delete;
    CallbackRecorder& operator=(const CallbackRecorder&) = delete;

    // Installs the four callbacks through set_callbacks with this recorder as the cookie.
    void install(CameraDevice& device);

    // The callbacks themselves, for a test that installs only some of them. For the three
    // event callbacks user must be a live recorder; a call with any other cookie is counted in
    // strayCalls() (over the whole process) and ignored. request_memory ignores user, as the
    // platform's does: its block counts for the recorder user names when it is one, else for
    // the live recorder installed last (that recorder's memory switch applies).
    static void notify(int32_t message, int32_t ext1, int32_t ext2, void* user);
    static void data(int32_t message, const camera_memory_t* memory, unsigned int index,
                     camera_frame_metadata_t* metadata, void* user);
    static void dataTimestamp(int64_t timestamp, int32_t message, const camera_memory_t* memory,
                              unsigned int index, void* user);
    static camera_memory_t* requestMemory(int fd, size_t size, unsigned int count, void* user);
    static size_t strayCalls();
    // Releases of a block that no recorder holds (released twice, or never handed out), over
    // the whole process. They are counted and otherwise ignored.
    static size_t strayReleases();

    // Called with each event on the device's calling thread, before the event is recorded and
    // waiters are woken, so a waiter sees what the hook did. Null removes it.
    void setHook(Hook hook);
    // Whether recorded events keep a copy of their data (default true). The hook always gets
    // the copy; long runs of large frames turn this off.
    void setKeepData(bool keep);
    // Whether events are recorded at all (default true). Off, the hook still gets each event
    // and count() still counts it, but events(), last() and the waits see none of them: a
    // client that runs for hours keeps only what its hook keeps.
    void setKeepEvents(bool keep);
    // While set, request_memory returns null.
    void setMemoryFails(bool fails);

    std::vector<CameraEvent> events() const;
    // The events from the index-th one on (0 is the first since the last clear()).
    std::vector<CameraEvent> eventsFrom(size_t first) const;
    size_t eventCount() const;
    // Number of events with this message.
    size_t count(int32_t message) const;
    // The last event with this message; false when there is none.
    bool last(int32_t message, CameraEvent* event) const;
    // Drops the recorded events and memory requests (the block accounting stays).
    void clear();

    // Waits until count events with this message have been recorded since the last clear(),
    // or until the time-out. Returns whether they came.
    bool waitFor(int32_t message, size_t count, std::chrono::milliseconds timeout) const;
    // Waits until done(events) is true; done is called with the lock held and must not call
    // back into the recorder.
    bool waitUntil(const std::function<bool(const std::vector<CameraEvent>&)>& done,
                   std::chrono::milliseconds timeout) const;

    std::vector<MemoryRequest> memoryRequests() const;
    // Blocks handed out and not released yet.
    size_t outstandingBlocks() const;

private:
    static CallbackRecorder* find(void* user);
    static void releaseBlock(camera_memory_t* memory);

    void record(CameraEvent event, const camera_memory_t* memory);
    camera_memory_t* allocate(void* user, int fd, size_t size, unsigned int count);

    mutable std::mutex _lock;
    mutable std::condition_variable _changed;
    std::vector<CameraEvent> _events;
    std::vector<MemoryRequest> _requests;
    size_t _outstanding = 0;
    std::map<int32_t, size_t> _counts;
    bool _keepData = true;
    bool _keepEvents = true;
    bool _memoryFails = false;
    Hook _hook;
};

}  // namespace guest
}  // namespace vemo
