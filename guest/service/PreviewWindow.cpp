#include "PreviewWindow.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <system/graphics.h>
#include <vemo/gralloc_shm.h>

namespace vemo {
namespace guest {

namespace {

// Largest side the allocator makes a buffer for.
const int kMaxSide = 8192;
// Rows start at a multiple of this many pixels, as graphics allocators align them.
const int kStrideAlign = 16;
const int kBytesPerPixel = 3;
// Candidate ids tried when another object holds the name of one.
const int kIdAttempts = 1024;
const uint32_t kIdCounterBits = 10;

void putLe32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t getLe32(const uint8_t* at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | at[i];
    }
    return value;
}

uint64_t getLe64(const uint8_t* at) {
    return static_cast<uint64_t>(getLe32(at)) | static_cast<uint64_t>(getLe32(at + 4)) << 32;
}

// Ids are unique among the processes of this machine: the pid (below 2^22 on Linux) in the high
// bits, a counter in the low ones. The objects' O_EXCL creation settles what wrapping leaves.
uint32_t nextId() {
    static std::atomic<uint32_t> counter{0};
    const uint32_t pid = static_cast<uint32_t>(getpid());
    return (pid << kIdCounterBits) | (counter++ & ((1u << kIdCounterBits) - 1));
}

std::string objectName(uint32_t id) {
    char name[64];
    snprintf(name, sizeof(name), VEMO_GRALLOC_NAME_FORMAT, id);
    return name;
}

}  // namespace

// One buffer: its handle, which the device gets and writes the geometry into, and the shared
// memory object behind it. A buffer replaced by a new geometry or count is retired: its handle
// lives on with the window, its pixels only while a device holds it or the window shows it.
struct PreviewWindow::Buffer {
    enum class State { kFree, kDequeued, kShown };

    ~Buffer() {
        unlink();
        releasePixels();
        free(handle);
    }

    void unlink() {
        if (linked) {
            shm_unlink(name.c_str());
            linked = false;
        }
    }

    void releasePixels() {
        if (map != nullptr) {
            munmap(map, mapSize);
            map = nullptr;
        }
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    uint32_t id = 0;
    std::string name;
    bool linked = false;
    int fd = -1;
    uint8_t* map = nullptr;
    size_t mapSize = 0;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes
    native_handle_t* handle = nullptr;
    // What the device gets a pointer to from dequeue_buffer and hands back.
    buffer_handle_t slot = nullptr;
    State state = State::kFree;
    bool retired = false;
};

PreviewWindow::PreviewWindow() {
    memset(&_ops, 0, sizeof(_ops));
    _ops.ops.dequeue_buffer = &PreviewWindow::dequeueBuffer;
    _ops.ops.enqueue_buffer = &PreviewWindow::enqueueBuffer;
    _ops.ops.cancel_buffer = &PreviewWindow::cancelBuffer;
    _ops.ops.set_buffer_count = &PreviewWindow::setBufferCount;
    _ops.ops.set_buffers_geometry = &PreviewWindow::setBuffersGeometry;
    _ops.ops.set_crop = &PreviewWindow::setCrop;
    _ops.ops.set_usage = &PreviewWindow::setUsage;
    _ops.ops.set_swap_interval = &PreviewWindow::setSwapInterval;
    _ops.ops.get_min_undequeued_buffer_count = &PreviewWindow::getMinUndequeuedBufferCount;
    _ops.ops.lock_buffer = &PreviewWindow::lockBuffer;
    _ops.ops.set_timestamp = &PreviewWindow::setTimestamp;
    _ops.window = this;
}

PreviewWindow::~PreviewWindow() = default;

PreviewWindow* PreviewWindow::self(const preview_stream_ops* ops) {
    return reinterpret_cast<const Ops*>(ops)->window;
}

int PreviewWindow::dequeueBuffer(preview_stream_ops* w, buffer_handle_t** buffer, int* stride) {
    return self(w)->dequeue(buffer, stride);
}

int PreviewWindow::enqueueBuffer(preview_stream_ops* w, buffer_handle_t* buffer) {
    return self(w)->enqueue(buffer);
}

int PreviewWindow::cancelBuffer(preview_stream_ops* w, buffer_handle_t* buffer) {
    return self(w)->cancel(buffer);
}

int PreviewWindow::setBufferCount(preview_stream_ops* w, int count) {
    return self(w)->count(count);
}

int PreviewWindow::setBuffersGeometry(preview_stream_ops* w, int width, int height, int format) {
    return self(w)->geometry(width, height, format);
}

int PreviewWindow::setCrop(preview_stream_ops* w, int, int, int, int) {
    return self(w)->note("set_crop");
}

int PreviewWindow::setUsage(preview_stream_ops* w, int usage) {
    return self(w)->note("set_usage", &self(w)->_usage, usage);
}

int PreviewWindow::setSwapInterval(preview_stream_ops* w, int) {
    return self(w)->note("set_swap_interval");
}

int PreviewWindow::getMinUndequeuedBufferCount(const preview_stream_ops* w, int* count) {
    return self(w)->minUndequeued(count);
}

int PreviewWindow::lockBuffer(preview_stream_ops* w, buffer_handle_t* buffer) {
    return self(w)->lock(buffer);
}

int PreviewWindow::setTimestamp(preview_stream_ops* w, int64_t) {
    return self(w)->note("set_timestamp");
}

bool PreviewWindow::checkLocked(const char* name) {
    _operations.push_back(name);
    return !_tornDown;
}

int PreviewWindow::note(const char* name, int* field, int value) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked(name)) {
        return -ENODEV;
    }
    if (field != nullptr) {
        *field = value;
    }
    return 0;
}

