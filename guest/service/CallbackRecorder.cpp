#include "CallbackRecorder.h"

#include <stdint.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <set>

namespace vemo {
namespace guest {

namespace {

// A block of request_memory: the platform's memory descriptor, whose handle points back at the
// block, and the heap bytes it describes.
struct Block {
    camera_memory_t memory;
    std::unique_ptr<uint8_t[]> bytes;
};

// The live recorders and the blocks they handed out. The device hands cookies and blocks back
// through plain C pointers; looking them up here keeps a wrong cookie or a second release
// from touching freed memory. Lock order: this lock before a recorder's own.
struct Registry {
    std::mutex lock;
    std::set<const CallbackRecorder*> recorders;
    // Live recorders in the order they were (last) installed.
    std::vector<CallbackRecorder*> installed;
    std::map<camera_memory_t*, const CallbackRecorder*> blocks;
    size_t strayCalls = 0;
    size_t strayReleases = 0;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

}  // namespace

CallbackRecorder::CallbackRecorder() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.recorders.insert(this);
}

CallbackRecorder::~CallbackRecorder() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.recorders.erase(this);
    r.installed.erase(std::remove(r.installed.begin(), r.installed.end(), this), r.installed.end());
    for (auto it = r.blocks.begin(); it != r.blocks.end();) {
        if (it->second == this) {
            delete static_cast<Block*>(it->first->handle);
            it = r.blocks.erase(it);
        } else {
            ++it;
        }
    }
}

void CallbackRecorder::install(CameraDevice& device) {
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        r.installed.erase(std::remove(r.installed.begin(), r.installed.end(), this),
                          r.installed.end());
        r.installed.push_back(this);
    }
    device.setCallbacks(&CallbackRecorder::notify, &CallbackRecorder::data,
                        &CallbackRecorder::dataTimestamp, &CallbackRecorder::requestMemory, this);
}

CallbackRecorder* CallbackRecorder::find(void* user) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto* recorder = static_cast<CallbackRecorder*>(user);
    if (r.recorders.count(recorder) == 0) {
        ++r.strayCalls;
        return nullptr;
    }
    return recorder;
}

size_t CallbackRecorder::strayCalls() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.strayCalls;
}

size_t CallbackRecorder::strayReleases() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.strayReleases;
}

void CallbackRecorder::notify(int32_t message, int32_t ext1, int32_t ext2, void* user) {
    CallbackRecorder* recorder = find(user);
    if (recorder == nullptr) {
        return;
    }
    CameraEvent event;
    event.kind = CameraEvent::Kind::kNotify;
    event.message = message;
    event.ext1 = ext1;
    event.ext2 = ext2;
    recorder->record(std::move(event), nullptr);
}

void CallbackRecorder::data(int32_t message, const camera_memory_t* memory, unsigned int index,
                            camera_frame_metadata_t* metadata, void* user) {
    CallbackRecorder* recorder = find(user);
    if (recorder == nullptr) {
        return;
    }
    CameraEvent event;
    event.kind = CameraEvent::Kind::kData;
    event.message = message;
    event.index = index;
    event.hasMetadata = metadata != nullptr;
    recorder->record(std::move(event), memory);
}

void CallbackRecorder::dataTimestamp(int64_t timestamp, int32_t message,
                                     const camera_memory_t* memory, unsigned int index,
                                     void* user) {
    CallbackRecorder* recorder = find(user);
    if (recorder == nullptr) {
        return;
    }
    CameraEvent event;
    event.kind = CameraEvent::Kind::kDataTimestamp;
    event.message = message;
    event.index = index;
    event.timestamp = timestamp;
    recorder->record(std::move(event), memory);
}

camera_memory_t* CallbackRecorder::requestMemory(int fd, size_t size, unsigned int count,
                                                 void* user) {
    CallbackRecorder* recorder = nullptr;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto* named = static_cast<CallbackRecorder*>(user);
        if (r.recorders.count(named) != 0) {
            recorder = named;
        } else if (!r.installed.empty()) {
            recorder = r.installed.back();
        }
    }
    // Without a recorder there is nobody to count the block, so none is handed out.
    return recorder != nullptr ? recorder->allocate(user, fd, size, count) : nullptr;
}

void CallbackRecorder::record(CameraEvent event, const camera_memory_t* memory) {
    event.thread = std::this_thread::get_id();
    event.received = std::chrono::steady_clock::now();
    Hook hook;
    bool keep = false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        hook = _hook;
        keep = _keepData;
    }
    if (memory != nullptr) {
        event.hasMemory = true;
        event.size = memory->size;
        // The bytes are copied only for whoever reads them: the hook, or the events kept.
        if ((hook || keep) && memory->data != nullptr && memory->size > 0) {
            const auto* bytes = static_cast<const uint8_t*>(memory->data);
            event.bytes.assign(bytes, bytes + memory->size);
        }
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        const auto block = r.blocks.find(const_cast<camera_memory_t*>(memory));
        event.ownBlock = block != r.blocks.end();
    }
    if (hook) {
        hook(event);
    }
    std::lock_guard<std::mutex> guard(_lock);
    ++_counts[event.message];
    if (!_keepEvents) {
        return;
    }
    if (!keep) {
        event.bytes = std::vector<uint8_t>();
    }
    _events.push_back(std::move(event));
    _changed.notify_all();
}

