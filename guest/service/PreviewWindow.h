#pragma once

// A preview window of the simulated guest's graphics allocator. Its buffers are shared memory
// objects in the layout of vemo/gralloc_shm.h, which vemo-hostd fills when the module asks it
// to update a buffer; the window shows the buffer queued last.

#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <hardware/camera.h>

namespace vemo {
namespace guest {

// The frame a window shows: the header of its buffer as the host left it, and the pixels.
struct WindowFrame {
    uint32_t bufferId = 0;
    uint32_t width = 0;  // the header's fields, as read
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t format = 0;
    uint32_t capacity = 0;
    uint32_t sequence = 0;
    uint64_t timestamp = 0;  // microseconds, the host's monotonic clock
    uint32_t frameNumber = 0;
    // The buffer's pixels at the geometry the window allocated: RGB888, rows of width * 3
    // bytes without padding.
    std::vector<uint8_t> rgb;
};

// The window's preview_stream_ops. Every operation is recorded by its member name
// ("dequeue_buffer", "enqueue_buffer", "set_usage", ...) in call order. Thread-safe: one lock
// guards the window and is released before an operation returns; the window calls nobody back.
//
// Buffers exist once set_buffers_geometry has set a size in HAL_PIXEL_FORMAT_RGB_888; a new
// geometry or buffer count replaces them. A buffer is free, dequeued, or shown (the one queued
// last, which dequeue_buffer does not hand out until another is queued). The window must
// outlive the device's use of it: take it away from the device (set_preview_window(NULL), or
// close the device) before destroying it. Buffers a device may still hold when they are
// replaced keep their handles until the window is destroyed.
class PreviewWindow {
public:
    static constexpr int kDefaultBufferCount = 3;
    static constexpr int kMaxBufferCount = 8;
    // Words of a buffer's handle after the 3 header words: the shared memory descriptor, then
    // the allocator's ints up to and including VEMO_GRALLOC_ID_WORD.
    static constexpr int kHandleFds = 1;
    static constexpr int kHandleInts = 16;

    PreviewWindow();
    // Tears the window down and frees the buffers.
    ~PreviewWindow();

    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // What the device gets as its preview window.
    preview_stream_ops* ops() { return &_ops.ops; }

    // Takes the window away, as the camera service does when the application drops its
    // surface: every later operation fails with -ENODEV (and is still recorded), and the
    // buffers' shared memory objects are unlinked. What the window showed stays readable.
    void tearDown();
    bool tornDown() const;
    // While result is not 0, dequeue_buffer fails with it.
    void setDequeueError(int result);
    // Every dequeue_buffer takes this long, as on a display that is behind.
    void setDequeueDelay(std::chrono::milliseconds delay);
    // While result is not 0, set_buffers_geometry fails with it.
    void setGeometryError(int result);

    std::vector<std::string> operations() const;
    // The operations since the last take, which forgets them.
    std::vector<std::string> takeOperations();

    // The values last set; 0 or -1 until set.
    int usage() const;
    int width() const;
    int height() const;
    int format() const;
    int bufferCount() const;
    // The buffers' ids (handle word VEMO_GRALLOC_ID_WORD), empty before a geometry is set.
    std::vector<uint32_t> bufferIds() const;

    // Buffers queued since the window was made, and when the first and the last were queued.
    uint64_t enqueued() const;
    std::chrono::steady_clock::time_point firstEnqueue() const;
    std::chrono::steady_clock::time_point lastEnqueue() const;
    // Waits until count buffers have been queued in all, or the time-out. Returns whether
    // they were.
    bool waitForEnqueued(uint64_t count, std::chrono::milliseconds timeout) const;
    // Operations that broke the window's rules: queueing or cancelling a buffer that is not
    // dequeued, or one the window never handed out (they fail with -EINVAL), and queueing a
    // buffer whose handle does not carry its geometry (shown all the same).
    size_t misuses() const;

    // The frame the window shows: the buffer queued last. False before one was queued.
    bool shownFrame(WindowFrame* frame) const;

private:
    struct Buffer;
    // The operations table and the way back to the window; standard layout, so the table's
    // address is the struct's.
    struct Ops {
        preview_stream_ops ops;
        PreviewWindow* window;
    };

    static PreviewWindow* self(const preview_stream_ops* ops);
    static int dequeueBuffer(preview_stream_ops* w, buffer_handle_t** buffer, int* stride);
    static int enqueueBuffer(preview_stream_ops* w, buffer_handle_t* buffer);
    static int cancelBuffer(preview_stream_ops* w, buffer_handle_t* buffer);
    static int setBufferCount(preview_stream_ops* w, int count);
    static int setBuffersGeometry(preview_stream_ops* w, int width, int height, int format);
    static int setCrop(preview_stream_ops* w, int left, int top, int right, int bottom);
    static int setUsage(preview_stream_ops* w, int usage);
    static int setSwapInterval(preview_stream_ops* w, int interval);
    static int getMinUndequeuedBufferCount(const preview_stream_ops* w, int* count);
    static int lockBuffer(preview_stream_ops* w, buffer_handle_t* buffer);
    static int setTimestamp(preview_stream_ops* w, int64_t timestamp);

    // Each takes _lock itself, records the operation and returns its result.
    int dequeue(buffer_handle_t** buffer, int* stride);
    int enqueue(buffer_handle_t* buffer);
    int cancel(buffer_handle_t* buffer);
    int lock(buffer_handle_t* buffer);
    int geometry(int width, int height, int format);
    int count(int count);
    int minUndequeued(int* count);
    // An operation that only stores its value (when field is not null).
    int note(const char* name, int* field = nullptr, int value = 0);

    // The lock is held by the caller for these.
    Buffer* findLocked(buffer_handle_t* buffer);
    int allocateLocked(int width, int height, int count);
    void retireLocked();
    // Records the operation; false once the window is torn down.
    bool checkLocked(const char* name);

    Ops _ops;
    mutable std::mutex _lock;
    mutable std::condition_variable _queued;
    std::vector<std::string> _operations;
    std::vector<std::unique_ptr<Buffer>> _buffers;
    std::vector<std::unique_ptr<Buffer>> _retired;
    std::deque<Buffer*> _free;
    Buffer* _shown = nullptr;
    bool _tornDown = false;
    int _dequeueError = 0;
    std::chrono::milliseconds _dequeueDelay{0};
    int _geometryError = 0;
    int _usage = 0;
    int _width = 0;
    int _height = 0;
    int _format = -1;
    int _bufferCount = kDefaultBufferCount;
    uint64_t _enqueued = 0;
    std::chrono::steady_clock::time_point _firstEnqueue;
    std::chrono::steady_clock::time_point _lastEnqueue;
    size_t _misuses = 0;
};

}  // namespace guest
}  // namespace vemo