int PreviewWindow::dequeue(buffer_handle_t** buffer, int* stride) {
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard<std::mutex> guard(_lock);
        delay = _dequeueDelay;
    }
    std::this_thread::sleep_for(delay);
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("dequeue_buffer")) {
        return -ENODEV;
    }
    if (_dequeueError != 0) {
        return _dequeueError;
    }
    if (buffer == nullptr || stride == nullptr || _buffers.empty()) {
        return -EINVAL;
    }
    if (_free.empty()) {
        return -EBUSY;
    }
    Buffer* next = _free.front();
    _free.pop_front();
    next->state = Buffer::State::kDequeued;
    *buffer = &next->slot;
    *stride = next->stride / kBytesPerPixel;
    return 0;
}

int PreviewWindow::enqueue(buffer_handle_t* buffer) {
    std::unique_lock<std::mutex> guard(_lock);
    if (!checkLocked("enqueue_buffer")) {
        return -ENODEV;
    }
    Buffer* queued = findLocked(buffer);
    if (queued == nullptr || queued->state != Buffer::State::kDequeued) {
        ++_misuses;
        return -EINVAL;
    }
    // The allocator reads the frame's geometry from the handle; a buffer queued without it is
    // shown wrong on a real display.
    const int* geometry = reinterpret_cast<const int*>(queued->handle) + VEMO_GRALLOC_GEOMETRY_WORD;
    if (geometry[0] != 0 || geometry[1] != 0 || geometry[2] != queued->width ||
        geometry[3] != queued->height) {
        ++_misuses;
    }
    if (_shown != nullptr) {
        _shown->state = Buffer::State::kFree;
        if (_shown->retired) {
            _shown->releasePixels();
        } else {
            _free.push_back(_shown);
        }
    }
    queued->state = Buffer::State::kShown;
    _shown = queued;
    _lastEnqueue = std::chrono::steady_clock::now();
    if (_enqueued++ == 0) {
        _firstEnqueue = _lastEnqueue;
    }
    guard.unlock();
    _queued.notify_all();
    return 0;
}

int PreviewWindow::cancel(buffer_handle_t* buffer) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("cancel_buffer")) {
        return -ENODEV;
    }
    Buffer* cancelled = findLocked(buffer);
    if (cancelled == nullptr || cancelled->state != Buffer::State::kDequeued) {
        ++_misuses;
        return -EINVAL;
    }
    cancelled->state = Buffer::State::kFree;
    if (cancelled->retired) {
        cancelled->releasePixels();
    } else {
        _free.push_back(cancelled);
    }
    return 0;
}