camera_memory_t* CallbackRecorder::allocate(void* user, int fd, size_t size, unsigned int count) {
    MemoryRequest request;
    request.user = user;
    request.fd = fd;
    request.size = size;
    request.count = count;
    bool fails = false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        fails = _memoryFails;
    }
    // The platform's block spans count buffers of size bytes each.
    const bool overflows = count != 0 && size > SIZE_MAX / count;
    const size_t total = overflows ? 0 : size * count;
    std::unique_ptr<Block> block;
    if (!fails && !overflows) {
        block.reset(new (std::nothrow) Block);
    }
    if (block != nullptr) {
        // A zero-sized block still gets a valid data pointer, as a mapping would.
        block->bytes.reset(new (std::nothrow) uint8_t[total != 0 ? total : 1]());
    }
    request.granted = block != nullptr && block->bytes != nullptr;
    {
        std::lock_guard<std::mutex> guard(_lock);
        _requests.push_back(request);
        if (!request.granted) {
            return nullptr;
        }
        ++_outstanding;
    }
    block->memory.data = block->bytes.get();
    block->memory.size = total;
    block->memory.handle = block.get();
    block->memory.release = &CallbackRecorder::releaseBlock;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    camera_memory_t* memory = &block.release()->memory;
    r.blocks.emplace(memory, this);
    return memory;
}

void CallbackRecorder::releaseBlock(camera_memory_t* memory) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const auto found = r.blocks.find(memory);
    if (found == r.blocks.end()) {
        ++r.strayReleases;
        return;
    }
    auto* owner = const_cast<CallbackRecorder*>(found->second);
    r.blocks.erase(found);
    delete static_cast<Block*>(memory->handle);
    std::lock_guard<std::mutex> ownerGuard(owner->_lock);
    --owner->_outstanding;
}

void CallbackRecorder::setHook(Hook hook) {
    std::lock_guard<std::mutex> guard(_lock);
    _hook = std::move(hook);
}

void CallbackRecorder::setKeepData(bool keep) {
    std::lock_guard<std::mutex> guard(_lock);
    _keepData = keep;
}

void CallbackRecorder::setKeepEvents(bool keep) {
    std::lock_guard<std::mutex> guard(_lock);
    _keepEvents = keep;
}

void CallbackRecorder::setMemoryFails(bool fails) {
    std::lock_guard<std::mutex> guard(_lock);
    _memoryFails = fails;
}

std::vector<CameraEvent> CallbackRecorder::events() const {
    return eventsFrom(0);
}

std::vector<CameraEvent> CallbackRecorder::eventsFrom(size_t first) const {
    std::lock_guard<std::mutex> guard(_lock);
    if (first >= _events.size()) {
        return {};
    }
    return std::vector<CameraEvent>(_events.begin() + static_cast<std::ptrdiff_t>(first),
                                    _events.end());
}

size_t CallbackRecorder::eventCount() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _events.size();
}

size_t CallbackRecorder::count(int32_t message) const {
    std::lock_guard<std::mutex> guard(_lock);
    const auto found = _counts.find(message);
    return found != _counts.end() ? found->second : 0;
}

bool CallbackRecorder::last(int32_t message, CameraEvent* event) const {
    std::lock_guard<std::mutex> guard(_lock);
    for (auto it = _events.rbegin(); it != _events.rend(); ++it) {
        if (it->message == message) {
            *event = *it;
            return true;
        }
    }
    return false;
}

void CallbackRecorder::clear() {
    std::lock_guard<std::mutex> guard(_lock);
    _events.clear();
    _counts.clear();
    _requests.clear();
}

bool CallbackRecorder::waitFor(int32_t message, size_t count,
                               std::chrono::milliseconds timeout) const {
    return waitUntil(
        [message, count](const std::vector<CameraEvent>& events) {
            size_t n = 0;
            for (const CameraEvent& event : events) {
                n += event.message == message ? 1 : 0;
            }
            return n >= count;
        },
        timeout);
}

bool CallbackRecorder::waitUntil(const std::function<bool(const std::vector<CameraEvent>&)>& done,
                                 std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(_lock);
    return _changed.wait_for(guard, timeout, [&] { return done(_events); });
}

std::vector<MemoryRequest> CallbackRecorder::memoryRequests() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _requests;
}

size_t CallbackRecorder::outstandingBlocks() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _outstanding;
}

}  // namespace guest
}  // namespace vemo