int PreviewWindow::lock(buffer_handle_t* buffer) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("lock_buffer")) {
        return -ENODEV;
    }
    const Buffer* locked = findLocked(buffer);
    if (locked == nullptr || locked->state != Buffer::State::kDequeued) {
        ++_misuses;
        return -EINVAL;
    }
    return 0;
}

int PreviewWindow::minUndequeued(int* count) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("get_min_undequeued_buffer_count")) {
        return -ENODEV;
    }
    if (count == nullptr) {
        return -EINVAL;
    }
    // The buffer on show.
    *count = 1;
    return 0;
}

int PreviewWindow::geometry(int width, int height, int format) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("set_buffers_geometry")) {
        return -ENODEV;
    }
    if (_geometryError != 0) {
        return _geometryError;
    }
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        format != HAL_PIXEL_FORMAT_RGB_888) {
        return -EINVAL;
    }
    if (!_buffers.empty() && width == _width && height == _height) {
        return 0;
    }
    const int result = allocateLocked(width, height, _bufferCount);
    if (result == 0) {
        _width = width;
        _height = height;
        _format = format;
    }
    return result;
}

int PreviewWindow::count(int count) {
    std::lock_guard<std::mutex> guard(_lock);
    if (!checkLocked("set_buffer_count")) {
        return -ENODEV;
    }
    // One buffer is on show, so fewer than two would leave none to dequeue.
    if (count < 2 || count > kMaxBufferCount) {
        return -EINVAL;
    }
    if (!_buffers.empty() && count != _bufferCount) {
        const int result = allocateLocked(_width, _height, count);
        if (result != 0) {
            return result;
        }
    }
    _bufferCount = count;
    return 0;
}

PreviewWindow::Buffer* PreviewWindow::findLocked(buffer_handle_t* buffer) {
    for (const auto* list : {&_buffers, &_retired}) {
        for (const std::unique_ptr<Buffer>& candidate : *list) {
            if (&candidate->slot == buffer) {
                return candidate.get();
            }
        }
    }
    return nullptr;
}

void PreviewWindow::retireLocked() {
    for (std::unique_ptr<Buffer>& buffer : _buffers) {
        buffer->retired = true;
        buffer->unlink();
        if (buffer->state == Buffer::State::kFree) {
            buffer->releasePixels();
        }
        _retired.push_back(std::move(buffer));
    }
    _buffers.clear();
    _free.clear();
}

int PreviewWindow::allocateLocked(int width, int height, int count) {
    const int stride = (width + kStrideAlign - 1) / kStrideAlign * kStrideAlign * kBytesPerPixel;
    const size_t capacity = static_cast<size_t>(stride) * static_cast<size_t>(height);
    const size_t size = VEMO_GRALLOC_HEADER_SIZE + capacity;
    std::vector<std::unique_ptr<Buffer>> made;
    for (int i = 0; i < count; ++i) {
        auto buffer = std::make_unique<Buffer>();
        for (int attempt = 0; attempt < kIdAttempts && buffer->fd < 0; ++attempt) {
            buffer->id = nextId();
            buffer->name = objectName(buffer->id);
            buffer->fd =
                shm_open(buffer->name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (buffer->fd < 0 && errno != EEXIST) {
                break;
            }
        }
        if (buffer->fd < 0) {
            return errno != 0 ? -errno : -EEXIST;
        }
        buffer->linked = true;
        if (ftruncate(buffer->fd, static_cast<off_t>(size)) != 0) {
            return -errno;
        }
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, buffer->fd, 0);
        if (map == MAP_FAILED) {
            return -errno;
        }
        buffer->map = static_cast<uint8_t*>(map);
        buffer->mapSize = size;
        buffer->width = width;
        buffer->height = height;
        buffer->stride = stride;
        uint8_t* header = buffer->map;
        putLe32(header + 0, VEMO_GRALLOC_MAGIC);
        putLe32(header + 4, VEMO_GRALLOC_VERSION);
        putLe32(header + 8, static_cast<uint32_t>(width));
        putLe32(header + 12, static_cast<uint32_t>(height));
        putLe32(header + 16, static_cast<uint32_t>(stride));
        putLe32(header + 20, HAL_PIXEL_FORMAT_RGB_888);
        putLe32(header + 24, static_cast<uint32_t>(capacity));

        const size_t words = 3 + kHandleFds + kHandleInts;
        buffer->handle = static_cast<native_handle_t*>(calloc(words, sizeof(int)));
        if (buffer->handle == nullptr) {
            return -ENOMEM;
        }
        buffer->handle->version = sizeof(native_handle_t);
        buffer->handle->numFds = kHandleFds;
        buffer->handle->numInts = kHandleInts;
        buffer->handle->data[0] = buffer->fd;
        reinterpret_cast<int*>(buffer->handle)[VEMO_GRALLOC_ID_WORD] = static_cast<int>(buffer->id);
        buffer->slot = buffer->handle;
        made.push_back(std::move(buffer));
    }
    retireLocked();
    _buffers = std::move(made);
    for (const std::unique_ptr<Buffer>& buffer : _buffers) {
        _free.push_back(buffer.get());
    }
    return 0;
}

void PreviewWindow::tearDown() {
    std::lock_guard<std::mutex> guard(_lock);
    _tornDown = true;
    for (const auto* list : {&_buffers, &_retired}) {
        for (const std::unique_ptr<Buffer>& buffer : *list) {
            buffer->unlink();
        }
    }
}

bool PreviewWindow::tornDown() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _tornDown;
}

void PreviewWindow::setDequeueError(int result) {
    std::lock_guard<std::mutex> guard(_lock);
    _dequeueError = result;
}

void PreviewWindow::setDequeueDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> guard(_lock);
    _dequeueDelay = delay;
}

void PreviewWindow::setGeometryError(int result) {
    std::lock_guard<std::mutex> guard(_lock);
    _geometryError = result;
}

std::vector<std::string> PreviewWindow::operations() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _operations;
}

std::vector<std::string> PreviewWindow::takeOperations() {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<std::string> taken;
    taken.swap(_operations);
    return taken;
}

int PreviewWindow::usage() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _usage;
}

int PreviewWindow::width() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _width;
}

int PreviewWindow::height() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _height;
}

int PreviewWindow::format() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _format;
}

int PreviewWindow::bufferCount() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _bufferCount;
}

std::vector<uint32_t> PreviewWindow::bufferIds() const {
    std::lock_guard<std::mutex> guard(_lock);
    std::vector<uint32_t> ids;
    for (const std::unique_ptr<Buffer>& buffer : _buffers) {
        ids.push_back(buffer->id);
    }
    return ids;
}

uint64_t PreviewWindow::enqueued() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _enqueued;
}

std::chrono::steady_clock::time_point PreviewWindow::firstEnqueue() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _firstEnqueue;
}

std::chrono::steady_clock::time_point PreviewWindow::lastEnqueue() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _lastEnqueue;
}

bool PreviewWindow::waitForEnqueued(uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(_lock);
    return _queued.wait_for(guard, timeout, [&] { return _enqueued >= count; });
}

size_t PreviewWindow::misuses() const {
    std::lock_guard<std::mutex> guard(_lock);
    return _misuses;
}

bool PreviewWindow::shownFrame(WindowFrame* frame) const {
    std::lock_guard<std::mutex> guard(_lock);
    if (_shown == nullptr || _shown->map == nullptr) {
        return false;
    }
    const uint8_t* header = _shown->map;
    frame->bufferId = _shown->id;
    frame->width = getLe32(header + 8);
    frame->height = getLe32(header + 12);
    frame->stride = getLe32(header + 16);
    frame->format = getLe32(header + 20);
    frame->capacity = getLe32(header + 24);
    frame->sequence = getLe32(header + 28);
    frame->timestamp = getLe64(header + 32);
    frame->frameNumber = getLe32(header + 40);
    const size_t row = static_cast<size_t>(_shown->width) * kBytesPerPixel;
    frame->rgb.resize(row * static_cast<size_t>(_shown->height));
    const uint8_t* pixels = header + VEMO_GRALLOC_HEADER_SIZE;
    for (int y = 0; y < _shown->height; ++y) {
        memcpy(frame->rgb.data() + row * static_cast<size_t>(y),
               pixels + static_cast<size_t>(_shown->stride) * static_cast<size_t>(y), row);
    }
    return true;
}

}  // namespace guest
}  // namespace vemo
